#!/usr/bin/env python3
"""Check the sizes that `vorlith --modern` gives the symbols of an ELF map against the symbol
table of the same link.

    check-elf-sizes.py VORLITH MAP ELF [--min-percent P] [--show N]

ELF is the linked program, or the copy of its symbol table that `objcopy --only-keep-debug`
makes; `readelf -sW` reads its .symtab. Every symbol there with a size, in a loaded section
(not TLS, not absolute), at an address where the map lists an input section or a symbol, is
looked up in the document by address. It agrees when its leaf
holds at least the symbol's size and at most that plus alignment padding: fewer bytes than
the alignment of what follows (the map's Align column of the section or input section that
starts there, else of the input section the padding lies in), and no other symbol of the table
starting inside the padding.

Without --min-percent every symbol must agree (exit 1 otherwise). With it, the share of
agreeing symbols must reach P percent; the figures are printed either way.
"""

import argparse
import bisect
import json
import os
import re
import subprocess
import sys
import tempfile

PREFIX = "var treeData = "


def leaves_by_address(document):
    """Address -> size of the leaves outside "Afterpadding" (one per address: the run gives
    the size to one symbol of each address and drops the others)."""
    found = {}
    stack = [(name, node) for name, node in document["children"].items()
             if name != "Afterpadding"]
    for leaf in document["leaves"].values():
        found[leaf["address"]] = max(found.get(leaf["address"], 0), leaf["size"])
    while stack:
        _, node = stack.pop()
        for leaf in node["leaves"].values():
            found[leaf["address"]] = max(found.get(leaf["address"], 0), leaf["size"])
        stack.extend(node["children"].items())
    return found


def map_rows(path):
    """(address, size, align) of the output and input sections the map lists, and the
    addresses at which it lists an input section or a symbol."""
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = f.read().split("\n")
    lld = lines[0].split()[:2] == ["VMA", "LMA"]
    # Numbers, one space, then the name indented by 0 (output section), 8 (input section) or
    # 16 (symbol).
    row = re.compile(r"^\s*(\S+)\s+(\S+)\s+(\S+)\s+(\S+) ( *)\S" if lld else
                     r"^\s*(\S+)\s+(\S+)\s+(\S+) ( *)\S")
    rows = []
    listed = set()
    for line in lines[1:]:
        match = row.match(line)
        if not match:
            continue
        indent = len(match.groups()[-1])
        if indent >= 8:
            listed.add(int(match[1], 16))
        if indent >= 16:
            continue
        if lld:
            address, size, align = int(match[1], 16), int(match[3], 16), int(match[4])
        else:
            address, size, align = int(match[1], 16), int(match[2]), int(match[3])
        if address:
            rows.append((address, size, align))
    return rows, listed


def symbol_table(elf):
    out = subprocess.run(["readelf", "-sW", elf], check=True, capture_output=True,
                         text=True).stdout
    symbols = []
    in_symtab = False
    for line in out.splitlines():
        if line.startswith("Symbol table"):
            in_symtab = "'.symtab'" in line
            continue
        fields = line.split(None, 7)
        if not in_symtab or len(fields) < 7 or not fields[0][:-1].isdigit():
            continue
        value, size, kind, ndx = int(fields[1], 16), int(fields[2], 0), fields[3], fields[6]
        name = fields[7] if len(fields) > 7 else ""
        if ndx in ("UND", "ABS") or kind in ("TLS", "SECTION", "FILE") or value == 0:
            continue
        symbols.append((value, size, name))
    return symbols


def alignment_at(end, sections):
    starting = [align for address, size, align in sections if address == end]
    if starting:
        return max(starting)
    inside = [(address, align) for address, size, align in sections
              if address < end < address + size]
    return max(inside)[1] if inside else 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("vorlith")
    parser.add_argument("map")
    parser.add_argument("elf")
    parser.add_argument("--min-percent", type=float)
    parser.add_argument("--show", type=int, default=10)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "doc.json")
        subprocess.run([args.vorlith, "--modern", args.map, out], check=True,
                       stdout=subprocess.DEVNULL)
        with open(out, encoding="utf-8") as f:
            text = f.read()
    document = json.loads(text[len(PREFIX):])
    leaves = leaves_by_address(document)
    sections, listed = map_rows(args.map)
    table = symbol_table(args.elf)
    starts = sorted({value for value, _, _ in table})

    # Aliases share an address; the largest of their sizes is what the leaf must hold.
    wanted = {}
    for value, size, name in table:
        if size and size > wanted.get(value, (0, ""))[0]:
            wanted[value] = (size, name)
    # mold lists merged sections (.rodata.str, .rodata.cst) whole, without the symbols in
    # them: such a symbol has no row of its own, and the map cannot size it.
    unlisted = [(value, name) for value, size, name in table if size and value not in listed]
    table = [entry for entry in table if entry[0] in listed]
    sized = sum(1 for _, size, _ in table if size)

    bad = []
    agreeing = 0
    for value, size, name in table:
        if not size:
            continue
        need, _ = wanted[value]
        got = leaves.get(value, 0)
        padding = got - need
        ok = padding >= 0
        if ok and padding:
            ok = padding < alignment_at(value + got, sections)
            # Nothing of the table may start inside the padding.
            k = bisect.bisect_right(starts, value + need - 1)
            while ok and k < len(starts) and starts[k] < value + got:
                ok = starts[k] < value + need
                k += 1
        if ok:
            agreeing += 1
        else:
            bad.append((value, name, size, got))

    percent = 100.0 * agreeing / sized if sized else 0.0
    print(f"{os.path.basename(args.map)}: {agreeing} of {sized} sized symbols agree "
          f"({percent:.2f} %)")
    if unlisted:
        print(f"  {len(unlisted)} more not listed by the map, left out: "
              + ", ".join(name for _, name in unlisted[:args.show]))
    for value, name, size, got in bad[:args.show]:
        print(f"  {value:#x} {name}: symbol table {size}, document {got}")
    if sized == 0:
        print("no sized symbols: nothing was checked")
        return 1
    if args.min_percent is None:
        return 0 if not bad else 1
    return 0 if percent >= args.min_percent else 1


if __name__ == "__main__":
    sys.exit(main())
