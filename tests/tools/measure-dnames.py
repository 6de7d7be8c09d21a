#!/usr/bin/env python3
"""Measures the current-ABI D rules on the D symbols of real maps.

    tests/tools/measure-dnames.py PROBE MAP... [--truth TSV]...

PROBE is build/dnames_probe. A D symbol is any symbol-name token of a map that starts with
"_D" (or "__D") and a digit, "_DT" and a letter (thunks), or is "_Dmain", with or without a
clone suffix. For each map it reports:
  - filed: symbols the rules decode and file (the others fall back to the classic rules);
  - as qualified: symbols whose filing holds the compilers' qualified name, from a truth table
    (mangled name TAB qualified name, as printed by pragma(msg) and fullyQualifiedName), in
    order, ending with the same name (scopes the compilers leave out, such as named mixins,
    may stand between);
  - mangled shown: shown names that still hold mangling (template markers, "_D" and a digit,
    a length prefix before as many identifier bytes).
"""
import re
import subprocess
import sys

D_NAME = re.compile(rb"^_?_D(?:[0-9]|T[a-z]|main(?:$|\.))")
HIDDEN = re.compile(r"^(__mixin[0-9]+|__S[0-9]+)$")
MARKERS = re.compile(r"__T|__U|_D[0-9]|[A-Za-z]Q[A-Z]*[a-z][0-9]")
LENGTH_PREFIXED = re.compile(r"(?:^|[^A-Za-z0-9_\\])([1-9][0-9]{0,5})([A-Za-z_][A-Za-z0-9_]*)")
LITERAL_SUFFIX = re.compile(r"^(u|U|L|LU|UL|F|Fi|Li|i|e)$")


def split_qualified(text, bare=True):
    """Splits at dots outside (), [] and literals; each piece cut before "!" and "("."""
    pieces, piece, depth, quote, cut = [], "", 0, None, False
    k = 0
    while k < len(text):
        c = text[k]
        if quote:
            if c == "\\":
                piece += c if not cut else ""
                k += 1
                c = text[k] if k < len(text) else ""
            elif c == quote:
                quote = None
        elif c == '"' or (c == "'" and depth > 0):
            quote = c
        elif c in "([":
            depth += 1
        elif c in ")]":
            depth -= 1
        elif c == "." and depth == 0:
            pieces.append(piece)
            piece, cut = "", False
            k += 1
            continue
        if depth == 0 and c in "!(":
            cut = cut or bare
        if not cut:
            piece += c
        k += 1
    pieces.append(piece)
    return pieces


def comparable(names):
    kept = []
    for name in names:
        if HIDDEN.match(name) or (kept and kept[-1] == name):
            continue
        kept.append(name)
    return kept


INTERNAL = re.compile(r"^(.*) \((vtable|initializer|ClassInfo|Interface|ModuleInfo)\)$")
INTERNAL_NAMES = {"vtable": "__vtbl", "initializer": "__init", "ClassInfo": "__Class",
                  "Interface": "__Interface", "ModuleInfo": "__ModuleInfo"}


def filed_names(segments):
    """The identifiers of a filing: an instance's group ("Stock!(int, 8)") reads as its
    template's name, an internal symbol's leaf ("Shape (vtable)") as Shape and __vtbl."""
    names = [split_qualified(segment)[-1] for segment in segments]
    internal = INTERNAL.match(segments[-1])
    if internal:
        names[-1:] = [internal.group(1), INTERNAL_NAMES[internal.group(2)]]
    return names


def has_mangled_text(text):
    if MARKERS.search(text):
        return True
    for match in LENGTH_PREFIXED.finditer(text):
        length, run = int(match.group(1)), match.group(2)
        if length >= 2 and len(run) >= length and not LITERAL_SUFFIX.match(run):
            return True
    return False


def d_symbols(path):
    names = set()
    with open(path, "rb") as handle:
        for line in handle:
            for token in line.split():
                if D_NAME.match(token):
                    names.add(token)
    return sorted(names)


def main():
    args = sys.argv[1:]
    truth = {}
    while "--truth" in args:
        at = args.index("--truth")
        with open(args[at + 1], "rb") as handle:
            for row in handle.read().splitlines():
                fields = row.split(b"\t")
                if len(fields) == 2:
                    truth[fields[0]] = fields[1].decode("utf-8", "replace")
                elif len(fields) == 4 and fields[1] == b"symbol":
                    truth[fields[2]] = fields[3].decode("utf-8", "replace")
        del args[at:at + 2]
    probe, maps = args[0], args[1:]
    for path in maps:
        names = d_symbols(path)
        result = subprocess.run([probe], input=b"\n".join(names) + b"\n", capture_output=True,
                                check=True).stdout.splitlines()
        filed = with_truth = as_qualified = mangled = 0
        misses = []
        for name, row in zip(names, result):
            fields = row.decode("utf-8", "replace").split("\t")
            if len(fields) < 3 or not fields[2]:
                misses.append(name.decode("utf-8", "replace"))
                continue
            filed += 1
            shown, segments = fields[1], fields[2].split("\x1f")
            if has_mangled_text(shown):
                mangled += 1
                misses.append("mangled shown: " + shown)
            base = name.split(b".")[0]
            suffix = name[len(base):].decode("utf-8", "replace")
            if suffix and segments[-1].endswith(suffix):
                segments[-1] = segments[-1][:-len(suffix)]  # the clone suffix on the leaf
            if base in truth:
                with_truth += 1
                expected = comparable(split_qualified(truth[base]))
                mine = comparable(filed_names(segments))
                matched = 0
                for segment in mine:
                    if matched < len(expected) and segment == expected[matched]:
                        matched += 1
                if matched == len(expected) and mine[-1] == expected[-1]:
                    as_qualified += 1
                else:
                    misses.append("path %s for %s" % (" > ".join(segments), truth[base]))
        total = len(names)
        print("%s: %d D symbols, filed %d (%.2f %%), as qualified %d of %d with truth (%.2f %%), "
              "mangled shown %d" % (path, total, filed, 100.0 * filed / max(total, 1),
                                   as_qualified, with_truth,
                                   100.0 * as_qualified / max(with_truth, 1), mangled))
        for miss in misses[:10]:
            print("   ", miss)


if __name__ == "__main__":
    main()
