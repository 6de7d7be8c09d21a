module dup.left;
import dup.tools;
int left(int x) { Box!int b = Box!int(x); return twice(x) + b.get(); }
