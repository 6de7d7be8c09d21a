#!/bin/sh
# Regenerates the before/after maps of the stock program (../src/grew: app.d and stock.d, where
# the "after" build is the same sources compiled with -version=After, which adds a report
# section, a longer price list, new template instances and a longer format string). Each build
# is compiled with -O2 by gdc 12 or ldc2 1.30, linked against the shared D runtime and Phobos
# (so the maps stay small), by GNU ld, ld.lld 14 and mold:
#   gdc-ld, gdc-lld, gdc-mold, ldc-ld, ldc-lld, ldc-mold  x  before, after
# Objects are linked under relative names in a temporary directory, so no build path reaches
# the maps.
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
src="$here/../src/grew"
# gcc and gdc call GNU ld "bfd"; ldc2 takes "ld" too.
ld_name() { if [ "$1" = ld ]; then echo bfd; else echo "$1"; fi; }
for build in before after; do
    version=""
    [ "$build" = after ] && version=After
    obj="$(mktemp -d)"
    for m in app stock; do
        gdc -O2 ${version:+-fversion=$version} -c -I"$src" "$src/$m.d" -o "$obj/gdc-$m.o"
        ldc2 -O2 ${version:+-d-version=$version} -c -I"$src" "$src/$m.d" -of="$obj/ldc-$m.o"
    done
    for linker in ld lld mold; do
        (cd "$obj" && gdc -shared-libphobos -fuse-ld=$(ld_name $linker) -o gdc-$linker gdc-app.o gdc-stock.o \
            -Wl,-Map=map.txt && mv map.txt "$here/gdc-$linker-$build.map")
        (cd "$obj" && ldc2 -link-defaultlib-shared --linker=$(ld_name $linker) -of=ldc-$linker ldc-app.o \
            ldc-stock.o -L-Map=map.txt && mv map.txt "$here/ldc-$linker-$build.map")
    done
    rm -rf "$obj"
done
if LC_ALL=C grep -a -l -E '/tmp/|/work/|/home/|/root/' "$here"/*.map; then
    echo "a build path reached a map" >&2
    exit 1
fi
ls -l "$here"/*.map
