module app;

import core.stdc.stdio : printf;
import shop.cart;
import shop.prices;

extern (C) int lookup(int i);

void main()
{
    auto cart = Cart!int(4);
    foreach (i; 0 .. 6)
        cart.add(i * 3);
    printf("lookup %d\n", lookup(5));
    printf("total %d, checksum %d\n", cart.total(), checksum(priceTable[]));
    legacyReport(cart.total());
}
