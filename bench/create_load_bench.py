#!/usr/bin/env python3
"""\\copy of a CSV file into a table that WITH (CREATE) makes, against the same load into a
table made beforehand with the same types, on SQLite (and PostgreSQL with --pg).

Usage: bench/create_load_bench.py BUILD_DIR [rows] [--pg]
Prints the median CPU seconds of interleaved rounds (BENCH_RUNS, default 5) and the ratio.
"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from benchlib import PgTemp, interleaved_medians  # noqa: E402


def write_csv(path, rows):
    with open(path, "w") as f:
        f.write("id,name,val,at,note\n")
        for i in range(1, rows + 1):
            f.write("%d,name %d,%d.%02d,2024-01-%02d 10:%02d:%02d,note %d\n" % (i, i, i % 1000, i % 100, i % 28 + 1, i % 60, i % 60, i))


def cases(sqlterm, cs, csv, made):
    """Both loads, each after the same statement run that clears the table."""
    load = "\\copy big from '%s' with (format csv, header%s)"
    clear = [sqlterm, "-cs:" + cs, "-q:drop table if exists big; "]
    return {
        "made first": ["sh", "-c", "%s && %s" % (sh(clear[:2] + [clear[2] + made]), sh([sqlterm, "-cs:" + cs, "-q:" + load % (csv, "")]))],
        "CREATE": ["sh", "-c", "%s && %s" % (sh(clear[:2] + [clear[2] + "select 1"]),
                                             sh([sqlterm, "-cs:" + cs, "-q:" + load % (csv, ", create")]))],
    }


def sh(args):
    return " ".join("'" + a.replace("'", "'\\''") + "'" for a in args)


def report(title, got):
    made, created = got["made first"][0], got["CREATE"][0]
    print("%-10s made first %.2f s CPU, CREATE %.2f s CPU: %.2fx" % (title, made, created, created / made))


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rows = int(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[2].isdigit() else 300000
    sqlterm = os.path.join(build, "Src", "sqlterm")
    with tempfile.TemporaryDirectory() as tmp:
        csv = os.path.join(tmp, "big.csv")
        write_csv(csv, rows)
        made = "create table big(id integer, name text, val numeric(5,2), at timestamp, note text)"
        cs = "Driver=SQLite3;Database=%s;" % os.path.join(tmp, "b.db")
        report("SQLite", interleaved_medians(cases(sqlterm, cs, csv, made)))
        if "--pg" in sys.argv:
            pg = PgTemp()
            try:
                report("PostgreSQL", interleaved_medians(cases(sqlterm, pg.connection_string(), csv, made)))
            finally:
                pg.stop()


if __name__ == "__main__":
    main()
