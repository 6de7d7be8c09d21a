// C++ part (no exceptions, no RTTI, no library): namespaces, a small class
// hierarchy with virtual functions, a class template with type and value
// arguments, a function template, operators and a lambda.
namespace ui {
namespace widgets {

struct Size {
    int w, h;
    Size operator*(int k) const { return {w * k, h * k}; }
    bool operator<(const Size &o) const { return w * h < o.w * o.h; }
};

class Widget {
public:
    virtual ~Widget() {}
    virtual Size measure() const = 0;
    virtual int depth() const { return 0; }
};

class Label : public Widget {
public:
    explicit Label(int chars) : chars_(chars) {}
    Size measure() const override { return {chars_ * 8, 16}; }

private:
    int chars_;
};

class Panel : public Widget {
public:
    Size measure() const override { return {320, 200}; }
    int depth() const override { return 1; }
};

template <typename T, unsigned N>
class Grid {
public:
    void set(unsigned i, const T &v) { cells_[i % N] = v; }
    T biggest() const
    {
        T b = cells_[0];
        for (unsigned i = 1; i < N; i++)
            if (b < cells_[i])
                b = cells_[i];
        return b;
    }

private:
    T cells_[N] = {};
};

template <typename T>
T twice(T v) { return v + v; }

static Label caption(12);
static Panel backdrop;
Widget *screen[] = {&caption, &backdrop};

} // namespace widgets
} // namespace ui

extern "C" int cxx_layout(int scale)
{
    using namespace ui::widgets;
    Grid<Size, 4> sizes;
    Grid<int, 8> depths;
    unsigned i = 0;
    for (Widget *w : screen) {
        sizes.set(i, w->measure() * scale);
        depths.set(i++, w->depth());
    }
    auto area = [](const Size &s) { return s.w * s.h; };
    return area(sizes.biggest()) + twice(depths.biggest()) + twice(scale);
}

#ifdef _WIN32
// Stand-ins for the hooks that static objects with destructors need.
extern "C" int atexit(void (*)(void)) { return 0; }
#else
// (the linker itself defines __dso_handle for Mach-O)
extern "C" int __cxa_atexit(void (*)(void *), void *, void *) { return 0; }
#endif
// Called if a pure virtual function is ever called; never in this program.
#ifdef _MSC_VER
extern "C" int _purecall() { return 0; }
#else
extern "C" void __cxa_pure_virtual() {}
#endif
void operator delete(void *, decltype(sizeof 0)) noexcept {}
void operator delete(void *) noexcept {}
