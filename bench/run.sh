#!/bin/sh
# Times vorlith on large real linker maps and prints, for each: size, lines, symbols, best wall
# time of RUNS runs, MB/s, peak memory (and whether it stays within 3 times the map's size), and
# the ratio of vorlith's time to `wc -l` on the same file in the same run; then the time of
# --modern and its ratio to the default (`tests/tools/modern-figures.py
# build-bench/out/NAME-modern.json` tells how the modern run filed the names).
#   bench/run.sh [RUNS]        (default 3; environment: VORLITH_BENCH_CACHE, VORLITH_SYNTHETIC_MB)
# The maps are linked once into the cache directory (default build-bench/maps, outside git):
#   llvm.map       GNU ld map of a whole-archive link of /usr/lib/llvm-14/lib/libLLVM*.a (C++)
#   gdc.map        GNU ld map of a whole-archive link of gdc's libgphobos.a and libgdruntime.a (D)
#   synthetic.map  llvm.map repeated at rising addresses up to VORLITH_SYNTHETIC_MB (400) MB
# vorlith is built with RelWithDebInfo (-O2) from the current tree in build-bench. The output
# documents stay in build-bench/out and their SHA-256 is printed, to compare two versions.
set -eu
cd "$(dirname "$0")/.."
runs=${1:-3}
cache=${VORLITH_BENCH_CACHE:-build-bench/maps}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)  # the links run in a scratch directory
synthetic_mb=${VORLITH_SYNTHETIC_MB:-400}
out=build-bench/out
mkdir -p "$out"

echo "== build vorlith (RelWithDebInfo) in build-bench"
generator=""
command -v ninja >/dev/null 2>&1 && generator="-G Ninja"
# shellcheck disable=SC2086  # $generator is empty or two words
cmake -S . -B build-bench $generator -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
  >/dev/null
cmake --build build-bench --target vorlith vorlithlib >/dev/null
"${CXX:-c++}" -O2 -std=c++20 -Isrc bench/count_symbols.cpp build-bench/libvorlithlib.a \
  -o build-bench/count_symbols

# Links a do-nothing main with whole archives and keeps only the map. Symbols the archives
# need from elsewhere are left unresolved and duplicates allowed: only the map matters.
link_map() {
  map=$1
  shift
  [ -s "$map" ] && return 0
  dir=$(mktemp -d "${TMPDIR:-/tmp}/vorlith-bench.XXXXXX")
  printf 'int main(void) { return 0; }\n' >"$dir/main.c"
  # Compiled apart and linked by a relative name, so that no temporary path reaches the map
  # and every machine makes the same one.
  if (cd "$dir" && ${CC:-cc} -c main.c -o main.o && ${CC:-cc} -o prog main.o \
    -Wl,--whole-archive "$@" -Wl,--no-whole-archive -Wl,--unresolved-symbols=ignore-all \
    -Wl,--allow-multiple-definition -Wl,--noinhibit-exec -Wl,-Map="$map.tmp") \
    >"$dir/link.log" 2>&1; then
    mv "$map.tmp" "$map"
  else
    echo "link for $map failed:" >&2
    tail -n 5 "$dir/link.log" >&2
    rm -f "$map.tmp"
  fi
  rm -rf "$dir"
}

maps=""
set -- /usr/lib/llvm-14/lib/libLLVM*.a
if [ -e "$1" ]; then
  echo "== llvm.map (whole-archive link of $# LLVM libraries)"
  link_map "$cache/llvm.map" "$@"
  [ -s "$cache/llvm.map" ] && maps="$maps llvm"
else
  echo "== llvm.map skipped: no /usr/lib/llvm-14/lib/libLLVM*.a (Debian package llvm-14-dev)"
fi
gcc_lib=/usr/lib/gcc/x86_64-linux-gnu/12
if [ -e "$gcc_lib/libgphobos.a" ] && [ -e "$gcc_lib/libgdruntime.a" ]; then
  echo "== gdc.map (whole-archive link of libgphobos.a and libgdruntime.a)"
  link_map "$cache/gdc.map" "$gcc_lib/libgphobos.a" "$gcc_lib/libgdruntime.a"
  [ -s "$cache/gdc.map" ] && maps="$maps gdc"
else
  echo "== gdc.map skipped: no $gcc_lib/libgphobos.a (Debian package gdc-12)"
fi
if [ -s "$cache/llvm.map" ]; then
  if [ ! -s "$cache/synthetic.map" ]; then
    echo "== synthetic.map (llvm.map repeated up to $synthetic_mb MB)"
    python3 bench/make-synthetic.py "$cache/llvm.map" "$cache/synthetic.map" "$synthetic_mb"
  fi
  maps="$maps synthetic"
fi

echo "== $runs runs each, best time"
printf '%-10s %8s %9s %9s %8s %8s %9s %8s %7s %s\n' map MB lines symbols "time s" "MB/s" \
  "peak MB" "peak/map" "/wc -l" "sha256 of the document"
for name in $maps; do
  map=$cache/$name.map
  cat "$map" >/dev/null  # the first timed run must not pay for reading the disk
  bytes=$(wc -c <"$map")
  lines=$(wc -l <"$map")
  symbols=$(build-bench/count_symbols "$map")
  set -- $(python3 bench/measure.py "$runs" wc -l "$map")
  wc_time=$1
  set -- $(python3 bench/measure.py "$runs" build-bench/vorlith "$map" "$out/$name.json")
  time=$1 peak_kib=$2
  digest=$(sha256sum "$out/$name.json" | cut -c1-16)
  set -- $(python3 bench/measure.py "$runs" build-bench/vorlith --modern "$map" \
    "$out/$name-modern.json")
  modern_time=$1
  python3 - "$name" "$bytes" "$lines" "$symbols" "$time" "$peak_kib" "$wc_time" "$digest" <<'PY'
import sys
name, size, lines, symbols, seconds, peak_kib, wc_seconds, digest = sys.argv[1:]
mb = int(size) / 1e6
peak = int(peak_kib) * 1024 / 1e6
ratio = peak / mb
within = "ok" if ratio <= 3 else "OVER 3x"
print(f"{name:<10} {mb:8.1f} {int(lines):9d} {int(symbols):9d} {float(seconds):8.3f} "
      f"{mb / float(seconds):8.1f} {peak:9.1f} {ratio:5.2f} {within:<3} "
      f"{float(seconds) / max(float(wc_seconds), 1e-4):6.1f}x {digest}")
PY
  python3 -c 'import sys; m, t = float(sys.argv[2]), float(sys.argv[3]); print(f"{sys.argv[1]:<10} --modern {m:8.3f} s, {m / t:.2f} times the default")' \
    "$name" "$modern_time" "$time"
done

# The demangler's micro-benchmark, when a build has it.
for bench in build-bench/demangle_bench build/demangle_bench; do
  if [ -x "$bench" ]; then
    echo "== $bench"
    "$bench"
    break
  fi
done
