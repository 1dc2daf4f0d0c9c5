// Loads: \copy from and to CSV and text files, and rows copied from one data source into
// another, on every database.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <tuple>
#include <thread>

#include "support/databases.h"
#include "support/sqlterm_fixture.h"
#include "support/process.h"
#include "support/pty_session.h"

using vela::testing::database;
using vela::testing::run_process;
using vela::testing::run_result;

namespace {

using Copy = vela::testing::sqlterm_test;

// The address checker keeps freed memory in quarantine: peak sizes say nothing there.
#ifdef __SANITIZE_ADDRESS__
constexpr bool memory_measured = false;
#else
constexpr bool memory_measured = true;
#endif

// Python's csv module writes the file (CR LF, a UTF-8 mark) and later reads both files back;
// the line "7,"bad"x,z" is malformed.
const char* const write_csv = R"(
import csv, sys
rows = [[1, 'plain', 'x'], [2, 'comma, inside', 'quote " inside'], [3, 'line\nbreak', 'crlf\r\nin'],
        [4, None, 'Ünïcødé ØÙÚÛ 日本 😀'], [5, '  spaces  ', 'back\\slash \\N'], [6, 'tab\there', '']]
with open(sys.argv[1], 'w', newline='', encoding='utf-8-sig') as f:
    w = csv.writer(f)
    w.writerow(['id', 'a', 'b'])
    for r in rows[:4]: w.writerow(r)
    f.write('7,"bad"x,z\r\n')
    for r in rows[4:]: w.writerow(r)
)";

const char* const compare_csv = R"(
import csv, sys
def rows(name, enc):
    with open(name, newline='', encoding=enc) as f:
        return [r for r in csv.reader(f) if r[0] != '7']
a, b = rows(sys.argv[1], 'utf-8-sig'), rows(sys.argv[2], 'utf-8')
print('equal' if a == b else 'different: %r %r' % (a, b))
)";

} // namespace

// A CSV file with every awkward value loads and exports back equal; the malformed line is
// reported with its number and the others load. The text format goes round too.
TEST_P(Copy, CsvFileLoadsAndExportsBackEqual) {
  const std::string in = db->dir.path("in.csv"), out = db->dir.path("out.csv"), txt = db->dir.path("out.txt");
  ASSERT_EQ(run_process({"python3", "-c", write_csv, in}).status, 0);
  const std::string script = "drop table if exists cp;\ncreate table cp(id int, a varchar(40), b " +
                             std::string(db->text_type()) + ");\n"
                             "\\copy cp from '" + in + "' with (format csv, header)\n"
                             "\\copy (select id, a, b from cp order by id) to '" + out + "' with (format csv, header)\n"
                             "\\copy cp (id, a, b) to " + txt + "\n"
                             "drop table if exists cp2;\ncreate table cp2(id int, a varchar(40), b " + db->text_type() + ");\n"
                             "\\copy cp2 from " + txt + "\n"
                             "\\copy cp2 (a, b) from '" + db->dir.path("1251.txt") + "' with (encoding 'WIN1251')\n";
  db->dir.write("1251.txt", "\xcf\xf0\xe8\xe2\xe5\xf2\tcp1251\n");  // "Привет"

  db->dir.write("c.sql", script);
  const run_result r = run({"-qf:" + db->dir.path("c.sql")});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Row not loaded (" + in + ":8): text after a closing quote"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Rows loaded: 6. Rows failed: 1."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Rows loaded: 6. Rows failed: 0."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Rows loaded: 1. Rows failed: 0."), std::string::npos) << r.out;
  // The value as stored, counted by the database itself.
  const std::string length = db->kind == "maria" ? "char_length" : "length";
  EXPECT_EQ(run({"-do", "-cd:|", "-q:select " + length + "(b) from cp where id = 4"}).out, "\n17\n\n");
  const run_result same = run_process({"python3", "-c", compare_csv, in, out});
  EXPECT_EQ(same.out, "equal\n") << same.err;
  const run_result check = run({"-do", "-cd:|", "-lc", "-null:<null>",
                                "-q:select count(*) from cp2 where a is null; select b from cp2 where id = 5;"
                                " select a from cp2 where b = 'cp1251'"});
  EXPECT_EQ(check.out, "\n1\n\nback\\slash \\N\n\nПривет\n\n") << check.err;
}

