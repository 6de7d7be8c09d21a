#!/bin/sh
# Regenerates tests/data/elf/tls-LINKER.elf and .map: one D program with thread-local data
# (src/tls/tls.d, gdc 12, Phobos shared), linked by GNU ld, gold, ld.lld and mold. Objects go to
# src/obj/tls (ignored by git) and are linked under relative names.
set -eu
cd "$(dirname "$0")/src"
rm -rf obj/tls
mkdir -p obj/tls ../elf
gdc -O1 -c tls/tls.d -o obj/tls/tls.o
for linker in bfd gold lld mold; do
    (cd obj/tls && gdc -shared-libphobos -fuse-ld=$linker -o "../../../elf/tls-$linker.elf" tls.o \
        -Wl,-Map="../../../elf/tls-$linker.map")
done
chmod 644 ../elf/tls-*.elf
if LC_ALL=C grep -a -l -E '/tmp/|/work/|/home/|/root/' ../elf/tls-*; then
    echo "a build path reached the files above" >&2
    exit 1
fi
