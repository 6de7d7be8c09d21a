#!/bin/sh
# Regenerates the real ELF programs in tests/data/elf/, each with the map of the same link:
# NAME.elf and NAME.map. The program is src/mixed (D, C and C++), its D part built by gdc or
# ldc2, linked by GNU ld, gold, ld.lld or mold; 64- and 32-bit; PIE and not; Phobos shared and
# static; with and without debug information; stripped. The big-endian pair is a freestanding
# C program (src/free) linked by ld.lld for 32-bit MIPS and 64-bit PowerPC.
#
# Needs: gcc/g++ 12 (GNU ld 2.40 and gold), gdc 12, ldc2 1.30, clang 14, lld 14 (ld.lld),
# mold 1.10, gcc-multilib, g++-multilib and gdc-multilib (-m32), binutils (strip).
# Everything is compiled and linked under relative names in src/obj/elf (ignored by git), so
# no build path reaches the maps; debug information names the sources by relative path too.
set -eu
cd "$(dirname "$0")/src"
rm -rf obj/elf
mkdir -p obj/elf/m64 obj/elf/m32 obj/elf/free ../elf
out=../../../../elf

objects() { # $1 = object directory, $2 = extra compiler flag (-m32 or -g) or empty
    gcc $2 -O1 -c mixed/part.c -o "$1/part-c.o"
    g++ $2 -O1 -c mixed/part.cpp -o "$1/part-cpp.o"
    gdc $2 -O1 -c mixed/app.d -o "$1/app.o"
}
objects obj/elf/m64 ""
objects obj/elf/m32 -m32
mkdir -p obj/elf/debug
objects obj/elf/debug "-g -fdebug-prefix-map=$PWD=."
ldc2 -O1 -c mixed/app.d -of=obj/elf/m64/ldc-app.o

# link DIR NAME DRIVER ARGS...: links in DIR into NAME.elf with NAME.map beside it.
link() {
    dir=$1 name=$2
    shift 2
    (cd "$dir" && "$@" -o "$out/$name.elf" -Wl,-Map="$out/$name.map")
}
ldc_link() { # the same through ldc2, which takes -of= and passes -L to the linker
    dir=$1 name=$2
    shift 2
    (cd "$dir" && "$@" -of="$out/$name.elf" -L-Map="$out/$name.map")
}
mixed="app.o part-c.o part-cpp.o -lstdc++"

# --- gdc, Phobos shared, PIE: every linker --------------------------------------
link obj/elf/m64 gdc-bfd gdc -shared-libphobos $mixed
link obj/elf/m64 gdc-gold gdc -shared-libphobos -fuse-ld=gold $mixed
link obj/elf/m64 gdc-lld gdc -shared-libphobos -fuse-ld=lld $mixed
link obj/elf/m64 gdc-mold gdc -shared-libphobos -fuse-ld=mold $mixed

# --- gdc -m32 -------------------------------------------------------------------
link obj/elf/m32 gdc-bfd-32 gdc -m32 -shared-libphobos $mixed
link obj/elf/m32 gdc-lld-32 gdc -m32 -shared-libphobos -fuse-ld=lld $mixed
link obj/elf/m32 gdc-mold-32 gdc -m32 -shared-libphobos -fuse-ld=mold $mixed

# --- gdc, not PIE, with debug information (.debug_* sections) ---------------------
link obj/elf/debug gdc-bfd-nopie-debug gdc -g -no-pie -shared-libphobos $mixed

# --- gdc, static Phobos, not PIE, unused sections dropped, debug information left out ------
# (the static libraries carry 1.7 MB of it; -S keeps the symbol table)
link obj/elf/m64 gdc-bfd-static gdc -static-libphobos -no-pie -Wl,--gc-sections -Wl,-S $mixed

# --- ldc2 through cc: GNU ld, ld.lld, mold -------------------------------------------
ldc_link obj/elf/m64 ldc2-bfd ldc2 -link-defaultlib-shared ldc-app.o part-c.o part-cpp.o -L-lstdc++
ldc_link obj/elf/m64 ldc2-lld ldc2 -link-defaultlib-shared --linker=lld ldc-app.o part-c.o \
    part-cpp.o -L-lstdc++
ldc_link obj/elf/m64 ldc2-mold ldc2 -link-defaultlib-shared --linker=mold ldc-app.o part-c.o \
    part-cpp.o -L-lstdc++

# --- gcc, C only (src/c): not PIE, and the same stripped of its symbol table ----------
gcc -O1 -c c/main.c -o obj/elf/m64/main.o
gcc -O1 -c c/table.c -o obj/elf/m64/table.o
link obj/elf/m64 gcc-bfd-nopie gcc -no-pie main.o table.o
cp ../elf/gcc-bfd-nopie.elf ../elf/gcc-bfd-stripped.elf
cp ../elf/gcc-bfd-nopie.map ../elf/gcc-bfd-stripped.map
strip ../elf/gcc-bfd-stripped.elf

# --- big-endian: freestanding C for 32-bit MIPS and 64-bit PowerPC, ld.lld ------------
for target in mips-linux-gnu:mips-lld-be32 powerpc64-linux-gnu:ppc64-lld-be64; do
    triple=${target%%:*} name=${target#*:}
    clang --target="$triple" -O1 -ffreestanding -fno-builtin -c free/ring.c -o obj/elf/free/ring.o
    clang --target="$triple" -O1 -ffreestanding -fno-builtin -c free/rt.c -o obj/elf/free/rt.o
    (cd obj/elf/free && ld.lld -e ring_put -o "$out/$name.elf" -Map="$out/$name.map" ring.o rt.o)
done

cd ..
chmod 644 elf/*.elf
# No build path of this machine may reach the files.
if LC_ALL=C grep -a -l -E '/tmp/|/work/|/home/|/root/' elf/*; then
    echo "a build path reached the files above" >&2
    exit 1
fi
ls -l elf
