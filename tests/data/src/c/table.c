/* Const tables and the functions that read them. */
#include <string.h>

#include "table.h"

static const char *const weekdays[] = {
    "monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday",
};

const unsigned short primes[32] = {
    2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53,
    59, 61, 67, 71, 73, 79, 83, 89, 97, 101, 103, 107, 109, 113, 127, 131,
};

long running_total;
static double weights[64];

int weekday_index(const char *name)
{
    for (unsigned i = 0; i < sizeof weekdays / sizeof weekdays[0]; i++)
        if (strcmp(weekdays[i], name) == 0)
            return (int)i;
    return -1;
}

static long weigh(unsigned i)
{
    weights[i % 64] += primes[i];
    return (long)weights[i % 64];
}

long table_sum(void)
{
    for (unsigned i = 0; i < sizeof primes / sizeof primes[0]; i++)
        running_total += weigh(i);
    return running_total;
}
