/// Small D program for a map made by ldc2 and GNU ld: a tiny calculator.
module main;

import core.stdc.stdio : printf;
import calc.lexer;
import calc.eval;

__gshared string[] programs = ["1 + 2 * 3", "(4 + 5) * (2 - 7)", "10 / 4 - 1"];

void main()
{
    double[string] results;
    foreach (src; programs)
    {
        auto toks = tokenize(src);
        auto p = Parser(toks);
        results[src] = p.parse().evaluate();
    }
    size_t longest;
    void note(string s)     // nested function that writes the frame
    {
        if (s.length > longest)
            longest = s.length;
    }
    foreach (k, v; results)
    {
        note(k);
        printf("%.*s = %g\n", cast(int) k.length, k.ptr, v);
    }
    auto m = MinMax!double.of(results.values);
    printf("%d %g %g %d\n", cast(int) longest, m.lo, m.hi, cast(int) Ring!(int, 4).init.items.length);
}
