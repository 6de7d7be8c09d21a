/// Demo program for the bundled sample map: a tiny zoo simulation.
module app;

import std.stdio : writefln, writeln;
import std.algorithm : sort, map, sum;
import std.array : array;

import zoo.animals.base;
import zoo.animals.mammals;
import zoo.animals.birds;
import zoo.keeper.schedule;
import zoo.util.stats;

void main()
{
    Animal[] animals = [
        new Lion("Leo", 190), new Elephant("Dumbo", 5400), new Penguin("Pingu", 23),
        new Parrot("Polly", 1, ["hello", "cracker"]), new Lion("Nala", 130),
    ];

    auto plan = Schedule!(Animal, 8)(animals);
    foreach (day; 0 .. 3)
        plan.rotate(day);

    auto weights = animals.map!(a => cast(double) a.weightKg).array;
    auto st = Summary!double.of(weights);
    writefln("%s animals, %.1f kg in all, mean %.1f kg", animals.length, st.total, st.mean);

    auto byFood = animals.dup;
    byFood.sort!((a, b) => a.dailyFoodKg() > b.dailyFoodKg());
    foreach (a; byFood)
        writefln("%-8s %-8s %6.1f kg food, says %s", a.kind, a.name, a.dailyFoodKg(), a.sound());

    Histogram!(int, 4) legs;
    foreach (a; animals)
        legs.add(a.legs);
    writeln("legs: ", legs.buckets, "  feeding rounds: ", plan.rounds,
            "  food total: ", animals.map!(a => a.dailyFoodKg()).sum);
}
