/* Small C program for a GNU ld map: two files, static and global data,
   a const lookup table, static and external functions. */
#include <stdio.h>
#include <string.h>

#include "table.h"

static char scratch[256];
static int call_count;
int verbose = 1;

static unsigned checksum(const char *s)
{
    unsigned h = 5381;
    while (*s)
        h = h * 33u + (unsigned char)*s++;
    return h;
}

static void report(const char *what, long value)
{
    call_count++;
    if (verbose)
        printf("%-12s %ld\n", what, value);
}

int main(int argc, char **argv)
{
    const char *word = argc > 1 ? argv[1] : "treemap";
    strncpy(scratch, word, sizeof scratch - 1);
    report("checksum", (long)checksum(scratch));
    report("weekday", weekday_index(scratch));
    report("sum", table_sum());
    report("calls", call_count);
    return 0;
}
