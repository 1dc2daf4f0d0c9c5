#!/usr/bin/env python3
"""sqlterm printing a large result against a bare ODBC fetch loop, on SQLite, PostgreSQL and MariaDB.

Usage: bench/sqlterm_bench.py BUILD_DIR [ROWS] [--streaming]
Five columns (integer, varchar(20), double, timestamp, varchar(40)); output to /dev/null.
Then "-lc" on ROWS / 10 rows whose fifth column is a TEXT of 1 KiB values, against a bare loop
that reads that column with SQLGetData.
Each case against two bare loops: every column bound as wide text, and as UTF-8 text
(odbc_fetch_bare -utf8). Then -csv with each driver's setting that buffers results, with those
that stream them, and as given (CPU and wall medians of BENCH_RUNS interleaved rounds, default 5);
--streaming runs only those.
Times are CPU seconds (user + system) of the measured process, best of 3 (BENCH_RUNS=n to change).
VELA_WIDE_CELLS=1 in the environment makes sqlterm keep the wide path.
"""
import os
import subprocess
import sys
import tempfile


sys.path.insert(0, os.path.dirname(__file__))
from benchlib import (MariaTemp, PgTemp, fill_big_maria, fill_big_pg, fill_big_sqlite,  # noqa: E402
                      interleaved_medians, run_measured)

SELECT = "select id, name, amount, created, note from big"


def timed(cmd):
    """CPU seconds (steadier than wall time on a shared machine) and peak RSS (MiB)."""
    _, cpu, rss = run_measured(cmd)
    return cpu, rss


RUNS = int(os.environ.get("BENCH_RUNS", "3"))


def best(cmd, runs=RUNS):
    results = [timed(cmd) for _ in range(runs)]
    return min(r[0] for r in results), max(r[1] for r in results)


def bare_loops(cs, bare, select):
    """The wide loop and the UTF-8 loop, interleaved."""
    wide, utf8 = [], []
    for _ in range(RUNS):
        wide.append(timed([bare, cs, select]))
        utf8.append(timed([bare, "-utf8", cs, select]))
    return (min(r[0] for r in wide), max(r[1] for r in wide)), (min(r[0] for r in utf8), max(r[1] for r in utf8))


def print_runs(cs, sqlterm, select, cases, wide, utf8):
    print(f"  bare loop, wide text        {wide[0]:7.3f} s  {wide[1]:7.1f} MiB")
    print(f"  bare loop, UTF-8 text       {utf8[0]:7.3f} s  {utf8[1]:7.1f} MiB   ratio to wide {utf8[0] / wide[0]:.2f}")
    for name, args in cases:
        t = best([sqlterm, "-cs:" + cs] + args + ["-q:" + select])
        print(f"  sqlterm {name:19} {t[0]:7.3f} s  {t[1]:7.1f} MiB   "
              f"ratio {t[0] / wide[0]:.2f} wide, {t[0] / utf8[0]:.2f} UTF-8")


def measure(label, cs, sqlterm, bare, rows):
    select = f"{SELECT} where id <= {rows}"
    wide, utf8 = bare_loops(cs, bare, select)
    print(f"{label}, {rows} rows:")
    print_runs(cs, sqlterm, select, (("-do -cd:,", ["-do", "-cd:,"]), ("-csv", ["-csv"]), ("space mode", [])),
               wide, utf8)


def measure_long(label, cs, sqlterm, bare, rows):
    """-lc with a TEXT column of 1 KiB values, against bare loops that read it with SQLGetData."""
    select = f"select id, name, amount, created, body from wide where id <= {rows}"
    wide, utf8 = bare_loops(cs, bare, select)
    print(f"{label}, {rows} rows with a 1 KiB TEXT column (bare loops read it with SQLGetData):")
    print_runs(cs, sqlterm, select, (("-lc -do -cd:,", ["-lc", "-do", "-cd:,"]), ("-lc -csv", ["-lc", "-csv"]),
                                     ("-lc:40 space mode", ["-lc:40"])), wide, utf8)