// Options of \copy and COPY that are not understood, a missing file and a missing table stop
// nothing else, but are failures: "-oe" ends the run with a non-zero status.
TEST_P(Copy, LoadsThatCannotStartAreFailures) {
  const struct {
    std::string command;
    std::string message;
  } cases[] = {
      {"\\copy nt from '" + db->dir.path("none.csv") + "' with (format csv)", "COPY not run"},
      {"\\copy no_such_table from '" + db->dir.path("in.csv") + "'", "COPY not run: ["},
      {"\\copy nt from '" + db->dir.path("in.csv") + "' with (format binary)", "COPY not run: format not supported: binary"},
      {"\\copy nt from '" + db->dir.path("in.csv") + "' with (delimiter 'ab')", "COPY not run: DELIMITER must be"},
      {"\\copy nt from program 'ls'", "COPY not run: PROGRAM is not supported"},
      {"\\copy nt to '/nonexistent/dir/x.csv'", "COPY not run: /nonexistent/dir/x.csv: "},
  };
  db->dir.write("in.csv", "1\n");
  for (const auto& c : cases) {
    db->dir.write("f.sql", "drop table if exists nt;\ncreate table nt(a int);\n" + c.command + "\nselect 1;\n");
    const run_result f = run({"-oe", "-qf:" + db->dir.path("f.sql")});
    EXPECT_NE(f.status, 0) << c.command;
    EXPECT_NE(f.err.find(c.message), std::string::npos) << f.err;
    EXPECT_EQ(f.out.find("select 1"), std::string::npos) << f.out;
  }
}

// \copy typed at the prompt loads, and a load that cannot start says so.
TEST(CopyAtPrompt, LoadsAFile) {
  vela::testing::temp_dir dir;
  const std::string cs = "Driver=SQLite3;Database=" + dir.path("p.db") + ";";
  ASSERT_EQ(run_process({SQLTERM_PATH, "-cs:" + cs, "-q:create table p(a int, b text)"}).status, 0);
  dir.write("p.csv", "a,b\n1,one\n2,\"t,wo\"\n");
  vela::testing::pty_session s({SQLTERM_PATH, "-cs:" + cs}, {{"XDG_STATE_HOME", dir.path("state")}, {"HOME", dir.path()}});
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  ASSERT_TRUE(s.waits_for_input()) << s.output();
  s.type("\\copy p from '" + dir.path("p.csv") + "' with (format csv, header)\r");
  EXPECT_TRUE(s.expect("Rows loaded: 2. Rows failed: 0.")) << s.output();
  s.type("\\copy nothing from '" + dir.path("p.csv") + "'\r");
  EXPECT_TRUE(s.expect("COPY not run: [")) << s.output();
  s.type("exit\r");
  EXPECT_EQ(s.wait_exit(5), 0);
  EXPECT_EQ(run_process({SQLTERM_PATH, "-cs:" + cs, "-do", "-cd:|", "-lc", "-q:select a, b from p order by a"}).out,
            "\n1|one\n2|t,wo\n\n");
}

