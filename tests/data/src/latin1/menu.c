/* Small C program whose object file gets a Latin-1 file name. */
#include <stdio.h>

static const char *const dishes[] = { "soup", "crepe", "tarte", "cafe au lait" };
int orders[4];

int order(int i)
{
    return ++orders[i & 3];
}

int main(void)
{
    for (int i = 0; i < 6; i++)
        order(i);
    printf("%s %d\n", dishes[1], orders[1]);
    return 0;
}
