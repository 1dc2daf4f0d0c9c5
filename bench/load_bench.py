#!/usr/bin/env python3
"""Loading a tab-separated file into SQLite, PostgreSQL and MariaDB, side by side in one run.

Usage: bench/load_bench.py BUILD_DIR [ROWS]
Five columns (integer, varchar(20), double, timestamp, varchar(40)), ROWS rows (1,000,000 by
default), into an empty table each time:
  bare      a bare ODBC parameter-array loop, the same batch size (bench/odbc_insert_bare)
  \\copy     sqlterm's bulk-insert engine (sqlterm -q:"\\copy big from 'FILE'")
  native    the database's own loader: sqlite3 .import, psql \\copy, LOAD DATA LOCAL INFILE
  INSERTs   row-at-a-time INSERT statements through sqlterm -qf, on ROWS / 10 rows (the floor)
Times are wall seconds (the database does most of the work), best of BENCH_RUNS (default 2).
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from benchlib import MariaTemp, PgTemp, run_measured  # noqa: E402

RUNS = int(os.environ.get("BENCH_RUNS", "2"))
CREATE = "create table big(id integer, name varchar(20), amount double precision, created timestamp{null}, " \
         "note varchar(40))"


def best(cmd, reset, env=None):
    times = []
    for _ in range(RUNS):
        reset()
        if env:
            old = dict(os.environ)
            os.environ.update(env)
        try:
            times.append(run_measured(cmd))
        finally:
            if env:
                os.environ.clear()
                os.environ.update(old)
    return min(t[0] for t in times), min(t[1] for t in times)


def report(label, rows, results):
    bare = results["bare"][0]
    print(f"{label}, {rows} rows x 5 columns:")
    for name, (wall, cpu) in results.items():
        scale = 10 if name.startswith("INSERTs") else 1
        per = f" (x10: {wall * scale:7.2f} s)" if scale > 1 else ""
        print(f"  {name:22} {wall:7.2f} s wall {cpu:7.2f} s CPU of the client{per}   "
              f"ratio to bare {wall * scale / bare:5.2f}")
    sys.stdout.flush()


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    sqlterm = os.path.join(build, "Src", "sqlterm")
    bare = os.path.join(build, "bench", "odbc_insert_bare")
    work = tempfile.mkdtemp(prefix="vela-loadbench-")
    os.chmod(work, 0o755)
    data = os.path.join(work, "big.tsv")
    with open(data, "w") as f:
        for i in range(1, rows + 1):
            f.write(f"{i}\tname {i}\t{i * 1.25}\t2024-01-02 03:04:05\ta note of some forty characters, {i}\n")
    os.chmod(data, 0o644)
    inserts = os.path.join(work, "inserts.sql")
    with open(inserts, "w") as f:
        for i in range(1, rows // 10 + 1):
            f.write(f"insert into big values ({i}, 'name {i}', {i * 1.25}, '2024-01-02 03:04:05', "
                    f"'a note of some forty characters, {i}');\n")
    copy = f"-q:\\copy big from '{data}'"

    db = os.path.join(work, "big.db")
    cs = f"Driver=SQLite3;Database={db};"

    def sqlite_reset():
        subprocess.run(["sqlite3", db, "drop table if exists big; " + CREATE.format(null="")], check=True)
    results = {
        "bare": best([bare, cs, "big", "5", data, "1000"], sqlite_reset),
        "\\copy (engine)": best([sqlterm, "-cs:" + cs, copy], sqlite_reset),
        "sqlite3 .import": best(["sqlite3", "-cmd", ".mode tabs", db, f".import {data} big"], sqlite_reset),
        "INSERTs through -qf": best([sqlterm, "-cs:" + cs, "-qf:" + inserts], sqlite_reset),
    }
    report("SQLite", rows, results)

    pg = PgTemp()
    try:
        pcs = pg.connection_string()

        def pg_reset():
            pg.psql("drop table if exists big; " + CREATE.format(null=""))
        psql = [f"{pg.bin}/psql", "-q", "-h", "127.0.0.1", "-p", str(pg.port), "-U", pg.user, "-d", "postgres",
                "-c", f"\\copy big from '{data}'"]
        results = {
            "bare": best([bare, pcs, "big", "5", data, "1000"], pg_reset, {"BARE_WIDE": "1"}),
            "\\copy (engine)": best([sqlterm, "-cs:" + pcs, copy], pg_reset),
            "psql \\copy": best(psql, pg_reset, {"PGPASSWORD": pg.password}),
            "INSERTs through -qf": best([sqlterm, "-cs:" + pcs, "-qf:" + inserts], pg_reset),
        }
        report("PostgreSQL", rows, results)
    finally:
        pg.stop()

    maria = MariaTemp()
    try:
        mcs = maria.connection_string()

        def maria_reset():
            maria.sql("drop table if exists big; " + CREATE.format(null=" null"))
        load = ["mariadb", "--no-defaults", "--local-infile=1", "-S", maria.sock, "-u", "root", "vela", "-e",
                f"load data local infile '{data}' into table big"]
        results = {
            "bare": best([bare, mcs, "big", "5", data, "1000"], maria_reset),
            "\\copy (engine)": best([sqlterm, "-cs:" + mcs, copy], maria_reset),
            "LOAD DATA LOCAL INFILE": best(load, maria_reset),
            "INSERTs through -qf": best([sqlterm, "-cs:" + mcs, "-qf:" + inserts], maria_reset),
        }
        report("MariaDB", rows, results)
    finally:
        maria.stop()
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
