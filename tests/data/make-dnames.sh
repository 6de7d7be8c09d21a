#!/bin/sh
# Regenerates d-current-names.tsv: the mangled names of the symbols and types declared in
# src/dnames/ with their qualified names, as gdc and ldc2 print them at compile time
# (pragma(msg, sym.mangleof) and std.traits.fullyQualifiedName; see src/dnames/dprobe.d).
# Nothing is compiled to code and no demangler is involved.
#   columns: compiler, "symbol" or "type", mangled name (a type's own mangling for types),
#            qualified name
set -eu
cd "$(dirname "$0")/src/dnames"
out=../../d-current-names.tsv
modules="shop/stock.d farm/barn.d post/varargs.d"
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
for module in $modules; do
  gdc -fsyntax-only -fpreview=dip1000 -fpreview=in -I. "$module" 2>&1 | sed 's/^/gdc\t/' >>"$tmp"
  ldc2 -o- -preview=dip1000 -preview=in -I. "$module" 2>&1 | sed 's/^/ldc2\t/' >>"$tmp"
done
# Keep the probe's rows only (compiler messages would be anything else) and drop repeats.
awk -F '\t' 'NF == 3 && $2 ~ /^_D/ { print $1 "\tsymbol\t" $2 "\t" $3; next }
             NF == 4 && $2 == "T" { print $1 "\ttype\t" $3 "\t" $4 }' "$tmp" |
  LC_ALL=C sort -u >"$out"
echo "$(wc -l <"$out") rows in $out"
