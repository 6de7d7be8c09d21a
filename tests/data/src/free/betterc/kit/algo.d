/// Small generic helpers for the -betterC program.
module kit.algo;

struct Fixed(T, size_t capacity)
{
    T[capacity] items;
    size_t length;

    void push(T v) nothrow @nogc
    {
        items[length++ % capacity] = v;
        if (length > capacity)
            length = capacity;
    }

    void each(scope void delegate(T) nothrow @nogc dg) nothrow @nogc
    {
        foreach (v; items[0 .. length])
            dg(v);
    }

    T sum() const nothrow @nogc
    {
        T s = 0;
        foreach (v; items[0 .. length])
            s += v;
        return s;
    }
}

struct Tag(string name, int initial)
{
    int value = initial;
    enum label = name;
}

int clampTo(int lo, int hi)(int v) nothrow @nogc
{
    return v < lo ? lo : v > hi ? hi : v;
}

__gshared uint[32] histogram;
immutable ushort[8] steps = [1, 2, 4, 8, 16, 32, 64, 128];
