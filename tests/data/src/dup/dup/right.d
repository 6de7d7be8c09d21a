module dup.right;
import dup.tools;
int right(int x) { Box!int b = Box!int(x); return twice(x) * b.get(); }
