#!/usr/bin/env python3
"""Makes a large map by repeating a real GNU ld map at rising addresses.

    make-synthetic.py [--cut] SOURCE.map TARGET.map MEGABYTES

Without --cut the target holds the whole copies nearest MEGABYTES MiB (at least one); with
--cut it holds MEGABYTES million bytes, the last copy cut at the end of a line, so that a
series of sizes (bench/growth.sh) can start below the source's size. The copies of a cut leave
out the source's preamble, every line before the first one with a non-zero address (the
archive members, the discarded input sections: 22 MB of the LLVM map, all at address 0), so
that even the smallest cut holds symbols. Each copy shifts every non-zero address in the
address column (the 18 bytes from column 16, "0x" and 16 digits) by the span of the source's
addresses, so the copies follow each other instead of piling onto the same addresses; sizes,
names and all other text stay as they are.
"""
import os
import re
import sys

ADDRESS = re.compile(rb"^(.{16})0x([0-9a-f]{16})", re.MULTILINE)


def main():
    args = sys.argv[1:]
    cut = args[0] == "--cut"
    if cut:
        args = args[1:]
    source, target, megabytes = args[0], args[1], float(args[2])
    text = open(source, "rb").read()
    addresses = [(m.start(), int(m.group(2), 16)) for m in ADDRESS.finditer(text)]
    highest = max(address for _, address in addresses)
    if cut:
        first = next((at for at, address in addresses if address != 0), 0)
        text = text[first:]
    span = (highest + 0xFFFFF) & ~0xFFFFF  # the next MiB boundary, to keep addresses readable
    copies = max(1, round(megabytes * 1024 * 1024 / len(text)))
    left = None
    if cut:
        left = int(megabytes * 1e6)
        copies = -(-left // len(text))
    with open(target + ".tmp", "wb") as out:
        for copy in range(copies):
            shift = copy * span

            def moved(m, shift=shift):
                address = int(m.group(2), 16)
                if address == 0 or shift == 0:
                    return m.group(0)
                return m.group(1) + b"0x%016x" % (address + shift)

            shifted = ADDRESS.sub(moved, text)
            if left is not None and len(shifted) >= left:
                out.write(shifted[: shifted.rfind(b"\n", 0, left) + 1])
                break
            out.write(shifted)
            if left is not None:
                left -= len(shifted)
    os.replace(target + ".tmp", target)


if __name__ == "__main__":
    main()
