/// Mammals of the zoo.
module zoo.animals.mammals;

import zoo.animals.base;

class Mammal : Animal
{
    this(string name, double weightKg) { super(name, weightKg); }
    override string sound() const { return "..."; }
}

final class Lion : Mammal
{
    this(string name, double weightKg) { super(name, weightKg); }
    override string kind() const { return "lion"; }
    override string sound() const { return "roar"; }
    override Diet diet() const { return Diet.carnivore; }
}

final class Elephant : Mammal
{
    this(string name, double weightKg) { super(name, weightKg); }
    override string kind() const { return "elephant"; }
    override string sound() const { return "toot"; }
    override Diet diet() const { return Diet.herbivore; }
    override double dailyFoodKg() const { return super.dailyFoodKg() * 1.25; }
}
