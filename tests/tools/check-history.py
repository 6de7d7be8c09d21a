#!/usr/bin/env python3
"""Records maps in order into a new history and checks what `vorlith history` says against the
documents of the same runs: every run's total and change in the table, the groups it lists as
changed, the table of one group, and the trend page's data, replayed run by run, against every
group's total and every symbol's size.

usage: check-history.py VORLITH MAPDIR [--modern]"""
import glob
import json
import os
import re
import subprocess
import sys
import tempfile

SEP = " \u203a "


def fail(message):
    sys.exit("check-history: " + message)


def document(path):
    text = open(path, encoding="utf-8").read()
    return json.loads(text[text.index("=") + 1:])


def flatten(doc):
    """Every group's total ("g" + path) and every leaf's size ("s" + path) of a document."""
    sizes = {}
    stack = [((), doc)]
    while stack:
        path, node = stack.pop()
        sizes[("g",) + path] = node["total"]
        for name, child in node["children"].items():
            stack.append((path + (name,), child))
        for key, leaf in node["leaves"].items():
            sizes[("s",) + path + (key,)] = leaf["size"]
    return {k: v for k, v in sizes.items() if v != 0}


def table_rows(text):
    """The runs of the table: (label, bytes, change), and the groups listed under each."""
    rows = []
    row = re.compile(r"^ *(\d+)  (.*?) +(\d+) +[\d.]+ (?:B|KiB|MiB|GiB) +(-|0|[+-]\d+)$")
    change = re.compile(r"^ +([+-]\d+)  (.*)$")
    for line in text.splitlines()[3:]:
        if m := row.match(line):
            rows.append({"label": m.group(2), "bytes": int(m.group(3)), "change": m.group(4),
                         "groups": []})
        elif m := change.match(line):
            rows[-1]["groups"].append((int(m.group(1)), m.group(2)))
        else:
            fail("a line of the table that is no run and no group: " + repr(line))
    return rows


def run(command):
    r = subprocess.run(command, capture_output=True, text=True)
    if r.returncode != 0:
        fail(f"{command} failed with {r.returncode}: {r.stderr}")
    return r.stdout


def main():
    vorlith, mapdir = sys.argv[1:3]
    options = sys.argv[3:]
    maps = sorted(glob.glob(os.path.join(mapdir, "*.map")))
    if len(maps) < 2:
        fail("fewer than two maps in " + mapdir)
    with tempfile.TemporaryDirectory() as work:
        db = os.path.join(work, "size.db")
        docs = []
        for m in maps:
            label = os.path.splitext(os.path.basename(m))[0]
            doc = os.path.join(work, label + ".json")
            run([vorlith, *options, "--record=" + db, "--label=" + label, m, doc])
            docs.append(document(doc))
        flat = [flatten(d) for d in docs]

        # The table: totals, changes, and the groups listed as changed.
        page = os.path.join(work, "trend.html")
        rows = table_rows(run([vorlith, "history", "--html=" + page, db]))
        if len(rows) != len(maps):
            fail(f"{len(rows)} runs in the table, {len(maps)} recorded")
        listed = 0
        for r, row in enumerate(rows):
            total = docs[r]["total"]
            if row["bytes"] != total:
                fail(f"run {r + 1}: the table says {row['bytes']}, the document {total}")
            expected = "-" if r == 0 else ("0" if total == docs[r - 1]["total"]
                                           else "%+d" % (total - docs[r - 1]["total"]))
            if row["change"] != expected:
                fail(f"run {r + 1}: change {row['change']}, the documents give {expected}")
            for delta, path in row["groups"]:
                if "\u2026" in path:
                    continue  # shortened to fit the line
                key = ("g",) + tuple(path.split(SEP))
                real = flat[r].get(key, 0) - flat[r - 1].get(key, 0)
                if real != delta:
                    fail(f"run {r + 1}: {path} changed by {delta} in the table, {real} in the documents")
                listed += 1

        # One group's table: its totals in every run (0 where a run lacks it).
        top = max(docs[-1]["children"].items(), key=lambda kv: kv[1]["total"])[0]
        group_rows = table_rows(run([vorlith, "history", "--group=" + top, db]))
        for r, row in enumerate(group_rows):
            real = flat[r].get(("g", top), 0)
            if row["bytes"] != real:
                fail(f"--group={top}, run {r + 1}: {row['bytes']} in the table, {real} in the document")

        # The page's data, replayed: every group and symbol of every run.
        html = open(page, encoding="utf-8").read()
        m = re.search(r'<script type="application/json" id="vorlith-history"[^>]*>(.*?)</script>',
                      html, re.S)
        if not m:
            fail("the page holds no history")
        data = json.loads(m.group(1))
        items = data["items"]
        paths = [()]
        for parent, name, *_ in items[1:]:
            paths.append(paths[parent] + (name,))
        kinds = ["s" if len(item) > 2 and item[2] == 1 else "g" for item in items]
        sizes = [0] * len(items)
        for r, changes in enumerate(data["changes"]):
            for k in range(0, len(changes), 2):
                sizes[changes[k]] = changes[k + 1]
            got = {(kinds[i],) + paths[i]: s for i, s in enumerate(sizes) if s != 0}
            if got != flat[r]:
                missing = set(flat[r].items()) ^ set(got.items())
                fail(f"run {r + 1}: the page's data and the document differ: {sorted(missing)[:5]}")
    print(f"history of {len(maps)} builds: the table's totals and changes, {listed} groups listed "
          f"as changed, the table of {top!r} and the page's data of every run agree with the "
          f"documents")


if __name__ == "__main__":
    main()
