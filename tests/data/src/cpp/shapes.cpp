// Small C++ program for a GNU ld map: nested namespaces, a class hierarchy
// with virtual methods, a class template instantiated for two types, a
// function template, a lambda, static data and an anonymous namespace.
#include <cstdio>
#include <vector>

namespace geo {
namespace shapes {

class Shape {
public:
    explicit Shape(const char *name) : name_(name) {}
    virtual ~Shape() {}
    virtual double area() const = 0;
    const char *name() const { return name_; }
    static int created;

private:
    const char *name_;
};

int Shape::created = 0;

class Rect : public Shape {
public:
    Rect(double w, double h) : Shape("rect"), w_(w), h_(h) { ++created; }
    double area() const override { return w_ * h_; }
    void scale(double f);

private:
    double w_, h_;
};

void Rect::scale(double f)
{
    w_ *= f;
    h_ *= f;
}

class Circle : public Shape {
public:
    explicit Circle(double r) : Shape("circle"), r_(r) { ++created; }
    double area() const override { return 3.14159265358979 * r_ * r_; }

private:
    double r_;
};

} // namespace shapes

template <typename T>
class Stack {
public:
    void push(const T &v) { items_.push_back(v); }
    T pop()
    {
        T v = items_.back();
        items_.pop_back();
        return v;
    }
    bool empty() const { return items_.empty(); }

private:
    std::vector<T> items_;
};

template <typename T>
T largest(const T *v, int n)
{
    T best = v[0];
    for (int i = 1; i < n; i++)
        if (v[i] > best)
            best = v[i];
    return best;
}

template <typename F>
int apply_each(const int *v, int n, F f)
{
    int acc = 0;
    for (int i = 0; i < n; i++)
        acc += f(v[i]);
    return acc;
}

// The lambda lives in an inline function, so it and the template
// instantiation that takes it have names the linker sees.
inline int sum_of_squares(const int *v, int n)
{
    return apply_each(v, n, [](int x) { return x * x; });
}

} // namespace geo

namespace {
int hidden_counter;
const double unit_areas[] = {1.0, 2.0, 4.0, 8.0, 16.0};
}

double global_scale = 1.5;

int main()
{
    geo::shapes::Rect r(2, 3);
    geo::shapes::Circle c(1);
    r.scale(global_scale);

    geo::Stack<int> ints;
    geo::Stack<double> reals;
    for (int i = 0; i < 5; i++) {
        ints.push(i * i);
        reals.push(unit_areas[i]);
    }
    auto describe = [&](const geo::shapes::Shape &s) {
        ++hidden_counter;
        std::printf("%s %.2f\n", s.name(), s.area());
    };
    describe(r);
    describe(c);
    int total = 0;
    while (!ints.empty())
        total += ints.pop();
    double sum = 0;
    while (!reals.empty())
        sum += reals.pop();
    int li[] = {3, 9, 4};
    total += geo::sum_of_squares(li, 3);
    std::printf("%d %.1f %d %.1f %d %d\n", total, sum, geo::largest(li, 3),
                geo::largest(unit_areas, 5), hidden_counter, geo::shapes::Shape::created);
    return 0;
}
