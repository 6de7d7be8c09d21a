#!/usr/bin/env python3
"""Lists what a test run covered, and checks that a run covers at least what a recorded list
does: no test dropped.

  coverage.py list BUILD_DIR [PAGE_LOG]   print the list: every CTest by name, with how each
                                          fuzz test replays its corpora, and the page tests
  coverage.py check LIST BUILD_DIR        fail when a test of LIST is missing from BUILD_DIR's
                                          last run, or ran and did not pass

A list has one line per item: "ctest NAME", "corpus TARGET DIR FILES" (a fuzz corpus or
regression directory that the test fuzz.TARGET replays, with its number of files), "page NAME"
(a test of the treemap page's suite, as node's test runner names it). The page tests are read
from the output of that suite: PAGE_LOG, or the CTests page.tests.* in the build's last run."""
import json
import os
import re
import subprocess
import sys


def ctest_tests(build):
    # Even listing the tests makes ctest write a new LastTest.log: put the run's log back.
    path = os.path.join(build, "Testing", "Temporary", "LastTest.log")
    kept = open(path, "rb").read() if os.path.exists(path) else None
    try:
        out = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"],
                             capture_output=True, text=True, check=True).stdout
    finally:
        if kept is not None:
            with open(path, "wb") as log:
                log.write(kept)
    return json.loads(out)["tests"]


def corpora(test):
    """The corpus and regression directories on a fuzz test's command line."""
    name = test["name"][len("fuzz."):]
    for arg in test.get("command", [])[1:]:
        if os.path.isdir(arg):
            files = sum(1 for entry in os.scandir(arg) if entry.is_file())
            kind = os.path.basename(os.path.dirname(arg))  # corpus or regressions
            yield f"corpus {name} {kind}/{os.path.basename(arg)} {files}"


def page_tests(text):
    """Test and suite names from the output of node's test runner (TAP or spec reporter)."""
    names = set()
    for line in text.splitlines():
        tap = re.match(r"^\s*ok \d+ - (.*)$", line)
        spec = re.match(r"^\s*\u2714 (.*?)(?: \([\d.]+ms\))?$", line)
        match = tap or spec
        if match:
            names.add(match.group(1).strip())
    return names


def last_test_log(build):
    """The log of the build's last CTest run: every test's command, output and result. Any
    ctest call, even one that only lists the tests, replaces it."""
    path = os.path.join(build, "Testing", "Temporary", "LastTest.log")
    return open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else ""


def page_output_in_log(log):
    """The output that the CTest page.tests (or its parts, page.tests.*) left in a LastTest.log."""
    return "".join(re.findall(
        r"^\d+/\d+ Test: page\.tests(?:\.\S+)?$.*?^Output:\n-+\n(.*?)^<end of output>", log,
        re.M | re.S))


def listing(build, page_log=None, log=None):
    """log: the build's LastTest.log as read before any ctest call, which would replace it."""
    if log is None:
        log = last_test_log(build)
    lines = []
    for test in ctest_tests(build):
        lines.append(f"ctest {test['name']}")
        if test["name"].startswith("fuzz."):
            lines.extend(corpora(test))
    page_text = open(page_log, encoding="utf-8").read() if page_log else page_output_in_log(log)
    lines.extend(f"page {name}" for name in page_tests(page_text))
    return sorted(set(lines))


def passed_in_last_run(log):
    """Names of the tests that passed in a CTest run, from its LastTest.log."""
    passed = set()
    for match in re.finditer(r'^\d+/\d+ Test: (\S+)$(.*?)^"\1" end time', log, re.M | re.S):
        if "\nTest Passed.\n" in match.group(2):
            passed.add(match.group(1))
    return passed


def check(recorded, build):
    log = last_test_log(build)  # first: ctest --show-only below writes a new, empty one
    now = set(listing(build, log=log))
    passed = passed_in_last_run(log)
    missing = []
    for line in open(recorded, encoding="utf-8").read().splitlines():
        if not line or line.startswith("#"):
            continue
        kind, rest = line.split(" ", 1)
        if kind == "corpus":
            target, directory, files = rest.rsplit(" ", 2)
            found = [n for n in now if n.startswith(f"corpus {target} {directory} ")]
            if not found or int(found[0].rsplit(" ", 1)[1]) < int(files):
                missing.append(line + " (now: " + (found[0] if found else "not replayed") + ")")
        elif line not in now:
            missing.append(line)
        elif kind == "ctest" and rest not in passed:
            missing.append(line + " (did not pass in the last run)")
    counts = {}
    for line in now:
        counts[line.split(" ", 1)[0]] = counts.get(line.split(" ", 1)[0], 0) + 1
    print("this run: " + ", ".join(f"{n} {k}" for k, n in sorted(counts.items())))
    if missing:
        print(f"{len(missing)} of the recorded list not covered:")
        print("\n".join("  " + m for m in missing))
        return 1
    print("every test, corpus and page test of " + recorded + " ran and passed")
    return 0


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "list":
        print("\n".join(listing(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)))
        return 0
    if len(sys.argv) == 4 and sys.argv[1] == "check":
        return check(sys.argv[2], sys.argv[3])
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main())
