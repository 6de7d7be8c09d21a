#!/bin/sh
# Makes gdc-lld-phobos.map: the ld.lld map of a D program linked with a static Phobos, a few MB
# of D names, that the peak memory test reads. The object is compiled apart and linked under a
# relative name in a scratch directory, so that no temporary path reaches the map.
#   tests/data/peak/make-map.sh      (needs gdc 12 with its static Phobos, and ld.lld)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d "${TMPDIR:-/tmp}/vorlith-peak.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cp "$here/../src/phobos/report.d" "$dir/"
cd "$dir"
gdc -O1 -ffunction-sections -fdata-sections -c report.d -o report.o
gdc -static-libphobos -fuse-ld=lld -o report report.o -Wl,-Map=gdc-lld-phobos.map
cp gdc-lld-phobos.map "$here/"
