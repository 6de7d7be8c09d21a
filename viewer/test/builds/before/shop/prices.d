module shop.prices;

import core.stdc.stdio : printf;

__gshared int[64] priceTable = [3, 5, 7, 11, 13];

int checksum(const(int)[] values)
{
    int sum;
    foreach (i, v; values)
        sum += cast(int)(i + 1) * v;
    return sum;
}

void legacyReport(int total)
{
    foreach (i; 0 .. 3)
        printf("legacy %d: %d\n", i, total * i);
}
