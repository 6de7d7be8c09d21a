/// The root of the animal class hierarchy.
module zoo.animals.base;

enum Diet { herbivore, carnivore, omnivore }

struct Tag
{
    uint id;
    string name;
    string toString() const { return name; }
}

abstract class Animal
{
    private static uint nextId = 1;
    Tag tag;
    double weightKg;

    this(string name, double weightKg)
    {
        tag = Tag(nextId++, name);
        this.weightKg = weightKg;
    }

    string name() const { return tag.name; }
    abstract string kind() const;
    abstract string sound() const;
    abstract Diet diet() const;
    int legs() const { return 4; }

    double dailyFoodKg() const
    {
        double factor() const     // nested function reading the frame
        {
            final switch (diet())
            {
            case Diet.herbivore: return 0.04;
            case Diet.carnivore: return 0.025;
            case Diet.omnivore: return 0.03;
            }
        }
        return weightKg * factor();
    }
}
