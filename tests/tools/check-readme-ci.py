#!/usr/bin/env python3
"""Runs the documented CI example (the YAML block of the "## CI" section of
docs/reports-and-ci.md) the way a CI runner would run its shell steps, on real
builds of one program (viewer/test/builds), in a git repository of its own: a first build on the main
branch starts the history that the cache keeps; a build that grew past the budget fails with
status 3 and still leaves its reports and trend page; a build within the budget passes. The
cache is restored before each build and saved after the main branch's builds only, as the
example's cache steps say. The YAML is read with PyYAML, so the example is valid YAML too.

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
    restore = steps["The main branch's size history"]
    save = steps["Keep the history"]
    expect(save["if"] == "github.ref == 'refs/heads/main'", "the history is kept from main only")
    expect(restore["with"]["path"] == save["with"]["path"] == "size-history.db",
           "the cache keeps the history")
    # The example builds with a current ldc2, whose D names only --modern reads.
    maps_read = check["run"].count("vorlith ") - check["run"].count("vorlith history ")
    expect(check["run"].count("vorlith --modern ") == maps_read,
           "every run of the size check that reads the map reads it with --modern")
    vorlith_dir = os.path.dirname(os.path.abspath(vorlith))
    with tempfile.TemporaryDirectory() as work, tempfile.TemporaryDirectory() as cache:
        git = ["git", "-c", "user.name=ci", "-c", "user.email=ci@example.org"]
        subprocess.run(git + ["init", "-q"], cwd=work, check=True)
        subprocess.run(git + ["commit", "-q", "--allow-empty", "-m", "build"], cwd=work,
                       check=True)
        reports = ["size.json", "size.csv", "size-report.html", "size-trend.html"]
        kept = os.path.join(cache, "size-history.db")
        history = os.path.join(work, "size-history.db")

        def build(map_name, status, *, main_branch):
            shutil.copyfile(os.path.join(builds, map_name), os.path.join(work, "app.map"))
            for f in reports + ["size-history.db"]:
                if os.path.exists(os.path.join(work, f)):
                    os.remove(os.path.join(work, f))
            if os.path.exists(kept):  # actions/cache/restore
                shutil.copyfile(kept, history)
            r = run_step(check, work, vorlith_dir)
            expect(r.returncode == status, f"{map_name}: status {r.returncode}, not {status}", r)
            for f in reports:
                expect(os.path.exists(os.path.join(work, f)), f"{map_name}: no {f}", r)
            if main_branch and status == 0:  # actions/cache/save after the steps passed
                shutil.copyfile(history, kept)
            return r

        def runs_kept():
            r = subprocess.run([vorlith, "history", kept], capture_output=True, text=True)
            expect(r.returncode == 0, "the kept history reads", r)
            return r.stdout

        first = build("before.map", 0, main_branch=True)
        expect("Comparison" not in first.stdout and first.stdout.startswith("Total: "),
               "the first build has nothing to compare with", first)
        expect(": 1 run, " in runs_kept(), "the main build starts the history")
        grown = build("after.map", 3, main_branch=False)
        expect("SIZE BUDGET EXCEEDED" in grown.stdout and "Groups that grew most:" in grown.stdout,
               "the grown build says why it failed", grown)
        trend = open(os.path.join(work, "size-trend.html"), encoding="utf-8").read()
        expect('id="vorlith-history"' in trend, "the failed build's trend page shows its run")
        same = build("before.map", 0, main_branch=False)
        expect("Within the size budget: 0 bytes" in same.stdout, "an unchanged build passes", same)
        # Only the main branch's build was kept.
        expect(": 1 run, " in runs_kept(), "the other branches' builds are not kept")
        build("before.map", 0, main_branch=True)
        expect(": 2 runs, " in runs_kept(), "the next main build is added")
    print("documented CI example: first build started the history, grown build failed with 3 and "
          "kept its reports, same build passed, only main builds kept")


if __name__ == "__main__":
    main()
