module dprobe;
import std.traits : fullyQualifiedName;
import std.meta : AliasSeq;

// Prints "mangled<TAB>qualified name" for every function, variable and aggregate under `parent`.
void row(alias sym)() {
  static if (__traits(compiles, sym.mangleof) && __traits(compiles, fullyQualifiedName!sym))
    pragma(msg, sym.mangleof, "\t", fullyQualifiedName!sym);
}

template walk(alias parent) {
  static foreach (name; __traits(allMembers, parent)) {
    static if (name != "object" && __traits(compiles, __traits(getMember, parent, name))) {
      static if (__traits(compiles, __traits(getOverloads, parent, name)) &&
                 __traits(getOverloads, parent, name).length > 0) {
        static foreach (f; __traits(getOverloads, parent, name)) {
          static if (__traits(compiles, row!f)) mixin("alias _r_" ~ name ~ "_" ~ __LINE__.stringof ~ " = row!f;");
        }
      } else static if (is(__traits(getMember, parent, name) == struct) ||
                        is(__traits(getMember, parent, name) == class) ||
                        is(__traits(getMember, parent, name) == union) ||
                        is(__traits(getMember, parent, name) == interface)) {
        mixin("alias _w_" ~ name ~ " = walk!(__traits(getMember, parent, name));");
      } else static if (__traits(compiles, row!(__traits(getMember, parent, name)))) {
        mixin("alias _v_" ~ name ~ " = row!(__traits(getMember, parent, name));");
      }
    }
  }
  enum walk = true;
}

// Prints "T<TAB>mangled type<TAB>qualified name" for each type, for the TypeInfo rows.
template types(T...) {
  static foreach (t; T) {
    pragma(msg, "T\t", t.mangleof, "\t", fullyQualifiedName!t);
  }
  enum types = true;
}
