#!/usr/bin/env python3
"""Makes a large map by repeating a real GNU ld map at rising addresses.

    make-synthetic.py SOURCE.map TARGET.map MEGABYTES

Each copy shifts every non-zero address in the address column (the 18 bytes from column 16,
"0x" and 16 digits) by the span of the source's addresses, so the copies follow each other
instead of piling onto the same addresses; sizes, names and all other text stay as they are.
"""
import os
import re
import sys

ADDRESS = re.compile(rb"^(.{16})0x([0-9a-f]{16})", re.MULTILINE)


def main():
    source, target, megabytes = sys.argv[1], sys.argv[2], float(sys.argv[3])
    text = open(source, "rb").read()
    highest = max(int(m.group(2), 16) for m in ADDRESS.finditer(text))
    span = (highest + 0xFFFFF) & ~0xFFFFF  # the next MiB boundary, to keep addresses readable
    copies = max(1, round(megabytes * 1024 * 1024 / len(text)))
    with open(target + ".tmp", "wb") as out:
        for copy in range(copies):
            shift = copy * span

            def moved(m, shift=shift):
                address = int(m.group(2), 16)
                if address == 0 or shift == 0:
                    return m.group(0)
                return m.group(1) + b"0x%016x" % (address + shift)

            out.write(ADDRESS.sub(moved, text))
    os.replace(target + ".tmp", target)


if __name__ == "__main__":
    main()
