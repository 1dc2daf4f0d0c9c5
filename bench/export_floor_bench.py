#!/usr/bin/env python3
"""sqlterm's exports against the bare fetch loops, side by side, on SQLite, PostgreSQL and MariaDB.

Usage: bench/export_floor_bench.py BUILD_DIR [ROWS]
ROWS (1,000,000) rows of five columns (integer, varchar(20), double, timestamp, varchar(40)),
output to /dev/null. Cases, run once a round in interleaved rounds (BENCH_RUNS, default 5):
the bare UTF-8 loop one row a fetch (odbc_fetch_bare -utf8, no thread), the bare UTF-8 loop
fetching rowsets of 1,000 rows (-rowset:1000), and sqlterm -csv, -do -cd:, , padded (no format
option), -format:aligned and -format:json, and the native client (sqlite3 -csv, psql --csv,
mariadb -B); SQLite once more in step mode (StepAPI=1) for the loops and sqlterm alike. Times are CPU medians (user + system); ratios are
to the plain bare loop and to the rowset loop. BENCH_BASELINE=DIR runs the same exports through
DIR/Src/sqlterm beside them (another build, e.g. before a change).
"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from benchlib import MariaTemp, PgTemp, fill_big_maria, fill_big_pg, fill_big_sqlite, interleaved_medians  # noqa: E402

SELECT = "select id, name, amount, created, note from big"
EXPORTS = (("-csv", ["-csv"]), ("-do -cd:,", ["-do", "-cd:,"]), ("padded", []),
           ("-format:aligned", ["-format:aligned"]), ("-format:json", ["-format:json"]))


def measure(label, cs, sqlterm, bare, native=None):
    cases = {"bare UTF-8 loop": [bare, "-utf8", cs, SELECT],
             "bare rowsets of 1000": [bare, "-utf8", "-rowset:1000", cs, SELECT]}
    baseline = os.environ.get("BENCH_BASELINE")
    for name, args in EXPORTS:
        cases["sqlterm " + name] = [sqlterm, "-cs:" + cs] + args + ["-q:" + SELECT]
        if baseline:
            cases["baseline " + name] = [os.path.join(baseline, "Src", "sqlterm"), "-cs:" + cs] + args + ["-q:" + SELECT]
    if native:
        cases[native[0]] = native[1]
    got = interleaved_medians(cases)
    floor = got["bare UTF-8 loop"][0]
    rowset = got["bare rowsets of 1000"][0]
    print(f"{label}:")
    for name, (cpu, rss) in got.items():
        print(f"  {name:26} {cpu:7.3f} s  {rss:7.1f} MiB   {cpu / floor:5.2f}x bare  {cpu / rowset:5.2f}x rowsets")
    sys.stdout.flush()


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    sqlterm = os.path.join(build, "Src", "sqlterm")
    bare = os.path.join(build, "bench", "odbc_fetch_bare")
    print(f"{rows} rows x 5 columns, CPU medians of {os.environ.get('BENCH_RUNS', '5')} interleaved rounds")
    with tempfile.TemporaryDirectory(prefix="vela-bench-") as work:
        db = os.path.join(work, "big.db")
        fill_big_sqlite(db, rows)
        measure("SQLite", f"Driver=SQLite3;Database={db};", sqlterm, bare, ("sqlite3 -csv", ["sqlite3", "-csv", db, SELECT]))
        measure("SQLite in step mode (StepAPI=1)", f"Driver=SQLite3;Database={db};StepAPI=1;", sqlterm, bare)
    os.environ["PGPASSWORD"] = PgTemp.password
    for label, server, fill in (("PostgreSQL", PgTemp, fill_big_pg), ("MariaDB", MariaTemp, fill_big_maria)):
        db = server()
        try:
            fill(db, rows)
            if server is PgTemp:
                native = ("psql --csv", [f"{db.bin}/psql", "--csv", "-h", "127.0.0.1", "-p", str(db.port), "-U", db.user,
                                         "-d", "postgres", "-c", SELECT])
            else:
                native = ("mariadb -B", ["mariadb", "--no-defaults", "-h", "127.0.0.1", "-P", str(db.port), "-u", db.user,
                                         f"-p{db.password}", "-B", "vela", "-e", SELECT])
            measure(label, db.connection_string(), sqlterm, bare, native)
        finally:
            db.stop()

if __name__ == "__main__":
    main()
