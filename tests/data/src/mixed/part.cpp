// C++ part of the mixed-language program: a namespace, a class with a virtual method, a template.
namespace geo {

class Rect {
 public:
  Rect(int w, int h) : w_(w), h_(h) {}
  virtual ~Rect() = default;
  virtual int area() const { return w_ * h_; }

 private:
  int w_, h_;
};

template <typename T>
T clampTo(T value, T low, T high) {
  return value < low ? low : value > high ? high : value;
}

static Rect unit(1, 1);

int area(int width, int height) {
  Rect* rect = new Rect(clampTo(width, 0, 1000), clampTo(height, 0, 1000));
  int result = rect->area() + unit.area() - 1;
  delete rect;
  return result;
}

}  // namespace geo
