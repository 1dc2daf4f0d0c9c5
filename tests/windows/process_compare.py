#!/usr/bin/env python3
"""Runs the sqlterm and blobfile SQLite cases with the Linux build and with the Windows build
under wine, in the same folder with the same database path, and compares what they print,
their exit codes and the files they write, byte for byte after CR LF -> LF.

usage: process_compare.py <linux bin dir> <windows bin dir> [case name ...]
The environment carries WINEPREFIX (an initialised prefix) and the wine program in WINE."""
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import tempfile

LINUX, WINDOWS = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
ONLY = set(sys.argv[3:])
WINE = os.environ.get("WINE", "wine")
CS = "-cs:Driver=SQLite3;Database={db}"

TYPES = ("create table t(i integer, n numeric(10,2), d double precision, v varchar(8), x text, dt date, "
         "ts timestamp, b integer);"
         "insert into t values(42, 12.5, 0.25, 'Жук', 'long text', '2017-04-05', '2017-04-05 09:08:07', 1);"
         "insert into t values(null, null, null, null, null, null, null, null);")
DOCS = "create table docs(id integer, path varchar(255), data blob);"

# name: (program, setup SQL, arguments, standard input, files made before, files compared after)
CASES = {
    "help_slash": ("sqlterm", "", ["/?"], "", {}, []),
    "help_dash": ("sqlterm", "", ["-?"], "", {}, []),
    "bad_option": ("sqlterm", "", [CS, "-zz", "-q:select 1"], "", {}, []),
    "unknown_driver": ("sqlterm", "", ["-cs:Driver=NoSuchDriver", "-q:select 1"], "", {}, []),
    "insert_summary": ("sqlterm", "create table t(i integer);", [CS, "-q:insert into t values(1)"], "", {}, []),
    "space_layout": ("sqlterm", "create table t(xy integer, thirteenchars varchar(5), notes text);"
                     "insert into t values(7, 'abc', 'x'); insert into t values(-42, null, null);",
                     [CS, "-q:select xy, thirteenchars, notes from t order by xy desc"], "", {}, []),
    "types_delimited": ("sqlterm", TYPES, [CS, "-cd:|", "-q:select * from t order by coalesce(i, 0) desc"], "", {}, []),
    "types_padded": ("sqlterm", TYPES, [CS, "-q:select * from t order by coalesce(i, 0) desc"], "", {}, []),
    "types_long_columns": ("sqlterm", TYPES, [CS, "-lc", "-q:select x, v from t"], "", {}, []),
    "data_only": ("sqlterm", "create table t(a varchar(10), b integer); insert into t values(null, 1);"
                  "insert into t values('x', null);",
                  [CS, "-do", "-cd:;", "-q:select a, b from t order by coalesce(a, '')"], "", {}, []),
    "tab_delimiter": ("sqlterm", "create table t(a varchar(10), b integer); insert into t values('x', 2);",
                      [CS, "-cd:\\t", "-q:select a, b from t"], "", {}, []),
    "non_ascii_argument": ("sqlterm", "", [CS, "-do", "-cd:|", "-q:select 'Жук' as w, length('Жук') as n, "
                           "unicode(substr('Жук', 1, 1)) as u"], "", {}, []),
    "unicode_data": ("sqlterm", "create table t(s text); insert into t values('aЖ日😀z');",
                     [CS, "-do", "-cd:|", "-q:select length(s), unicode(substr(s, 4, 1)) from t"], "", {}, []),
    "padded_beyond_bmp": ("sqlterm", "create table t(v varchar(4), i integer); insert into t values('a😀b', 1);"
                          "insert into t values('Жx', 2);", [CS, "-q:select v, i from t order by i"], "", {}, []),
    "failing_statement": ("sqlterm", "", [CS, "-q:select * from no_such_table;select 5 as v"], "", {}, []),
    "on_error": ("sqlterm", "", [CS, "-oe", "-q:select 1;select * from no_such_table;select 2"], "", {}, []),
    "stdin_statements": ("sqlterm", "create table t(s varchar(20));",
                         [CS, "-qi", "-do", "-cd:;", "-q:select 'first' as f"],
                         "insert into t\nvalues('a;b')\n;\ninsert into t values('c'); select count(*) as n from t; "
                         "select 'lost'\n", {}, []),
    "prompt_commands": ("sqlterm", "create table t(i integer); insert into t values(3);", [],
                        "CONNECT \"Driver=SQLite3;Database={db}\"\nselect i from t\nlist\ndisconnect\n"
                        "select 1\nexit\n", {}, []),
    "script_file": ("sqlterm", "create table t(i integer, s text);", [CS, "-qf:script.sql"], "",
                    {"script.sql": b"insert into t values(1, 'one');\r\ninsert into t values(2, 'two');\n"
                                   b"select i, s from t order by i;\n"}, []),
    "script_cp866": ("sqlterm", "", [CS, "-do", "-qf:script866.sql,866"], "",
                     {"script866.sql": "select 'Жук' as w;\n".encode("cp866")}, []),
    "script_utf16": ("sqlterm", "", [CS, "-do", "-qf:script16.sql"], "",
                     {"script16.sql": "\ufeffselect 'abc' as w;\n".encode("utf-16-le")}, []),
    "missing_script": ("sqlterm", "", [CS, "-qf:no_such_file.sql"], "", {}, []),
    "csv_export": ("sqlterm", "create table t(a varchar(20), b integer); insert into t values('x,y', 1);"
                   "insert into t values('q\"uote', null); insert into t values(null, 3);",
                   [CS, "-csv", "-null:NULL", "-q:select a, b from t"], "", {}, []),
    "old_syntax": ("sqlterm", "create table t(i integer); insert into t values(5);",
                   ["SQLite3", "Database={db}", "old.sql"], "", {"old.sql": b"select i from t;\n"}, []),
    "blobfile_usage": ("blobfile", "", [], "", {}, []),
    "blobfile_upload_download": ("blobfile", DOCS + "insert into docs(id, path) values(1, 'copy.bin');",
                                 ["Driver=SQLite3;Database={db}", "update docs set data = ? where id = 1", "in.bin"],
                                 "", {"in.bin": bytes(range(256)) * 300}, []),
    "blobfile_download": ("blobfile", DOCS + "insert into docs values(1, 'a.bin', x'00010203ff');"
                          "insert into docs values(2, 'b.bin', x'');",
                          ["Driver=SQLite3;Database={db}", "select path, data from docs order by id"], "", {},
                          ["a.bin", "b.bin"]),
    "blobfile_missing_file": ("blobfile", DOCS + "insert into docs(id) values(1);",
                              ["Driver=SQLite3;Database={db}", "update docs set data = ? where id = 1", "nothing.bin"],
                              "", {}, []),
    "blobfile_unknown_dsn": ("blobfile", "", ["DSN=no_such_source", "select 1"], "", {}, []),
    "blobfile_no_row": ("blobfile", DOCS, ["Driver=SQLite3;Database={db}", "update docs set data = ? where id = 9",
                                           "in.bin"], "", {"in.bin": b"abc"}, []),
}

