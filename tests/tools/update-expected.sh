#!/bin/sh
# Rewrites tests/data/expected/NAME.json from the current vorlith, for the maps in tests/data.
# With --modern, rewrites tests/data/expected-modern/NAME.json from `vorlith --modern` instead.
# Run it only after checking by hand that a change of output is intended; git diff shows it.
#   tests/tools/update-expected.sh [--modern] [path/to/vorlith]
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
options="" dir=expected maps="$top/tests/data/*.map $top/examples/sample.map"
if [ "${1:-}" = "--modern" ]; then
  options=--modern dir=expected-modern maps="$top/tests/data/*.map"
  shift
fi
vorlith=${1:-$top/build/vorlith}
mkdir -p "$top/tests/data/$dir"
for map in $maps; do
  name=$(basename "$map" .map)
  # shellcheck disable=SC2086  # $options is empty or one word
  if "$vorlith" $options "$map" "$top/tests/data/$dir/$name.json" >/dev/null 2>&1; then
    echo "updated $dir/$name"
  else
    rm -f "$top/tests/data/$dir/$name.json"
    echo "skipped $name (vorlith failed)"
  fi
done
