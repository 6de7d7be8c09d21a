// Thread-local data beside the other kinds of section: a D module's variables are thread-local
// unless __gshared, so this module has a .tdata and a large .tbss, which GNU ld and mold list at
// the addresses of the sections after them and ld.lld and gold at their offsets in the block.
module tls;

import core.stdc.stdio;

int[2048] bigTls;  // 8192 bytes of .tbss, the first of them at offset 16 of the block
int firstTls = 7;  // .tdata, at offset 0
__gshared int[100] sharedTable;  // .bss
__gshared int initialised = 3;   // .data
immutable int[64] table = [
  1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26,
  27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50,
  51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64
];

class Shape {  // vtables in .data.rel.ro, right after the thread-local sections
  int area() {
    return 1;
  }
}

class Square : Shape {
  override int area() {
    return 4;
  }
}

private int helper(int x) {
  return x * 3 + bigTls[x & 7];
}

void main(string[] args) {
  bigTls[args.length] = firstTls;
  Shape s = args.length > 3 ? new Square : new Shape;
  printf("%d %d %d\n", helper(cast(int) args.length), s.area(),
         table[args.length] + sharedTable[3] + initialised);
}
