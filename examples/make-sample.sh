#!/bin/sh
# Regenerates examples/sample.map, the bundled demo: a real GNU ld memory map
# of the small D program in examples/src (packages zoo.animals, zoo.keeper,
# zoo.util), compiled module by module with gdc and linked with GNU ld against
# the shared libgphobos.  Objects are linked under relative names, so no build
# path reaches the map.  Objects and the program go to src/obj/ (ignored by git).
set -eu
cd "$(dirname "$0")/src"
rm -rf obj
mkdir -p obj
for m in app zoo/animals/base zoo/animals/mammals zoo/animals/birds zoo/keeper/schedule zoo/util/stats; do
    gdc -O1 -c -I. "$m.d" -o "obj/$(echo "$m" | tr / .).o"
done
cd obj
gdc -shared-libphobos -o zoo app.o zoo.animals.base.o zoo.animals.mammals.o zoo.animals.birds.o \
    zoo.keeper.schedule.o zoo.util.stats.o -Wl,-Map=../../sample.map
cd ../..
if LC_ALL=C grep -a -l -E '/tmp/|/work/|/home/|/root/' sample.map; then
    echo "a build path reached sample.map" >&2
    exit 1
fi
ls -l sample.map
