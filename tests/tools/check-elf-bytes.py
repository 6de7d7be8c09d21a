#!/usr/bin/env python3
"""Check the bytes of the documents that vorlith makes of an ELF program against binutils.

    check-elf-bytes.py VORLITH BINARY [MAP] [--min-percent P] [--other FILE] [--show N]

For the program read alone and, with MAP, read beside its map (--elf), each measured both
ways (--size=memory and --size=file), it checks:

- the total: the sum of the SHF_ALLOC sections' sizes that `readelf -SW` gives (memory), or
  the file's size (file);
- every byte of every counted section once: the leaves that name a section add up to its
  size, each lies inside it, and every leaf names a section and a kind;
- symbol sizes: of the symbols `nm -S --defined-only` lists with a size, in a section the
  measure counts, at least P per cent (99 by default) have a leaf at their address of exactly
  their size (thread-local ones at their address in the thread-local block, which `readelf
  -sW` tells apart);
- refusals: the program stripped (`strip`) fails with a message that says so, and, with
  --other, MAP beside another link's program (or FILE's map beside BINARY) fails naming a
  section; neither writes its output.

Prints the figures; exits 1 when a check fails.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

PREFIX = "var treeData = "
SHF_ALLOC = "A"


def sections_of(binary):
    """name, type, address, offset, size, flags of every section, from readelf -SW."""
    out = subprocess.run(["readelf", "-SW", binary], check=True, capture_output=True,
                         text=True).stdout
    rows = []
    # "[Nr] Name Type Address Off Size ES Flg Lk Inf Al"; Flg may be empty.
    pattern = re.compile(r"^\s*\[\s*(\d+)\]\s+(\S*)\s+(\S+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s+"
                         r"([0-9a-f]+)\s+[0-9a-f]+\s+([A-Za-z]*)\s*\d+\s+\d+\s+\d+\s*$")
    for line in out.splitlines():
        match = pattern.match(line)
        if not match or match[1] == "0":
            continue
        rows.append({"index": int(match[1]), "name": match[2], "type": match[3],
                     "address": int(match[4], 16), "offset": int(match[5], 16),
                     "size": int(match[6], 16), "flags": match[7]})
    return rows


def symbol_sections(binary):
    """(value, name) -> (section index or None, type) from readelf -sW's .symtab."""
    out = subprocess.run(["readelf", "-sW", binary], check=True, capture_output=True,
                         text=True).stdout
    found = {}
    in_symtab = False
    for line in out.splitlines():
        if line.startswith("Symbol table"):
            in_symtab = "'.symtab'" in line
            continue
        fields = line.split(None, 7)
        if not in_symtab or len(fields) < 8 or not fields[0][:-1].isdigit():
            continue
        ndx = int(fields[6]) if fields[6].isdigit() else None
        found[(int(fields[1], 16), fields[7])] = (ndx, fields[3])
    return found


def nm_symbols(binary):
    out = subprocess.run(["nm", "-S", "--defined-only", binary], check=True, capture_output=True,
                         text=True).stdout
    symbols = []
    for line in out.splitlines():
        fields = line.split(None, 3)
        if len(fields) == 4:
            symbols.append((int(fields[0], 16), int(fields[1], 16), fields[2], fields[3]))
    return symbols


def counted(section, measure):
    if section["size"] == 0 or section["type"] == "NULL":
        return False
    if measure == "memory":
        return SHF_ALLOC in section["flags"]
    return section["type"] != "NOBITS"


def leaves_of(document):
    found = []
    stack = [document]
    while stack:
        node = stack.pop()
        found.extend(node["leaves"].values())
        stack.extend(node["children"].values())
    return found


def run(vorlith, args, out):
    result = subprocess.run([vorlith, *args, out], capture_output=True, text=True)
    return result.returncode, result.stderr


