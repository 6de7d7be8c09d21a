#!/bin/sh
# Installs the build into PREFIX (emptied first) as a packager would and checks what landed:
# the binary runs and writes what the build's own binary writes, the page has every file it
# loads and none of its tests, the documents are the project's own.
#   check-install.sh VORLITH BUILD_DIR SOURCE_DIR PREFIX VERSION
set -eu
built=$1 build=$2 source=$3 prefix=$4 version=$5
fail() {
  echo "check-install: $*" >&2
  exit 1
}

rm -rf "$prefix"
"${CMAKE:-cmake}" --install "$build" --prefix "$prefix" >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/vorlith-install.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The binary: its version, and the build's document, to a file and to standard output.
[ -x "$prefix/bin/vorlith" ] || fail "bin/vorlith is not installed"
said=$("$prefix/bin/vorlith" --version)
[ "$said" = "vorlith $version" ] || fail "--version says '$said', not 'vorlith $version'"
"$built" "$source/examples/sample.map" "$work/built.json"
"$prefix/bin/vorlith" "$source/examples/sample.map" "$work/installed.json"
cmp "$work/built.json" "$work/installed.json" || fail "the installed binary writes another document"
"$prefix/bin/vorlith" "$source/examples/sample.map" - >"$work/stdout.json"
cmp "$work/built.json" "$work/stdout.json" || fail "the document on standard output differs"

# The page: every file that index.html loads, and every file of the page in the source tree
# (its tests, benchmark, npm files, notes, dot files and screenshot aside), and nothing else.
page=$prefix/share/vorlith/viewer
[ -f "$page/index.html" ] || fail "share/vorlith/viewer/index.html is not installed"
refs=$(grep -o -E '(src|href)="[^":#?]+"' "$page/index.html" | sed -E 's/^[a-z]+="//; s/"$//')
[ -n "$refs" ] || fail "found no script or style sheet in index.html"
for ref in $refs; do
  [ -f "$page/$ref" ] || fail "the page loads $ref, which is not installed"
done
(cd "$source/viewer" && find . \( -path ./test -o -path ./bench -o -path ./node_modules \) -prune \
  -o -type f ! -name 'package*.json' ! -name '*.md' ! -name '.*' ! -name screenshot.png -print) |
  LC_ALL=C sort >"$work/want"
(cd "$page" && find . -type f -print) | LC_ALL=C sort >"$work/got"
diff -u "$work/want" "$work/got" >&2 || fail "the installed page differs from the page's files (- source, + installed)"
ls "$page"/vendor/*LICENSE* >/dev/null 2>&1 || fail "the vendored files' licence is not installed"

# The manual page, filled in, and the documents.
man=$prefix/share/man/man1/vorlith.1
[ -f "$man" ] || fail "share/man/man1/vorlith.1 is not installed"
if grep -n '@[A-Z_]*@' "$man" >&2; then
  fail "the manual page has placeholders left"
fi
grep -q -F "$page/index.html" "$man" || fail "the manual page does not name the installed page"
docs=$(cd "$source" && ls docs/*.md)
[ -n "$docs" ] || fail "found no docs/*.md in the source tree"
for doc in README.md LICENSE CHANGELOG.md $docs; do
  cmp "$source/$doc" "$prefix/share/doc/vorlith/$doc" || fail "share/doc/vorlith/$doc"
done
echo "installed into $prefix: binary, page, manual page and documents checked"
