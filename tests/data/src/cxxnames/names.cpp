// A small C++ program whose linker map holds the kinds of names that GNU ld writes demangled:
// nested namespaces, class and function templates (with return types in front), operators,
// lambdas, an anonymous namespace, virtual and virtual-base classes (vtables, VTTs, construction
// vtables, thunks, typeinfo), guard variables, thread-local variables, reference temporaries
// and, from -O2, function clones.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

// Kept out of line so that their names reach the map at -O2.
#define OUT_OF_LINE __attribute__((noinline))

namespace geo::shapes {

struct Point {
  int x = 0, y = 0;
  OUT_OF_LINE bool operator<(const Point& o) const { return x < o.x || (x == o.x && y < o.y); }
  bool operator==(const Point& o) const { return x == o.x && y == o.y; }
  OUT_OF_LINE Point operator+(const Point& o) const { return {x + o.x, y + o.y}; }
  OUT_OF_LINE int operator[](int i) const { return i == 0 ? x : y; }
  OUT_OF_LINE explicit operator long() const { return static_cast<long>(x) * 1000 + y; }
};

struct Shape {
  virtual ~Shape() = default;
  virtual double area() const = 0;
  virtual Shape* clone() const = 0;
};

struct Named {
  virtual ~Named() = default;
  virtual const char* name() const { return "named"; }
};

// Two bases with virtual methods: calls through Named need this-adjusting thunks.
struct Circle : Shape, Named {
  double r;
  explicit Circle(double radius) : r(radius) {}
  double area() const override { return 3.14159 * r * r; }
  Circle* clone() const override { return new Circle(*this); }
  const char* name() const override { return "circle"; }
};

// A virtual base: virtual thunks, a VTT and construction vtables.
struct Base {
  virtual ~Base() = default;
  virtual int id() const { return 1; }
  int tag = 7;
};
struct Left : virtual Base {
  int id() const override { return 2; }
};
struct Right : virtual Base {
  virtual int side() const { return 3; }
};
struct Diamond : Left, Right {
  int id() const override { return 4; }
  int side() const override { return 5; }
};

}  // namespace geo::shapes

namespace geo {

template <typename T, int N>
class Grid {
 public:
  OUT_OF_LINE T& operator()(int r, int c) { return cells_[r * N + c]; }
  OUT_OF_LINE T sum() const {
    T total{};
    for (const T& cell : cells_) total += cell;
    return total;
  }
  template <typename F>
  void each(F f) {
    for (T& cell : cells_) f(cell);
  }

 private:
  T cells_[N * N]{};
};

template <typename T>
OUT_OF_LINE std::vector<T> repeat(const T& value, int n) {
  return std::vector<T>(static_cast<size_t>(n), value);
}

std::map<shapes::Point, std::string>& registry() {
  static std::map<shapes::Point, std::string> names;  // guard variable
  return names;
}

thread_local std::string lastLabel = "none";  // TLS init and wrapper functions

const int& limit = 42 + std::rand() % 2;  // a reference temporary

// Inline, so its lambda, its static local and that local's guard variable are weak global names.
inline int& sequence(int step) {
  static int counter = std::rand();
  auto bump = [step](int& value) OUT_OF_LINE { value += step; };
  bump(counter);
  return counter;
}

}  // namespace geo

namespace {

struct Counter {
  int n = 0;
  OUT_OF_LINE Counter& operator<<(int v) {
    n += v;
    return *this;
  }
  OUT_OF_LINE int operator->*(int k) const { return n * k; }
};

OUT_OF_LINE int helper(std::vector<int> v) {
  int s = 0;
  for (int x : v) s += x;
  return s;
}

}  // namespace

// Static with a large argument that is constant at the call sites: -O2 makes a .constprop clone,
// and the unlikely branch goes to a .cold part.
OUT_OF_LINE static long scaled(long v, long factor) {
  if (__builtin_expect(v < 0, 0)) {
    std::fprintf(stderr, "negative %ld\n", v);
    std::abort();
  }
  return v * factor + 1;
}

OUT_OF_LINE long tally(const geo::shapes::Point& p, int unused) {
  (void)unused;
  return scaled(static_cast<long>(p), 3);
}

int main(int argc, char**) {
  using namespace geo;
  using namespace geo::shapes;
  Grid<int, 3> grid;
  grid(1, 1) = argc;
  int bumps = 0;
  grid.each([&bumps](int& cell) {
    cell += 1;
    ++bumps;
  });
  Grid<double, 2> fine;
  fine(0, 0) = 1.5;
  auto words = repeat<std::string>("w", argc + 1);
  auto nums = repeat<int>(argc, 3);
  registry()[Point{argc, 2}] = "p";
  lastLabel = "main";
  Shape* s = new Circle(argc);
  Named* named = dynamic_cast<Named*>(s);
  Shape* copy = s->clone();
  Base* b = new Diamond;
  Right* right = dynamic_cast<Right*>(b);
  Counter c;
  c << argc << 2;
  auto square = [](int v) OUT_OF_LINE { return v * v; };
  geo::sequence(argc);
  long t = tally(Point{argc, 1}, 0) + tally(Point{1, argc}, 0);
  std::printf("%d %g %zu %zu %s %g %d %d %d %ld %d %d %d\n", grid.sum(), fine.sum(), words.size(),
              nums.size(), named->name(), copy->area(), b->id(), right->side(), c->*2, t,
              helper(nums), square(argc), geo::limit + bumps);
  delete copy;
  delete s;
  delete b;
  return Point{argc, 0} == Point{1, 0} ? 0 : (Point{1, 1}[0] + argc);
}
