module shop.cart;

struct Cart(T)
{
    T[] items;

    this(size_t reserve)
    {
        items.reserve(reserve);
    }

    void add(T item)
    {
        items ~= item;
    }

    T total() const
    {
        T sum = 0;
        foreach (x; items)
            sum += x;
        return sum;
    }
}
