#!/usr/bin/env python3
"""Whole SQLite databases copied to PostgreSQL: sqlterm's -copy_from … -tables:* (one job, and
-jobs:2, which shares a table with an integer key between two jobs) against pgloader, side by
side in one run, on a database of 11 tables and about 15,000 rows with keys, indexes and
foreign keys, and on one table of 1,000,000 rows × 5 columns with its primary key.
Before each run the target's schema is made empty. After the runs the primary keys, indexes and
foreign keys that each tool left are compared.

Usage: bench/dbcopy_bench.py BUILD_DIR [rows of the big table]
Needs pgloader (apt-get install pgloader; not a dependency of the project) and sqlite3.
Prints the median wall and CPU seconds of interleaved rounds (BENCH_RUNS, default 5).
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from benchlib import PgTemp, interleaved_runs  # noqa: E402

SMALL = """
create table users (id integer primary key, email varchar(80) not null, name varchar(60), created timestamp);
create unique index users_email on users (email);
create table categories (id integer primary key, name varchar(40) not null unique);
create table products (id integer primary key, category_id integer references categories (id), sku varchar(20) not null,
  title varchar(100), price numeric(12,4));
create unique index products_sku on products (sku);
create table orders (id integer primary key, user_id integer not null references users (id), placed timestamp);
create index orders_placed on orders (placed);
create table order_items (order_id integer not null references orders (id), line integer not null,
  product_id integer references products (id), qty integer, amount numeric(12,4), primary key (order_id, line));
create table reviews (id integer primary key, product_id integer references products (id),
  user_id integer references users (id), stars integer, body text);
create index reviews_product_stars on reviews (product_id, stars);
create table tags (id integer primary key, label varchar(30) not null unique);
create table product_tags (product_id integer not null references products (id), tag_id integer not null references tags (id),
  primary key (product_id, tag_id));
create table addresses (id integer primary key, user_id integer references users (id), city varchar(40), zip varchar(10));
create index addresses_city on addresses (city);
create table payments (id integer primary key, order_id integer references orders (id), amount numeric(12,4), paid_at timestamp);
create table audit_log (id integer primary key, event varchar(20), at timestamp, payload blob);
"""


def fill_big(db, rows):
    """The five columns of the export benchmarks' table, its id the primary key."""
    subprocess.run(["sqlite3", db,
                    "create table big(id integer primary key, name varchar(20), amount double, created timestamp,"
                    " note varchar(40));"
                    f"with recursive n(i) as (select 1 union all select i + 1 from n where i < {rows}) "
                    "insert into big select i, 'name ' || i, i * 1.25, '2024-01-02 03:04:05', "
                    "'a note of some forty characters, ' || i from n;"], check=True)


def fill_small(db):
    seq = "with recursive n(i) as (select 1 union all select i + 1 from n where i < %d) "
    sql = SMALL + "".join([
        seq % 1000 + "insert into users select i, 'user' || i || '@example.org', 'Ünïcødé ' || i,"
        " '2024-01-02 03:04:05' from n;",
        seq % 20 + "insert into categories select i, 'category ' || i from n;",
        seq % 500 + "insert into products select i, i % 20 + 1, 'SKU-' || i, 'product ' || i, i * 1.2345 from n;",
        seq % 3000 + "insert into orders select i, i % 1000 + 1, '2024-02-' || printf('%02d', i % 28 + 1) || ' 10:00:00' from n;",
        seq % 6000 + "insert into order_items select (i - 1) / 2 + 1, i % 2 + 1, i % 500 + 1, i % 7 + 1, i * 0.5 from n;",
        seq % 1500 + "insert into reviews select i, i % 500 + 1, i % 1000 + 1, i % 5 + 1,"
        " case when i % 4 then 'a review ' || i end from n;",
        seq % 50 + "insert into tags select i, 'tag ' || i from n;",
        seq % 1000 + "insert into product_tags select (i - 1) / 2 + 1, i % 50 + 1 from n;",
        seq % 1000 + "insert into addresses select i, i, 'city ' || (i % 37), printf('%05d', i) from n;",
        seq % 900 + "insert into payments select i, i, i * 3.25, '2024-03-01 12:00:00' from n;",
        seq % 30 + "insert into audit_log select i, 'event', '2024-03-02 00:00:00', randomblob(64) from n;",
    ])
    subprocess.run(["sqlite3", db, sql], check=True)


