#!/bin/sh
# Runs the treemap page's test suite (viewer/test/*.test.mjs, node's test runner driving headless
# Chromium), handing it VORLITH as VORLITH_BIN, so that the suite also makes its documents and
# reports with this build.
# Skips (status 77) where Node, Chromium or the page's pinned npm packages are missing, unless
# VORLITH_REQUIRE_BROWSER is set (tests/run-all.sh sets it once it has installed them).
#   check-page.sh VORLITH SOURCE_DIR
set -eu
vorlith=$1 source=$2
. "$(dirname "$0")/need-browser.sh"
needs_browser check-page "$source"
cd "$source/viewer"
# Not on a terminal, node's test runner writes TAP, which names every test in CTest's log.
VORLITH_BIN=$vorlith exec npm test
