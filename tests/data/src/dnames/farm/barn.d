module farm.barn;
import dprobe;
import std.meta : AliasSeq;
import std.conv : to;
import std.format : format;
import std.algorithm : map, filter, sort;
import std.array : array;

struct Point { int x, y; }

// A nested function returning an aggregate declared in its parent.
auto makeCounter(int start) {
  struct Counter {
    int value;
    int next() { return value++; }
    Counter twin() const { return Counter(value); }
  }
  Counter make(int v) { return Counter(v + start); }
  auto c = make(1);
  alias r1 = row!(Counter.next);
  alias r2 = row!(Counter.twin);
  alias r3 = row!(make);
  return c;
}

mixin template Bumper() {
  int bumps;
  void bump() { ++bumps; }
}

struct Mixed { mixin Bumper; int own; }

class Box(T) {
  T content;
  this(T content) { this.content = content; }
  T open() { return content; }
  class Lid { T peek() { return T.init; } }
}

interface Source(T) { T read(); }
class Tap : Source!int { int read() { return 1; } }

int constrained(T)(T x) if (is(typeof(x + 1) : int)) { return x + 1; }
T maxOf(T)(T a, T b) pure nothrow @nogc @safe { return a > b ? a : b; }
template Twice(alias fn) { auto Twice(int x) { return fn(fn(x)); } }
int inc(int x) { return x + 1; }

enum Level : ubyte { low = 1, high = 9 }
struct Grid(size_t w, size_t h, Level level, Point origin) { static size_t cells() { return w * h; } }

string describe(Point p) { return format("%s,%s", p.x, p.y); }
int[] evens(int[] xs) { return xs.filter!(x => x % 2 == 0).array; }
string[] labels(int[] xs) { return xs.map!(x => to!string(x)).array; }
void sorted(int[] xs) { xs.sort(); }
int withDelegate(scope int delegate(int) pure nothrow dg) { return dg(1); }
Point[string] byName(const Point[] ps, immutable string[] names) { return null; }
void tuple(AliasSeq!(int, string) args) {}
void inout1(inout(int)[] xs, out Point p) {}
shared int sharedCounter;
__gshared int globalCounter;
immutable Point origin = Point(0, 0);
const(Point)* originRef;
void function() pure nothrow @nogc @safe callback;

alias BoxInt = Box!int;
alias BoxPoint = Box!Point;
alias GridSmall = Grid!(2, 3, Level.high, Point(1, -1));
alias TwiceInc = Twice!inc;

void instantiate() {
  auto c = makeCounter(3);
  Mixed m; m.bump();
  auto b = new BoxInt(1); b.open();
  constrained(3); constrained(cast(short) 4);
  maxOf(1, 2); maxOf(1.5, 2.5); maxOf("a", "b");
  TwiceInc(1);
  GridSmall.cells();
  describe(Point(1, 2));
  evens([1, 2]); labels([1]); sorted([2, 1]);
  withDelegate((int x) pure nothrow => x + 1);
}

enum bool done = walk!(farm.barn);
alias extraRows = AliasSeq!(row!(constrained!int), row!(constrained!short), row!(maxOf!int),
                            row!(maxOf!double), row!(maxOf!string),
                            row!(Mixed.bump), row!(BoxInt.Lid.peek), row!(GridSmall.cells));
enum bool typeRows = types!(Point, Mixed, BoxInt, BoxInt.Lid, Source!int, Level, GridSmall,
                            Point[string], const(Point)*, immutable(Point)[], byte[], ubyte[4],
                            dstring, void delegate(), real[], char*, Object);
