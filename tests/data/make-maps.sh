#!/bin/sh
# Regenerates the real linker maps in tests/data/ from the sources in
# tests/data/src/.  Every command runs from tests/data/src (or from an object
# directory below it), and objects are compiled first and then linked under
# relative names, so no build path reaches the maps.
#
# Needs: gcc/g++ 12 (GNU ld 2.40 and gold), gdc 12, ldc2 1.30, clang 14, lld 14
# (ld.lld, lld-link, ld64.lld), lld 16 (/usr/lib/llvm-16/bin/ld.lld, ld64.lld), mold 1.10,
# gcc-multilib, g++-multilib and gdc-multilib (-m32), gcc-mingw-w64-x86-64.
# Objects and programs go to src/obj/ (ignored by git).
set -eu
cd "$(dirname "$0")/src"
rm -rf obj
mkdir -p obj

# --- gnu-ld-c.map: C, two files, dynamic link -------------------------------
gcc -O1 -c c/main.c -o obj/main.o
gcc -O1 -c c/table.c -o obj/table.o
gcc -o obj/cprog obj/main.o obj/table.o -Wl,-Map=../gnu-ld-c.map

# --- gold-c.map: the same objects linked by gold -----------------------------
gcc -fuse-ld=gold -o obj/cprog-gold obj/main.o obj/table.o -Wl,-Map=../gold-c.map

# --- gnu-ld-dotdot.map: the same objects linked as ../ paths ----------------
mkdir -p obj/bin
(cd obj/bin && gcc -o cprog ../main.o ../../obj/table.o -Wl,-Map=../../../gnu-ld-dotdot.map)

# --- gnu-ld-formulas.map: C functions named like spreadsheet formulas -------
gcc -O0 -c formulas/formulas.c -o obj/formulas.o
gcc -o obj/formulas obj/formulas.o -Wl,-Map=../gnu-ld-formulas.map

# --- gnu-ld-latin1.map: object file name with a Latin-1 byte (0xE9) ---------
LATIN1_O=$(printf 'caf\351.o')
gcc -O1 -c latin1/menu.c -o "obj/$LATIN1_O"
(cd obj && gcc -o menu "$LATIN1_O" -Wl,-Map=../../gnu-ld-latin1.map)

# --- gnu-ld-cpp.map: C++ (names demangled by GNU ld) -------------------------
g++ -O0 -c cpp/shapes.cpp -o obj/shapes.o
g++ -o obj/cppprog obj/shapes.o -Wl,-Map=../gnu-ld-cpp.map

# --- gnu-ld-cxx-names.map: C++ at -O2 (names demangled by GNU ld) ---------
# GNU ld lists only global symbols; making the object's local C++ names global
# (anonymous namespace, clones, lambdas, guard variables) brings them into the map.
g++ -O2 -c cxxnames/names.cpp -o obj/names.o
objcopy --wildcard --globalize-symbol='_Z*' --globalize-symbol='main.*' obj/names.o obj/names-global.o
g++ -o obj/cxxnames obj/names-global.o -Wl,-Map=../gnu-ld-cxx-names.map

# --- gnu-ld-gdc.map: D with gdc, shared libgphobos ---------------------------
gdc -O0 -ffunction-sections -c -Igdc gdc/app.d -o obj/app.o
gdc -O0 -ffunction-sections -c -Igdc gdc/shapes/store.d -o obj/store.o
gdc -shared-libphobos -o obj/gdcprog obj/app.o obj/store.o -Wl,-Map=../gnu-ld-gdc.map

# --- ldc2-gnu-ld.map: D with ldc2, linked by ldc2 (cc + GNU ld) -------------
ldc2 -O1 -c -Ildc ldc/main.d -of=obj/ldc-main.o
ldc2 -O1 -c -Ildc ldc/calc/lexer.d -of=obj/ldc-lexer.o
ldc2 -O1 -c -Ildc ldc/calc/eval.d -of=obj/ldc-eval.o
ldc2 -link-defaultlib-shared -of=obj/ldcprog obj/ldc-main.o obj/ldc-lexer.o obj/ldc-eval.o -L-Map=../ldc2-gnu-ld.map

# --- freestanding objects (-betterC D, C, C++) for a target triple ----------
free_objects() { # $1 = target triple, $2 = object directory
    mkdir -p "$2"
    clang --target="$1" -O1 -ffreestanding -fno-builtin -c free/rt.c -o "$2/rt.o"
    clang --target="$1" -O1 -ffreestanding -fno-builtin -c free/ring.c -o "$2/ring.o"
    clang++ --target="$1" -O0 -std=c++17 -ffreestanding -fno-exceptions -fno-rtti -nostdinc++ \
        -c free/widgets.cpp -o "$2/widgets.o"
    ldc2 -mtriple="$1" -betterC -checkaction=halt -boundscheck=off -O1 -c -Ifree/betterc \
        free/betterc/kit/app.d free/betterc/kit/algo.d -od="$2" -oq
}

