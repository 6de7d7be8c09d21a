#!/usr/bin/env python3
"""What --record adds to a run: best CPU time (user + system, of several runs) without and with
recording into a history that already holds the same build, the first recording into a new
history, and the database's growth per run as a share of the document's size.

usage: record-cost.py VORLITH MAP [--modern] [--runs=N]"""
import os
import resource
import subprocess
import sys
import tempfile


def cpu(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--runs=")]
    runs = int(next((a[7:] for a in sys.argv[1:] if a.startswith("--runs=")), "5"))
    vorlith, the_map, options = args[0], args[1], args[2:]
    with tempfile.TemporaryDirectory() as work:
        doc = os.path.join(work, "doc.json")
        db = os.path.join(work, "size.db")
        plain = min(cpu([vorlith, *options, the_map, doc]) for _ in range(runs))
        first = cpu([vorlith, *options, "--record=" + db, the_map, doc])
        size_after_first = os.path.getsize(db)
        again = min(cpu([vorlith, *options, "--record=" + db, the_map, doc]) for _ in range(runs))
        growth = (os.path.getsize(db) - size_after_first) / runs
        document = os.path.getsize(doc)
    name = os.path.basename(the_map)
    print(f"{name}: document {document / 2**20:.1f} MiB; best CPU of {runs}: "
          f"plain {plain:.2f} s, recording {again:.2f} s ({(again / plain - 1) * 100:+.0f} %), "
          f"first recording into a new history {first:.2f} s ({(first / plain - 1) * 100:+.0f} %)")
    print(f"{name}: history {size_after_first / 2**20:.1f} MiB after the first run "
          f"({size_after_first / document * 100:.0f} % of the document), then "
          f"{growth / 1024:.0f} KiB per run of the same build "
          f"({growth / document * 100:.2f} % of the document)")


if __name__ == "__main__":
    main()
