/// Entry point of a -betterC program (no D runtime, no GC): structs,
/// templates with type and value arguments, nested functions, scope
/// delegates, and calls into the C and C++ parts.
module kit.app;

import kit.algo;

extern (C) void ring_put(ubyte b) nothrow @nogc;
extern (C) int ring_get() nothrow @nogc;
extern (C) uint crc32_update(uint crc, const(ubyte)* p, uint n) nothrow @nogc;
extern (C) int cxx_layout(int scale) nothrow @nogc;
extern (C) __gshared extern uint crc_seed;

__gshared ubyte[64] inbox;
__gshared immutable(char)[] title = "kit";

struct Stats
{
    int total;
    int samples;
    void add(int v) nothrow @nogc { total += v; samples++; }
    int average() const nothrow @nogc { return samples ? total / samples : 0; }
}

private int collatz(int n) nothrow @nogc
{
    int steps;
    void step() nothrow @nogc      // nested function writing the frame
    {
        n = n % 2 ? 3 * n + 1 : n / 2;
        steps++;
    }
    while (n > 1)
        step();
    return steps;
}

extern (C) int main()
{
    Fixed!(int, 16) ints;
    foreach (i; 0 .. 20)
        ints.push(collatz(i + 1));
    Fixed!(double, 3) reals;
    reals.push(1.5);
    Stats st;
    ints.each((int v) nothrow @nogc { st.add(v); });
    foreach (i, ref b; inbox)
    {
        b = cast(ubyte)(i * 7);
        ring_put(b);
    }
    int drained;
    for (int c = ring_get(); c >= 0; c = ring_get())
    {
        histogram[c % histogram.length] += steps[c % steps.length];
        drained++;
    }
    auto crc = crc32_update(crc_seed, inbox.ptr, cast(uint) inbox.length);
    Tag!("width", 640) w;
    Tag!("height", 480) h;
    return st.average() + drained + cast(int)(crc & 0xff) + cxx_layout(2)
        + w.value + h.value + cast(int) reals.sum() + clampTo!(-5, 5)(st.samples)
        + cast(int) title.length + cast(int) histogram[3];
}
