#!/bin/sh
# Runs the treemap page's test suite (viewer/test/*.test.mjs, node's test runner driving headless
# Chromium), handing it VORLITH as VORLITH_BIN, so that the suite also makes its documents and
# reports with this build. With FILEs, only those files of viewer/test; with --except FILE...,
# every file but those: CTest runs the suite in parts, so that two cores share its longest files.
# Skips (status 77) where Node, Chromium or the page's pinned npm packages are missing, unless
# VORLITH_REQUIRE_BROWSER is set (tests/run-all.sh sets it once it has installed them).
#   check-page.sh VORLITH SOURCE_DIR [FILE... | --except FILE...]
set -eu
vorlith=$1 source=$2
shift 2
. "$(dirname "$0")/need-browser.sh"
needs_browser check-page "$source"
cd "$source/viewer"
# Not on a terminal, node's test runner writes TAP, which names every test in CTest's log.
export VORLITH_BIN="$vorlith"
[ $# -eq 0 ] && exec npm test
if [ "$1" = --except ]; then
  shift
  except=" $* "
  set --
  for file in test/*.test.mjs; do
    case $except in
    *" ${file#test/} "*) ;;
    *) set -- "$@" "$file" ;;
    esac
  done
else
  for file in "$@"; do
    shift
    [ -f "test/$file" ] || { echo "check-page: no test/$file" >&2; exit 1; }
    set -- "$@" "test/$file"
  done
fi
exec node --test "$@"
