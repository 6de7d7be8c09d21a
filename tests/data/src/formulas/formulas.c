/* C functions whose assembler names a spreadsheet would read as formulas: the CSV report must
   keep them text. GNU as takes quoted symbol names. */
int formula(void) __asm__("\"=1+1\"");
int formula(void) { return 1; }
int plus(void) __asm__("\"+2+3\"");
int plus(void) { return 3; }
int at(void) __asm__("\"@SUM(1,2)\"");
int at(void) { return 4; }
int minus(void) __asm__("\"-4+5\"");
int minus(void) { return 5; }
int main(void) { return formula() + plus() + at() + minus(); }