# --- lld-link-x64.map / lld-link-x86.map: "Publics by Value" -----------------
free_objects x86_64-pc-windows-msvc obj/x64
(cd obj/x64 && lld-link /nologo /Brepro /nodefaultlib /entry:main /subsystem:console /machine:x64 \
    /out:kit.exe /map:../../../lld-link-x64.map kit.app.obj kit.algo.obj ring.o widgets.o rt.o)
free_objects i686-pc-windows-msvc obj/x86
(cd obj/x86 && lld-link /nologo /Brepro /nodefaultlib /entry:main /subsystem:console /machine:x86 \
    /out:kit.exe /map:../../../lld-link-x86.map kit.app.obj kit.algo.obj ring.o widgets.o rt.o)

# --- ld64-lld.map (lld 14) / ld64-lld16.map (lld 16): ld64 symbol table -----
free_objects x86_64-apple-macos10.15 obj/mac
(cd obj/mac && /usr/lib/llvm-14/bin/ld64.lld -arch x86_64 -platform_version macos 11.0 11.0 -e _main \
    -o kit kit.app.o kit.algo.o ring.o widgets.o rt.o -map ../../../ld64-lld.map)
(cd obj/mac && /usr/lib/llvm-16/bin/ld64.lld -arch x86_64 -platform_version macos 11.0 11.0 -e _main \
    -o kit kit.app.o kit.algo.o ring.o widgets.o rt.o -map ../../../ld64-lld16.map)

# --- ELF maps of ld.lld and mold, read under --modern --------------------------
# One program of D, C and C++ (src/mixed), its D part built by gdc or by ldc2, linked by
# ld.lld 14, ld.lld 16 or mold, 64- and 32-bit. Beside each map, NAME.syms keeps the
# link's symbol table (objcopy --only-keep-debug: section headers, .symtab and .strtab,
# no code), against which the size check compares the sizes the map gives.
mixed_objects() { # $1 = object directory, $2 = extra compiler flag (-m32) or empty
    mkdir -p "$1"
    gcc $2 -O1 -c mixed/part.c -o "$1/part-c.o"
    g++ $2 -O1 -c mixed/part.cpp -o "$1/part-cpp.o"
    gdc $2 -O1 -c mixed/app.d -o "$1/app.o"
}
keep_symbols() { # $1 = linked program, $2 = map name without .map
    objcopy --only-keep-debug "$1" "../$2.syms"
    chmod 644 "../$2.syms"
}
mixed_objects obj/m64 ""
mixed_objects obj/m32 -m32
ldc2 -O1 -c mixed/app.d -of=obj/m64/ldc-app.o
(cd obj/m64 && gdc -shared-libphobos -fuse-ld=lld -o lld-gdc app.o part-c.o part-cpp.o -lstdc++ \
    -Wl,-Map=../../../lld-gdc.map)
keep_symbols obj/m64/lld-gdc lld-gdc
(cd obj/m64 && gdc -shared-libphobos -fuse-ld=lld -B/usr/lib/llvm-16/bin -o lld16-gdc app.o \
    part-c.o part-cpp.o -lstdc++ -Wl,-Map=../../../lld16-gdc.map)
keep_symbols obj/m64/lld16-gdc lld16-gdc
(cd obj/m64 && gdc -shared-libphobos -fuse-ld=mold -o mold-gdc app.o part-c.o part-cpp.o -lstdc++ \
    -Wl,-Map=../../../mold-gdc.map)
keep_symbols obj/m64/mold-gdc mold-gdc
(cd obj/m32 && gdc -m32 -shared-libphobos -fuse-ld=lld -o lld-gdc-32 app.o part-c.o part-cpp.o \
    -lstdc++ -Wl,-Map=../../../lld-gdc-32.map)
keep_symbols obj/m32/lld-gdc-32 lld-gdc-32
(cd obj/m32 && gdc -m32 -shared-libphobos -fuse-ld=mold -o mold-gdc-32 app.o part-c.o part-cpp.o \
    -lstdc++ -Wl,-Map=../../../mold-gdc-32.map)
keep_symbols obj/m32/mold-gdc-32 mold-gdc-32
(cd obj/m64 && ldc2 -link-defaultlib-shared --linker=lld -of=lld-ldc2 ldc-app.o part-c.o \
    part-cpp.o -L-lstdc++ -L-Map=../../../lld-ldc2.map)
