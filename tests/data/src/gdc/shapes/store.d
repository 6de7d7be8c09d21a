/// A fixed-capacity store with a value template argument.
module shapes.store;

struct Store(T, size_t capacity)
{
    T[capacity] items;
    size_t used;

    void put(T v)
    {
        if (used < capacity)
            items[used++] = v;
    }

    T total() const
    {
        T s = 0;
        foreach (v; items[0 .. used])
            s += v;
        return s;
    }
}

enum Colour { red, green, blue }

string colourName(Colour c)
{
    final switch (c)
    {
    case Colour.red: return "red";
    case Colour.green: return "green";
    case Colour.blue: return "blue";
    }
}
