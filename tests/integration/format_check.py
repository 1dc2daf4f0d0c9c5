#!/usr/bin/env python3
"""Reads sqlterm's output in one format back into rows and compares them with the rows
expected; prints what differs and exits 1, or exits 0.

format_check.py FORMAT OUTPUT_FILE EXPECTED_JSON
EXPECTED_JSON: {"columns": [...], "numbers": [column indexes], "null": text, "rows": [[...], ...]}
"""
import json
import re
import sys
import unicodedata

fmt, out_file, expected_file = sys.argv[1:4]
with open(out_file, encoding="utf-8") as f:
    text = f.read()
with open(expected_file, encoding="utf-8") as f:
    want = json.load(f)
columns, numbers, null_text, rows = want["columns"], set(want["numbers"]), want["null"], want["rows"]
problems = []


def cells(s):
    """Terminal cells, from the Unicode data (independent of sqlterm's table)."""
    n = 0
    for c in s:
        if unicodedata.category(c) in ("Mn", "Me", "Cf") or 0x1160 <= ord(c) <= 0x11FF:
            continue
        n += 2 if unicodedata.east_asian_width(c) in ("W", "F") else 1
    return n


def same(i, got, expected, cut=False):
    if expected is None:
        return got is None
    if got is None:
        return False
    if i in numbers:
        try:
            return float(got) == float(expected)
        except ValueError:
            return False
    if cut and got.endswith("\u2026"):
        return expected.startswith(got[:-1]) and cells(got) == 80
    return str(got) == expected


def compare(got_rows, cut=False, null_as=None):
    if len(got_rows) != len(rows):
        problems.append(f"{len(got_rows)} rows, {len(rows)} expected")
    for r, (g, e) in enumerate(zip(got_rows, rows)):
        if len(g) != len(e):
            problems.append(f"row {r}: {len(g)} cells: {g!r}")
            continue
        for i, (gv, ev) in enumerate(zip(g, e)):
            if null_as is not None and gv == null_as:
                gv = None
            if not same(i, gv, ev, cut):
                problems.append(f"row {r} column {columns[i]}: {gv!r}, expected {ev!r}")


if fmt in ("json", "jsonl"):
    if fmt == "json":
        objects = json.loads(text)
    else:
        objects = [json.loads(line) for line in text.splitlines()]
    for o in objects:
        if list(o) != columns:
            problems.append(f"keys {list(o)!r}")
    for o in objects:
        for i, c in enumerate(columns):
            if i in numbers and o.get(c) is not None and not isinstance(o[c], (int, float)):
                problems.append(f"{c}: {o[c]!r} is no number")
    compare([[o.get(c) for c in columns] for o in objects])

elif fmt == "markdown":
    def split(line):
        if not (line.startswith("| ") and line.endswith(" |")):
            problems.append(f"row {line!r}")
            return []
        parts, cur, k, body = [], "", 0, line[2:-2]
        while k < len(body):
            if body[k] == "\\" and k + 1 < len(body):
                cur += body[k + 1]
                k += 2
            elif body.startswith(" | ", k):
                parts.append(cur)
                cur, k = "", k + 3
            elif body.startswith("<br>", k):
                cur, k = cur + "\n", k + 4
            else:
                cur, k = cur + body[k], k + 1
        return parts + [cur]

    lines = text.splitlines()
    if split(lines[0]) != columns:
        problems.append(f"header {lines[0]!r}")
    if not re.fullmatch(r"\|( -{3}:? \|)+", lines[1]):
        problems.append(f"delimiter row {lines[1]!r}")
    compare([split(line) for line in lines[2:]], null_as=null_text)

elif fmt == "aligned":
    lines = text.splitlines()
    rule = lines[1]
    if not re.fullmatch(r"-+(-\+-+)*", rule):
        problems.append(f"rule {rule!r}")
    bars = [m.start() + 1 for m in re.finditer(r"-\+-", rule)]  # rule is ASCII: cells = chars
    for line in lines:
        if line != line.rstrip(" "):
            problems.append(f"trailing blanks: {line!r}")
        parts = line.split(" | ") if line is not rule else []
        at, starts = 0, []
        for p in parts[:-1]:
            at += cells(p)
            starts.append(at + 1)
            at += 3
        if parts and starts != bars:
            problems.append(f"bars at cells {starts}, rule {bars}: {line!r}")
    if [p.strip() for p in lines[0].split(" | ")] != columns:
        problems.append(f"header {lines[0]!r}")
    compare([[p.strip() for p in line.split(" | ")] for line in lines[2:]], cut=True, null_as=null_text)

elif fmt == "vertical":
    records, bar = [], None
    for line in text.splitlines():
        m = re.fullmatch(r"-\[ RECORD (\d+) \]-*(\+-*)?", line)
        if m:
            if int(m.group(1)) != len(records) + 1:
                problems.append(f"record line {line!r}")
            records.append([])
            continue
        if " | " in line:
            name, _, value = line.partition(" | ")
        elif line.endswith(" |"):
            name, value = line[:-2], ""
        else:
            problems.append(f"line {line!r}")
            continue
        at = cells(name)
        if bar is None:
            bar = at
        if at != bar:
            problems.append(f"bar at cell {at}, not {bar}: {line!r}")
        records[-1].append((name.rstrip(), value))
    for rec in records:
        if [n for n, _ in rec] != columns:
            problems.append(f"names {[n for n, _ in rec]!r}")
    compare([[v for _, v in rec] for rec in records], null_as=null_text)
else:
    problems.append(f"no format {fmt}")

for p in problems[:20]:
    print(p)
sys.exit(1 if problems else 0)
