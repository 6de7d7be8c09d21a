import std.path, std.stdio, std.array;
void main(string[] args) {
  writeln(asRelativePath(args[0], "/tmp").array);
}
