#!/bin/sh
# Builds vorlith and runs every test: the unit, end-to-end and hostile-input tests and the fuzz
# corpora (CTest), the same again under AddressSanitizer and UndefinedBehaviorSanitizer, a short
# smoke of every fuzz target, the install and the Debian package, and the treemap page's
# browser tests.
# Installs what the tests need (Debian packages, the page's npm packages) when it is missing.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

need_packages=""
# man reads the installed manual page; dpkg-shlibdeps gives the Debian package its Depends;
# readelf reads the symbol tables that the ELF maps' sizes are checked against.
for tool in cmake:cmake g++:g++ python3:python3 man:man-db dpkg-shlibdeps:dpkg-dev readelf:binutils; do
  command -v "${tool%%:*}" >/dev/null 2>&1 || need_packages="$need_packages ${tool#*:}"
done
[ -e /usr/include/gtest/gtest.h ] || need_packages="$need_packages libgtest-dev"
[ -e /usr/include/nlohmann/json.hpp ] || need_packages="$need_packages nlohmann-json3-dev"
# libelf reads ELF binaries; readelf (binutils, above) is the truth its tests compare with.
[ -e /usr/include/gelf.h ] || need_packages="$need_packages libelf-dev"
python3 -c 'import yaml' 2>/dev/null || need_packages="$need_packages python3-yaml"
if [ -d viewer ] && [ -f viewer/package.json ]; then
  command -v chromium >/dev/null 2>&1 || need_packages="$need_packages chromium"
  command -v npm >/dev/null 2>&1 || need_packages="$need_packages nodejs npm"
fi
if [ -n "$need_packages" ]; then
  echo "== installing:$need_packages"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $need_packages
fi

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

# Every stage runs even when an earlier one fails, so that one failure hides no other; the
# command fails at the end and names the stages that failed.
failed=""
stage() {
  name=$1
  shift
  echo "== $name"
  if ! "$@"; then
    echo "== FAILED: $name" >&2
    failed="$failed
  $name"
  fi
}

build_and_test() {
  cmake -S . -B build -DBUILD_TESTING=ON -DVORLITH_WERROR=$werror >/dev/null &&
    cmake --build build -j"$jobs" &&
    ctest --test-dir build -j"$jobs" --output-on-failure
}
stage "build and test" build_and_test

sanitize_and_test() {
  cmake -S . -B build-sanitize -DBUILD_TESTING=ON -DVORLITH_SANITIZE=ON -DVORLITH_WERROR=$werror >/dev/null &&
    cmake --build build-sanitize -j"$jobs" &&
    ctest --test-dir build-sanitize -j"$jobs" --output-on-failure
}
stage "build and test under AddressSanitizer and UndefinedBehaviorSanitizer" sanitize_and_test

# A short smoke of every fuzz target, ten seconds each. Longer runs: fuzz/run.sh 600.
fuzz_seconds=${VORLITH_FUZZ_SECONDS:-10}
stage "fuzz smoke: every fuzz target for $fuzz_seconds s" sh fuzz/run.sh "$fuzz_seconds"

page_tests() {
  (cd viewer && npm ci --no-audit --no-fund >/dev/null) &&
    (cd viewer && VORLITH_BIN="$PWD/../build/vorlith" npm test)
}
if [ -d viewer ] && [ -f viewer/package.json ]; then
  stage "treemap page in headless Chromium" page_tests
  # The installed page, skipped by the first CTest run while playwright-core was not installed.
  stage "installed page in headless Chromium" \
    env VORLITH_REQUIRE_BROWSER=1 ctest --test-dir build -R '^install[.]page$' --output-on-failure
fi

if [ -n "$failed" ]; then
  echo "== failed stages:$failed" >&2
  exit 1
fi
echo "== every stage passed"
