#!/bin/sh
# Links tests/data/src/phobos/report.d against a static Phobos with ld.lld (gdc and ldc2) and
# prints how many of the sized symbols of each link's symbol table get their size, within the
# alignment padding, from `vorlith --modern` reading the link's map. The maps are a few MB:
# measured here, never committed.
#   tests/tools/measure-static-phobos.sh [path/to/vorlith] [MIN_PERCENT]
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
vorlith=${1:-$top/build/vorlith}
min=${2:-95}
dir=$(mktemp -d "${TMPDIR:-/tmp}/vorlith-phobos.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cp "$top/tests/data/src/phobos/report.d" "$dir/"
cd "$dir"
status=0
gdc -O1 -ffunction-sections -fdata-sections -static-libphobos -fuse-ld=lld -o gdc-report \
  report.d -Wl,-Map=gdc-report.map
# Debian's static Phobos for ldc2 needs zlib (zlib1g-dev).
ldc2 -O1 -function-sections -data-sections -link-defaultlib-shared=false --linker=lld \
  -of=ldc2-report report.d -L-lz -L-Map=ldc2-report.map
for name in gdc-report ldc2-report; do
  echo "$name: map $(wc -c <"$name.map") bytes"
  python3 "$top/tests/tools/check-elf-sizes.py" "$vorlith" "$name.map" "$name" \
    --min-percent "$min" || status=1
done
exit $status
