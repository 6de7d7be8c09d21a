#!/bin/sh
# Rewrites tests/data/expected/NAME.json from the current vorlith, for the maps in tests/data.
# Run it only after checking by hand that a change of output is intended; git diff shows it.
#   tests/tools/update-expected.sh [path/to/vorlith]
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
vorlith=${1:-$top/build/vorlith}
mkdir -p "$top/tests/data/expected"
for map in "$top"/tests/data/*.map "$top"/examples/sample.map; do
  name=$(basename "$map" .map)
  if "$vorlith" "$map" "$top/tests/data/expected/$name.json" 2>/dev/null; then
    echo "updated $name"
  else
    rm -f "$top/tests/data/expected/$name.json"
    echo "skipped $name (vorlith failed)"
  fi
done
