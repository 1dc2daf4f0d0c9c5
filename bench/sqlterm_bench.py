#!/usr/bin/env python3
"""sqlterm printing a large result against a bare ODBC fetch loop, on SQLite, PostgreSQL and MariaDB.

Usage: bench/sqlterm_bench.py BUILD_DIR [ROWS]
Five columns (integer, varchar(20), double, timestamp, varchar(40)); output to /dev/null.
Then "-lc" on ROWS / 10 rows whose fifth column is a TEXT of 1 KiB values, against a bare loop
that reads that column with SQLGetData.
Times are CPU seconds (user + system) of the measured process, best of 3 (BENCH_RUNS=n to change).
"""
import os
import subprocess
import sys
import tempfile


sys.path.insert(0, os.path.dirname(__file__))
from benchlib import MariaTemp, PgTemp, run_measured  # noqa: E402

SELECT = "select id, name, amount, created, note from big"


def timed(cmd):
    """CPU seconds (steadier than wall time on a shared machine) and peak RSS (MiB)."""
    _, cpu, rss = run_measured(cmd)
    return cpu, rss


RUNS = int(os.environ.get("BENCH_RUNS", "3"))


def best(cmd, runs=RUNS):
    results = [timed(cmd) for _ in range(runs)]
    return min(r[0] for r in results), max(r[1] for r in results)


def measure(label, cs, sqlterm, bare, rows):
    select = f"{SELECT} where id <= {rows}"
    b = best([bare, cs, select])
    print(f"{label}, {rows} rows:")
    print(f"  bare ODBC fetch loop        {b[0]:7.3f} s  {b[1]:7.1f} MiB")
    for name, args in (("-do -cd:,", ["-do", "-cd:,"]), ("-csv", ["-csv"]), ("space mode", [])):
        t = best([sqlterm, "-cs:" + cs] + args + ["-q:" + select])
        print(f"  sqlterm {name:19} {t[0]:7.3f} s  {t[1]:7.1f} MiB   ratio {t[0] / b[0]:.2f}")


def measure_long(label, cs, sqlterm, bare, rows):
    """-lc with a TEXT column of 1 KiB values, against a bare loop that reads it with SQLGetData."""
    select = f"select id, name, amount, created, body from wide where id <= {rows}"
    b = best([bare, cs, select])
    print(f"{label}, {rows} rows with a 1 KiB TEXT column:")
    print(f"  bare loop with SQLGetData   {b[0]:7.3f} s  {b[1]:7.1f} MiB")
    for name, args in (("-lc -do -cd:,", ["-lc", "-do", "-cd:,"]), ("-lc -csv", ["-lc", "-csv"]),
                       ("-lc:40 space mode", ["-lc:40"])):
        t = best([sqlterm, "-cs:" + cs] + args + ["-q:" + select])
        print(f"  sqlterm {name:19} {t[0]:7.3f} s  {t[1]:7.1f} MiB   ratio {t[0] / b[0]:.2f}")


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    sqlterm = os.path.join(build, "Src", "sqlterm")
    bare = os.path.join(build, "bench", "odbc_fetch_bare")
    work = tempfile.mkdtemp(prefix="vela-bench-")
    db = os.path.join(work, "big.db")
    subprocess.run(["sqlite3", db,
                    "create table big(id integer, name varchar(20), amount double, created timestamp, note varchar(40));"
                    f"with recursive n(i) as (select 1 union all select i + 1 from n where i < {rows}) "
                    "insert into big select i, 'name ' || i, i * 1.25, '2024-01-02 03:04:05', "
                    "'a note of some forty characters, ' || i from n;"], check=True)
    long_rows = max(rows // 10, 1)
    subprocess.run(["sqlite3", db,
                    "create table wide(id integer, name varchar(20), amount double, created timestamp, body text);"
                    f"with recursive n(i) as (select 1 union all select i + 1 from n where i < {long_rows}) "
                    "insert into wide select i, 'name ' || i, i * 1.25, '2024-01-02 03:04:05', "
                    "replace(hex(zeroblob(500)), '00', 'ab') || printf('%024d', i) from n;"], check=True)
    cs = f"Driver=SQLite3;Database={db};"
    for n in (rows // 10, rows):
        measure("SQLite", cs, sqlterm, bare, n)
    measure_long("SQLite", cs, sqlterm, bare, long_rows)
    pg = PgTemp()
    try:
        pg.psql("create table big(id integer, name varchar(20), amount double precision, created timestamp, "
                "note varchar(40))")
        pg.psql(f"insert into big select i, 'name ' || i, i * 1.25, timestamp '2024-01-02 03:04:05', "
                f"'a note of some forty characters, ' || i from generate_series(1, {rows}) i")
        for n in (rows // 10, rows):
            measure("PostgreSQL", pg.connection_string(), sqlterm, bare, n)
        pg.psql("create table wide(id integer, name varchar(20), amount double precision, created timestamp, body text)")
        pg.psql(f"insert into wide select i, 'name ' || i, i * 1.25, timestamp '2024-01-02 03:04:05', "
                f"repeat('ab', 500) || lpad(i::text, 24, '0') from generate_series(1, {long_rows}) i")
        measure_long("PostgreSQL", pg.connection_string(), sqlterm, bare, long_rows)
    finally:
        pg.stop()
    maria = MariaTemp()
    try:
        maria.sql("create table big(id integer, name varchar(20), amount double precision, created timestamp null, "
                  "note varchar(40))")
        maria.sql(f"insert into big select seq, concat('name ', seq), seq * 1.25, '2024-01-02 03:04:05', "
                  f"concat('a note of some forty characters, ', seq) from seq_1_to_{rows}")
        for n in (rows // 10, rows):
            measure("MariaDB", maria.connection_string(), sqlterm, bare, n)
        maria.sql("create table wide(id integer, name varchar(20), amount double precision, created timestamp null, "
                  "body text)")
        maria.sql(f"insert into wide select seq, concat('name ', seq), seq * 1.25, '2024-01-02 03:04:05', "
                  f"concat(repeat('ab', 500), lpad(seq, 24, '0')) from seq_1_to_{long_rows}")
        measure_long("MariaDB", maria.connection_string(), sqlterm, bare, long_rows)
    finally:
        maria.stop()
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
