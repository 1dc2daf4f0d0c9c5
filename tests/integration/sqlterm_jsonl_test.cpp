// JSON lines in and out of \copy, and sqlterm's own standard input (pstdin) as a load's
// source in every format.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/databases.h"
#include "support/process.h"
#include "support/sqlterm_fixture.h"

using vela::testing::run_process;
using vela::testing::run_result;

namespace {

class Jsonl : public vela::testing::sqlterm_test {
 protected:
  // One query's rows, "|" between values, NULL as <null>.
  std::string rows(const std::string& query) {
    std::string out = run({"-do", "-lc", "-cd:|", "-null:<null>", "-q:" + query}).out;
    while (!out.empty() && out.front() == '\n') out.erase(0, 1);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
};

// Objects with every kind of value: numbers as written, nested values, keys missing or null,
// escapes; an export of the loaded table parses back to the same values.
const char* const write_objects = R"(
import json, sys
n = int(sys.argv[2])
with open(sys.argv[1], 'w', encoding='utf-8') as f:
    for i in range(1, n + 1):
        o = {'id': i, 'name': 'n\u00e9 "%d"\t\U0001F600\\' % i, 'price': '%d.%02d' % (i, i % 100)}
        if i % 3: o['flag'] = i % 2 == 0
        o['tags'] = {'k': [i, 'x', None, True]} if i % 4 else [1.5, {'deep': 'v'}]
        if i % 7 == 0: o['note'] = None
        elif i % 5: o['note'] = 'note %d' % i
        line = json.dumps(o, ensure_ascii=i % 2 == 0)
        f.write(line.replace('"price": "%s"' % o['price'], '"price": %s' % o['price']) + '\n')
)";

// The file written back, object by object: nested values come back as their JSON text, a
// boolean column's values as true/false or 1/0, numbers equal as decimals (as strings where
// the driver describes the column as text: a third argument), missing keys null.
const char* const compare_objects = R"(
import json, sys
from decimal import Decimal
a = [json.loads(l, parse_float=Decimal) for l in open(sys.argv[1], encoding='utf-8')]
b = [json.loads(l, parse_float=Decimal) for l in open(sys.argv[2], encoding='utf-8')]
b.sort(key=lambda o: int(o['id']))
def same(x, y):
    if isinstance(x, (dict, list)): return isinstance(y, str) and json.loads(y, parse_float=Decimal) == x
    if isinstance(x, bool): return y == x or y == int(x)
    if isinstance(y, str) and len(sys.argv) > 3 and isinstance(x, (int, Decimal)): y = Decimal(y)
    if isinstance(x, (int, Decimal)): return not isinstance(y, (bool, str)) and Decimal(y) == Decimal(x)
    return x == y
keys = set(k for o in a for k in o)
bad = [(x, y) for x, y in zip(a, b) if set(y) != keys or not all(same(x.get(k), y[k]) for k in keys)]
print('equal %d' % len(a) if len(a) == len(b) and not bad else 'different %d %d %r' % (len(a), len(b), bad[:2]))
)";

} // namespace

// 100,000 objects (fewer on the servers) make a table with CREATE and come back equal.
TEST_P(Jsonl, LoadWithCreateAndExportBackEqual) {
  const std::string count = GetParam() == "sqlite" ? "100000" : "5000";
  const std::string in = db->dir.path("in.jsonl"), out = db->dir.path("out.jsonl");
  ASSERT_EQ(run_process({"python3", "-c", write_objects, in, count}).status, 0);
  ASSERT_EQ(run({"-q:drop table if exists js"}).status, 0);
  const run_result r = run({"-oe", "-q:\\copy js from '" + in + "' with (format jsonl, create)"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Table js created."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Rows loaded: " + count + ". Rows failed: 0."), std::string::npos) << r.out << r.err;
  const struct {
    const char* kind;
    const char* types;  // the keys in the order first seen, typed by their values
  } expected[] = {
      {"pg", "id integer, name text, price numeric(6,2), flag boolean, tags text, note text"},
      {"maria", "id int(11), name longtext, price decimal(6,2), flag tinyint(1), tags longtext, note longtext"},
      {"sqlite", "id INTEGER, name TEXT, price NUMERIC(8,2), flag BOOLEAN, tags TEXT, note TEXT"},
  };
  for (const auto& e : expected) {
    if (GetParam() != e.kind) continue;
    EXPECT_EQ(rows(vela::testing::column_types_query(e.kind, "js")), e.types);
  }
  const run_result w = run({"-oe", "-q:\\copy (select * from js order by id) to '" + out + "' with (format jsonl)"});
  EXPECT_EQ(w.status, 0) << w.out << w.err;
  EXPECT_NE(w.out.find("Rows written: " + count), std::string::npos) << w.out << w.err;
  // SQLite's driver describes a NUMERIC column as text: its numbers are written as strings.
  std::vector<std::string> compare = {"python3", "-c", compare_objects, in, out};
  if (GetParam() == "sqlite") compare.push_back("text numbers");
  EXPECT_EQ(run_process(compare).out, "equal " + count + "\n");
}

