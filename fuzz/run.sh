#!/bin/sh
# Builds the libFuzzer targets with clang into build-fuzz and runs each for SECONDS (default 30),
# one after the other, so that a 2-core machine is not oversubscribed.
#   fuzz/run.sh [SECONDS] [TARGET...]
# Each target runs through fuzz/run-one.sh: new inputs are dropped, leaving git clean, unless
# VORLITH_FUZZ_MERGE=1 merges them (minimised) into fuzz/corpus/<target>/; a crash, hang or
# broken invariant leaves its input in build-fuzz/artifacts/ and makes the command fail once
# every target has run. Installs clang and libFuzzer when they are missing.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-30}
[ $# -gt 0 ] && shift
targets=${*:-$(cd fuzz && ls *_fuzz.cpp | sed 's/[.]cpp$//')}

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

failed=""
summary=""
for target in $targets; do
  echo "== $target for ${seconds}s"
  if line=$(sh fuzz/run-one.sh "build-fuzz/$target" "fuzz/corpus/$target" build-fuzz "$seconds"); then
    :
  else
    failed="$failed $target"
  fi
  echo "$line"
  summary="$summary$line
"
done

echo "== summary"
printf '%s' "$summary"
if [ -n "$failed" ]; then
  echo "failed:$failed; inputs in build-fuzz/artifacts/" >&2
  exit 1
fi
