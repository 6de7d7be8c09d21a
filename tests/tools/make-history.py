#!/usr/bin/env python3
"""Makes the maps of a history of real builds: one D program that grows from build to build (more
modules, more template instances, a function that grows and one that goes away now and then),
built by gdc for the first half of the builds and by ldc2 for the second (a project that changes
compilers once), each linked by GNU ld with a map. With --record, records them in order into a
history with vorlith, keeping each build's document beside its map.

usage: make-history.py OUTDIR [--builds=N] [--record=VORLITH]

OUTDIR/NNN-gdc.map or OUTDIR/NNN-ldc2.map for each build NNN, and with --record also
OUTDIR/NNN-*.json and OUTDIR/history.db (labels NNN-gdc, NNN-ldc2). tests/data/history/ holds
the maps of --builds=6, which the CTest history.real records and checks."""
import os
import shutil
import subprocess
import sys
import tempfile

TYPES = ["int", "long", "short", "byte", "uint", "ulong", "float", "double", "ushort", "ubyte"]


def module_source(j, step):
    instances = 1 + (step + j) % len(TYPES)
    lines = [f"module grow.m{j};", "",
             "struct Box(T) {", "    T[] items;", "    void put(T x) { items ~= x; }",
             "    T total() { T s = 0; foreach (x; items) s += x; return s; }", "}", "",
             "T twice(T)(T x) { return cast(T)(x + x); }", ""]
    # A function whose body grows with the build number: its size changes from run to run.
    lines.append("int grows(int x) {")
    lines.append("    int r = x;")
    for k in range(step % 7 + j % 3):
        lines.append(f"    r = r * {k + 3} + (r >> {k % 5 + 1});")
    lines.append("    return r;")
    lines.append("}")
    if step % 5 != 0:  # goes away in every fifth build
        lines.append(f"int sometimes{j}(int x) {{ return x * {step % 9 + 2}; }}")
    lines.append("")
    lines.append("int run() {")
    lines.append("    int sum = grows(3);")
    for t in TYPES[:instances]:
        lines.append(f"    {{ Box!({t}) b; b.put(cast({t}) 1); sum += cast(int) b.total(); "
                     f"sum += cast(int) twice!({t})(cast({t}) 2); }}")
    if step % 5 != 0:
        lines.append(f"    sum += sometimes{j}(sum);")
    lines.append("    return sum;")
    lines.append("}")
    return "\n".join(lines) + "\n"


def app_source(modules):
    imports = "\n".join(f"static import grow.m{j};" for j in range(modules))
    calls = "\n".join(f"    sum += grow.m{j}.run();" for j in range(modules))
    return (f"module app;\n\nimport core.stdc.stdio : printf;\n{imports}\n\n"
            f"int main() {{\n    int sum = 0;\n{calls}\n    printf(\"%d\\n\", sum);\n"
            f"    return 0;\n}}\n")


def build(step, compiler, out_map, work):
    modules = 1 + step // 20
    src = os.path.join(work, "src")
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(os.path.join(src, "grow"))
    with open(os.path.join(src, "app.d"), "w") as f:
        f.write(app_source(modules))
    for j in range(modules):
        with open(os.path.join(src, "grow", f"m{j}.d"), "w") as f:
            f.write(module_source(j, step))
    files = ["app.d"] + [f"grow/m{j}.d" for j in range(modules)]
    objects = []
    for name in files:
        obj = name.replace("/", "-").replace(".d", ".o")
        if compiler == "gdc":
            cmd = ["gdc", "-O1", "-ffunction-sections", "-fdata-sections", "-c", name, "-o", obj]
        else:
            cmd = ["ldc2", "-O1", "-c", name, "-of=" + obj]
        subprocess.run(cmd, cwd=src, check=True)
        objects.append(obj)
    if compiler == "gdc":
        link = ["gdc", "-shared-libphobos", "-o", "app", *objects, "-Wl,-Map=app.map"]
    else:
        link = ["ldc2", "-link-defaultlib-shared", "-of=app", *objects, "-L-Map=app.map"]
    subprocess.run(link, cwd=src, check=True)
    shutil.copyfile(os.path.join(src, "app.map"), out_map)


def main():
    out = sys.argv[1]
    opts = dict(a[2:].split("=", 1) for a in sys.argv[2:] if a.startswith("--"))
    builds = int(opts.get("builds", "200"))
    vorlith = opts.get("record")
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        half = (builds + 1) // 2
        for n in range(builds):
            compiler = "gdc" if n < half else "ldc2"
            name = f"{n:03d}-{compiler}"
            the_map = os.path.join(out, name + ".map")
            build(n % half, compiler, the_map, work)
            if vorlith:
                subprocess.run([vorlith, "--record=" + os.path.join(out, "history.db"),
                                "--label=" + name, the_map, os.path.join(out, name + ".json")],
                               check=True)
            print(name, flush=True)


if __name__ == "__main__":
    main()