// Each line's values as the table keeps them, and lines refused with their number and reason.
TEST_P(Jsonl, ValuesAndRefusedLines) {
  use_table("jv_");
  sql("create table " + table + " (id integer, v text, b boolean)");
  const struct {
    const char* line;
    const char* stored;  // v of the row, or the reason the line is refused
    bool refused;
  } cases[] = {
      {R"({"id":1,"v":{"a":[1,2.50,"x"],"b":{}}})", R"({"a":[1,2.50,"x"],"b":{}})", false},
      {R"({"id":2,"v":[true,null,[]]})", "[true,null,[]]", false},
      {R"({"id":3})", "<null>", false},
      {R"({"id":4,"v":null})", "<null>", false},
      {R"({"id":5,"v":"caf\u00e9"})", "café", false},
      {R"({"id":6,"v":"\ud83d\ude00 ok"})", "😀 ok", false},
      {R"({"id":7,"v":123456789012345678901234567890})", "123456789012345678901234567890", false},
      {R"({"id":8,"v":18446744073709551615})", "18446744073709551615", false},
      {R"({"id":9,"v":-9223372036854775809})", "-9223372036854775809", false},
      {R"({"id":10,"v":1.10e+3})", "1.10e+3", false},
      {R"({"id":11,"v":true,"b":true})", "true", false},
      {R"({"ID":12,"V":"letter case","b":false})", "letter case", false},
      {R"(  {"v":"a\"b\\c\/d", "id":13}  )", R"(a"b\c/d)", false},
      {"", nullptr, false},  // blank: passed over
      {"[1,2]", "not a JSON object: an array", true},
      {R"("text")", "not a JSON object: a single value", true},
      {R"({"id":16,)", "not a JSON object: syntax error", true},
      {R"({"id":17,"zz":1})", "the key \"zz\" is no column of the table", true},
      {R"({"id":18} {"id":19})", "not a JSON object: syntax error", true},
      {R"({"id":20,"v":"\ud800"})", "not a JSON object: syntax error", true},
  };
  std::string text, loaded;
  std::vector<std::string> refused;
  for (size_t i = 0; i < std::size(cases); ++i) {
    text += std::string(cases[i].line) + "\n";
    if (!cases[i].stored) continue;
    const std::string line = std::to_string(i + 1);
    if (cases[i].refused) refused.push_back("Row not loaded (" + db->dir.path("v.jsonl") + ":" + line + "): " + cases[i].stored);
    else loaded += (loaded.empty() ? "" : "\n") + line + "|" + cases[i].stored;
  }
  db->dir.write("v.jsonl", text);
  const run_result r = run({"-q:\\copy " + table + " from '" + db->dir.path("v.jsonl") + "' with (format jsonl)"});
  EXPECT_NE(r.out.find("Rows loaded: 13. Rows failed: 6."), std::string::npos) << r.out << r.err;
  for (const std::string& one : refused) EXPECT_NE((r.out + r.err).find(one), std::string::npos) << one << "\n" << r.out;
  EXPECT_EQ(rows("select id, v from " + table + " order by id"), loaded);
  // JSON booleans go into a boolean column as the database's own truth values.
  EXPECT_EQ(rows("select id from " + table + " where b"), "11");
  EXPECT_EQ(rows("select id from " + table + " where not b"), "12");
}

