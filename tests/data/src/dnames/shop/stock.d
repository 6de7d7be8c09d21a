module shop.stock;
import dprobe;
import std.meta : AliasSeq;

struct Item { int weight; string label; }
enum Color { red, green = 5, blue }
enum Flavour : string { sweet = "sweet", sour = "sour" }

struct Stock(T, int capacity) {
  T[capacity] items;
  size_t count;
  void put(scope T item, ref int total) return scope { items[count++] = item; total += 1; }
  ref T take() return { return items[--count]; }
  this(int start) { count = start; }
  ~this() {}
  int opApply(scope int delegate(ref T) dg) { return 0; }
}

class Shelf {
  int slots;
  this(int slots) { this.slots = slots; }
  int free() const { return slots; }
  void label(string text) immutable {}
  int fill(int n) shared { return n; }
  inout(int)* slot() inout return { return &slots; }
  static Shelf make() { return new Shelf(1); }
}

interface Counter { int count() const; void reset(); }
final class Tally : Shelf, Counter {
  this() { super(2); }
  int count() const { return 0; }
  void reset() {}
  override int free() const { return 1; }
}

int twice(T)(T x) pure nothrow @nogc @safe { return cast(int) (2 * x); }
T[] repeat(T, size_t n)(T value) { return new T[n]; }
auto sum(Args...)(Args args) { int s; foreach (a; args) s += cast(int) a; return s; }
template Pair(K, V) { struct Pair { K key; V value; } }
template Limits(T) { enum T low = T.min; T clamp(T v) { return v < low ? low : v; } }

struct Tag(alias value) { static int id() { return 1; } }
struct Named(alias fn) { static int call() { return fn(1); } }

int helper(int x) { return x + 1; }

int outer(int a) {
  static int inner(int b) { return b * 2; }
  int closure(int c) { return a + c; }
  struct Local { int v; int get() const { return v; } }
  Local l = Local(a);
  return inner(a) + closure(a) + l.get();
}

ref int pick(return ref int a, ref int b) @nogc nothrow { return a; }
int* keep(return scope int* p) @safe { return p; }
void storage(in int a, out int b, lazy int c, ref int d, scope int* e, in Item f, in Item[8] big) { b = a; }
void variadicD(int[] rest...) {}
extern (C) void variadicC(int count, ...) {}
void variadicTypes(T...)(T args) {}
int liveOne(int* p) @live { return *p; }
noreturn stop() { assert(0); }
const(char)[] view(immutable(char)[] s, wchar[] w, dchar[] d) { return s; }
int[string] table(int[][string] nested, Item[3] fixed, Color c) { return null; }
void pointers(void function(int) f, int delegate() const d, Item* p, shared(const(int))* q) {}
__vector(int[4]) simd(__vector(float[4]) v) { return typeof(return).init; }
void attrs() pure nothrow @nogc @trusted {}
@property int prop() { return 1; }

alias StockItem = Stock!(Item, 3);
alias StockInt = Stock!(int, 8);
alias ValUint = Tag!(3u);
alias ValLong = Tag!(-4L);
alias ValUlong = Tag!(5UL);
alias ValByte = Tag!(cast(byte) -3);
alias ValUbyte = Tag!(cast(ubyte) 200);
alias ValShort = Tag!(cast(short) -2);
alias ValChar = Tag!('a');
alias ValNewline = Tag!('\n');
alias ValQuote = Tag!('\'');
alias ValWchar = Tag!(wchar('b'));
alias ValDchar = Tag!(dchar('\u1234'));
alias ValBool = Tag!(true);
alias ValString = Tag!("ab\n\"c");
alias ValWstring = Tag!("wide"w);
alias ValDstring = Tag!("日本"d);
alias ValUtf8 = Tag!("grüß");
alias ValDouble = Tag!(1.5);
alias ValFloat = Tag!(0.25f);
alias ValWhole = Tag!(2.0);
alias ValBig = Tag!(1e100);
alias ValNegative = Tag!(-0.5);
alias ValArray = Tag!([1, 2, 3]);
alias ValStrings = Tag!(["x", "yz"]);
alias ValAssoc = Tag!(["a": 1]);
alias ValStruct = Tag!(Item(3, "box"));
alias ValEnum = Tag!(Color.green);
alias ValEnumString = Tag!(Flavour.sour);
alias ValNull = Tag!(null);
alias AliasFn = Named!(helper);
alias AliasLambda = Named!((int x) => x * 3);
alias PairIS = Pair!(int, string);
alias LimitsShort = Limits!short;

void instantiate() {
  int total;
  auto s = StockItem(0);
  s.put(Item(1, "a"), total);
  twice(3); twice(2.5); twice!long(7L);
  repeat!(int, 4)(1);
  sum(1, 2L, 3.0);
  variadicTypes(1, "x", 2.0);
  ValUint.id(); ValEnum.id(); AliasFn.call(); AliasLambda.call();
  LimitsShort.clamp(3);
  auto lambda = (int x) => x + total;
  lambda(1);
}

enum bool done = walk!(shop.stock);
alias nestedRows = AliasSeq!(row!(twice!int), row!(twice!double), row!(twice!long),
                             row!(repeat!(int, 4)), row!(sum!(int, long, double)),
                             row!(variadicTypes!(int, string, double)));
enum bool typeRows = types!(Item, Color, Shelf, Counter, StockItem, int[], string, const(Item)[],
                            Item*, int[string], immutable(Color)[], void function(int),
                            int delegate() const, PairIS, shared(int)*, Item[3], wstring);