// Every line of a CSV file is counted: a stray quote fails its own line and the lines after
// it load; a quoted field over several lines loads whole; a malformed header stops the load
// before any row.
TEST_P(Copy, EveryLineCounted) {
  std::string stray;
  for (int i = 1; i <= 1000; ++i) stray += i == 3 ? "3,\"x\n" : std::to_string(i) + ",v" + std::to_string(i) + "\n";
  const struct {
    std::string data;
    std::string options;
    int status;
    std::string out;  // in standard output (the summary), or "" for none
    std::string err;
    std::string rows;  // count and total length of b afterwards
  } cases[] = {
      {stray, "format csv", 0, "Rows loaded: 999. Rows failed: 1.\n", "Row not loaded (@:3): a quoted field is not closed", "999|3891"},
      {"id,b\n1,\"one\ntwo\r\nthree\"\n2,x\n", "format csv, header", 0, "Rows loaded: 2. Rows failed: 0. Lines skipped: 1.", "",
       "2|15"},
      {"\"id,b\n1,a\n2,b\n", "format csv, header", 1, "", "COPY not run: the header is malformed: a quoted field is not closed (@:1)",
       "0|"},
      {"id\n1,a\n", "format csv, header", 1, "", "COPY not run: the header is malformed: 2 values expected, 1 found (@:1)", "0|"},
      // SKIP N passes over the records that begin at line N or before; the header is still read.
      {"id,b\n1,a\n2,\"b\nc\"\n3,d\n", "format csv, header, skip 3", 0, "Rows loaded: 1. Rows failed: 0. Lines skipped: 4.", "",
       "1|1"},
      {"1,a\n", "format csv, skip x", 1, "", "SKIP takes a line number", "0|"},
  };
  for (const auto& c : cases) {
    const std::string file = db->dir.path("lines.csv");
    db->dir.write("lines.csv", c.data);
    const run_result r = run({"-q:drop table if exists lc; create table lc(a int, b varchar(40));\n"
                                     "\\copy lc from '" + file + "' with (" + c.options + ")"});
    EXPECT_EQ(r.status != 0, c.status != 0) << r.out << r.err;
    auto place = [&](std::string t) { return t.find('@') == std::string::npos ? t : t.replace(t.find('@'), 1, file); };
    if (c.out.empty()) EXPECT_EQ(r.out.find("Rows loaded"), std::string::npos) << r.out;
    else EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    EXPECT_NE((r.out + r.err).find(place(c.err)), std::string::npos) << r.out << r.err;
    const std::string length = db->kind == "maria" ? "char_length" : "length";
    EXPECT_EQ(run({"-do", "-cd:|", "-q:select count(*), sum(" + length + "(b)) from lc"}).out, "\n" + c.rows + "\n\n") << c.data.substr(0, 20);
  }
}

// The server ends the session mid-load: the load stops at once with a few lines of error and a
// non-zero status, and the rows it says loaded are those in the table, or the batch whose
// commit was not answered is named.
TEST_P(Copy, ConnectionLostStopsTheLoad) {
  if (db->kind == "sqlite") GTEST_SKIP() << "no server";
  std::string data;
  for (int i = 1; i <= 3000000; ++i) data += std::to_string(i) + ",row\n";
  db->dir.write("big.csv", data);
  data.clear();
  sql("drop table if exists lost");
  sql("create table lost(a int, b varchar(10))");
  run_result r;
  std::thread load([&] { r = run({"-q:\\copy lost from '" + db->dir.path("big.csv") + "' with (format csv)"}); });
  auto count = [&] {
    const std::string n = run({"-do", "-q:select count(*) from lost"}).out;
    return std::atoll(n.c_str() + n.find_first_not_of("\n "));
  };
  EXPECT_TRUE(vela::testing::wait_until([&] { return count() > 0; }, std::chrono::seconds(120)));
  // The client sessions other than the one asking: only the load's is left. Asked again
  // until one was ended.
  auto end_sessions = [&] {
    if (db->kind == "pg")
      return run({"-do", "-q:select pg_terminate_backend(pid) from pg_stat_activity where pid <> pg_backend_pid()"
                  " and datname = current_database() and backend_type = 'client backend'"})
                 .out.find_first_not_of("\n ") != std::string::npos;
    const std::string ids =
        run({"-do", "-q:select id from information_schema.processlist where id <> connection_id() and command <> 'Daemon'"}).out;
    bool any = false;
    for (size_t p = ids.find_first_of("0123456789"); p != std::string::npos; p = ids.find_first_of("0123456789", ids.find('\n', p))) {
      const run_result k = run({"-q:kill " + ids.substr(p, ids.find('\n', p) - p)});
      any = !vela::testing::has_sql_error(k.out + k.err) || any;
      }
    return any;
  };
  bool ended = false;
  for (int i = 0; i < 100 && !ended; ++i) ended = end_sessions();
  EXPECT_TRUE(ended);
  load.join();
  EXPECT_NE(r.status, 0) << r.out << r.err;
  const std::string said = r.out + r.err;
  EXPECT_LT(std::count(said.begin(), said.end(), '\n'), 17) << said.substr(0, 2000);
  EXPECT_NE(said.find("The connection was lost: the load stopped. Last batch committed: batch "), std::string::npos)
      << r.err.substr(0, 2000) << r.out.substr(0, 2000);
  // The rows committed stay; the message says how to go on after them.
  const size_t lines = said.find("(lines ");
  ASSERT_NE(lines, std::string::npos) << said.substr(0, 2000);
  const std::string through = std::to_string(std::atoll(said.c_str() + said.find(" to ", lines) + 4));
  EXPECT_NE(said.find("Rows up to line " + through + " are in the table; to go on from there: \\copy … FROM '" +
                      db->dir.path("big.csv") + "' WITH (…, SKIP " + through + ")"),
            std::string::npos)
      << said.substr(0, 2000);
  const size_t at = r.out.find("Rows loaded: ");
  ASSERT_NE(at, std::string::npos) << r.out;
  const long long loaded = std::atoll(r.out.c_str() + at + 13);
  if (said.find("Outcome unknown") == std::string::npos) EXPECT_EQ(loaded, count()) << said;
  else EXPECT_LE(count() - loaded, 1000) << said;
}