def measure_streaming(label, cs, buffered, settings, sqlterm, rows):
    """-csv with the driver's setting that buffers results (buffered), with each setting that
    streams them, and with the connection string as given: CPU and wall medians of interleaved
    rounds, peak memory, CPU against buffered reading."""
    select = f"{SELECT} where id <= {rows}"
    print(f"{label}, {rows} rows, -csv, buffered ({buffered}) against streaming:")
    cases = {name: [sqlterm, "-cs:" + cs + string, "-csv", "-q:" + select]
             for name, string in [(buffered, buffered + ";")] + [(s, s + ";") for s in settings] + [("as given", "")]}
    got = interleaved_medians(cases, wall=True)
    base = got[buffered][0]
    for name, (cpu, rss, wall) in got.items():
        print(f"  {name:32} CPU {cpu:7.3f} s  ratio {cpu / base:5.3f}  wall {wall:7.3f} s  {rss:7.1f} MiB")


STREAMING = {
    "SQLite": ("StepAPI=0", ["StepAPI=1"]),
    "PostgreSQL": ("UseDeclareFetch=0", ["UseDeclareFetch=1;Fetch=1000", "UseDeclareFetch=1;Fetch=2000",
                                         "UseDeclareFetch=1;Fetch=10000", "UseDeclareFetch=1;Fetch=50000"]),
    "MariaDB": ("OPTION=0", ["OPTION=1048576", "NO_CACHE=1"]),
}


def streaming_only(sqlterm, rows, work):
    """--streaming: only the runs with and without each driver's streaming setting."""
    db = os.path.join(work, "big.db")
    fill_big_sqlite(db, rows)
    measure_streaming("SQLite", f"Driver=SQLite3;Database={db};", *STREAMING["SQLite"], sqlterm, rows)
    for label, server_class, fill in (("PostgreSQL", PgTemp, fill_big_pg), ("MariaDB", MariaTemp, fill_big_maria)):
        server = server_class()
        try:
            fill(server, rows)
            measure_streaming(label, server.connection_string(), *STREAMING[label], sqlterm, rows)
        finally:
            server.stop()


def main():
    args = [a for a in sys.argv[1:] if a != "--streaming"]
    build = args[0] if args else "build"
    rows = int(args[1]) if len(args) > 1 else 1000000
    sqlterm = os.path.join(build, "Src", "sqlterm")
    bare = os.path.join(build, "bench", "odbc_fetch_bare")
    work = tempfile.mkdtemp(prefix="vela-bench-")
    if "--streaming" in sys.argv:
        streaming_only(sqlterm, rows, work)
        subprocess.run(["rm", "-rf", work])
        return
    db = os.path.join(work, "big.db")
    fill_big_sqlite(db, rows)
    long_rows = max(rows // 10, 1)
    subprocess.run(["sqlite3", db,
                    "create table wide(id integer, name varchar(20), amount double, created timestamp, body text);"
                    f"with recursive n(i) as (select 1 union all select i + 1 from n where i < {long_rows}) "
                    "insert into wide select i, 'name ' || i, i * 1.25, '2024-01-02 03:04:05', "
                    "replace(hex(zeroblob(500)), '00', 'ab') || printf('%024d', i) from n;"], check=True)
    cs = f"Driver=SQLite3;Database={db};"
    for n in (rows // 10, rows):
        measure("SQLite", cs, sqlterm, bare, n)
    measure_streaming("SQLite", cs, *STREAMING["SQLite"], sqlterm, rows)
    measure_long("SQLite", cs, sqlterm, bare, long_rows)
    pg = PgTemp()
    try:
        fill_big_pg(pg, rows)
        for n in (rows // 10, rows):
            measure("PostgreSQL", pg.connection_string(), sqlterm, bare, n)
        measure_streaming("PostgreSQL", pg.connection_string(), *STREAMING["PostgreSQL"], sqlterm, rows)
        pg.psql("create table wide(id integer, name varchar(20), amount double precision, created timestamp, body text)")
        pg.psql(f"insert into wide select i, 'name ' || i, i * 1.25, timestamp '2024-01-02 03:04:05', "
                f"repeat('ab', 500) || lpad(i::text, 24, '0') from generate_series(1, {long_rows}) i")
        measure_long("PostgreSQL", pg.connection_string(), sqlterm, bare, long_rows)
    finally:
        pg.stop()
    maria = MariaTemp()
    try:
        fill_big_maria(maria, rows)
        for n in (rows // 10, rows):
            measure("MariaDB", maria.connection_string(), sqlterm, bare, n)
        measure_streaming("MariaDB", maria.connection_string(), *STREAMING["MariaDB"], sqlterm, rows)
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
