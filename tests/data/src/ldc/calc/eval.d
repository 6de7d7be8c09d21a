/// A recursive-descent parser building a small class tree, and helpers.
module calc.eval;

import calc.lexer;

abstract class Node
{
    abstract double evaluate() const;
}

final class Number : Node
{
    double value;
    this(double v) { value = v; }
    override double evaluate() const { return value; }
}

final class Binary : Node
{
    Kind op;
    Node lhs, rhs;
    this(Kind op, Node l, Node r) { this.op = op; lhs = l; rhs = r; }
    override double evaluate() const
    {
        immutable a = lhs.evaluate(), b = rhs.evaluate();
        final switch (op) with (Kind)
        {
        case plus: return a + b;
        case minus: return a - b;
        case star: return a * b;
        case slash: return a / b;
        case number, lparen, rparen, end: return double.nan;
        }
    }
}

struct Parser
{
    Token[] toks;
    size_t pos;

    Node parse() { return sum(); }

    private Node sum()
    {
        return chain!(Kind.plus, Kind.minus)(&product);
    }

    private Node product()
    {
        return chain!(Kind.star, Kind.slash)(&atom);
    }

    private Node chain(Kind a, Kind b)(Node delegate() next)
    {
        Node n = next();
        while (toks[pos].kind == a || toks[pos].kind == b)
        {
            auto op = toks[pos++].kind;
            n = new Binary(op, n, next());
        }
        return n;
    }

    private Node atom()
    {
        auto t = toks[pos++];
        if (t.kind == Kind.lparen)
        {
            auto n = sum();
            pos++;
            return n;
        }
        return new Number(t.value);
    }
}

struct MinMax(T)
{
    T lo, hi;
    static MinMax of(const T[] xs)
    {
        MinMax m = MinMax(xs[0], xs[0]);
        foreach (x; xs[1 .. $])
        {
            if (x < m.lo) m.lo = x;
            if (x > m.hi) m.hi = x;
        }
        return m;
    }
}

struct Ring(T, size_t n)
{
    T[n] items;
    size_t head;
    void push(T v) { items[head++ % n] = v; }
}
