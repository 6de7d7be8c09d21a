// D main of the mixed-language program: classes, a struct template, a nested function,
// a lambda, module-private data, and calls into the C and C++ parts.
module app;

import core.stdc.stdio : printf;

extern (C) uint mixChecksum(const(ubyte)* data, size_t length);
extern (C++, geo) int area(int width, int height);

private __gshared int calls;

struct Ring(T, size_t N)
{
    T[N] items = 0;
    size_t head;

    void put(T value)
    {
        items[head % N] = value;
        ++head;
    }

    T sum() const
    {
        T total = 0;
        foreach (item; items)
            total += item;
        return total;
    }
}

abstract class Shape
{
    abstract int size() const;
}

final class Square : Shape
{
    int side;
    this(int side) { this.side = side; }
    override int size() const { return area(side, side); }
}

int scaled(int factor)
{
    int twice(int x) { return 2 * x * factor; }
    ++calls;
    return twice(factor);
}

void main()
{
    Ring!(int, 4) ints;
    Ring!(double, 2) doubles;
    foreach (i; 0 .. 6)
        ints.put(scaled(i));
    doubles.put(1.5);
    Shape shape = new Square(3);
    ubyte[4] bytes = [1, 2, 3, 4];
    auto add = (int a, int b) => a + b;
    printf("%d %g %d %u %d\n", ints.sum(), doubles.sum(), shape.size(),
           mixChecksum(bytes.ptr, bytes.length), add(calls, 1));
}
