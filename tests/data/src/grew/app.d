// The program that uses the stock library: reads a few built-in lines and prints a report.
module app;

import std.algorithm : count, map, maxElement, sort, sum, uniq;
import std.array : array, join;
import std.conv : to;
import std.format : format;
import std.stdio : writefln, writeln;
import stock;

immutable string[] sampleLines = [
    "bolt,120,0.15,hardware;metal",
    "nut,300,0.05,hardware;metal",
    "washer,500,0.02,hardware",
    "glue,12,4.50,chemicals",
    "paint,8,12.90,chemicals;colour",
    "brush,25,3.20,tools",
    "saw,3,24.00,tools;metal",
    "tape,40,1.99,office",
];

/// Histogram of counts in buckets of `width`.
size_t[] histogram(const(Item)[] items, uint width)
{
    size_t[] buckets = new size_t[8];
    foreach (ref item; items)
    {
        auto k = item.count / width;
        buckets[k < buckets.length ? k : buckets.length - 1]++;
    }
    return buckets;
}

/// A bar of `n` characters.
string bar(size_t n)
{
    char[] text;
    foreach (k; 0 .. n)
        text ~= '#';
    return text.idup;
}

void printHistogram(const(Item)[] items)
{
    foreach (k, n; histogram(items, 64))
        writefln("%4d-%4d %s", k * 64, k * 64 + 63, bar(n));
}

/// Statistics over a ring of integers: a second instance of the ring.
int spread(int[] values)
{
    Ring!(int, 8) ring;
    foreach (v; values)
        ring.put(v);
    return ring.latest - ring.total / 8;
}

/// The store keyed by name, and one keyed by number.
auto fill(Item[] items)
{
    auto byName = new Store!string;
    auto byNumber = new Store!uint;
    foreach (k, item; items)
    {
        byName.add(item.name, item);
        byNumber.add(cast(uint) k, item);
    }
    return byName;
}

string joinNames(string[] names)
{
    names.sort();
    return names.uniq.join(", ");
}

version (After)
{
    /// The new report section: stock to reorder.
    void reorder(Store!string store)
    {
        foreach (item; store.lowStock(20))
            writefln("reorder %s (%d left)", item.name, item.count);
        writeln(summaryBlock(store.cheapest(100)));
    }

    /// Weighted price index of the items.
    double priceIndex(const(Item)[] items)
    {
        double weighted = items.map!(i => i.price * i.count).sum;
        double counted = items.map!(i => cast(double) i.count).sum;
        return counted ? weighted / counted : 0;
    }
}

void report(Item[] items)
{
    auto store = fill(items);
    writeln("Items: ", joinNames(store.names));
    writefln("Value: %.2f", store.value);
    foreach (ref item; store.cheapest(3))
        writeln(describe(item));
    foreach (tag; allTags(items))
        writefln("%-10s %5d %8.2f", tag, countsByTag(items)[tag], meanPrice(items, tag));
    printHistogram(items);
    writeln("Spread: ", spread(items.map!(i => cast(int) i.count).array));
    writeln("Largest: ", items.map!(i => i.count).maxElement);
    writeln("Priced: ", items.count!(i => i.price > 1.0));
    version (After)
    {
        reorder(store);
        writefln("Index: %.3f", priceIndex(items));
    }
    writeln("List: ", priceOf(3), " ", priceOf(11));
}

void main(string[] args)
{
    auto lines = sampleLines.dup;
    foreach (a; args[1 .. $])
        lines ~= a;
    report(parseItems(lines));
}
