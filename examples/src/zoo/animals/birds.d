/// Birds of the zoo.
module zoo.animals.birds;

import zoo.animals.base;

class Bird : Animal
{
    this(string name, double weightKg) { super(name, weightKg); }
    override int legs() const { return 2; }
    override Diet diet() const { return Diet.omnivore; }
}

final class Penguin : Bird
{
    this(string name, double weightKg) { super(name, weightKg); }
    override string kind() const { return "penguin"; }
    override string sound() const { return "squawk"; }
    override Diet diet() const { return Diet.carnivore; }
}

final class Parrot : Bird
{
    string[] words;
    this(string name, double weightKg, string[] words)
    {
        super(name, weightKg);
        this.words = words;
    }
    override string kind() const { return "parrot"; }
    override string sound() const { return words.length ? words[0] : "squawk"; }
}
