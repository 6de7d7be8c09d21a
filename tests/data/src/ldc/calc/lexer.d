/// Splits a source string into tokens.
module calc.lexer;

enum Kind : ubyte { number, plus, minus, star, slash, lparen, rparen, end }

struct Token
{
    Kind kind;
    double value;
}

immutable char[6] operators = "+-*/()";

Token[] tokenize(string src)
{
    Token[] toks;
    size_t i;
    bool isDigit(char c) { return c >= '0' && c <= '9'; }
    while (i < src.length)
    {
        char c = src[i];
        if (c == ' ') { i++; continue; }
        if (isDigit(c))
        {
            double v = 0;
            while (i < src.length && isDigit(src[i]))
                v = v * 10 + (src[i++] - '0');
            toks ~= Token(Kind.number, v);
            continue;
        }
        foreach (k, op; operators)
            if (op == c)
                toks ~= Token(cast(Kind)(k + 1), 0);
        i++;
    }
    toks ~= Token(Kind.end, 0);
    return toks;
}
