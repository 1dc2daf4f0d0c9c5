#!/usr/bin/env python3
"""sqlterm's "-format" layouts on a large result against the bare ODBC fetch loop, in one run.

Usage: bench/format_bench.py BUILD_DIR [ROWS] [sqlite,pg,maria]
Five columns (integer, varchar(20), double, timestamp, varchar(40)); output to /dev/null.
Times are CPU seconds (user + system) of the measured process, best of 3 (BENCH_RUNS=n to change).
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from benchlib import MariaTemp, PgTemp, fill_big_maria, fill_big_pg, fill_big_sqlite, run_measured  # noqa: E402

SELECT = "select id, name, amount, created, note from big"
RUNS = int(os.environ.get("BENCH_RUNS", "3"))
LAYOUTS = (("-format:aligned -do", ["-format:aligned", "-do"]), ("-format:json", ["-format:json"]),
           ("-format:jsonl", ["-format:jsonl"]), ("-format:markdown", ["-format:markdown"]),
           ("-format:vertical", ["-format:vertical"]), ("-csv (for comparison)", ["-csv"]))


def best(cmd):
    results = [run_measured(cmd) for _ in range(RUNS)]
    return min(r[1] for r in results), max(r[2] for r in results)


def measure(label, cs, sqlterm, bare, rows):
    select = f"{SELECT} where id <= {rows}"
    b = best([bare, cs, select])
    print(f"{label}, {rows} rows:")
    print(f"  bare ODBC fetch loop          {b[0]:7.3f} s  {b[1]:7.1f} MiB")
    for name, args in LAYOUTS:
        t = best([sqlterm, "-cs:" + cs] + args + ["-q:" + select])
        print(f"  sqlterm {name:21} {t[0]:7.3f} s  {t[1]:7.1f} MiB   ratio {t[0] / b[0]:.2f}", flush=True)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    kinds = sys.argv[3].split(",") if len(sys.argv) > 3 else ["sqlite", "pg", "maria"]
    sqlterm = os.path.join(build, "Src", "sqlterm")
    bare = os.path.join(build, "bench", "odbc_fetch_bare")
    if "sqlite" in kinds:
        work = tempfile.mkdtemp(prefix="vela-bench-")
        db = os.path.join(work, "big.db")
        fill_big_sqlite(db, rows)
        measure("SQLite", f"Driver=SQLite3;Database={db};", sqlterm, bare, rows)
        subprocess.run(["rm", "-rf", work])
    if "pg" in kinds:
        pg = PgTemp()
        try:
            fill_big_pg(pg, rows)
            measure("PostgreSQL", pg.connection_string(), sqlterm, bare, rows)
        finally:
            pg.stop()
    if "maria" in kinds:
        maria = MariaTemp()
        try:
            fill_big_maria(maria, rows)
            measure("MariaDB", maria.connection_string(), sqlterm, bare, rows)
        finally:
            maria.stop()


if __name__ == "__main__":
    main()
