import dup.left, dup.right;
int main(string[] args) { return left(cast(int) args.length) + right(2); }