# The system's texts for its error codes (FormatMessageW): wine's words, not the library's own
# texts of the Linux build. The codes in brackets still have to agree.
SYSTEM_TEXTS = {
    b"The file was not found.": b"File not found.",
    b"The path was not found.": b"Path not found.",
    b"Access is denied.": b"Access denied.",
}

WINE_NOISE = re.compile(rb"^([0-9a-f]{4}:(err|fixme|warn|trace):|wine: |Could not find Wine Gecko|Could not find Wine Mono)")


def normalise(out, windows):
    out = out.replace(b"\r\n", b"\n")
    out = re.sub(rb"Execution time [0-9:.]+s\.", b"Execution time T.", out)
    if windows:
        # The usage texts name the programs as Windows runs them.
        out = out.replace(b"sqlterm.exe", b"sqlterm").replace(b"blobfile.exe", b"blobfile")
        out = b"".join(l for l in out.splitlines(keepends=True) if not WINE_NOISE.match(l))
    else:
        # Redirected Windows output is in the OEM code page: a character it lacks is "?".
        # The system converts UTF-16 units: a character beyond U+FFFF that is lost becomes "??".
        text = "".join(c if ord(c) < 0x10000 else "\ufffe\ufffe" for c in out.decode("utf-8", "replace"))
        out = text.encode(OEM, "replace")
        for ours, system in SYSTEM_TEXTS.items():
            out = out.replace(ours, system)
    return out


def run_case(name, case, folder, windows):
    prog, setup, args, stdin, files, compared = case
    if os.path.exists(folder):
        shutil.rmtree(folder)
    os.makedirs(folder)
    db = os.path.join(folder, "test.db")
    if setup:
        subprocess.run(["sqlite3", db], input=setup.encode(), check=True)
    else:
        subprocess.run(["sqlite3", db, "select 1;"], check=True, capture_output=True)
    for fname, data in files.items():
        with open(os.path.join(folder, fname), "wb") as f:
            f.write(data)
    argv = [a.replace("{db}", db) for a in args]
    if windows:
        cmd = [WINE, os.path.join(WINDOWS, prog + ".exe")] + argv
    else:
        cmd = [os.path.join(LINUX, prog)] + argv
    p = subprocess.run(cmd, input=stdin.replace("{db}", db).encode(), capture_output=True, cwd=folder, timeout=120)
    written = {}
    for fname in compared:
        path = os.path.join(folder, fname)
        written[fname] = open(path, "rb").read() if os.path.exists(path) else None
    return p.returncode, normalise(p.stdout, windows), normalise(p.stderr, windows), written


def compare(base, name, case):
    """Both builds in turn in the same folder; the report lines of one case."""
    folder = os.path.join(base, name)
    linux = run_case(name, case, folder, False)
    windows = run_case(name, case, folder, True)
    if linux == windows:
        return True, [f"ok    {name}"]
    lines = [f"FAIL  {name}"]
    for what, a, b in zip(("exit code", "stdout", "stderr", "files"), linux, windows):
        if a != b:
            lines.append(f"  {what}:\n    linux:   {a!r}\n    windows: {b!r}")
    return False, lines


def main():
    chosen = [n for n in CASES if not ONLY or n in ONLY]
    base = tempfile.mkdtemp(prefix="vela-windows-")
    try:
        # Cases run side by side (each in its own folder): most of the time goes into starting wine.
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(2, os.cpu_count() or 2)) as pool:
            results = list(pool.map(lambda n: compare(base, n, CASES[n]), chosen))
    finally:
        shutil.rmtree(base, ignore_errors=True)
    failed = 0
    for ok, lines in results:
        failed += not ok
        print("\n".join(lines))
    print(f"{failed} of {len(chosen)} cases differ" if failed else f"all {len(chosen)} cases print the same")
    return 1 if failed else 0


OEM = os.environ.get("VELA_OEM_CODEC", "cp437")
if __name__ == "__main__":
    sys.exit(main())
