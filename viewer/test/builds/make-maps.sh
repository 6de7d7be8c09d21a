#!/bin/sh
# Regenerates before.map and after.map: GNU ld memory maps of the same small D program (gdc 12,
# shared libgphobos) before and after a change. The change adds a function (shop.prices.discount),
# grows an array (priceTable, 64 to 1024 ints), adds a template instance (Cart!double) and
# removes a function (shop.prices.legacyReport); its C part grows a table (lookup_table, 64 to
# 1024 ints) and a function (lookup), and its D function shop.prices.checksum grows too. Objects are linked under relative names, so no
# build path reaches the maps; they are built in a temporary directory.
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
for build in before after; do
    obj="$(mktemp -d)"
    for m in app shop/cart shop/prices; do
        gdc -O0 -c -I"$here/$build" "$here/$build/$m.d" -o "$obj/$(echo "$m" | tr / .).o"
    done
    gcc -O0 -c "$here/$build/shop/lookup.c" -o "$obj/shop.lookup.o"
    (cd "$obj" && gdc -shared-libphobos -o shop app.o shop.cart.o shop.prices.o shop.lookup.o -Wl,-Map=map.txt)
    mv "$obj/map.txt" "$here/$build.map"
    rm -rf "$obj"
done
# The same two builds with ldc2 (optimised, shared druntime and Phobos): ldc-before.map and
# ldc-after.map, for comparisons of another compiler's names.
for build in before after; do
    obj="$(mktemp -d)"
    for m in app shop/cart shop/prices; do
        ldc2 -O1 -c -I"$here/$build" "$here/$build/$m.d" -of="$obj/$(echo "$m" | tr / .).o"
    done
    gcc -O1 -c "$here/$build/shop/lookup.c" -o "$obj/shop.lookup.o"
    (cd "$obj" && ldc2 -link-defaultlib-shared -of=shop app.o shop.cart.o shop.prices.o shop.lookup.o -L-Map=map.txt)
    mv "$obj/map.txt" "$here/ldc-$build.map"
    rm -rf "$obj"
done
maps="$here/before.map $here/after.map $here/ldc-before.map $here/ldc-after.map"
# shellcheck disable=SC2086
if LC_ALL=C grep -a -l -E '/tmp/|/work/|/home/|/root/' $maps; then
    echo "a build path reached a map" >&2
    exit 1
fi
# shellcheck disable=SC2086
ls -l $maps
