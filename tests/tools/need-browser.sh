# Sourced by the checks that drive the treemap page in headless Chromium: needs_browser NAME
# SOURCE_DIR returns when Node, Chromium and the page's pinned npm packages (playwright-core)
# are there, and otherwise ends the check: skipped (status 77), or failed where
# VORLITH_REQUIRE_BROWSER is set (tests/run-all.sh sets it once it has installed them).
needs_browser() {
  why=""
  if ! command -v node >/dev/null 2>&1; then
    why="node is not installed"
  elif [ ! -x "${CHROMIUM_BIN:-/usr/bin/chromium}" ]; then
    why="chromium is not installed"
  elif [ ! -d "$2/viewer/node_modules/playwright-core" ]; then
    why="playwright-core is not installed (cd viewer && npm ci)"
  fi
  [ -n "$why" ] || return 0
  echo "$1: $why" >&2
  [ -z "${VORLITH_REQUIRE_BROWSER:-}" ] || exit 1
  exit 77
}
