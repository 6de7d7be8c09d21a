// A small D program that pulls in a good part of Phobos (formatting, conversions, ranges,
// associative arrays, strings, exceptions), for measuring maps of a statically linked Phobos.
module report;

import std.algorithm : map, sort, sum, filter;
import std.array : array, join;
import std.conv : to;
import std.format : format;
import std.stdio : writeln, writefln;
import std.string : toUpper, split, strip;

struct Item
{
    string name;
    int count;
    double price;
}

void main(string[] args)
{
    auto text = "apple 3 0.5\npear 2 0.75\nplum 12 0.2\n" ~ args.join("\n");
    Item[] items;
    foreach (line; text.split("\n"))
    {
        auto words = line.strip.split(" ");
        if (words.length != 3)
            continue;
        try
            items ~= Item(words[0], words[1].to!int, words[2].to!double);
        catch (Exception e)
            writeln("skipped: ", e.msg);
    }
    items.sort!((a, b) => a.count * a.price > b.count * b.price);
    int[string] counts;
    foreach (item; items)
        counts[item.name.toUpper] += item.count;
    writefln("%-8s %5s %8s", "item", "count", "value");
    foreach (item; items)
        writefln("%-8s %5d %8.2f", item.name, item.count, item.count * item.price);
    writeln(format("%s items, %s in all, big ones: %s", items.length,
                   items.map!(i => i.count).sum, items.filter!(i => i.count > 2).map!(i => i.name).array));
    writeln(counts);
}
