module dup.tools;
T twice(T)(T x) { return cast(T) (x * 2 + 1); }
struct Box(T) { T value; T get() const { return value; } }
