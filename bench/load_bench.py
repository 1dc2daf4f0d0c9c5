#!/usr/bin/env python3
"""Loading a CSV file into SQLite, PostgreSQL and MariaDB, side by side in one run.

Usage: bench/load_bench.py BUILD_DIR [ROWS] [sqlite,postgresql,mariadb]
Five columns (integer, varchar(20), double, timestamp, varchar(40)), ROWS rows (1,000,000 by
default), with a header line and the last column in quotes (it holds a comma), into an empty
table each time:
  bare      a bare ODBC parameter-array loop, the same batch size (bench/odbc_insert_bare);
            on PostgreSQL also "bare multi-row": one INSERT of a batch's rows a statement
  \\copy     sqlterm's bulk-insert engine (sqlterm -q:"\\copy big from 'FILE' with (format csv, header)")
  native    the database's own loader: sqlite3 .import, psql \\copy, LOAD DATA LOCAL INFILE
  baseline  with BENCH_BASELINE=DIR: the \\copy of another build (DIR/Src/sqlterm), e.g. before a change
  INSERTs   with BENCH_INSERTS=1: row-at-a-time INSERT statements through sqlterm -qf, on ROWS / 10
            rows (the floor)
Every case runs once a round for BENCH_RUNS rounds (default 5), interleaved, each into a table
made again before it; medians of the client's CPU seconds and of wall seconds (rough while the
machine is busy), and each median's ratio to the native loader's and to the bare loop's.
"""
import os
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from benchlib import MariaTemp, PgTemp, interleaved_runs  # noqa: E402

CREATE = "create table big(id integer, name varchar(20), amount double precision, created timestamp{null}, " \
         "note varchar(40))"
BATCH = "1000"


def measure(cases, reset, env=None):
    """{name: cmd} run interleaved, each after reset(); env: {name: variables} for a case."""
    env = env or {}

    def prepare(name):
        reset()
        os.environ.clear()
        os.environ.update(base)
        os.environ.update(env.get(name, {}))
    base = dict(os.environ)
    try:
        got = interleaved_runs(cases, prepare=prepare)
    finally:
        os.environ.clear()
        os.environ.update(base)
    return {name: (statistics.median(r[0] for r in rs), statistics.median(r[1] for r in rs))
            for name, rs in got.items()}


def report(label, rows, results, native):
    bare = results["bare"]
    own = results[native]
    print(f"{label}, {rows} rows x 5 columns, CSV (medians):")
    print(f"  {'':24} {'wall s':>8} {'CPU s':>8}   {'wall/native':>11} {'CPU/native':>10}   "
          f"{'wall/bare':>9} {'CPU/bare':>8}")
    for name, (wall, cpu) in results.items():
        scale = 10 if name.startswith("INSERTs") else 1
        print(f"  {name:24} {wall:8.2f} {cpu:8.2f}   {wall * scale / own[0]:11.2f} {cpu * scale / own[1]:10.2f}   "
              f"{wall * scale / bare[0]:9.2f} {cpu * scale / bare[1]:8.2f}")
    sys.stdout.flush()


