/// Small D program for a GNU ld map made by gdc: classes, structs,
/// templates with type and value arguments, nested functions,
/// delegates and associative arrays.
module app;

import core.stdc.stdio : printf;
import shapes.store;

class Counter
{
    private int[string] counts;

    void add(string word) { counts[word]++; }
    int opIndex(string word) const { auto p = word in counts; return p ? *p : 0; }
    size_t distinct() const { return counts.length; }
}

final class LoudCounter : Counter
{
    override void add(string word) { super.add(word); super.add(word); }
}

struct Pair(K, V)
{
    K key;
    V value;
    int opCmp(const Pair o) const { return key < o.key ? -1 : key > o.key ? 1 : 0; }
}

T[N] filled(T, size_t N)(T v)
{
    T[N] r;
    foreach (ref x; r)
        x = v;
    return r;
}

T fold(alias fn, T)(const(T)[] xs, T seed)
{
    T step(T acc, T x)  // nested function of a template instance
    {
        return fn(acc, x);
    }
    foreach (x; xs)
        seed = step(seed, x);
    return seed;
}

int maxOf(int a, int b) { return a > b ? a : b; }

int applyTwice(scope int delegate(int) dg, int x)
{
    return dg(dg(x));
}

int fib(int n)
{
    int calls;
    int go(int k)       // nested function that reads the frame
    {
        calls++;
        return k < 2 ? k : go(k - 1) + go(k - 2);
    }
    return go(n) + calls;
}

__gshared string[] words = ["apple", "pear", "apple", "plum", "pear", "apple"];
immutable double[4] weights = [0.5, 1.5, 2.5, 3.5];

void main()
{
    Counter c = new LoudCounter;
    foreach (w; words)
        c.add(w);
    int base = 10;
    auto plus = (int v) => v + base;
    auto p1 = Pair!(string, int)("apple", c["apple"]);
    auto p2 = Pair!(int, double)(3, weights[1]);
    auto f3 = filled!(int, 3)(7);
    auto f8 = filled!(char, 8)('x');
    immutable int[5] odd = [1, 3, 5, 7, 9];
    auto folded = fold!((a, b) => a * 2 + b)(odd[], 0) + fold!((a, b) => a + b)(weights[], 0.0)
        + fold!maxOf(odd[], 0);
    Store!(double, 4) store;
    store.put(weights[0]);
    store.put(weights[3]);
    printf("%d %d %d %d %d %c %g %d\n", c["apple"], cast(int) c.distinct, applyTwice(plus, 1),
           fib(10), f3[2], f8[7], store.total(), p1 < p1 ? 1 : cast(int) p2.value);
    printf("%g\n", folded);
}
