#!/bin/sh
# Runs vorlith on synthetic maps of rising size (bench/make-synthetic.py --cut: a real GNU ld
# map without its preamble, repeated at rising addresses, cut to the size) and prints, per
# size, the symbols read, MB/s and peak memory as a multiple of the map, default and --modern:
# a cost that grows faster than the map shows as falling MB/s or a rising peak/map down the
# table.
#   bench/growth.sh [RUNS]     (default 1; environment: VORLITH_BENCH_CACHE, VORLITH_GROWTH_MB)
# The source is llvm.map in the cache directory (default build-bench/maps; bench/run.sh links
# it); the series, VORLITH_GROWTH_MB (default "10 30 100 300 1000"), is made there once, as
# cut-<MB>.map. vorlith is built as bench/run.sh builds it, in build-bench.
set -eu
cd "$(dirname "$0")/.."
runs=${1:-1}
cache=${VORLITH_BENCH_CACHE:-build-bench/maps}
sizes=${VORLITH_GROWTH_MB:-10 30 100 300 1000}
source=$cache/llvm.map
if [ ! -s "$source" ]; then
  echo "no $source: run bench/run.sh first, which links it" >&2
  exit 1
fi
out=build-bench/out
mkdir -p "$out"

sh bench/build.sh
"${CXX:-c++}" -O2 -std=c++20 -Isrc bench/count_symbols.cpp build-bench/libvorlithlib.a \
  -o build-bench/count_symbols

printf '%-7s %-8s %9s %9s %8s %8s %8s %8s\n' "size" mode MB symbols "wall s" "CPU s" "MB/s" \
  "peak/map"
for mb in $sizes; do
  map=$cache/cut-$mb.map
  if [ ! -s "$map" ]; then
    python3 bench/make-synthetic.py --cut "$source" "$map" "$mb"
  fi
  cat "$map" >/dev/null  # the timed runs must not pay for reading the disk
  bytes=$(wc -c <"$map")
  symbols=$(build-bench/count_symbols "$map")
  for mode in default modern; do
    flags=""
    [ "$mode" = modern ] && flags="--modern"
    # shellcheck disable=SC2086  # $flags is empty or one word
    set -- $(python3 bench/measure.py "$runs" build-bench/vorlith $flags "$map" \
      "$out/growth.json")
    python3 - "$mb" "$mode" "$bytes" "$symbols" "$1" "$2" "$3" <<'PY'
import sys
asked, mode, size, symbols, wall, peak_kib, cpu = sys.argv[1:]
mb = int(size) / 1e6
label = asked + " MB"
print(f"{label:<7} {mode:<8} {mb:9.1f} {int(symbols):9d} {float(wall):8.3f} {float(cpu):8.3f} "
      f"{mb / float(wall):8.1f} {int(peak_kib) * 1024 / int(size):8.2f}")
PY
  done
done
rm -f "$out/growth.json"
