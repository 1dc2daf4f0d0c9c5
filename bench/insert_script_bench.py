#!/usr/bin/env python3
"""A script of one-row INSERTs in one transaction, as the dump tools write it, side by side in one run.

Usage: bench/insert_script_bench.py BUILD_DIR [sqlite] [pg] [maria]
Scripts: SQLite `sqlite3 .dump` of a 1,000,000-row table (BEGIN TRANSACTION; … COMMIT;);
PostgreSQL `pg_dump --inserts` of 200,000 rows inside BEGIN; … COMMIT;; MariaDB
`mariadb-dump --skip-extended-insert --no-autocommit` of 200,000 rows. Row counts from
SQLITE_ROWS, PG_ROWS and MARIA_ROWS. Each run loads into an emptied database:
  sqlterm   sqlterm -cs:… -qf:FILE
  bare      bench/odbc_exec_bare: the same statements on one handle, no output (the driver's floor)
  native    sqlite3 db < FILE, psql -f FILE, mariadb < FILE
  baseline  another sqlterm on the same script, when SQLTERM_BASELINE names one (before/after)
BENCH_BARE=0 leaves the bare loop out.
Medians of BENCH_RUNS (default 5) interleaved rounds: wall seconds, CPU seconds of the client,
and for the servers the CPU seconds of the server's processes during the run.
"""
import os
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from benchlib import MariaTemp, PgTemp, fill_big_maria, fill_big_pg, fill_big_sqlite, interleaved_runs  # noqa: E402


def report(label, rows, got):
    print(f"{label}, a script of {rows} one-row INSERTs in one transaction:")
    med = {name: [statistics.median(r[i] for r in rs) for i in range(4)] for name, rs in got.items()}
    native = [n for n in med if n not in ("sqlterm", "bare", "baseline")][0]
    for name, (wall, cpu, _, server) in med.items():
        base = med[native]
        served = f"  server {server:7.2f} s CPU" if server else ""
        print(f"  {name:10} {wall:7.2f} s wall {cpu:7.2f} s CPU{served}   "
              f"to {native}: wall {wall / base[0]:5.2f}x  CPU {cpu / base[1]:5.2f}x")
    sys.stdout.flush()


def bench_sqlite(build, work):
    rows = int(os.environ.get("SQLITE_ROWS", "1000000"))
    source = os.path.join(work, "source.db")
    fill_big_sqlite(source, rows)
    script = os.path.join(work, "sqlite.sql")
    with open(script, "w") as f:
        subprocess.run(["sqlite3", source, ".dump"], check=True, stdout=f)
    os.remove(source)
    db = os.path.join(work, "load.db")
    cs = f"Driver=SQLite3;Database={db};"

    def prepare(_):
        if os.path.exists(db):
            os.remove(db)
    cases = {
        "sqlterm": [sqlterm_of(build), "-cs:" + cs, "-qf:" + script],
        "bare": [os.path.join(build, "bench", "odbc_exec_bare"), cs, script],
        "sqlite3": ["sqlite3", db],
    }
    cases = with_others(cases, cs, script)
    report("SQLite", rows, interleaved_runs(cases, stdin={"sqlite3": script}, prepare=prepare))


def bench_pg(build, work):
    rows = int(os.environ.get("PG_ROWS", "200000"))
    pg = PgTemp()
    try:
        fill_big_pg(pg, rows)
        script = os.path.join(work, "pg.sql")
        dump = subprocess.run([f"{pg.bin}/pg_dump", "--inserts", "-t", "big", "-h", "127.0.0.1", "-p", str(pg.port),
                               "-U", pg.user, "postgres"], check=True, capture_output=True, text=True,
                              env=dict(os.environ, PGPASSWORD=pg.password)).stdout
        with open(script, "w") as f:
            f.write("BEGIN;\n" + dump + "COMMIT;\n")
        os.environ["PGPASSWORD"] = pg.password
        cs = pg.connection_string()
        cases = {
            "sqlterm": [sqlterm_of(build), "-cs:" + cs, "-qf:" + script],
            "bare": [os.path.join(build, "bench", "odbc_exec_bare"), cs, script],
            "psql -f": [f"{pg.bin}/psql", "-h", "127.0.0.1", "-p", str(pg.port), "-U", pg.user, "-d", "postgres",
                        "-f", script],
        }
        cases = with_others(cases, cs, script)
        with open(os.path.join(pg.dir, "data", "postmaster.pid")) as f:
            postmaster = int(f.readline())
        got = interleaved_runs(cases, prepare=lambda _: pg.psql("drop table if exists big"), server_pid=postmaster)
        report("PostgreSQL", rows, got)
    finally:
        pg.stop()


def bench_maria(build, work):
    rows = int(os.environ.get("MARIA_ROWS", "200000"))
    maria = MariaTemp()
    try:
        fill_big_maria(maria, rows)
        script = os.path.join(work, "maria.sql")
        with open(script, "w") as f:
            subprocess.run(["mariadb-dump", "--no-defaults", "-S", maria.sock, "-u", "root", "--skip-extended-insert",
                            "--no-autocommit", "vela", "big"], check=True, stdout=f)
        cs = maria.connection_string()
        cases = {
            "sqlterm": [sqlterm_of(build), "-cs:" + cs, "-qf:" + script],
            "bare": [os.path.join(build, "bench", "odbc_exec_bare"), cs, script],
            "mariadb": ["mariadb", "--no-defaults", "-h", "127.0.0.1", "-P", str(maria.port), "-u", maria.user,
                        "-p" + maria.password, "vela"],
        }
        cases = with_others(cases, cs, script)
        got = interleaved_runs(cases, stdin={"mariadb": script}, prepare=lambda _: maria.sql("drop table if exists big"),
                               server_pid=maria.proc.pid)
        report("MariaDB", rows, got)
    finally:
        maria.stop()


def sqlterm_of(build):
    return os.environ.get("SQLTERM", os.path.join(build, "Src", "sqlterm"))


def with_others(cases, cs, script):
    """The cases with the baseline sqlterm and without the bare loop, as the environment asks."""
    if os.environ.get("SQLTERM_BASELINE"):
        cases = dict(cases, baseline=[os.environ["SQLTERM_BASELINE"], "-cs:" + cs, "-qf:" + script])
    if os.environ.get("BENCH_BARE") == "0":
        cases.pop("bare")
    return cases


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    which = sys.argv[2:] or ["sqlite", "pg", "maria"]
    work = tempfile.mkdtemp(prefix="vela-insertbench-")
    os.chmod(work, 0o755)
    try:
        for name, bench in (("sqlite", bench_sqlite), ("pg", bench_pg), ("maria", bench_maria)):
            if name in which:
                bench(build, work)
    finally:
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
