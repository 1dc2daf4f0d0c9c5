// Loads into tables that do not exist yet: made from another data source's columns, or from a
// CSV file's header and the types its values need.
#include <gtest/gtest.h>

#include <string>

#include "support/databases.h"
#include "support/process.h"
#include "support/sqlterm_fixture.h"

using vela::testing::column_types_query;
using vela::testing::database;
using vela::testing::run_process;
using vela::testing::run_result;

namespace {

using Create = vela::testing::sqlterm_test;

run_result sqlterm(const database& d, std::vector<std::string> args) {
  args.insert(args.begin(), {SQLTERM_PATH, "-cs:" + d.cs});
  return run_process(args);
}

std::string one_value(const database& d, const std::string& query) {
  std::string out = sqlterm(d, {"-do", "-lc", "-cd:|", "-null:<null>", "-q:" + query}).out;
  while (!out.empty() && out.front() == '\n') out.erase(0, 1);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// Python reads both CSV files and compares them value by value: numbers as decimals, the
// booleans' 1/0/t/f/true/false as truth values, everything else as text.
const char* const compare_values = R"(
import csv, sys
import re
from decimal import Decimal, InvalidOperation
def norm(v):
    if v in ('', '<null>'): return v
    t = re.match(r'^(\d{4}-\d\d-\d\d)[ T](\d\d:\d\d:\d\d)(\.\d*)?$', v)
    if t: return t.group(1) + ' ' + t.group(2) + (t.group(3) or '').rstrip('0').rstrip('.')
    l = v.lower()
    if l in ('true', 't'): return 'B1'
    if l in ('false', 'f'): return 'B0'
    try: return Decimal(v)
    except InvalidOperation: return v
def rows(name, header):
    with open(name, newline='', encoding='utf-8') as f:
        r = list(csv.reader(f))
    return r[1:] if header else r
a, b = rows(sys.argv[1], True), rows(sys.argv[2], False)
bools = [i for i in range(len(a[0])) if all(x[i] in ('true', 'false', '') for x in a)]
def fix(r):
    return [('B1' if x == '1' else 'B0' if x == '0' else norm(x)) if i in bools else norm(x) for i, x in enumerate(r)]
bad = [(i, x, y) for i, (x, y) in enumerate(zip(a, b)) if fix(x) != fix(y)]
print('equal %d' % len(a) if not bad and len(a) == len(b) else 'different %d %d %r' % (len(a), len(b), bad[:3]))
)";

} // namespace

// A table copied with CREATE from SQLite and from MariaDB to PostgreSQL: the types the source
// describes become PostgreSQL's, and every value arrives as it was.
TEST(CreateFromSource, ValuesArriveExactly) {
  const struct {
    const char* from;
    const char* table;
    const char* types;  // the created columns on PostgreSQL (SQLite's driver does not tell a numeric's scale)
  } cases[] = {
      {"sqlite",
       "create table src(i integer, b bigint, n numeric(12,4), d double, dt date, ts timestamp, f boolean, t text,"
       " v varchar(20), bl blob)",
       "i bigint, b bigint, n numeric, d double precision, dt date, ts timestamp without time zone, f boolean,"
       " t text, v character varying(20), bl bytea"},
      {"maria",
       "create table src(i int, b bigint, n decimal(12,4), d double, dt date, ts datetime(6), f bit(1), t text,"
       " v varchar(20), bl longblob)",
       "i integer, b bigint, n numeric(12,4), d double precision, dt date, ts timestamp without time zone, f boolean,"
       " t text, v character varying(20), bl bytea"},
  };
  database target("pg");
  ASSERT_TRUE(target.ready()) << target.why_not();
  for (const auto& c : cases) {
    database source(c.from);
    ASSERT_TRUE(source.ready()) << source.why_not();
    const std::string bit1 = source.kind == "maria" ? "b'1'" : "1", bit0 = source.kind == "maria" ? "b'0'" : "0";
    const run_result made = sqlterm(source, {"-oe", "-q:drop table if exists src;\n" + std::string(c.table) + ";\n"
        "insert into src values (2147483647, 9007199254740993, 12345678.1234, 0.1, '2024-02-29', '2024-01-05 10:11:12.5', " +
        bit1 + ", 'Ünïcødé 日本', 'a''b', " + source.hex("00ff10") + ");\n"
        "insert into src values (null, null, null, null, null, null, null, null, null, null);\n"
        "insert into src values (-5, -9223372036854775808, -0.0001, 1e300, '1999-12-31', '1999-12-31 23:59:59', " + bit0 +
        ", '', 'x', " + source.hex("") + ");"});
    ASSERT_EQ(made.status, 0) << made.out << made.err;
    for (const bool command_line : {true, false}) {
      ASSERT_EQ(sqlterm(target, {"-q:drop table if exists dst"}).status, 0);
      const run_result r = command_line
          ? sqlterm(target, {"-copy_from:" + source.cs, "-into:dst", "-create", "-q:select * from src"})
          : sqlterm(target, {"-oe", "-q:\\copy dst from connection '" + source.cs + "' query 'select * from src' with (create)"});
      EXPECT_EQ(r.status, 0) << r.out << r.err;
      EXPECT_NE(r.out.find("Table dst created."), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("Rows loaded: 3. Rows failed: 0."), std::string::npos) << r.out << r.err;
      EXPECT_EQ(one_value(target, column_types_query("pg", "dst")), c.types) << c.from;
      EXPECT_EQ(one_value(target, "select i::text, b::text, n::text, d::text, dt::text, ts::text, f::text, t, v, encode(bl, 'hex')"
                                  " from dst order by i nulls first"),
                "<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>\n"
                "-5|-9223372036854775808|-0.0001|1e+300|1999-12-31|1999-12-31 23:59:59|false||x|\n"
                "2147483647|9007199254740993|12345678.1234|0.1|2024-02-29|2024-01-05 10:11:12.5|true|Ünïcødé 日本|a'b|00ff10")
          << c.from;
    }
  }
}

