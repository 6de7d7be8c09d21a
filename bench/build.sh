#!/bin/sh
# Builds vorlith and its library with RelWithDebInfo (-O2) from the current tree in build-bench,
# as the benchmarks measure them.
set -eu
cd "$(dirname "$0")/.."
echo "== build vorlith (RelWithDebInfo) in build-bench"
generator=""
command -v ninja >/dev/null 2>&1 && generator="-G Ninja"
# shellcheck disable=SC2086  # $generator is empty or two words
cmake -S . -B build-bench $generator -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
  >/dev/null
cmake --build build-bench --target vorlith vorlithlib >/dev/null
