#!/bin/sh
# Reads the installed manual page as man does and checks that it renders without a warning,
# has the usual sections in the usual order, states the binary's version and documents every
# option that the binary's --help lists.
#   check-manpage.sh PREFIX
set -eu
prefix=$1
fail() {
  echo "check-manpage: $*" >&2
  exit 1
}
command -v man >/dev/null 2>&1 || fail "man is not installed (the man-db package; tests/run-all.sh installs it)"

work=$(mktemp -d "${TMPDIR:-/tmp}/vorlith-man.XXXXXX")
trap 'rm -rf "$work"' EXIT
LC_ALL=C MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/vorlith.1" >"$work/text" 2>"$work/warnings" ||
  fail "man failed: $(cat "$work/warnings")"
if [ -s "$work/warnings" ]; then
  cat "$work/warnings" >&2
  fail "the manual page renders with warnings"
fi

last=0
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES "SEE ALSO"; do
  at=$(grep -n -x "$section" "$work/text" | head -n 1 | cut -d: -f1)
  [ -n "$at" ] || fail "no section $section"
  [ "$at" -gt "$last" ] || fail "section $section is out of order"
  last=$at
done

version=$("$prefix/bin/vorlith" --version)
tail -n 1 "$work/text" | grep -q -F "$version" || fail "the footer does not say '$version'"

# Each option as --help lists it ("  --name", "  --name=VALUE", "  --name[=VALUE]") must have an
# entry of its own: a line that starts with it, indented as the entries are.
options=$("$prefix/bin/vorlith" --help | sed -n -E 's/^  (--[a-z0-9-]*).*/\1/p')
[ -n "$options" ] || fail "--help lists no options"
for option in $options; do
  grep -q -E "^ +$option( |=|\\[|\$)" "$work/text" || fail "option $option is not documented"
done
echo "manual page renders cleanly; sections, version and options ($(echo $options)) checked"
