#!/usr/bin/env python3
"""Start-up: sqlterm running "select 1" against a bare ODBC program that does only that, and
against the native clients, on SQLite, PostgreSQL and (when its server is installed) MariaDB.

Usage: bench/startup_bench.py BUILD_DIR [BASELINE_SQLTERM]
Every command runs once a round, for 100 rounds (BENCH_RUNS=n to change), so that a busy
moment of the machine falls on all of them alike. Reported per command: the total CPU time
(user + system) of all runs, the median CPU and wall time of one run, and the ratio of the
total to the bare program's. A second sqlterm (an earlier build) is measured in the same rounds.
"""
import os
import shutil
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from benchlib import MariaTemp, PgTemp, run_measured  # noqa: E402

RUNS = int(os.environ.get("BENCH_RUNS", "100"))


def rounds(cases):
    got = {name: [] for name in cases}
    for _ in range(RUNS):
        for name, cmd in cases.items():
            got[name].append(run_measured(cmd))
    return got


def report(label, cases, native, floor="bare ODBC"):
    """Ratios of the CPU totals to the bare program's and to the native client's."""
    got = rounds(cases)
    base = sum(r[1] for r in got[floor])
    client = sum(r[1] for r in got[native])
    print(f"{label}, {RUNS} runs each:")
    print(f"  {'':22} {'CPU total':>10} {'CPU median':>11} {'wall median':>12}  {'to bare':>7}  to {native}")
    for name, rs in got.items():
        total = sum(r[1] for r in rs)
        cpu = statistics.median(r[1] for r in rs) * 1000
        wall = statistics.median(r[0] for r in rs) * 1000
        print(f"  {name:22} {total:9.3f}s {cpu:9.2f}ms {wall:10.2f}ms  {total / base:7.2f}  {total / client:5.2f}")
    return got


def sqlterms(binaries, cs, sql="select 1"):
    return {name: [path, "-cs:" + cs, "-q:" + sql] for name, path in binaries.items()}


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    binaries = {"sqlterm": os.path.join(build, "Src", "sqlterm")}
    if len(sys.argv) > 2:
        binaries["sqlterm (baseline)"] = sys.argv[2]
    bare = os.path.join(build, "bench", "odbc_select1_bare")
    work = tempfile.mkdtemp(prefix="vela-startup-")
    db = os.path.join(work, "x.db")
    open(db, "w").close()
    cs = f"Driver=SQLite3;Database={db};"
    report("SQLite", {**sqlterms(binaries, cs), "bare ODBC": [bare, cs], "sqlite3 shell": ["sqlite3", db, "select 1"]},
           "sqlite3 shell")
    shutil.rmtree(work, ignore_errors=True)

    pg = PgTemp()
    try:
        os.environ["PGPASSWORD"] = pg.password
        psql = [f"{pg.bin}/psql", "-h", "127.0.0.1", "-p", str(pg.port), "-U", pg.user, "-d", "postgres",
                "-c", "select 1"]
        cs = pg.connection_string()
        report("PostgreSQL", {**sqlterms(binaries, cs), "bare ODBC": [bare, cs], "psql -c": psql}, "psql -c")
    finally:
        pg.stop()

    if not shutil.which("mariadb") or not os.path.exists("/usr/sbin/mariadbd"):
        return
    maria = MariaTemp()
    try:
        client = ["mariadb", "--no-defaults", "-h", "127.0.0.1", "-P", str(maria.port), "-u", maria.user,
                  f"-p{maria.password}", "vela", "-e", "select 1"]
        cs = maria.connection_string()
        report("MariaDB", {**sqlterms(binaries, cs), "bare ODBC": [bare, cs], "mariadb -e": client}, "mariadb -e")
    finally:
        maria.stop()


if __name__ == "__main__":
    main()
