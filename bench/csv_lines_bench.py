#!/usr/bin/env python3
"""Reading CSV records that take many lines, side by side with plain files of as many lines.

Usage: bench/csv_lines_bench.py BUILD_DIR
Into SQLite without syncs (the reading is what is measured, not the database), table
t(a integer, b text):
  quoted N        one record whose quoted field takes N lines (N = 20k, 40k, 80k, 3M)
  plain N         N one-line records (the baseline)
  stray quote     80,001 lines with an unclosed quote on line 3: the record fails, the lines
                  after it are read again and load
  plain 80,001    the same file without the stray quote
Times are wall seconds, best of BENCH_RUNS (default 2); the summary sqlterm printed follows.
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from benchlib import run_measured  # noqa: E402

RUNS = int(os.environ.get("BENCH_RUNS", "2"))


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    sqlterm = os.path.join(build, "Src", "sqlterm")
    work = tempfile.mkdtemp(prefix="vela-csvbench-")
    db = os.path.join(work, "t.db")
    cs = f"Driver=SQLite3;Database={db};SyncPragma=off;"

    def reset():
        subprocess.run(["sqlite3", db, "drop table if exists t; create table t(a integer, b text)"], check=True)

    def load(name, lines):
        path = os.path.join(work, name)
        with open(path, "w") as f:
            f.writelines(lines)
        cmd = [sqlterm, "-cs:" + cs, f"-q:\\copy t from '{path}' with (format csv)"]
        best = None
        for _ in range(RUNS):
            reset()
            wall, cpu, rss = run_measured(cmd)
            best = (wall, cpu, rss) if best is None or wall < best[0] else best
        reset()
        out = subprocess.run(cmd, capture_output=True, text=True).stdout
        summary = [line for line in out.splitlines() if line.startswith("Rows loaded")]
        os.remove(path)
        return best, summary[-1] if summary else "?"

    def show(label, result):
        (wall, cpu, rss), summary = result
        print(f"  {label:24} {wall:7.2f} s wall {cpu:7.2f} s CPU {rss:7.0f} MiB   {summary}")
        sys.stdout.flush()

    print("CSV records over many lines, SQLite:")
    for n in (20000, 40000, 80000, 3000000):
        quoted = ["1,\"first line\n"] + [f"line {i} of the field\n" for i in range(2, n)] + ["last\"\n"]
        show(f"quoted {n} lines", load("quoted.csv", quoted))
        show(f"plain {n} lines", load("plain.csv", (f"{i},line {i} of the field\n" for i in range(1, n + 1))))
    lines = [f"{i},line {i}\n" for i in range(1, 80002)]
    show("plain 80,001 lines", load("plain.csv", lines))
    lines[2] = "3,\"stray\n"
    show("stray quote, 80,001", load("stray.csv", lines))
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
