#!/usr/bin/env python3
"""Scripts cut into statements: a large script file, and one long statement on standard input.

Usage: bench/script_bench.py BUILD_DIR
1. split_bench: reading and cutting a 10 MB script of 100,000 statements and a 100 MB one
   of 1,000,000 (time must grow linearly), and one statement of 100 MB on one line.
2. One statement of 1 MB spread over 100,000 lines, run by sqlterm on SQLite through "-qi"
   (standard input) and through "-qf" (the same file); "-qi" should take at most about twice
   as long. Times are CPU seconds (user + system) of the measured process, best of 3.
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from benchlib import run_measured  # noqa: E402


def best(cmd, stdin=None, runs=3):
    results = [run_measured(cmd, stdin=stdin) for _ in range(runs)]
    return min(r[1] for r in results), max(r[2] for r in results)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    sqlterm = os.path.join(build, "Src", "sqlterm")
    split_bench = os.path.join(build, "bench", "split_bench")
    for n in (100000, 1000000, -100000000):
        subprocess.run([split_bench, str(n)], check=True)

    work = tempfile.mkdtemp(prefix="vela-bench-")
    script = os.path.join(work, "long.sql")
    with open(script, "w") as f:
        f.write("select length('\n")
        for _ in range(100000):
            f.write("xxxxxxxxx\n")
        f.write("') as n;\n")
    size = os.path.getsize(script)
    cs = f"Driver=SQLite3;Database={os.path.join(work, 'x.db')};"
    qi = best([sqlterm, "-cs:" + cs, "-do", "-qi"], stdin=script)
    qf = best([sqlterm, "-cs:" + cs, "-do", "-qf:" + script])
    print(f"one statement of {size / 1e6:.1f} MB over 100,000 lines:")
    print(f"  sqlterm -qf          {qf[0]:7.3f} s  {qf[1]:7.1f} MiB")
    print(f"  sqlterm -qi (stdin)  {qi[0]:7.3f} s  {qi[1]:7.1f} MiB   ratio {qi[0] / qf[0]:.2f}")
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
