int weekday_index(const char *name);
long table_sum(void);
