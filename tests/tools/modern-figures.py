#!/usr/bin/env python3
"""Figures of a document about how its names were filed (for --modern on large maps).

    modern-figures.py DOCUMENT.json

Prints the total, the bytes of every top-level group and of the loose leaves at the top, the
share of the C++ bytes filed under "C++ symbols", and the share of the D bytes filed under the
D rules. Which leaf is C++ or D is judged here from its name alone, independently of vorlith:
  C++: a mangled name "_Z..." or "?...@@...", a name with a special phrase ("vtable for ..."),
       or, outside object paths, a name with "::" or a parameter list ("f(int)").
  D:   a mangled name "_D" or "__D" followed by a digit, or "_Dmain".
Leaves under "Afterpadding" (the gaps after symbols) are counted in the total but belong to no
kind.
"""
import json
import re
import sys

PHRASES = re.compile(
    r"^(vtable|typeinfo|typeinfo name|VTT|construction vtable|guard variable|TLS init function"
    r"|TLS wrapper function) for |^(non-virtual|virtual|covariant return) thunk to "
    r"|^reference temporary #\d+ for ")
FUNCTION = re.compile(r"^[^ ()./]*[A-Za-z0-9_>\]]\(")


def is_cxx(name):
    if name.startswith("_Z") or (name.startswith("?") and "@@" in name):
        return True
    if name.startswith("/") or name.startswith("."):
        return False
    if PHRASES.match(name):
        return True
    if " (" in name and name.endswith(")") and "::" not in name:
        return False  # "file.o (.text)"
    return "::" in name or FUNCTION.match(name) is not None


def is_d(name):
    return re.match(r"^__?D(\d|main$)", name) is not None


def leaves(node, path):
    for key, leaf in node["leaves"].items():
        yield path, key, leaf
    for name, child in node["children"].items():
        yield from leaves(child, path + (name,))


def main():
    text = open(sys.argv[1], encoding="utf-8").read()
    prefix = "var treeData = "
    root = json.loads(text[len(prefix):] if text.startswith(prefix) else text)
    total = root["total"]
    loose = sum(leaf["size"] for leaf in root["leaves"].values())
    cxx_all = cxx_filed = d_all = d_grouped = 0
    for path, _key, leaf in leaves(root, ()):
        if path[:1] == ("Afterpadding",):
            continue
        name = leaf["mangledName"]
        if is_cxx(name):
            cxx_all += leaf["size"]
            if path[:1] == ("C++ symbols",):
                cxx_filed += leaf["size"]
        elif is_d(name):
            d_all += leaf["size"]
            if path[:1] not in (("C symbols",), ("Other symbols",), ()):
                d_grouped += leaf["size"]

    def share(part, whole):
        return f"{100.0 * part / whole:6.2f} %" if whole else "     - "

    print(f"total                         {total:14d}")
    print(f"loose leaves at the top       {loose:14d}  {share(loose, total)} of all bytes "
          f"({len(root['leaves'])} leaves)")
    print(f"C++ bytes                     {cxx_all:14d}  {share(cxx_filed, cxx_all)} "
          f"under \"C++ symbols\"")
    print(f"D bytes                       {d_all:14d}  {share(d_grouped, d_all)} "
          f"in groups of their own (not C symbols, Other symbols or loose)")
    print("top-level groups by size:")
    groups = sorted(root["children"].items(), key=lambda item: -item[1]["total"])
    for name, child in groups[:12]:
        print(f"  {name[:40]:<40} {child['total']:14d}  {share(child['total'], total)}")


if __name__ == "__main__":
    main()