keep_symbols obj/m64/lld-ldc2 lld-ldc2
(cd obj/m64 && ldc2 -link-defaultlib-shared --linker=mold -of=mold-ldc2 ldc-app.o part-c.o \
    part-cpp.o -L-lstdc++ -L-Map=../../../mold-ldc2.map)
keep_symbols obj/m64/mold-ldc2 mold-ldc2
# The same objects linked by GNU ld, so that the filing of each linker's names can be compared.
(cd obj/m64 && gdc -shared-libphobos -o gnu-gdc app.o part-c.o part-cpp.o -lstdc++ \
    -Wl,-Map=../../../gnu-ld-mixed-gdc.map)
(cd obj/m64 && ldc2 -link-defaultlib-shared -of=gnu-ldc2 ldc-app.o part-c.o part-cpp.o \
    -L-lstdc++ -L-Map=../../../gnu-ld-mixed-ldc2.map)

# --- gnu-ld-dup-sections.map: one template instance in two objects, one section each -----
# GNU ld keeps both copies of the sections (they are in no group) and names the symbol in the
# first only: the second's bytes are covered by no symbol line.
mkdir -p obj/dup
for m in main dup/left dup/right dup/tools; do
    gdc -O0 -ffunction-sections -fdata-sections -c -Idup "dup/$m.d" -o "obj/dup/$(basename $m).o"
done
(cd obj/dup && gdc -shared-libphobos -o prog main.o left.o right.o tools.o \
    -Wl,-Map=../../../gnu-ld-dup-sections.map)

# --- gnu-ld-sections.map: GNU ld with one section per function and datum ------
# Section names too long for their column stand alone on the line before their address.
mkdir -p obj/sections
gcc -O1 -ffunction-sections -fdata-sections -c mixed/part.c -o obj/sections/part-c.o
g++ -O1 -ffunction-sections -fdata-sections -c mixed/part.cpp -o obj/sections/part-cpp.o
gdc -O1 -ffunction-sections -fdata-sections -c mixed/app.d -o obj/sections/app.o
(cd obj/sections && gdc -shared-libphobos -o prog app.o part-c.o part-cpp.o -lstdc++ \
    -Wl,-Map=../../../gnu-ld-sections.map)

# --- gnu-ld-merged.map: merged constants listed past the end of their section -------
# GNU ld merges the equal 2-byte constants of merged/c2.s and c3.s into c1.s's and lists
# their sections, 2 bytes each, at the first address of .eh_frame_hdr.
gcc -O1 -c merged/main.c -o obj/merged-main.o
for part in c1 c2 c3; do as "merged/$part.s" -o "obj/merged-$part.o"; done
(cd obj && gcc -o merged merged-main.o merged-c1.o merged-c2.o merged-c3.o \
    -Wl,-Map=../../gnu-ld-merged.map)

# --- mingw-c.map: GNU ld for Windows (MinGW-w64), no C runtime ----------------
# The default linker script's assignments (__size_of_stack_reserve__ = 0x200000, ...) are
# listed like symbols; so are section names such as .rdata$.refptr.x, alone on their line.
mkdir -p obj/mingw
x86_64-w64-mingw32-gcc -O1 -c mixed/part.c -o obj/mingw/part.o
x86_64-w64-mingw32-gcc -O1 -c free/ring.c -o obj/mingw/ring.o
(cd obj/mingw && x86_64-w64-mingw32-gcc -nostdlib -Wl,-e,mixChecksum -o part.exe part.o ring.o \
    -Wl,-Map=../../../mingw-c.map)

cd ..
# The bundled demo map is a D map too; its names go into d-names.txt.
sh ../../examples/make-sample.sh

# --- d-names.txt: every distinct D symbol name written in the D maps ---------
LC_ALL=C grep -a -o -h -E '(^|[^A-Za-z0-9_])_{1,2}D(main|[0-9])[A-Za-z0-9_]*' \
    gnu-ld-gdc.map ldc2-gnu-ld.map lld-link-x64.map lld-link-x86.map ld64-lld.map ld64-lld16.map \
    ../../examples/sample.map |
    LC_ALL=C sed -E 's/^[^_]+//' | LC_ALL=C sort -u > d-names.txt

# No build path of this machine may reach the maps.
if LC_ALL=C grep -a -l -E '/tmp/|/work/|/home/|/root/' ./*.map; then
    echo "a build path reached the maps above" >&2
    exit 1
fi
ls -l ./*.map ./*.syms d-names.txt
