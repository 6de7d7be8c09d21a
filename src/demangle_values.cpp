// Template value arguments of the D demangler (not built yet; see demangle.cpp).