# The keys of every table of the public schema, named by what they hold and not by their names.
KEYS = """
select conrelid::regclass || ' ' || regexp_replace(pg_get_constraintdef(oid), '\\).*$', ')')
  from pg_constraint where connamespace = 'public'::regnamespace and contype in ('p', 'f')
union all
select indrelid::regclass || ' ' || regexp_replace(regexp_replace(pg_get_indexdef(indexrelid), 'INDEX \\S+ ON \\S+ USING btree', 'INDEX'), '^CREATE ', '')
  from pg_index where indrelid in (select oid from pg_class where relnamespace = 'public'::regnamespace) and not indisprimary
order by 1
"""


def psql_lines(pg, sql):
    env = dict(os.environ, PGPASSWORD=pg.password, PGOPTIONS="-c client_min_messages=warning")
    out = subprocess.run([f"{pg.bin}/psql", "-At", "-h", "127.0.0.1", "-p", str(pg.port), "-U", pg.user, "-d", "postgres",
                          "-c", sql], check=True, env=env, capture_output=True, text=True).stdout
    return [line for line in out.splitlines() if line]


def cases(sqlterm, pg, db):
    source = "Driver=SQLite3;Database=%s;" % db
    target = "pgsql://%s:%s@127.0.0.1:%d/postgres" % (pg.user, pg.password, pg.port)
    copy = [sqlterm, "-cs:" + pg.connection_string(), "-copy_from:" + source, "-tables:*"]
    return {
        "sqlterm": copy,
        "sqlterm -jobs:2": copy + ["-jobs:2"],
        "pgloader": ["pgloader", "--quiet", "sqlite://" + db, target],
    }


def measure(title, sqlterm, pg, db):
    got_keys = {}

    def empty(_name):
        psql_lines(pg, "drop schema public cascade; create schema public")

    runs = interleaved_runs(cases(sqlterm, pg, db), prepare=empty)
    print(title)
    for name, rs in runs.items():
        wall, cpu = statistics.median(r[0] for r in rs), statistics.median(r[1] for r in rs)
        print("  %-16s wall %6.2f s  CPU %6.2f s" % (name, wall, cpu))
    for name, cmd in cases(sqlterm, pg, db).items():
        empty(name)
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        got_keys[name] = psql_lines(pg, KEYS)
    base = runs["pgloader"]
    for name in ("sqlterm", "sqlterm -jobs:2"):
        ratio = statistics.median(r[0] for r in runs[name]) / statistics.median(r[0] for r in base)
        same = got_keys[name] == got_keys["pgloader"]
        print("  %-16s %.2fx pgloader's wall time; keys and indexes %s" % (name, ratio, "the same" if same else "DIFFER"))
        if not same:
            for line in sorted(set(got_keys[name]) ^ set(got_keys["pgloader"])):
                print("    %s %s" % ("sqlterm only: " if line in got_keys[name] else "pgloader only:", line))
    print("  %d keys and indexes, e.g. %s" % (len(got_keys["pgloader"]), got_keys["pgloader"][:2]))


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    sqlterm = os.path.join(build, "Src", "sqlterm")
    if not shutil.which("pgloader"):
        raise SystemExit("pgloader is not installed (apt-get install pgloader)")
    tmp = tempfile.mkdtemp(prefix="vela-dbcopy-")
    pg = PgTemp()
    try:
        small, big = os.path.join(tmp, "small.db"), os.path.join(tmp, "big.db")
        fill_small(small)
        fill_big(big, rows)
        measure("11 tables, %d rows" % 15000, sqlterm, pg, small)
        measure("1 table, %d rows x 5 columns" % rows, sqlterm, pg, big)
    finally:
        pg.stop()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
