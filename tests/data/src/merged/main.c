/* Calls three assembly functions whose 2-byte constants GNU ld merges into one. */
int f1(void), f2(void), f3(void);

int main(void) {
  return f1() + f2() + f3();
}
