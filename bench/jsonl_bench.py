#!/usr/bin/env python3
"""\\copy of JSON lines against the CSV load of the same rows, into a table made beforehand
(integer, text, double, timestamp, text) on SQLite (and PostgreSQL with --pg); also the JSON
lines given on standard input (FROM pstdin, kept in a temporary file first).

Usage: bench/jsonl_bench.py BUILD_DIR [rows] [--pg]
Prints the median CPU and wall seconds of interleaved rounds (BENCH_RUNS, default 5) and each
load's ratio to the CSV load.
"""
import json
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from benchlib import PgTemp, interleaved_medians  # noqa: E402


def write_files(csv, jsonl, rows):
    with open(csv, "w") as c, open(jsonl, "w") as j:
        c.write("id,name,val,at,note\n")
        for i in range(1, rows + 1):
            name, val, at, note = "name %d" % i, "%d.%02d" % (i % 1000, i % 100), \
                "2024-01-%02d 10:%02d:%02d" % (i % 28 + 1, i % 60, i % 60), "note %d" % i
            c.write("%d,%s,%s,%s,%s\n" % (i, name, val, at, note))
            j.write('{"id":%d,"name":%s,"val":%s,"at":"%s","note":%s}\n' % (i, json.dumps(name), val, at, json.dumps(note)))


def sh(args):
    return " ".join("'" + a.replace("'", "'\\''") + "'" for a in args)


def cases(sqlterm, cs, csv, jsonl):
    """Each load after the same statement that makes the table again."""
    made = "drop table if exists big; create table big(id integer, name text, val double precision, at timestamp, note text)"
    clear = sh([sqlterm, "-cs:" + cs, "-q:" + made])

    def load(source, options, stdin=None):
        run = sh([sqlterm, "-cs:" + cs, "-q:\\copy big from %s with (%s)" % (source, options)])
        return ["sh", "-c", "%s && %s%s" % (clear, run, " < " + sh([stdin]) if stdin else "")]
    return {
        "csv": load("'%s'" % csv, "format csv, header"),
        "jsonl": load("'%s'" % jsonl, "format jsonl"),
        "jsonl pstdin": load("pstdin", "format jsonl", jsonl),
    }


def report(title, got):
    base = got["csv"]
    for name, (cpu, rss, wall) in got.items():
        print("%-10s %-13s %.2f s CPU %.2f s wall %4.0f MiB: %.2fx the CSV load's CPU" % (title, name, cpu, wall, rss, cpu / base[0]))


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rows = int(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[2].isdigit() else 1000000
    sqlterm = os.path.join(build, "Src", "sqlterm")
    with tempfile.TemporaryDirectory() as tmp:
        csv, jsonl = os.path.join(tmp, "big.csv"), os.path.join(tmp, "big.jsonl")
        write_files(csv, jsonl, rows)
        cs = "Driver=SQLite3;Database=%s;" % os.path.join(tmp, "b.db")
        report("SQLite", interleaved_medians(cases(sqlterm, cs, csv, jsonl), wall=True))
        if "--pg" in sys.argv:
            pg = PgTemp()
            try:
                report("PostgreSQL", interleaved_medians(cases(sqlterm, pg.connection_string(), csv, jsonl), wall=True))
            finally:
                pg.stop()


if __name__ == "__main__":
    main()
