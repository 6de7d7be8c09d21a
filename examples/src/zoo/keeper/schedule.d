/// A feeding schedule: a struct template over the animal type and a
/// fixed number of slots.
module zoo.keeper.schedule;

struct Schedule(T, size_t slots)
{
    T[slots] ring;
    size_t count;
    uint rounds;
    double[string] fedKg;

    this(T[] members)
    {
        foreach (m; members)
            if (count < slots)
                ring[count++] = m;
    }

    void rotate(int day)
    {
        foreach (i; 0 .. count)
        {
            auto m = ring[(i + day) % count];
            fedKg[m.name] += m.dailyFoodKg();
            rounds++;
        }
    }
}