// CREATE fails on a table that is there; IF NOT EXISTS loads into it; REPLACE makes it
// again. Names from the header that need quotes keep their letters, blanks and quotes.
TEST_P(Create, ExistingTablesAndQuotedNames) {
  const std::string q = db->d.quote, table = q + "New Table" + q;
  db->dir.write("n.csv", "id,Mixed Case,select,\"say \"\"hi\"\"\"\n1,x,y,z\n2,,b,c\n");
  const std::string load = "\\copy " + table + " from '" + db->dir.path("n.csv") + "' with (format csv, header";
  const struct {
    std::string options;
    int status;
    const char* said;
    const char* count;
  } cases[] = {
      {", create)", 0, "Table \"New Table\" created.", "2"},
      {", create)", 1, "COPY not run: [", "2"},
      {", create if not exists)", 0, "Rows loaded: 2. Rows failed: 0.", "4"},
      {", replace)", 0, "Rows loaded: 2. Rows failed: 0.", "2"},
  };
  ASSERT_EQ(run({"-q:drop table if exists " + table}).status, 0);
  for (const auto& c : cases) {
    const run_result r = run({"-oe", "-q:" + load + c.options});
    EXPECT_EQ(r.status != 0, c.status != 0) << c.options << r.out << r.err;
    std::string said = c.said;
    for (size_t at; q != "\"" && (at = said.find('"')) != std::string::npos;) said.replace(at, 1, q);
    EXPECT_NE((r.out + r.err).find(said), std::string::npos) << c.options << r.out << r.err;
    EXPECT_EQ(one_value(*db, "select count(*) from " + table), c.count) << c.options;
  }
  const std::string quote_inside = q == "\"" ? "\"say \"\"hi\"\"\"" : "`say \"hi\"`";
  EXPECT_EQ(one_value(*db, "select " + q + "Mixed Case" + q + ", " + q + "select" + q + ", " + quote_inside + " from " + table +
                               " order by id"),
            "x|y|z\n<null>|b|c");
}

// Inside a transaction the table made joins it, and a ROLLBACK takes it back with the rows;
// where making a table would commit the transaction first (MariaDB), the load does not start
// and the transaction stays as it was.
TEST_P(Create, InsideATransaction) {
  db->dir.write("t.csv", "a,b\n1,x\n2,y\n");
  ASSERT_EQ(run({"-q:drop table if exists tx_new; drop table if exists tx_old; create table tx_old(a int)"}).status, 0);
  const std::string begin = maria() ? "start transaction" : "begin";
  db->dir.write("t.sql", begin + ";\ninsert into tx_old values (1);\n\\copy tx_new from '" + db->dir.path("t.csv") +
                             "' with (format csv, header, create)\nrollback;\n");
  const run_result r = run({"-qf:" + db->dir.path("t.sql")});
  if (maria()) EXPECT_NE((r.out + r.err).find("COPY not run: this database commits the open transaction"), std::string::npos) << r.out << r.err;
  else EXPECT_NE(r.out.find("Rows loaded: 2. Rows failed: 0."), std::string::npos) << r.out << r.err;
  EXPECT_EQ(one_value(*db, "select count(*) from tx_old"), "0");
  const run_result gone = run({"-q:select * from tx_new"});
  EXPECT_TRUE(vela::testing::has_sql_error(gone.out + gone.err)) << gone.out << gone.err;
}

