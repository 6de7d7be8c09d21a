/* The C part of the program: a lookup table that the new build makes larger. */
int lookup_table[64] = {2, 3, 5, 7, 11, 13};

int lookup(int i) { return lookup_table[i & 63]; }
