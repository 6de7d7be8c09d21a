#!/usr/bin/env python3
"""Compares what the ELF reader makes of a file with what readelf says of it.

    check-elf-reader.py ELF_PROBE FILE

ELF_PROBE is build/elf_probe, which prints the reader's image (see tests/tools/elf_probe.cpp).
readelf -hSsW gives the truth: class, byte order, type, the places and sizes of the header
tables, every section's name, type, flags, address, offset, size, alignment, link and info,
and every defined symbol of .symtab in table order with its value, size, type, binding,
visibility, section and name. Exits 1 naming the first differences, 77 without readelf.
"""
import os
import re
import shutil
import subprocess
import sys

SECTION_TYPES = {
    0: 'NULL', 1: 'PROGBITS', 2: 'SYMTAB', 3: 'STRTAB', 4: 'RELA', 5: 'HASH', 6: 'DYNAMIC',
    7: 'NOTE', 8: 'NOBITS', 9: 'REL', 11: 'DYNSYM', 14: 'INIT_ARRAY', 15: 'FINI_ARRAY',
    16: 'PREINIT_ARRAY', 17: 'GROUP', 0x6ffffff6: 'GNU_HASH', 0x6ffffffd: 'VERDEF',
    0x6ffffffe: 'VERNEED', 0x6fffffff: 'VERSYM',
}
# The flags readelf writes as letters for every machine.
FLAG_LETTERS = {'W': 0x1, 'A': 0x2, 'X': 0x4, 'M': 0x10, 'S': 0x20, 'I': 0x40, 'L': 0x80,
                'O': 0x100, 'G': 0x200, 'T': 0x400, 'C': 0x800}
SYMBOL_TYPES = {'NOTYPE': 0, 'OBJECT': 1, 'FUNC': 2, 'SECTION': 3, 'FILE': 4, 'COMMON': 5,
                'TLS': 6, 'IFUNC': 10}
BINDINGS = {'LOCAL': 0, 'GLOBAL': 1, 'WEAK': 2, 'UNIQUE': 10}
VISIBILITIES = {'DEFAULT': 0, 'INTERNAL': 1, 'HIDDEN': 2, 'PROTECTED': 3}
SPECIAL_INDEXES = {'ABS': 0xfff1, 'COM': 0xfff2}

SECTION_LINE = re.compile(
    r'^\s*\[\s*(\d+)\] (.*?)\s+(\S+)\s+([0-9a-f]+) ([0-9a-f]+) ([0-9a-f]+) ([0-9a-f]+)'
    r'\s+([A-Za-z]*)\s+(\d+)\s+(\d+)\s+(\d+)\s*$')
SYMBOL_LINE = re.compile(
    r'^\s*(\d+): ([0-9a-f]+)\s+(0x[0-9a-f]+|\d+)\s+(\S+)\s+(\S+)\s+(\S+)\s+(?:\[[^]]*\]\s+)?'
    r'(\S+)(?: (.*))?$')


def header_number(text, label):
    match = re.search(r'^\s*' + re.escape(label) + r':\s+(\d+)', text, re.M)
    return int(match.group(1))


def truth(path):
    out = subprocess.run(['readelf', '-hSsW', path], check=True, capture_output=True,
                         env=dict(os.environ, LC_ALL='C')).stdout.decode('latin-1')
    head = {
        'is64': 'ELF64' in re.search(r'Class:\s+(\S+)', out).group(1),
        'big': 'big endian' in re.search(r'Data:\s+(.*)', out).group(1),
        'type': {'REL': 1, 'EXEC': 2, 'DYN': 3, 'CORE': 4}[re.search(r'Type:\s+(\S+)', out).group(1)],
        'phoff': header_number(out, 'Start of program headers'),
        'shoff': header_number(out, 'Start of section headers'),
        'ehsize': header_number(out, 'Size of this header'),
        'phentsize': header_number(out, 'Size of program headers'),
        'phnum': header_number(out, 'Number of program headers'),
        'shentsize': header_number(out, 'Size of section headers'),
        'shnum': header_number(out, 'Number of section headers'),
    }
    sections, symbols, tables = [], [], set()
    table = None
    for line in out.splitlines():
        match = re.match(r"Symbol table '(.*)' contains", line)
        if match:
            table = match.group(1)
            tables.add(table)
            continue
        match = SECTION_LINE.match(line)
        if match and table is None:
            sections.append(match.groups())
            continue
        match = SYMBOL_LINE.match(line)
        if match and table == '.symtab':
            symbols.append(match.groups())
    return head, sections, symbols, tables