// A CSV file's column types come from its first rows (SAMPLE N); a later value that does not
// fit widens its column, in place where the database can and numbers stay as they read,
// otherwise with the table made again once; no row is refused, and every value reads back.
TEST_P(Create, TypesFromTheFileWidenWhenNeeded) {
  const char* const write = R"(
import sys
with open(sys.argv[1], 'w') as f:
    f.write('id,n,price,day,at,flag,name,rare,late,big,frac\n')
    for i in range(1, 25001):
        late = str(i) if i <= 20000 else 'abc'
        big = str(i) if i <= 15000 else '3000000000'
        frac = str(i % 100) if i <= 12000 else '1.5'
        rare = '' if i % 5000 else 'seen'
        f.write('%d,%d,%d.%02d,2024-%02d-%02d,2024-01-02 03:04:%02d,%s,"name, %d ü",%s,%s,%s,%s\n' % (
            i, i * 7, i, i % 100, i % 12 + 1, i % 28 + 1, i % 60, 'true' if i % 2 else 'false', i, rare, late, big, frac))
)";
  const std::string in = db->dir.path("inf.csv"), out = db->dir.path("back.csv");
  ASSERT_EQ(run_process({"python3", "-c", write, in}).status, 0);
  ASSERT_EQ(run({"-q:drop table if exists inf"}).status, 0);
  const run_result r = run({"-oe", "-q:\\copy inf from '" + in + "' with (format csv, header, create, sample 10000)"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Rows loaded: 25000. Rows failed: 0."), std::string::npos) << r.out << r.err;
  EXPECT_EQ(r.out.find("Column n of inf"), std::string::npos) << r.out;  // more digits, the same integer
  const struct {
    const char* kind;
    const char* types;
    const char* said;  // how the columns widened
  } expected[] = {
      {"pg",
       "id integer, n integer, price numeric(7,2), day date, at timestamp without time zone, flag boolean, name text,"
       " rare text, late text, big bigint, frac numeric(3,1)",
       "Column frac of inf widened to numeric(3,1) for line 12002."},
      {"maria",
       "id int(11), n int(11), price decimal(7,2), day date, at datetime(6), flag tinyint(1), name longtext, rare longtext,"
       " late longtext, big bigint(20), frac decimal(3,1)",
       "Column big of inf widened to bigint for line 15002."},
      {"sqlite",
       "id INTEGER, n INTEGER, price NUMERIC(7,2), day DATE, at TIMESTAMP, flag BOOLEAN, name TEXT, rare TEXT, late TEXT,"
       " big INTEGER, frac NUMERIC(3,1)",
       "Line 12002 needs wider column types: table inf is made again and the load starts again."},
  };
  for (const auto& e : expected) {
    if (db->kind != e.kind) continue;
    EXPECT_EQ(one_value(*db, column_types_query(db->kind, "inf")), e.types);
    EXPECT_NE(r.out.find(e.said), std::string::npos) << r.out;
  }
  const run_result back = run({"-oe", "-q:\\copy (select * from inf order by id) to '" + out + "' with (format csv)"});
  ASSERT_EQ(back.status, 0) << back.out << back.err;
  EXPECT_EQ(run_process({"python3", "-c", compare_values, in, out}).out, "equal 25000\n");
}

// A boolean or a date that turns out to be text makes the table again on every database: the
// values then go in as they were written, and a malformed line is told once, not twice.
TEST_P(Create, TableMadeAgainOnce) {
  db->dir.write("again.csv", "flag,day,n\ntrue,2024-01-01,1\nfalse,2024-01-02,2\n\"bad\"x,2024-01-03,3\nmaybe,soon,4\n");
  ASSERT_EQ(run({"-q:drop table if exists again"}).status, 0);
  const run_result r = run({"-q:\\copy again from '" + db->dir.path("again.csv") + "' with (format csv, header, create, sample 2)"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const std::string said = r.out + r.err;
  EXPECT_NE(said.find("Line 5 needs wider column types: table again is made again and the load starts again."), std::string::npos) << said;
  EXPECT_NE(said.find("Rows loaded: 3. Rows failed: 1."), std::string::npos) << said;
  const size_t told = said.find("Row not loaded");
  EXPECT_NE(told, std::string::npos) << said;
  EXPECT_EQ(said.find("Row not loaded", told + 1), std::string::npos) << said;
  EXPECT_EQ(one_value(*db, "select flag, day from again order by n"), "true|2024-01-01\nfalse|2024-01-02\nmaybe|soon");
}

INSTANTIATE_TEST_SUITE_P(Databases, Create, vela::testing::all_databases(), vela::testing::param_name);
