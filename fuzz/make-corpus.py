#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/ from the real maps and names in tests/data.

    python3 fuzz/make-corpus.py

Maps are cut into pieces of a few dozen lines (a "Publics by Value" piece keeps its heading,
without which its rows are not read), so that each seed is small enough to mutate quickly.
Files are named by the SHA-1 of their content, as libFuzzer names what it adds.
"""
import hashlib
import pathlib
import re
import shutil

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus"
DATA = ROOT / "tests" / "data"

PIECE_LINES = 30
PIECES_PER_MAP = 4


def write(target, data):
    directory = CORPUS / target
    directory.mkdir(parents=True, exist_ok=True)
    (directory / hashlib.sha1(data).hexdigest()).write_bytes(data)


def maps():
    return sorted(DATA.glob("*.map")) + sorted((DATA / "fixtures").glob("*.map"))


def map_pieces():
    for path in maps():
        lines = path.read_bytes().splitlines(keepends=True)
        heading = [l for l in lines if b"Publics by Value" in l][:1]
        if lines and lines[0].split()[:1] == [b"VMA"]:
            heading = lines[:1]  # the column header of ld.lld and mold names the form
        starts = range(0, len(lines), PIECE_LINES)
        step = max(1, len(starts) // PIECES_PER_MAP)
        for start in list(starts)[::step][:PIECES_PER_MAP]:
            piece = lines[start:start + PIECE_LINES]
            if heading and heading[0] not in piece:
                piece = heading + piece
            yield b"".join(piece)


def symbol_names():
    """Names of the kinds the classifier tells apart, taken from the maps' symbol lines."""
    seen = set()
    for path in maps():
        for line in path.read_bytes().splitlines():
            fields = line.split()
            if not fields:
                continue
            name = fields[-1]
            if name in seen or len(name) < 3:
                continue
            if re.match(rb"^(_Z|\?|/|__imp__|_TMP|__d_|_d_|_[A-Za-z]|gc_)", name):
                seen.add(name)
    return sorted(seen)


def whole_names():
    """Whole symbol names of the GNU ld maps, spaces included: demangled C++, versioned C names,
    object paths with their sections."""
    seen = []
    for path in sorted(DATA.glob("gnu-ld-*.map")):
        for line in path.read_bytes().splitlines():
            match = re.match(rb"^ {16}0x[0-9a-f]+ {16}(\S.*)$", line)
            if match and match.group(1) not in seen:
                seen.append(match.group(1))
    return seen


def modern_names():
    names = whole_names()
    yield from names[::max(1, len(names) // 150)]
    d_names = (DATA / "d-names.txt").read_bytes().splitlines()
    yield from d_names[::25]
    yield from [b"vtable for llvm::Pass", b"non-virtual thunk to Foo::bar()",
                b"construction vtable for A-in-B", b"typeinfo for bool (*)(int)",
                b"reference temporary #0 for x::y", b"x::operator< <int>(int)",
                b"llvm::Foo::operator llvm::Bar*() const", b"decltype(auto) f<int>(int)",
                b"f() const::{lambda()#1}::operator()() const [clone .isra.0] [clone .cold]",
                b"operator new[](unsigned long)@@GLIBCXX_3.4", b"libfoo.a(bar.o) (.data)",
                b"obj/../util.o", b"pthread_create@GLIBC_2.2.5", b"completed.0"]


# Small real ELF files of both classes and byte orders: whole programs and the symbol tables kept
# beside the ELF maps (section headers, .symtab, .strtab, no code).
ELF_SEEDS = ["elf/mips-lld-be32.elf", "elf/ppc64-lld-be64.elf", "elf/gdc-lld-32.elf",
             "elf/gcc-bfd-stripped.elf", "lld-gdc-32.syms", "mold-gdc.syms"]


def elf_seeds():
    for name in ELF_SEEDS:
        yield (DATA / name).read_bytes()


def main():
    if CORPUS.exists():
        shutil.rmtree(CORPUS)
    for piece in map_pieces():
        write("mapfile_fuzz", piece)
        write("run_fuzz", piece)

    d_names = (DATA / "d-names.txt").read_bytes().splitlines()
    for name in d_names[::6]:
        write("demangle_fuzz", name)
        write("dsym_fuzz", name)
    others = symbol_names()
    for name in others[::max(1, len(others) // 120)]:
        write("dsym_fuzz", name)
        write("demangle_fuzz", name)
    for demangled in [b"void app.run(immutable(char)[][])", b"extern (C) int app.main()",
                      b"app.Box!(int).Box.put(int) const", b"a(b.c d", b")) x.y ((",
                      b"app.__T3BoxTiZ.put", b"std.range.x...y"]:
        write("dsym_fuzz", demangled)
    for name in modern_names():
        write("dsym_modern_fuzz", name)

    # Current-ABI D names: the compilers' own names from the tables, every kind of row.
    rows = (DATA / "d-current-names.tsv").read_bytes().splitlines()
    current = sorted({row.split(b"\t")[2] for row in rows if b"\tsymbol\t" in row})
    truth = sorted({row.split(b"\t")[0] for row in (DATA / "d-modern-truth.tsv").read_bytes().splitlines()})
    for name in current[::3] + truth[::25]:
        write("demangle_current_fuzz", name)
    for name in [b"_Dmain", b"_D10TypeInfo_a6__initZ", b"_DThn16_3app1C4areaMxFZd",
                 b"_DTi16_D3app1C4areaMxFZd", b"_D3app3runFZv.isra.0", b"_D3app3runFZv.8768",
                 b"__D3app1xi"]:
        write("demangle_current_fuzz", name)

    for seed in elf_seeds():
        write("elf_fuzz", seed)

    # Text helpers: lines with CR LF, invalid and valid UTF-8, hexadecimal numbers.
    for sample in [b"0x0000000000401000      0x630 app.o\r\n\r\nnext\r",
                   b"caf\xe9.o\n\xc3\xa9t\xc3\xa9\n", b"\xf0\x9f\x98\x80\xed\xa0\x80\xf4\x90\x80\x80",
                   b"ffffffffffffffff", b"1ffffffffffffffff", b"0000000000000000000ABCdef",
                   b"100000000", b"12g", b"", b"\r\r\n\r"]:
        write("text_fuzz", sample)

    # Compressed names: a starting position byte, then literals and back-references.
    for sample in [b"\x00_D3std5range12__T4TakeTAaZ4Take\xc8\xd1", b"\x00abcdefgh\x81\x02\x03",
                   b"\x03xx_D3app\xff", b"\x00a\xc0\xc0\xc0\xc0", b"\x00abc\x80\x7f\x7f"]:
        write("decode_dmd_fuzz", sample)


if __name__ == "__main__":
    main()
