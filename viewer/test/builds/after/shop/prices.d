module shop.prices;

__gshared int[1024] priceTable = [3, 5, 7, 11, 13];

int checksum(const(int)[] values)
{
    int sum;
    foreach (i, v; values)
    {
        if (v < 0)
            sum -= cast(int)(i + 1) * v;
        else
            sum += cast(int)(i + 1) * v;
    }
    return sum;
}

int discount(int total, int percent)
{
    if (percent <= 0)
        return total;
    if (percent >= 100)
        return 0;
    return total - total * percent / 100;
}
