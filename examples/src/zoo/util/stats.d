/// Small statistics helpers.
module zoo.util.stats;

struct Summary(T)
{
    T total = 0;
    T mean = 0;
    size_t count;

    static Summary of(const(T)[] xs)
    {
        Summary s;
        foreach (x; xs)
            s.total += x;
        s.count = xs.length;
        s.mean = xs.length ? s.total / xs.length : 0;
        return s;
    }
}

struct Histogram(T, size_t n)
{
    uint[n] buckets;
    void add(T v) { buckets[cast(size_t) v % n]++; }
}

immutable double[5] percentiles = [0.1, 0.25, 0.5, 0.75, 0.9];
