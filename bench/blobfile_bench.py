#!/usr/bin/env python3
"""blobfile against the sqlite3 shell (and cp) moving one 200 MiB value, and on PostgreSQL and MariaDB;
then one text file of 50 MiB uploaded as UTF-16 on SQLite and PostgreSQL.

Usage: bench/blobfile_bench.py BUILD_DIR [MiB] [text MiB]
Prints wall times and the peak resident memory of each process.
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from benchlib import MariaTemp, PgTemp, run_measured  # noqa: E402


RUNS = int(os.environ.get("BENCH_RUNS", "3"))


def timed(cmd, **kw):
    """Wall seconds and peak RSS (MiB) of one run."""
    wall, _, rss = run_measured(cmd, quiet=kw.get("stdout") == "null")
    return wall, rss


def best(runs, cmd, before=None, **kw):
    out = []
    for _ in range(runs):
        if before:
            before()
        out.append(timed(cmd, **kw))
    return min(o[0] for o in out), max(o[1] for o in out)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    mib = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    text_mib = int(sys.argv[3]) if len(sys.argv) > 3 else 50
    blobfile = os.path.join(build, "Src", "blobfile")
    bare = os.path.join(build, "bench", "odbc_blob_bare")
    work = tempfile.mkdtemp(prefix="vela-bench-")
    src = os.path.join(work, "in.dat")
    with open(src, "wb") as f:
        for _ in range(mib):
            f.write(os.urandom(1 << 20))
    out = os.path.join(work, "out.dat")
    text = os.path.join(work, "in.txt")
    with open(text, "w", encoding="utf-8") as f:
        line = "The quick brown fox jumps over the lazy dog, line after line of plain text.\n"
        f.write(line * (text_mib * (1 << 20) // len(line)))
    db = os.path.join(work, "b.db")
    subprocess.run(["sqlite3", db, "create table f(path varchar(255), data blob)"], check=True)
    cs = f"Driver=SQLite3;Database={db};"
    rm_out = lambda: os.path.exists(out) and os.remove(out)  # noqa: E731
    clear = lambda: subprocess.run(["sqlite3", db, "delete from f"], check=True)  # noqa: E731

    rows = []
    rows.append(("cp", *best(RUNS, ["cp", src, out], before=rm_out)))
    rows.append(("sqlite3 shell upload (readfile)", *best(RUNS, ["sqlite3", db, f"insert into f values('{out}', readfile('{src}'))"], before=clear)))
    rows.append(("blobfile upload (SQLite)", *best(RUNS, [blobfile, cs, f"insert into f values('{out}', ?)", src], before=clear, stdout="null")))
    rows.append(("sqlite3 shell download (writefile)", *best(RUNS, ["sqlite3", db, "select writefile(path, data) from f"], before=rm_out, stdout="null")))
    rows.append(("bare ODBC download loop (SQLite)", *best(RUNS, [bare, cs, "select data from f", out], before=rm_out)))
    rows.append(("blobfile download (SQLite)", *best(RUNS, [blobfile, cs, "select path, data from f"], before=rm_out, stdout="null")))
    subprocess.run(["cmp", src, out], check=True)
    rows.append((f"blobfile text upload {text_mib} MiB (SQLite)", *best(1, [blobfile, cs, f"insert into f values('{out}', ?)", text], before=clear, stdout="null")))

    pg = PgTemp()
    try:
        pg.psql("create table f(path varchar(255), data bytea)")
        pcs = pg.connection_string()
        rows.append(("blobfile upload (PostgreSQL)", *best(RUNS, [blobfile, pcs, f"insert into f values('{out}', ?)", src], before=lambda: pg.psql("delete from f"), stdout="null")))
        rows.append(("bare ODBC download loop (PostgreSQL)", *best(RUNS, [bare, pcs, "select data from f", out], before=rm_out)))
        rows.append(("blobfile download (PostgreSQL)", *best(RUNS, [blobfile, pcs, "select path, data from f"], before=rm_out, stdout="null")))
        subprocess.run(["cmp", src, out], check=True)
        rows.append((f"blobfile text upload {text_mib} MiB (PostgreSQL)", *best(1, [blobfile, pcs, f"insert into f values('{out}', ?)", text], before=lambda: pg.psql("delete from f"), stdout="null")))
    finally:
        pg.stop()

    maria = MariaTemp()
    try:
        maria.sql("create table f(path varchar(255), data longblob)")
        mcs = maria.connection_string()
        rows.append(("blobfile upload (MariaDB)", *best(RUNS, [blobfile, mcs, f"insert into f values('{out}', ?)", src], before=lambda: maria.sql("delete from f"), stdout="null")))
        rows.append(("bare ODBC download loop (MariaDB)", *best(RUNS, [bare, mcs, "select data from f", out], before=rm_out)))
        rows.append(("blobfile download (MariaDB)", *best(RUNS, [blobfile, mcs, "select path, data from f"], before=rm_out, stdout="null")))
        subprocess.run(["cmp", src, out], check=True)
    finally:
        maria.stop()

    print(f"one value of {mib} MiB; best of {RUNS} runs; peak RSS of the process")
    for name, secs, rss in rows:
        print(f"  {name:42s} {secs:7.3f} s   {rss:8.1f} MiB")
    d = dict((r[0], r[1]) for r in rows)
    print(f"  download ratio blobfile/sqlite3 shell: {d['blobfile download (SQLite)'] / d['sqlite3 shell download (writefile)']:.2f}")
    print(f"  download ratio blobfile/bare ODBC loop (SQLite): {d['blobfile download (SQLite)'] / d['bare ODBC download loop (SQLite)']:.2f}")
    for label in ("PostgreSQL", "MariaDB"):
        print(f"  download ratio blobfile/bare ODBC loop ({label}): "
              f"{d[f'blobfile download ({label})'] / d[f'bare ODBC download loop ({label})']:.2f}")
    print(f"  upload ratio blobfile/sqlite3 shell:   {d['blobfile upload (SQLite)'] / d['sqlite3 shell upload (readfile)']:.2f}")
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
