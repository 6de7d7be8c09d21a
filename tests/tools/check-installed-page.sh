#!/bin/sh
# Opens the installed treemap page in headless Chromium on a document of the installed binary,
# the way the manual page tells a user to:
#   file://PREFIX/share/vorlith/viewer/index.html?data=$(realpath --relative-to=THAT_DIR doc.json)
# Skips (status 77) where Node, Chromium or the page's pinned playwright-core are missing, unless
# VORLITH_REQUIRE_BROWSER is set (tests/run-all.sh sets it once it has installed them).
#   check-installed-page.sh PREFIX SOURCE_DIR
set -eu
prefix=$1 source=$2
. "$(dirname "$0")/need-browser.sh"
needs_browser check-installed-page "$source"

work=$(mktemp -d "${TMPDIR:-/tmp}/vorlith-page.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$prefix/bin/vorlith" "$source/examples/sample.map" "$work/sample.json"
page=$prefix/share/vorlith/viewer
node "$source/viewer/test/installed-page.mjs" "$page" "$work/sample.json" \
  "$(realpath --relative-to="$page" "$work/sample.json")"