def write_files(work, rows):
    data = os.path.join(work, "big.csv")
    with open(data, "w") as f:
        f.write("id,name,amount,created,note\n")
        for i in range(1, rows + 1):
            f.write(f'{i},name {i},{i * 1.25},2024-01-02 03:04:05,"a note of some forty characters, {i}"\n')
    os.chmod(data, 0o644)
    headless = os.path.join(work, "big-noheader.csv")  # for the loaders that cannot skip a header
    with open(data) as f, open(headless, "w") as out:
        next(f)
        out.writelines(f)
    os.chmod(headless, 0o644)
    inserts = os.path.join(work, "inserts.sql")
    with open(inserts, "w") as f:
        for i in range(1, rows // 10 + 1):
            f.write(f"insert into big values ({i}, 'name {i}', {i * 1.25}, '2024-01-02 03:04:05', "
                    f"'a note of some forty characters, {i}');\n")
    return data, headless, inserts


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    which = sys.argv[3].split(",") if len(sys.argv) > 3 else ["sqlite", "postgresql", "mariadb"]
    sqlterm = os.path.join(build, "Src", "sqlterm")
    bare = os.path.join(build, "bench", "odbc_insert_bare")
    work = tempfile.mkdtemp(prefix="vela-loadbench-")
    os.chmod(work, 0o755)
    data, headless, inserts = write_files(work, rows)
    copy = f"-q:\\copy big from '{data}' with (format csv, header)"
    with_inserts = os.environ.get("BENCH_INSERTS") == "1"
    baseline = os.environ.get("BENCH_BASELINE")
    before = [os.path.join(baseline, "Src", "sqlterm")] if baseline else None
    csv = {"BARE_CSV": "1"}

    if "sqlite" in which:
        db = os.path.join(work, "big.db")
        cs = f"Driver=SQLite3;Database={db};"

        def sqlite_reset():
            subprocess.run(["sqlite3", db, "drop table if exists big; " + CREATE.format(null="")], check=True)
        cases = {
            "bare": [bare, cs, "big", "5", headless, BATCH],
            "\\copy (engine)": [sqlterm, "-cs:" + cs, copy],
            **({"\\copy (baseline)": before + ["-cs:" + cs, copy]} if before else {}),
            "sqlite3 .import": ["sqlite3", "-cmd", ".mode csv", db, f".import {headless} big"],
        }
        if with_inserts:
            cases["INSERTs through -qf"] = [sqlterm, "-cs:" + cs, "-qf:" + inserts]
        report("SQLite", rows, measure(cases, sqlite_reset, {"bare": csv}), "sqlite3 .import")

    if "postgresql" in which:
        pg = PgTemp()
        try:
            pcs = pg.connection_string()

            def pg_reset():
                pg.psql("drop table if exists big; " + CREATE.format(null=""))
            psql = [f"{pg.bin}/psql", "-q", "-h", "127.0.0.1", "-p", str(pg.port), "-U", pg.user, "-d", "postgres",
                    "-c", f"\\copy big from '{data}' with (format csv, header)"]
            cases = {
                "bare": [bare, pcs, "big", "5", headless, BATCH],
                "bare multi-row": [bare, pcs, "big", "5", headless, BATCH],
                "\\copy (engine)": [sqlterm, "-cs:" + pcs, copy],
                **({"\\copy (baseline)": before + ["-cs:" + pcs, copy]} if before else {}),
                "psql \\copy": psql,
            }
            if with_inserts:
                cases["INSERTs through -qf"] = [sqlterm, "-cs:" + pcs, "-qf:" + inserts]
            env = {"bare": dict(csv, BARE_WIDE="1"), "bare multi-row": dict(csv, BARE_WIDE="1", BARE_MULTI="1"),
                   "psql \\copy": {"PGPASSWORD": pg.password}}
            report("PostgreSQL", rows, measure(cases, pg_reset, env), "psql \\copy")
        finally:
            pg.stop()

    if "mariadb" in which:
        maria = MariaTemp()
        try:
            mcs = maria.connection_string()

            def maria_reset():
                maria.sql("drop table if exists big; " + CREATE.format(null=" null"))
            load = ["mariadb", "--no-defaults", "--local-infile=1", "-S", maria.sock, "-u", "root", "vela", "-e",
                    f"load data local infile '{data}' into table big fields terminated by ',' "
                    "optionally enclosed by '\"' ignore 1 lines"]
            cases = {
                "bare": [bare, mcs, "big", "5", headless, BATCH],
                "\\copy (engine)": [sqlterm, "-cs:" + mcs, copy],
                **({"\\copy (baseline)": before + ["-cs:" + mcs, copy]} if before else {}),
                "LOAD DATA LOCAL INFILE": load,
            }
            if with_inserts:
                cases["INSERTs through -qf"] = [sqlterm, "-cs:" + mcs, "-qf:" + inserts]
            report("MariaDB", rows, measure(cases, maria_reset, {"bare": csv}), "LOAD DATA LOCAL INFILE")
        finally:
            maria.stop()
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
