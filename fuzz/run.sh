#!/bin/sh
# Builds the libFuzzer targets with clang into build-fuzz and runs each for SECONDS (default 30),
# one after the other, so that a 2-core machine is not oversubscribed.
#   fuzz/run.sh [SECONDS] [TARGET...]
# New inputs the fuzzers find go to a scratch directory and are dropped, leaving git clean;
# with VORLITH_FUZZ_MERGE=1 they are merged (minimised) into fuzz/corpus/<target>/ instead.
# A crash, hang or broken invariant leaves its input in build-fuzz/artifacts/ and makes the
# command fail once every target has run. Installs clang and libFuzzer when they are missing.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-30}
[ $# -gt 0 ] && shift
targets=${*:-"mapfile_fuzz text_fuzz decode_dmd_fuzz demangle_fuzz dsym_fuzz dsym_modern_fuzz run_fuzz demangle_current_fuzz document_fuzz elf_fuzz layout_fuzz"}

# libFuzzer itself ships apart from the compiler on Debian (libclang-rt-dev).
has_libfuzzer() {
  command -v clang++ >/dev/null 2>&1 &&
    ls "$(clang++ -print-runtime-dir)"/libclang_rt.fuzzer-*.a >/dev/null 2>&1
}
if ! has_libfuzzer; then
  echo "== installing: clang libclang-rt-dev"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-dev
fi
generator=""
command -v ninja >/dev/null 2>&1 && generator="-G Ninja"

echo "== build the fuzz targets (clang, libFuzzer, ASan, UBSan) in build-fuzz"
# shellcheck disable=SC2086  # $generator is empty or two words
CC=clang CXX=clang++ cmake -S . -B build-fuzz $generator -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVORLITH_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build build-fuzz -j"$(nproc 2>/dev/null || echo 2)" --target $targets

artifacts=build-fuzz/artifacts
scratch=build-fuzz/scratch
mkdir -p "$artifacts"
failed=""
summary=""
for target in $targets; do
  corpus=fuzz/corpus/$target
  rm -rf "$scratch" && mkdir -p "$scratch"
  # Map-sized inputs need room; names stay small so that mutations stay fast.
  max_len=4096
  case $target in mapfile_fuzz | run_fuzz) max_len=65536 ;; esac
  echo "== $target for ${seconds}s"
  log=build-fuzz/$target.log
  status=0
  # The scratch directory comes first: libFuzzer writes its new inputs to the first directory.
  # The per-input timeout only catches a hang: inputs take milliseconds, and even a loaded
  # machine under the sanitizers never needs minutes for one.
  "build-fuzz/$target" -max_total_time="$seconds" -max_len=$max_len -timeout=300 \
    -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
    "$scratch" "$corpus" >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  coverage=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  found=$(find "$scratch" -type f | wc -l)
  line=$(printf '%-16s %12s execs  %6s edges  %5s new inputs' "$target" "${execs:-?}" \
    "${coverage:-?}" "$found")
  if [ "$status" -ne 0 ]; then
    failed="$failed $target"
    line="$line  FAILED (see $log)"
    grep -E '^(==[0-9]+==ERROR|invariant broken|SUMMARY|artifact_prefix|Test unit written)' \
      "$log" | head -n 8 || true
  fi
  summary="$summary$line
"
  if [ "${VORLITH_FUZZ_MERGE:-0}" = 1 ] && [ "$found" -gt 0 ]; then
    "build-fuzz/$target" -merge=1 -max_len=$max_len "$corpus" "$scratch" >>"$log" 2>&1
    echo "   merged into $corpus"
  fi
done
rm -rf "$scratch"

echo "== summary"
printf '%s' "$summary"
if [ -n "$failed" ]; then
  echo "failed:$failed; inputs in $artifacts/" >&2
  exit 1
fi
