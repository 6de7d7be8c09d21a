/* The few runtime routines that compiled code calls on its own, for links
   without any C library, and the symbol that Microsoft-ABI objects using
   floating point refer to. */
typedef __SIZE_TYPE__ size_t;

#ifdef _WIN32
int _fltused = 1;
#endif

void *memset(void *dst, int c, size_t n)
{
    unsigned char *p = dst;
    for (size_t i = 0; i < n; i++)
        p[i] = (unsigned char)c;
    return dst;
}

void *memcpy(void *dst, const void *src, size_t n)
{
    unsigned char *d = dst;
    const unsigned char *s = src;
    for (size_t i = 0; i < n; i++)
        d[i] = s[i];
    return dst;
}

void *memmove(void *dst, const void *src, size_t n)
{
    unsigned char *d = dst;
    const unsigned char *s = src;
    if (d < s)
        for (size_t i = 0; i < n; i++)
            d[i] = s[i];
    else
        while (n--)
            d[n] = s[n];
    return dst;
}

int memcmp(const void *a, const void *b, size_t n)
{
    const unsigned char *x = a, *y = b;
    for (size_t i = 0; i < n; i++)
        if (x[i] != y[i])
            return x[i] - y[i];
    return 0;
}
