#!/bin/sh
# Runs the treemap page's test suite (viewer/test/*.test.mjs, node's test runner driving headless
# Chromium) with VORLITH pointed at by VORLITH_BIN, so that the suite also makes its documents
# and reports with this build.
# Skips (status 77) where Node, Chromium or the page's pinned npm packages are missing, unless
# VORLITH_REQUIRE_BROWSER is set (tests/run-all.sh sets it once it has installed them).
#   check-page.sh VORLITH SOURCE_DIR
set -eu
vorlith=$1 source=$2
missing() {
  echo "check-page: $*" >&2
  [ -z "${VORLITH_REQUIRE_BROWSER:-}" ] || exit 1
  exit 77
}
command -v node >/dev/null 2>&1 || missing "node is not installed"
[ -x "${CHROMIUM_BIN:-/usr/bin/chromium}" ] || missing "chromium is not installed"
[ -d "$source/viewer/node_modules/playwright-core" ] ||
  missing "the page's npm packages are not installed (cd viewer && npm ci)"
cd "$source/viewer"
# Not on a terminal, node's test runner writes TAP, which names every test in CTest's log.
VORLITH_BIN=$vorlith exec npm test
