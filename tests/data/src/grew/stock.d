// A small stock-keeping library: the part of the program that templates grow in.
module stock;

import std.algorithm : filter, map, sort, sum;
import std.array : array, appender;
import std.conv : to;
import std.format : format;

/// One article on the shelves.
struct Item
{
    string name;
    uint count;
    double price;
    string[] tags;
}

/// A fixed-size ring of recent values, instantiated for several element types.
struct Ring(T, size_t capacity)
{
    T[capacity] slots;
    size_t next;
    size_t filled;

    void put(T value)
    {
        slots[next] = value;
        next = (next + 1) % capacity;
        if (filled < capacity)
            ++filled;
    }

    T latest() const
    {
        return slots[(next + capacity - 1) % capacity];
    }

    T total() const
    {
        T t = T.init;
        foreach (k; 0 .. filled)
            t += slots[k];
        return t;
    }
}

/// A keyed store of items with its own statistics.
class Store(Key)
{
    private Item[Key] items;
    private Ring!(double, 16) prices;

    void add(Key key, Item item)
    {
        items[key] = item;
        prices.put(item.price);
    }

    bool has(Key key) const
    {
        return (key in items) !is null;
    }

    double value() const
    {
        double v = 0;
        foreach (ref item; items)
            v += item.count * item.price;
        return v;
    }

    Item[] cheapest(size_t n)
    {
        auto all = items.values;
        all.sort!((a, b) => a.price < b.price);
        return all[0 .. n < all.length ? n : all.length];
    }

    string[] names()
    {
        return items.values.map!(i => i.name).array;
    }

    version (After)
    {
        /// Items whose stock is below `limit`, most urgent first.
        Item[] lowStock(uint limit)
        {
            auto low = items.values.filter!(i => i.count < limit).array;
            low.sort!((a, b) => a.count < b.count);
            return low;
        }
    }
}

/// Prices of the standard articles, in cents.
version (After)
    immutable uint[] priceList = [
        120, 250, 399, 475, 510, 620, 730, 845, 990, 1100, 1250, 1399, 1450, 1599, 1700, 1850,
        1990, 2100, 2250, 2399, 2450, 2599, 2700, 2850, 2990, 3100, 3250, 3399, 3450, 3599,
    ];
else
    immutable uint[] priceList = [120, 250, 399, 475, 510, 620, 730, 845];

uint priceOf(size_t k)
{
    return priceList[k % priceList.length];
}

/// A line of the report for one item.
string describe(const ref Item item)
{
    version (After)
        return format("%-12s %4d x %8.2f = %10.2f [%-(%s, %)]", item.name, item.count,
                item.price, item.count * item.price, item.tags);
    else
        return format("%-12s %4d x %8.2f", item.name, item.count, item.price);
}

/// The tags of all items, each once, sorted.
string[] allTags(const(Item)[] items)
{
    bool[string] seen;
    foreach (ref item; items)
        foreach (tag; item.tags)
            seen[tag] = true;
    auto tags = seen.keys;
    tags.sort();
    return tags;
}

/// Sums of counts per tag.
uint[string] countsByTag(const(Item)[] items)
{
    uint[string] counts;
    foreach (ref item; items)
        foreach (tag; item.tags)
            counts[tag] += item.count;
    return counts;
}

/// The mean price of the items that carry `tag`.
double meanPrice(const(Item)[] items, string tag)
{
    auto priced = items.filter!(i => i.tags.length > 0 && i.tags[0] == tag).map!(i => i.price);
    double total = 0;
    size_t n = 0;
    foreach (p; priced)
    {
        total += p;
        ++n;
    }
    return n ? total / n : 0;
}

version (After)
{
    /// Items grouped by their first tag, for the new summary.
    Item[][string] byFirstTag(Item[] items)
    {
        Item[][string] groups;
        foreach (item; items)
            groups[item.tags.length ? item.tags[0] : "untagged"] ~= item;
        return groups;
    }

    /// The report's new summary block.
    string summaryBlock(Item[] items)
    {
        auto text = appender!string();
        foreach (tag, group; byFirstTag(items))
            text.put(format("%s: %d items, %.2f\n", tag, group.length,
                    group.map!(i => i.count * i.price).sum));
        return text.data;
    }
}

/// Parses "name,count,price,tag;tag" lines; bad lines are skipped.
Item[] parseItems(string[] lines)
{
    import std.string : split, strip;

    Item[] items;
    foreach (line; lines)
    {
        auto fields = line.strip.split(",");
        if (fields.length < 3)
            continue;
        try
        {
            auto item = Item(fields[0], fields[1].to!uint, fields[2].to!double);
            if (fields.length > 3)
                item.tags = fields[3].split(";");
            items ~= item;
        }
        catch (Exception)
        {
            continue;
        }
    }
    return items;
}
