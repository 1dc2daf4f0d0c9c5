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
from benchlib import MariaTemp, PgTemp, run_measured  # noqa: E402

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
        subprocess.run(["sqlite3", db,
                        "create table big(id integer, name varchar(20), amount double, created timestamp, "
                        "note varchar(40));"
                        f"with recursive n(i) as (select 1 union all select i + 1 from n where i < {rows}) "
                        "insert into big select i, 'name ' || i, i * 1.25, '2024-01-02 03:04:05', "
                        "'a note of some forty characters, ' || i from n;"], check=True)
        measure("SQLite", f"Driver=SQLite3;Database={db};", sqlterm, bare, rows)
        subprocess.run(["rm", "-rf", work])
    if "pg" in kinds:
        pg = PgTemp()
        try:
            pg.psql("create table big(id integer, name varchar(20), amount double precision, created timestamp, "
                    "note varchar(40))")
            pg.psql(f"insert into big select i, 'name ' || i, i * 1.25, timestamp '2024-01-02 03:04:05', "
                    f"'a note of some forty characters, ' || i from generate_series(1, {rows}) i")
            measure("PostgreSQL", pg.connection_string(), sqlterm, bare, rows)
        finally:
            pg.stop()
    if "maria" in kinds:
        maria = MariaTemp()
        try:
            maria.sql("create table big(id integer, name varchar(20), amount double precision, "
                      "created timestamp null, note varchar(40))")
            maria.sql(f"insert into big select seq, concat('name ', seq), seq * 1.25, '2024-01-02 03:04:05', "
                      f"concat('a note of some forty characters, ', seq) from seq_1_to_{rows}")
            measure("MariaDB", maria.connection_string(), sqlterm, bare, rows)
        finally:
            maria.stop()


if __name__ == "__main__":
    main()
