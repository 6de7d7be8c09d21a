module post.varargs;
import dprobe;
import std.meta : AliasSeq;

// Parameter lists closed by every ParamClose (Z, X, Y) after every kind of last parameter:
// a struct, class, interface, enum or union written by its qualified name is followed directly
// by the close, and a C-variadic close (Y) is also a calling-convention letter.
struct S { int x; }
class K {}
enum E { a }
interface I {}
union U { int a; }

void link(T)() {}
alias CPtr = extern (C) void function(S*, ...);
alias CStruct = extern (C) void function(S, ...);
alias CClass = extern (C) void function(K, ...);
alias CEnum = extern (C) void function(E, ...);
alias CInterface = extern (C) void function(I, ...);
alias CUnion = extern (C) void function(U, ...);
alias CInt = extern (C) void function(int, ...);
alias CTwo = extern (C) void function(S*, S, ...);
alias CppStruct = extern (C++) void function(S, ...);
alias DTypesafe = void function(S[] rest...);
alias DClosed = void function(S);
alias DDelegate = void delegate(E, ...);
alias DRefLast = extern (C) int function(ref S, ...);

// The symbols' own types: D-style variadic functions and typesafe variadic ones.
void withStruct(S s, ...) {}
void withClass(K k, ...) {}
void withEnum(E e, ...) {}
void withUnion(U u, ...) {}
void structs(S[] s...) {}
void classes(K[] k...) {}
int[] enums(E[] e...) { return null; }

struct Holder {
  void method(S s, ...) const {}
  static void take(E e, ...) {}
}

alias Instances = AliasSeq!(link!CPtr, link!CStruct, link!CClass, link!CEnum, link!CInterface,
                            link!CUnion, link!CInt, link!CTwo, link!CppStruct, link!DTypesafe,
                            link!DClosed, link!DDelegate, link!DRefLast);
static foreach (f; Instances) {
  mixin("alias _r_" ~ __LINE__.stringof ~ " = row!f;");
}
enum bool doneTypes = types!(CPtr, CStruct, CClass, CEnum, CDelegate);
alias CDelegate = DDelegate;
enum bool done = walk!(post.varargs);