// Every byte value, floating-point values at their limits, text with NUL and with bytes that
// are not UTF-8 go out through -csv, -format:csv and \copy TO and back through \copy FROM into
// a table like the first: each row comes back equal or is refused by its line, none changed;
// -format:json of the same rows parses.
TEST_P(Copy, ValuesGoRoundExactlyOrAreRefused) {
  const vela::testing::dialect& d = db->d;
  std::string every_byte;
  for (int i = 0; i < 256; ++i) every_byte += "0123456789abcdef"[i >> 4], every_byte += "0123456789abcdef"[i & 15];
  const std::string columns = std::string("(id int, b ") + db->blob_type() + ", f " + d.real_type + ", g " +
                              d.double_type + ", t " + db->text_type() + ")";
  std::string rows = "(1, " + db->hex(every_byte) + ", 0.1, 0.30000000000000004, 'plain'), (2, " + db->hex("") +
                     ", 1.5, 1e-300, null), (3, null, -0.0, -0.0, 'x'), (4, null, null, 1.7976931348623157e308, 'y')";
  if (d.text_with_nul) rows += std::string(", (5, null, null, null, ") + d.text_with_nul + ")";
  if (d.text_not_utf8) rows += std::string(", (6, ") + db->hex("61ff62") + ", null, null, " + d.text_not_utf8 + ")";
  if (d.float_specials) rows += ", (7, null, '-Infinity', 'Infinity', 'z'), (8, null, null, 'NaN', 'n')";
  std::string script = "drop table if exists rt;\ncreate table rt" + columns + ";\ninsert into rt values " + rows + ";\n";
  for (const char* t : {"rt_csv", "rt_format", "rt_copy"})
    script += std::string("drop table if exists ") + t + ";\ncreate table " + t + columns + ";\n";
  db->dir.write("make.sql", script);
  ASSERT_EQ(run({"-do", "-oe", "-qf:" + db->dir.path("make.sql")}).status, 0);

  const std::string select = "-q:select * from rt order by id";
  const run_result csv = run({"-csv", "-lc", select});
  const run_result format = run({"-format:csv", "-lc", select});
  ASSERT_EQ(csv.status, 0) << csv.err;
  ASSERT_EQ(format.status, 0) << format.err;
  db->dir.write("csv.csv", csv.out);
  db->dir.write("format.csv", format.out);
  EXPECT_NE(csv.out.find("\\x000102"), std::string::npos) << csv.out;
  if (d.exact_doubles) {
    EXPECT_NE(csv.out.find(",0.1,0.30000000000000004,"), std::string::npos) << csv.out;
    EXPECT_NE(csv.out.find(",1.7976931348623157e+308,"), std::string::npos) << csv.out;
  }
  const std::string copied = db->dir.path("copied.csv");
  db->dir.write("load.sql", "\\copy rt_csv from '" + db->dir.path("csv.csv") + "' with (format csv, header)\n"
                            "\\copy rt_format from '" + db->dir.path("format.csv") + "' with (format csv, header)\n"
                            "\\copy (select * from rt order by id) to '" + copied + "' with (format csv)\n"
                            "\\copy rt_copy from '" + copied + "' with (format csv)\n");
  const run_result load = run({"-qf:" + db->dir.path("load.sql")});
  EXPECT_EQ(load.status, 0) << load.out << load.err;

  // Per table: the rows that differ from the first (none may), and those missing, each of which
  // must have been refused with its line (the header is line 1 where there is one).
  std::vector<int> ids;
  std::istringstream all(run({"-do", "-cd:|", "-q:select id from rt order by id"}).out);
  for (int id; all >> id;) ids.push_back(id);
  // \copy TO writes doubles exactly also where the driver's own text does not.
  const std::string same = "a.b " + std::string(d.same_as) + " b.b and a.t " + d.same_as + " b.t";
  const std::string floats_same = std::string(" and a.f ") + d.same_as + " b.f and a.g " + d.same_as + " b.g";
  for (const auto& [t, file, header] : {std::tuple{"rt_csv", "csv.csv", 1}, {"rt_format", "format.csv", 1}, {"rt_copy", "copied.csv", 0}}) {
    const bool exact = d.exact_doubles || header == 0;
    const run_result changed = run({"-do", "-cd:|", "-q:select a.id from rt a join " + std::string(t) + " b on a.id = b.id where not (" + same + (exact ? floats_same : "") + ") order by a.id"});
    EXPECT_EQ(changed.out, "\n\n") << t << " changed rows:" << changed.out;
    const run_result missing = run({"-do", "-cd:|", "-q:select id from rt where id not in (select id from " + std::string(t) + ") order by id"});
    std::istringstream lost(missing.out);
    for (int id; lost >> id;) {
      const auto line = std::find(ids.begin(), ids.end(), id) - ids.begin() + 1 + header;
      EXPECT_NE(load.out.find("Row not loaded (" + db->dir.path(file) + ":" + std::to_string(line) + "): "), std::string::npos)
          << t << " row " << id << " missing without a refusal:\n" << load.out;
    }
  }

  const run_result json = run({"-format:json", select});
  const run_result parsed = run_process({"python3", "-c", "import json,sys; print(len(json.load(sys.stdin)))"}, json.out);
  EXPECT_EQ(parsed.status, 0) << json.out << parsed.err;
}