class Checker:
    def __init__(self, args):
        self.args = args
        self.failures = []

    def fail(self, what):
        self.failures.append(what)
        print("  FAIL " + what)

    def check_document(self, label, run_args, measure, sections, table, tls_base, scratch):
        out = os.path.join(scratch, "doc.json")
        status, error = run(self.args.vorlith, run_args + ["--size=" + measure], out)
        if status != 0:
            self.fail(f"{label}: vorlith failed: {error.strip()}")
            return
        with open(out, encoding="utf-8") as f:
            text = f.read()
        document = json.loads(text[len(PREFIX):])
        leaves = leaves_of(document)

        want = (sum(s["size"] for s in sections if SHF_ALLOC in s["flags"]) if measure == "memory"
                else os.path.getsize(self.args.binary))
        if document["total"] != want:
            self.fail(f"{label}: total {document['total']}, expected {want}")

        by_name = {}
        for section in sections:
            if counted(section, measure):
                by_name.setdefault(section["name"], section)
        sums = {}
        for leaf in leaves:
            name = leaf.get("section")
            if name is None or "kind" not in leaf:
                self.fail(f"{label}: leaf {leaf['mangledName']!r} has no section or kind")
                continue
            sums[name] = sums.get(name, 0) + leaf["size"]
            section = by_name.get(name)
            if section is not None and not (
                    section["address"] <= leaf["address"] and
                    leaf["address"] + leaf["size"] <= section["address"] + section["size"]):
                self.fail(f"{label}: leaf {leaf['mangledName']!r} at {leaf['address']:#x} "
                          f"({leaf['size']} bytes) lies outside {name}")
        for name, section in by_name.items():
            if sums.get(name, 0) != section["size"]:
                self.fail(f"{label}: {name} has {section['size']} bytes, its leaves "
                          f"{sums.get(name, 0)}")

        at = {}
        for leaf in leaves:
            at.setdefault(leaf["address"], set()).add(leaf["size"])
        checked = agreeing = 0
        bad = []
        for value, size, _, name in table:
            ndx, kind = symbol_sections_lookup(self.symtab, value, name)
            section = self.by_index.get(ndx)
            if size == 0 or section is None or not counted(section, measure):
                continue
            if section["name"] == ".opd" and kind == "FUNC":
                # 64-bit PowerPC: the symbol is a descriptor of 24 bytes, its size the code's.
                continue
            address = value + tls_base if kind == "TLS" else value
            checked += 1
            if size in at.get(address, ()):
                agreeing += 1
            else:
                bad.append((address, name, size, sorted(at.get(address, ()))))
        percent = 100.0 * agreeing / checked if checked else 100.0
        print(f"  {label}: total {document['total']}; {agreeing} of {checked} sized symbols "
              f"exact ({percent:.2f} %)")
        for address, name, size, got in bad[:self.args.show]:
            print(f"    {address:#x} {name}: nm {size}, leaves there {got}")
        if percent < self.args.min_percent:
            self.fail(f"{label}: {percent:.2f} % of the symbols exact, fewer than "
                      f"{self.args.min_percent}")

    def check_refused(self, label, run_args, expect, scratch):
        out = os.path.join(scratch, "refused.json")
        status, error = run(self.args.vorlith, run_args, out)
        if status != 1 or expect not in error or os.path.exists(out):
            self.fail(f"{label}: expected a failure saying {expect!r} and no output, got status "
                      f"{status}, {error.strip()!r}, output {os.path.exists(out)}")
        else:
            print(f"  {label}: refused: {error.strip()}")


def symbol_sections_lookup(symtab, value, name):
    found = symtab.get((value, name))
    if found is None:
        found = symtab.get((value, name.split("@")[0]), (None, ""))
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("vorlith")
    parser.add_argument("binary")
    parser.add_argument("map", nargs="?")
    parser.add_argument("--min-percent", type=float, default=99.0)
    parser.add_argument("--other")
    parser.add_argument("--show", type=int, default=10)
    args = parser.parse_args()

    checker = Checker(args)
    sections = sections_of(args.binary)
    checker.by_index = {s["index"]: s for s in sections}
    checker.symtab = symbol_sections(args.binary)
    tls = [s["address"] for s in sections
           if "T" in s["flags"] and SHF_ALLOC in s["flags"] and s["size"]]
    tls_base = min(tls) if tls else 0
    table = nm_symbols(args.binary)
    print(os.path.basename(args.binary) + ":")
    with tempfile.TemporaryDirectory() as scratch:
        if not any(s["type"] == "SYMTAB" for s in sections):
            # Stripped already: nothing can be sized, and the refusals are all there is to see.
            checker.check_refused("stripped", [args.binary], "stripped", scratch)
            if args.map:
                checker.check_refused("stripped, with its map", ["--elf=" + args.binary, args.map],
                                      "stripped", scratch)
            return 1 if checker.failures else 0
        runs = [("alone", [args.binary])]
        if args.map:
            runs.append(("with its map", ["--elf=" + args.binary, args.map]))
        for label, run_args in runs:
            for measure in ("memory", "file"):
                checker.check_document(f"{label}, {measure}", run_args, measure, sections, table,
                                       tls_base, scratch)
        stripped = os.path.join(scratch, "stripped")
        # binutils-multiarch: the strip of this machine knows the other machines' files too.
        subprocess.run(["strip", "-o", stripped, args.binary], check=True)
        checker.check_refused("stripped", [stripped], "stripped", scratch)
        if args.map:
            checker.check_refused("stripped, with its map", ["--elf=" + stripped, args.map],
                                  "stripped", scratch)
        if args.other and args.map:
            if args.other.endswith(".map"):
                other = ["--elf=" + args.binary, args.other]
            else:
                other = ["--elf=" + args.other, args.map]
            checker.check_refused("another link", other, "not of the same link", scratch)
    return 1 if checker.failures else 0


if __name__ == "__main__":
    sys.exit(main())