def probe(exe, path):
    run = subprocess.run([exe, path], capture_output=True)
    if run.returncode != 0:
        sys.exit(f'{path}: the reader failed: {run.stderr.decode(errors="replace")}')
    image = {'sections': [], 'symbols': [], 'ranges': {}}
    for line in run.stdout.decode('latin-1').split('\n')[:-1]:
        kind, _, rest = line.partition(' ')
        if kind == 'file':
            image['file'] = [int(v) for v in rest.split(' ')]
        elif kind == 'range':
            what, offset, size = rest.split(' ')
            image['ranges'][what] = (int(offset), int(size))
        elif kind == 'section':
            fields = rest.split(' ', 9)
            image['sections'].append([int(v) for v in fields[:9]] + [fields[9]])
        elif kind == 'symbol':
            fields = rest.split(' ', 6)
            image['symbols'].append([int(v) for v in fields[:6]] + [fields[6]])
    return image


def main():
    exe, path = sys.argv[1], sys.argv[2]
    if shutil.which('readelf') is None:
        print('readelf (binutils) is not installed')
        return 77
    head, sections, symbols, tables = truth(path)
    image = probe(exe, path)
    problems = []

    def expect(what, got, want):
        if got != want:
            problems.append(f'{what}: the reader has {got!r}, readelf {want!r}')

    is64, big, machine, file_type, size, has_symtab, has_dynsym = image['file']
    expect('class', bool(is64), head['is64'])
    expect('byte order', bool(big), head['big'])
    expect('file type', file_type, head['type'])
    expect('file size', size, os.path.getsize(path))
    expect('has .symtab', bool(has_symtab), '.symtab' in tables)
    expect('has .dynsym', bool(has_dynsym), '.dynsym' in tables)
    ranges = image['ranges']
    expect('ELF header', ranges['header'], (0, head['ehsize']))
    want = (head['phoff'], head['phnum'] * head['phentsize']) if head['phnum'] else (0, 0)
    expect('program headers', ranges['program'], want)
    want = (head['shoff'], head['shnum'] * head['shentsize']) if head['shnum'] else (0, 0)
    expect('section headers', ranges['sections'], want)

    expect('section count', len(image['sections']), len(sections))
    names = {}
    for ours, theirs in zip(image['sections'], sections):
        index, stype, flags, address, offset, ssize, align, link, info, name = ours
        number, tname, ttype, taddr, toff, tsize, _es, tflags, tlink, tinfo, talign = theirs
        names[index] = name
        label = f'section {number} ({tname})'
        expect(f'{label} index', index, int(number))
        expect(f'{label} name', name, tname)
        if stype in SECTION_TYPES or not ttype.isupper() or stype < 0x60000000:
            expect(f'{label} type', SECTION_TYPES.get(stype, hex(stype)), ttype)
        letters = ''.join(k for k, bit in FLAG_LETTERS.items() if flags & bit)
        expect(f'{label} flags', letters, ''.join(c for c in tflags if c in FLAG_LETTERS))
        expect(f'{label} address', address, int(taddr, 16))
        expect(f'{label} offset', offset, int(toff, 16) if stype != 0 else 0)
        expect(f'{label} size', ssize, int(tsize, 16))
        expect(f'{label} alignment', align, int(talign))
        expect(f'{label} link', link, int(tlink))
        expect(f'{label} info', info, int(tinfo))

    defined = [s for s in symbols if s[6] != 'UND' and s[0] != '0']
    expect('defined symbol count', len(image['symbols']), len(defined))
    for ours, theirs in zip(image['symbols'], defined):
        value, ssize, stype, binding, visibility, index, name = ours
        number, tvalue, tsize, ttype, tbind, tvis, tindex, tname = theirs
        tname = tname or ''
        label = f'symbol {number} ({tname})'
        expect(f'{label} value', value, int(tvalue, 16))
        expect(f'{label} size', ssize, int(tsize, 0))
        expect(f'{label} type', stype, SYMBOL_TYPES.get(ttype, ttype))
        expect(f'{label} binding', binding, BINDINGS.get(tbind, tbind))
        expect(f'{label} visibility', visibility, VISIBILITIES.get(tvis, tvis))
        expect(f'{label} section', index,
               SPECIAL_INDEXES[tindex] if tindex in SPECIAL_INDEXES else int(tindex))
        # readelf shows a section symbol without a name under its section's name.
        if not (stype == 3 and name == '' and tname == names.get(index)):
            expect(f'{label} name', name, tname)

    if problems:
        print(f'{path}: {len(problems)} differences')
        for problem in problems[:40]:
            print('  ' + problem)
        return 1
    print(f'{path}: {len(image["sections"])} sections and {len(image["symbols"])} defined symbols '
          'as readelf reads them')
    return 0


if __name__ == '__main__':
    sys.exit(main())