INSTANTIATE_TEST_SUITE_P(Databases, Copy, vela::testing::all_databases(), vela::testing::param_name);

// A source query that writes as it reads (a WITH holding a DELETE, which PostgreSQL's cursor
// cannot take) is copied all the same, and its write is done once.
TEST(CopyBetweenSources, AQueryThatWritesIsCopied) {
  database source("pg"), target("sqlite");
  ASSERT_TRUE(source.ready() && target.ready()) << source.why_not() << target.why_not();
  const std::string create = "drop table if exists moved;\ncreate table moved(id int);\n";
  ASSERT_EQ(run_process({SQLTERM_PATH, "-cs:" + source.cs, "-oe", "-q:" + create + "insert into moved values(1), (2), (3);"})
                .status,
            0);
  ASSERT_EQ(run_process({SQLTERM_PATH, "-cs:" + target.cs, "-oe", "-q:" + create}).status, 0);
  const run_result r = run_process({SQLTERM_PATH, "-cs:" + target.cs, "-copy_from:" + source.cs, "-into:moved",
                                    "-q:with d as (delete from moved where id > 1 returning id) select id from d"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Rows loaded: 2. Rows failed: 0."), std::string::npos) << r.out << r.err;
  const std::string count = "select count(*) from moved";
  EXPECT_EQ(run_process({SQLTERM_PATH, "-cs:" + source.cs, "-do", "-cd:|", "-q:" + count}).out, "\n1\n\n");
  EXPECT_EQ(run_process({SQLTERM_PATH, "-cs:" + target.cs, "-do", "-cd:|", "-q:" + count}).out, "\n2\n\n");
}

// 100,000 rows of one database go into another through "-copy_from" and \copy … FROM
// CONNECTION, equal after the copy; the result is never held whole.
TEST(CopyBetweenSources, RowsArriveEqual) {
  const struct {
    const char* from;
    const char* to;
  } cases[] = {{"pg", "sqlite"}, {"pg", "maria"}, {"sqlite", "pg"}};
  for (const auto& c : cases) {
    database source(c.from), target(c.to);
    ASSERT_TRUE(source.ready() && target.ready()) << source.why_not() << target.why_not();
    auto create = [](const database& d) {
      return "drop table if exists big;\ncreate table big(id int, t varchar(60), n numeric(12,3), b " +
             std::string(d.blob_type()) + ");\n";
    };
    const std::string fill =
        source.kind == "pg"
            ? "insert into big select g, 'row ' || g || ' ü😀', g / 8.0, int4send(g) from generate_series(1, 100000) g;"
            : "with recursive g(i) as (select 1 union all select i + 1 from g where i < 100000)"
              " insert into big select i, 'row ' || i || ' ü', i / 8.0, randomblob(4) from g;";
    const run_result made = run_process({SQLTERM_PATH, "-cs:" + source.cs, "-oe", "-q:" + create(source) + fill});
    ASSERT_EQ(made.status, 0) << made.out << made.err;
    const std::string length = target.kind == "maria" ? "char_length" : "length";
    const std::string sum = "select count(*), sum(id), sum(" + length +
                            "(t)), sum(case when n * 8 = id then 0 else 1 end), sum(length(b)) from big";
    const std::string expected = "\n100000|5000050000|" + std::string(source.kind == "pg" ? "1188895" : "1088895") +
                                 "|0|400000\n\n";
    // Peak memory of a copy of a tenth of the rows: the whole copy needs hardly more.
    ASSERT_EQ(run_process({SQLTERM_PATH, "-cs:" + target.cs, "-oe", "-q:" + create(target)}).status, 0);
    ASSERT_EQ(run_process({SQLTERM_PATH, "-cs:" + target.cs, "-copy_from:" + source.cs, "-into:big",
                           "-q:select * from big where id <= 10000"}).status, 0);
    const long tenth_kib = vela::testing::last_child_peak_rss_kib();
    for (const bool command_line : {true, false}) {
      ASSERT_EQ(run_process({SQLTERM_PATH, "-cs:" + target.cs, "-oe", "-q:" + create(target)}).status, 0);
      const run_result r =
          command_line
              ? run_process({SQLTERM_PATH, "-cs:" + target.cs, "-copy_from:" + source.cs, "-into:big", "-q:select * from big"})
              : run_process({SQLTERM_PATH, "-cs:" + target.cs, "-oe",
                             "-q:\\copy big from connection '" + source.cs + "' query 'select id, t, n, b from big'"});
      EXPECT_EQ(r.status, 0) << r.out << r.err;
      EXPECT_NE(r.out.find("Rows loaded: 100000. Rows failed: 0."), std::string::npos) << r.out << r.err;
      if (command_line && memory_measured) {
        EXPECT_LT(vela::testing::last_child_peak_rss_kib(), tenth_kib + 4 * 1024) << c.from << c.to;
      }
      EXPECT_EQ(run_process({SQLTERM_PATH, "-cs:" + target.cs, "-do", "-cd:|", "-q:" + sum}).out, expected)
          << c.from << " " << c.to << " " << command_line;
    }
  }
}