// An export: numbers as numbers (a driver's text that is no JSON number as a string),
// booleans, NULL as null, text escaped, binary as the text the CSV export writes.
TEST_P(Jsonl, ExportWritesJsonValues) {
  use_table("jx_");
  const std::string t = table;
  sql("create table " + t + " (i integer, d numeric(12,4), f double precision, b boolean, s text, x " + db->blob_type() + ")");
  sql("insert into " + t + " values (-7, 12.5000, 0.1, " + (pg() ? "true" : "1") + ", 'a\"b\n\ttab é', " + db->hex("00ff") +
      "), (null, null, null, null, null, null)");
  const std::string out = db->dir.path("x.jsonl");
  const run_result r = run({"-oe", "-q:\\copy (select * from " + t + " order by i is not null, i) to '" + out + "' with (format jsonl)"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  // SQLite's driver describes NUMERIC and DOUBLE PRECISION columns as text; MariaDB's boolean
  // is a TINYINT(1), described as a number.
  const std::string numbers = GetParam() == "sqlite" ? R"("d":"12.5","f":"0.1")" : R"("d":12.5000,"f":0.1)";
  const std::string boolean = maria() ? "1" : "true";
  EXPECT_EQ(db->dir.read("x.jsonl"),
            R"({"i":null,"d":null,"f":null,"b":null,"s":null,"x":null})" "\n"
            R"({"i":-7,)" + numbers + R"(,"b":)" + boolean + R"(,"s":"a\"b\n\ttab é","x":"\\x00ff"})" "\n");
}

// sqlterm's standard input as the source, each format, into a table there and into one
// made from the input (which is read twice); pstdin's lines are numbered as a file's.
TEST_P(Jsonl, StandardInputAsSource) {
  use_table("ji_");
  const struct {
    const char* options;
    std::string input;
    const char* said;
  } cases[] = {
      {"format text", "1\tone\n2\t\\N\n", "Rows loaded: 2. Rows failed: 0."},
      {"format csv, header", "id,name\r\n1,one\r\n2,\r\n", "Rows loaded: 2. Rows failed: 0. Lines skipped: 1."},
      {"format jsonl", "{\"id\":1,\"name\":\"one\"}\n\n{\"id\":2}\n", "Rows loaded: 2. Rows failed: 0."},
      {"format csv, header, create", "id,name\n1,one\n2,\n", "Rows loaded: 2. Rows failed: 0. Lines skipped: 1."},
      {"format jsonl, create", "{\"id\":1,\"name\":\"one\"}\n{\"id\":2,\"name\":null}\n", "Rows loaded: 2. Rows failed: 0."},
      {"format jsonl", "{\"id\":1,\"name\":\"one\"}\nnope\n{\"id\":2}\n", "Row not loaded (pstdin:2): not a JSON object"},
  };
  for (const auto& c : cases) {
    const bool create = std::string(c.options).find("create") != std::string::npos;
    sql("drop table if exists " + table);
    if (!create) sql("create table " + table + " (id integer, name text)");
    const run_result r = run({"-q:\\copy " + table + " from pstdin with (" + c.options + ")"}, c.input);
    EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << c.options << "\n" << r.out << r.err;
    EXPECT_EQ(rows("select id, name from " + table + " order by id"), "1|one\n2|<null>") << c.options;
  }
}

// Standard input read as it comes: characters cut between two reads arrive whole; with
// ENCODING it is kept in a file first and read in that code page.
TEST_P(Jsonl, StandardInputPiecesAndCodePages) {
  use_table("jp_");
  sql("create table " + table + " (id integer, name text)");
  std::string big;
  for (int i = 1; i <= 40000; ++i) big += "{\"id\":" + std::to_string(i) + ",\"name\":\"" + std::string(i % 7, 'x') + "é😀\"}\n";
  const run_result r = run({"-q:\\copy " + table + " from pstdin with (format jsonl)"}, big);
  EXPECT_NE(r.out.find("Rows loaded: 40000. Rows failed: 0."), std::string::npos) << r.out << r.err;
  EXPECT_EQ(rows("select count(*) from " + table + " where name like '%é😀'"), "40000");
  sql("delete from " + table);
  const run_result latin = run({"-q:\\copy " + table + " from pstdin with (format text, encoding 'latin1')"}, "1\t\xe9t\xe9\n");
  EXPECT_NE(latin.out.find("Rows loaded: 1. Rows failed: 0."), std::string::npos) << latin.out << latin.err;
  EXPECT_EQ(rows("select name from " + table), "été");
}

// A value past the sample that its column's type cannot hold widens the column (SQLite: the
// table is made again and standard input, kept in its file, is read again); no row is refused.
TEST_P(Jsonl, LaterValuesWidenColumnsFromStandardInput) {
  use_table("jw_");
  const run_result r = run({"-q:\\copy " + table + " from pstdin with (format jsonl, create, sample 2)"},
                           "{\"id\":1,\"v\":10}\n{\"id\":2,\"v\":20}\n{\"id\":3,\"v\":\"thirty\"}\n");
  EXPECT_NE(r.out.find("Rows loaded: 3. Rows failed: 0."), std::string::npos) << r.out << r.err;
  EXPECT_NE(r.out.find(GetParam() == "sqlite" ? "Line 3 needs wider column types" : "widened to"), std::string::npos) << r.out;
  EXPECT_EQ(rows("select id, v from " + table + " order by id"), "1|10\n2|20\n3|thirty");
}

// Options that do not go together are refused before anything is read.
TEST_P(Jsonl, HeaderDoesNotGoWithJsonLines) {
  use_table("jh_");
  sql("create table " + table + " (id integer)");
  const run_result r = run({"-q:\\copy " + table + " from pstdin with (format jsonl, header)"}, "{\"id\":1}\n");
  EXPECT_NE((r.out + r.err).find("HEADER does not go with FORMAT jsonl"), std::string::npos) << r.out << r.err;
  EXPECT_EQ(rows("select count(*) from " + table), "0");
}

INSTANTIATE_TEST_SUITE_P(Databases, Jsonl, ::testing::Values("sqlite", "pg", "maria"));
