#!/usr/bin/env python3
"""Scripts cut into statements: a large script file, and one long statement on standard input.

Usage: bench/script_bench.py BUILD_DIR
1. split_bench: reading and cutting a 10 MB script of 100,000 statements and a 100 MB one
   of 1,000,000 (time must grow linearly), and one statement of 100 MB on one line.
2. One statement of 1 MB spread over 100,000 lines, run by sqlterm on SQLite through "-qi"
   (standard input) and through "-qf" (the same file); "-qi" should take at most about twice
   as long. Times are CPU seconds (user + system) of the measured process, best of 3.
3. Memory of "-qf", against the sqlite3 shell on the same files: a 40 MB script of INSERTs
   (statements run as they are read: the peak stays near that of an empty script), and one
   INSERT of a 100 MB literal (at most 3 times its UTF-16 size beyond an empty script's peak,
   and within twice the shell's time).
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
    script_memory(sqlterm, work)
    subprocess.run(["rm", "-rf", work])


def script_memory(sqlterm, work):
    empty = os.path.join(work, "empty.sql")
    with open(empty, "w") as f:
        f.write("create table if not exists t(a integer, b text);\n")
    inserts = os.path.join(work, "inserts.sql")
    with open(inserts, "w") as f:
        f.write("create table if not exists t(a integer, b text);\nbegin;\n")
        row = "x" * 80
        n = 0
        while f.tell() < 40_000_000:
            f.write(f"insert into t values({n}, '{row};{n}');\n")
            n += 1
        f.write("commit;\n")
    big = os.path.join(work, "big.sql")
    with open(big, "w") as f:
        f.write("create table if not exists t(a integer, b text);\ninsert into t values(0, '")
        chunk = "y" * 1_000_000
        for _ in range(100):
            f.write(chunk)
        f.write("');\n")
    print("script memory (-qf against the sqlite3 shell; peak RSS, CPU time):")
    for name, path in (("empty", empty), ("40 MB of INSERTs", inserts), ("one 100 MB INSERT", big)):
        size = os.path.getsize(path)
        db = os.path.join(work, "m.db")
        for tool, cmd in (("sqlterm -qf", [sqlterm, f"-cs:Driver=SQLite3;Database={db};", "-do", "-qf:" + path]),
                          ("sqlite3", ["sqlite3", db, ".read " + path])):
            if os.path.exists(db):
                os.remove(db)
            wall, cpu, rss = run_measured(cmd)
            print(f"  {name:18} {size / 1e6:6.1f} MB  {tool:12} {cpu:7.2f} s  {rss:7.1f} MiB")


if __name__ == "__main__":
    main()
