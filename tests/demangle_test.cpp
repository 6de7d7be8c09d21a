// Tests of the D demangler: none yet, the demangler is a placeholder (see src/demangle.cpp).
