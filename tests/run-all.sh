#!/bin/sh
# The test command: builds vorlith once, with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer, into build-test, and runs every test there in one CTest run: the
# unit, end-to-end and hostile-input tests, every fuzz corpus replayed and a short smoke of every
# fuzz target (its libFuzzer binary made from the same objects), the install, the manual page
# and the Debian package, and the treemap page's tests in headless Chromium.
# Installs what the tests need (the Debian packages below, the npm packages pinned in
# viewer/package-lock.json) when it is missing. Exits with status 1 when anything failed.
# Longer fuzzing: fuzz/run.sh 600. ThreadSanitizer: docs/building-and-testing.md.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

# What the tests need, one line each: how to tell it is there, and the Debian package that
# brings it. A new need is one more line. How to tell: a command on the PATH, a file (a pattern
# may match), or py:MODULE for a Python module.
needs='
cmake                               cmake
ninja                               ninja-build
clang++                             clang
libfuzzer                           libclang-rt-dev
/usr/include/gtest/gtest.h          libgtest-dev
/usr/include/sqlite3.h              libsqlite3-dev
/usr/include/gelf.h                 libelf-dev
soffice                             libreoffice-calc-nogui
python3                             python3
py:yaml                             python3-yaml
man                                 man-db
dpkg-shlibdeps                      dpkg-dev
readelf                             binutils
/usr/share/doc/binutils-multiarch   binutils-multiarch
lintian                             lintian
chromium                            chromium
node                                nodejs
npm                                 npm
'
there() {
  case $1 in
    py:*) python3 -c "import ${1#py:}" 2>/dev/null ;;
    libfuzzer) command -v clang++ >/dev/null 2>&1 &&
      ls "$(clang++ -print-runtime-dir)"/libclang_rt.fuzzer-*.a >/dev/null 2>&1 ;;
    /*) ls $1 >/dev/null 2>&1 ;;
    *) command -v "$1" >/dev/null 2>&1 ;;
  esac
}
missing=$(echo "$needs" | while read -r probe package; do
  [ -z "$probe" ] || there "$probe" || echo "$package"
done | sort -u | tr '\n' ' ')
if [ -n "$missing" ]; then
  echo "== installing: $missing"
  apt-get update -qq
  # shellcheck disable=SC2086  # one word per package
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
fi

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

echo "== the page's npm packages (viewer/package-lock.json)"
# Without them the page tests fail in the run below, and every other test still runs.
(cd viewer && npm ci --no-audit --no-fund >/dev/null) || echo "== npm ci FAILED" >&2

echo "== build: clang, AddressSanitizer and UndefinedBehaviorSanitizer, libFuzzer, in build-test"
CC=clang CXX=clang++ cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=ON -DVORLITH_FUZZ=ON -DVORLITH_WERROR=$werror >/dev/null
cmake --build build-test -j"$jobs"

echo "== test: every test in one CTest run"
# The page tests may not skip for want of a browser: their packages are installed above.
VORLITH_REQUIRE_BROWSER=1 ctest --test-dir build-test -j"$jobs" --output-on-failure
