#!/usr/bin/env python3
"""Runs the documented CI example (the YAML block of the "## CI" section of
docs/reports-and-ci.md) the way a CI runner would run its shell steps, on real builds
of one program (viewer/test/builds): a first build on the main branch keeps its document as the
base; a build that grew past the budget fails with status 3 and still leaves its report; a build
within the budget passes. The YAML is read with PyYAML, so the example is valid YAML too.

usage: check-readme-ci.py VORLITH DOC BUILDS_DIR"""
import os
import shutil
import subprocess
import sys
import tempfile

import yaml


def example_steps(doc):
    text = open(doc, encoding="utf-8").read()
    section = text.split("\n## CI\n", 1)[1]
    block = section.split("```yaml\n", 1)[1].split("```", 1)[0]
    workflow = yaml.safe_load(block)
    (job,) = workflow["jobs"].values()
    return {step["name"]: step for step in job["steps"] if "name" in step}


def run_step(step, cwd, vorlith_dir):
    env = dict(os.environ, PATH=vorlith_dir + os.pathsep + os.environ["PATH"])
    # GitHub runs "run:" with bash -e; the example needs no more than sh.
    return subprocess.run(["sh", "-e", "-c", step["run"]], cwd=cwd, env=env,
                          capture_output=True, text=True)


def expect(condition, message, result=None):
    if not condition:
        detail = f"\n--- stdout\n{result.stdout}\n--- stderr\n{result.stderr}" if result else ""
        sys.exit("check-readme-ci: " + message + detail)


def main():
    vorlith, doc, builds = sys.argv[1:4]
    steps = example_steps(doc)
    check = steps["Size check"]
    keep = steps["This document is the next base"]
    expect(keep["if"] == "github.ref == 'refs/heads/main'", "the base is kept from main only")
    # The example builds with a current ldc2, whose D names only --modern reads.
    expect(check["run"].count("vorlith --modern ") == check["run"].count("vorlith "),
           "every run of the size check reads the map with --modern")
    vorlith_dir = os.path.dirname(os.path.abspath(vorlith))
    with tempfile.TemporaryDirectory() as work:
        reports = ["size.json", "size.csv", "size-report.html"]

        def build(map_name, status, *, main_branch):
            shutil.copyfile(os.path.join(builds, map_name), os.path.join(work, "app.map"))
            for f in reports:
                if os.path.exists(os.path.join(work, f)):
                    os.remove(os.path.join(work, f))
            r = run_step(check, work, vorlith_dir)
            expect(r.returncode == status, f"{map_name}: status {r.returncode}, not {status}", r)
            for f in reports:
                expect(os.path.exists(os.path.join(work, f)), f"{map_name}: no {f}", r)
            if main_branch and status == 0:
                k = run_step(keep, work, vorlith_dir)
                expect(k.returncode == 0, "keeping the base failed", k)
            return r

        first = build("before.map", 0, main_branch=True)
        expect("Comparison" not in first.stdout and first.stdout.startswith("Total: "),
               "the first build has nothing to compare with", first)
        grown = build("after.map", 3, main_branch=False)
        expect("SIZE BUDGET EXCEEDED" in grown.stdout and "Groups that grew most:" in grown.stdout,
               "the grown build says why it failed", grown)
        same = build("before.map", 0, main_branch=False)
        expect("Within the size budget: 0 bytes" in same.stdout, "an unchanged build passes", same)
        # The failed build kept no base: the main branch's first document still is.
        base = open(os.path.join(work, "size-base.json"), "rb").read()
        expect(base == open(os.path.join(work, "size.json"), "rb").read(),
               "the base is the main build's document")
    print("documented CI example: first build kept as base, grown build failed with 3, same build passed")


if __name__ == "__main__":
    main()
