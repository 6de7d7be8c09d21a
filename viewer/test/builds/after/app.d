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
    auto weights = Cart!double(2);
    weights.add(1.5);
    weights.add(2.25);
    printf("lookup %d\n", lookup(5));
    printf("total %d, checksum %d, weight %f, discounted %d\n", cart.total(), checksum(priceTable[]),
        weights.total(), discount(cart.total(), 15));
}
