#!/bin/sh
# Runs a command and prints how many C++ exceptions it threw, on standard error after its own
# output: tests/tools/count-throws.sh build/vorlith --modern app.map /dev/null
# Needs a build without the sanitizers (their runtime must come first) and a C++ compiler.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
library=${TMPDIR:-/tmp}/vorlith-throw-count-$(id -u).so
support=$here/../support
if [ ! -e "$library" ] || [ "$here/throw_count.cpp" -nt "$library" ] ||
  [ "$support/exceptions_thrown.cpp" -nt "$library" ]; then
  ${CXX:-c++} -std=c++20 -O2 -shared -fPIC -I"$support" -o "$library" "$here/throw_count.cpp" \
    "$support/exceptions_thrown.cpp" -ldl
fi
LD_PRELOAD=$library exec "$@"
