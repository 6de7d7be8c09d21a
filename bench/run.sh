#!/bin/sh
# Times vorlith on large real linker maps. For each map, and for the default and --modern, it
# prints: size, lines, symbols, the best wall and CPU (user+sys) seconds of RUNS runs, MB/s,
# peak memory as a multiple of the map's size, and the ratio of vorlith's wall time to a bare
# count of the map's lines (bench/count_lines.cpp: read() and memchr) in the same run. When
# vorlith takes --jobs, each row comes with one thread and with all threads; otherwise it
# runs with one. CPU time is the steadier figure on a machine shared with other work.
# (`tests/tools/modern-figures.py build-bench/out/NAME-modern.json` tells how the modern run
# filed the names.) bench/growth.sh runs a synthetic series of rising sizes.
#   bench/run.sh [RUNS]        (default 3; environment: VORLITH_BENCH_CACHE, VORLITH_SYNTHETIC_MB)
# The maps are linked once into the cache directory (default build-bench/maps, outside git):
#   llvm.map       GNU ld map of a whole-archive link of /usr/lib/llvm-14/lib/libLLVM*.a (C++)
#   gdc.map        GNU ld map of a whole-archive link of gdc's libgphobos.a and libgdruntime.a (D)
#   gdc-lld.map    the same link by ld.lld (cc -fuse-ld=lld), read with --modern only: the
#                  classic reading knows no ld.lld map
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

sh bench/build.sh
"${CXX:-c++}" -O2 -std=c++20 -Isrc bench/count_symbols.cpp build-bench/libvorlithlib.a \
  -o build-bench/count_symbols
"${CXX:-c++}" -O2 -std=c++20 bench/count_lines.cpp -o build-bench/count_lines

# Links a do-nothing main with whole archives and keeps only the map. Symbols the archives
# need from elsewhere are left unresolved and duplicates allowed: only the map matters.
#   link_map MAP LINKER-OPTION ARCHIVE...    (the option empty for the compiler's own linker)
link_map() {
  map=$1
  linker=$2
  shift 2
  [ -s "$map" ] && return 0
  dir=$(mktemp -d "${TMPDIR:-/tmp}/vorlith-bench.XXXXXX")
  printf 'int main(void) { return 0; }\n' >"$dir/main.c"
  # Compiled apart and linked by a relative name, so that no temporary path reaches the map
  # and every machine makes the same one.
  if (cd "$dir" && ${CC:-cc} -c main.c -o main.o && ${CC:-cc} ${linker:+"$linker"} -o prog main.o \
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
  link_map "$cache/llvm.map" "" "$@"
  [ -s "$cache/llvm.map" ] && maps="$maps llvm"
else
  echo "== llvm.map skipped: no /usr/lib/llvm-14/lib/libLLVM*.a (Debian package llvm-14-dev)"
fi
gcc_lib=/usr/lib/gcc/x86_64-linux-gnu/12
if [ -e "$gcc_lib/libgphobos.a" ] && [ -e "$gcc_lib/libgdruntime.a" ]; then
  echo "== gdc.map (whole-archive link of libgphobos.a and libgdruntime.a)"
  link_map "$cache/gdc.map" "" "$gcc_lib/libgphobos.a" "$gcc_lib/libgdruntime.a"
  [ -s "$cache/gdc.map" ] && maps="$maps gdc"
  if command -v ld.lld >/dev/null 2>&1; then
    echo "== gdc-lld.map (the same link by ld.lld)"
    link_map "$cache/gdc-lld.map" -fuse-ld=lld "$gcc_lib/libgphobos.a" "$gcc_lib/libgdruntime.a"
    [ -s "$cache/gdc-lld.map" ] && maps="$maps gdc-lld"
  else
    echo "== gdc-lld.map skipped: no ld.lld (Debian package lld)"
  fi
else
  echo "== gdc.map and gdc-lld.map skipped: no $gcc_lib/libgphobos.a (Debian package gdc-12)"
fi
if [ -s "$cache/llvm.map" ]; then
  if [ ! -s "$cache/synthetic.map" ]; then
    echo "== synthetic.map (llvm.map repeated up to $synthetic_mb MB)"
    python3 bench/make-synthetic.py "$cache/llvm.map" "$cache/synthetic.map" "$synthetic_mb"
  fi
  maps="$maps synthetic"
fi

# One thread, and all of them when vorlith can use more than one.
threads=1
if build-bench/vorlith --help | grep -q -- --jobs; then
  all=$(nproc 2>/dev/null || echo 1)
  [ "$all" -gt 1 ] && threads="1 $all"
fi

echo "== $runs runs each, best times; x lines: wall time over counting the map's lines"
printf '%-10s %-8s %4s %8s %9s %9s %8s %8s %8s %8s %8s %s\n' map mode jobs MB lines symbols \
  "wall s" "CPU s" "MB/s" "peak/map" "x lines" "sha256 of the document"
for name in $maps; do
  map=$cache/$name.map
  cat "$map" >/dev/null  # the first timed run must not pay for reading the disk
  bytes=$(wc -c <"$map")
  # An ld.lld map is read under the modern rules only.
  modes="default modern"
  count=""
  case $name in
  *-lld) modes=modern count=--modern ;;
  esac
  lines=$(build-bench/count_lines "$map")
  # shellcheck disable=SC2086  # $count is empty or one word
  symbols=$(build-bench/count_symbols $count "$map")
  set -- $(python3 bench/measure.py "$runs" build-bench/count_lines "$map")
  lines_time=$1
  for mode in $modes; do
    for jobs in $threads; do
      suffix=""
      flags=""
      [ "$mode" = modern ] && suffix="-modern" && flags="--modern"
      [ "$threads" != 1 ] && flags="$flags --jobs=$jobs"
      document=$out/$name$suffix.json
      # shellcheck disable=SC2086  # $flags holds zero to two words
      set -- $(python3 bench/measure.py "$runs" build-bench/vorlith $flags "$map" "$document")
      digest=$(sha256sum "$document" | cut -c1-16)
      python3 - "$name" "$mode" "$jobs" "$bytes" "$lines" "$symbols" "$1" "$2" "$3" \
        "$lines_time" "$digest" <<'PY'
import sys
name, mode, jobs, size, lines, symbols, wall, peak_kib, cpu, lines_wall, digest = sys.argv[1:]
mb = int(size) / 1e6
ratio = int(peak_kib) * 1024 / int(size)
print(f"{name:<10} {mode:<8} {jobs:>4} {mb:8.1f} {int(lines):9d} {int(symbols):9d} "
      f"{float(wall):8.3f} {float(cpu):8.3f} {mb / float(wall):8.1f} {ratio:8.2f} "
      f"{float(wall) / max(float(lines_wall), 1e-4):7.1f}x {digest}")
PY
    done
  done
done

# The demangler's micro-benchmark, when a build has it.
for bench in build-bench/demangle_bench build/demangle_bench; do
  if [ -x "$bench" ]; then
    echo "== $bench"
    "$bench"
    break
  fi
done
