#!/usr/bin/env python3
"""Runs a command several times and prints its best wall time, its peak memory and its best
CPU time.

    measure.py RUNS COMMAND [ARG...]   ->   "<best wall s> <peak resident KiB> <best CPU s>"

The peak is the child's own maximum resident set size and the CPU time its user plus system
time, both from wait4() (what /usr/bin/time reports), so no extra package is needed. On a
machine shared with other work the CPU time is the steadier figure. Output of the command is
discarded; a failing run stops the measurement with its status.
"""
import os
import subprocess
import sys
import time


def main():
    runs = int(sys.argv[1])
    command = sys.argv[2:]
    best = None
    best_cpu = None
    peak = 0
    for _ in range(runs):
        start = time.perf_counter()
        child = subprocess.Popen(command, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            print(f"{' '.join(command)}: exit status {child.returncode}", file=sys.stderr)
            sys.exit(1)
        cpu = usage.ru_utime + usage.ru_stime
        best = elapsed if best is None else min(best, elapsed)
        best_cpu = cpu if best_cpu is None else min(best_cpu, cpu)
        peak = max(peak, usage.ru_maxrss)  # KiB on Linux
    print(f"{best:.4f} {peak} {best_cpu:.4f}")


if __name__ == "__main__":
    main()
