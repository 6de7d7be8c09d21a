#!/usr/bin/env python3
"""Reads the CSV that `vorlith --csv` writes with Python's csv module, as a spreadsheet would, and
checks it against the document of the same run: one row per symbol in document order, every
field as the document has it, and sizes that add up to the document's total.

usage: check-csv.py VORLITH MAP [OPTION...]"""
import csv
import json
import os
import subprocess
import sys
import tempfile

PREFIX = "var treeData = "
SEPARATOR = " \u203a "


def leaves(group, path):
    """The document's leaves in the order the document lists them: a group's own after its groups'."""
    for name, child in group["children"].items():
        yield from leaves(child, path + [name])
    for key, leaf in group["leaves"].items():
        yield path, key, leaf


def as_text(cell):
    """A text cell as vorlith writes it: an apostrophe before what a spreadsheet would evaluate."""
    return "'" + cell if cell[:1] in ("=", "+", "-", "@", "\t", "\r") else cell


def main():
    vorlith, map_file, options = sys.argv[1], sys.argv[2], sys.argv[3:]
    with tempfile.TemporaryDirectory() as tmp:
        document = os.path.join(tmp, "out.json")
        table = os.path.join(tmp, "out.csv")
        subprocess.run([vorlith, *options, "--csv=" + table, map_file, document], check=True)
        with open(document, encoding="utf-8") as f:
            text = f.read()
        assert text.startswith(PREFIX)
        doc = json.loads(text[len(PREFIX):])
        with open(table, newline="", encoding="utf-8") as f:
            rows = list(csv.reader(f, strict=True))
        with open(table, "rb") as f:
            raw = f.read()
    assert raw.endswith(b"\r\n") and raw.count(b"\n") == raw.count(b"\r\n"), "lines end in CRLF"
    columns = ["size", "address", "path", "key", "mangled name", "shown name"]
    # A program laid out by its sections (a modern run of an ELF map) adds three columns.
    first = next(iter(leaves(doc, [])), None)
    sections = first is not None and "section" in first[2]
    if sections:
        columns += ["section", "kind", "object"]
    assert rows[0] == columns, rows[0]
    expected = list(leaves(doc, []))
    assert len(rows) - 1 == len(expected), (len(rows) - 1, len(expected))
    total = 0
    for row, (path, key, leaf) in zip(rows[1:], expected):
        assert len(row) == len(columns), row
        shown = leaf["demangledName"] or leaf["mangledName"]
        want = [str(leaf["size"]), hex(leaf["address"])] + [
            as_text(cell) for cell in (SEPARATOR.join(path), key, leaf["mangledName"], shown)]
        if sections:
            want += [as_text(leaf.get(member, "")) for member in ("section", "kind", "object")]
        assert row == want, (row, want)
        total += int(row[0])
    assert total == doc["total"], (total, doc["total"])
    quoted = sum(1 for line in raw.split(b"\r\n") if b'"' in line)
    print(f"{os.path.basename(map_file)} {' '.join(options)}: {len(rows) - 1} rows, "
          f"{total} bytes, {quoted} lines with quoted fields")


if __name__ == "__main__":
    main()
