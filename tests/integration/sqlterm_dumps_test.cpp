// Dumps written by the databases' own tools, restored by sqlterm ("-qf" and "-qi") and by the
// databases' own clients into empty databases, then compared: schema objects, row counts and
// a checksum of every table. Also the client commands, COPY blocks, and where failures
// happened under "-oe".
#include <gtest/gtest.h>

#include <chrono>
#include <regex>

#include "support/sqlterm_fixture.h"

using vela::testing::database;
using vela::testing::maria_server;
using vela::testing::pg_server;
using vela::testing::run_process;
using vela::testing::run_result;
using vela::testing::shared_maria_server;
using vela::testing::shared_pg_server;
using vela::testing::temp_dir;

namespace {

// An error that sqlterm printed for a statement.
bool has_error(const run_result& r) { return vela::testing::has_sql_error(r.out + r.err); }

std::string with_database(std::string cs, const std::string& from, const std::string& to) {
  const size_t at = cs.find("Database=" + from);
  return at == std::string::npos ? cs : cs.replace(at + 9, from.size(), to);
}

// How the restored copy is made: the native client, or sqlterm with the dump as a file or
// on standard input.
enum class restore { native, file, input };

run_result sqlterm(const std::string& cs, restore how, const std::string& dump_path, const std::string& dump,
                   std::vector<std::string> extra = {}) {
  std::vector<std::string> argv{SQLTERM_PATH, "-cs:" + cs};
  argv.insert(argv.end(), extra.begin(), extra.end());
  if (how == restore::file) argv.push_back("-qf:" + dump_path);
  else argv.push_back("-qi");
  return run_process(argv, how == restore::input ? dump : std::string());
}

// A MariaDB database with what dumps are made of: foreign keys, a view, routines whose bodies
// hold IF, LOOP, WHILE, REPEAT and CASE, a trigger with END IF, and text with ' \ ; and line
// breaks.
const char* const maria_source = R"(
create table parent(id int primary key, name varchar(40)) engine=InnoDB;
create table child(id int primary key, parent_id int not null, note text,
  foreign key (parent_id) references parent(id)) engine=InnoDB;
create table audit(n int auto_increment primary key, what varchar(200));
insert into parent values (1, 'It''s; fine'), (2, 'back\\slash'), (3, 'semi;colon -- not a comment');
insert into child values (10, 1, 'line1\nline2'), (11, 2, '/* no */ # nor this; \'q\''), (12, 3, 'END IF; END');
create view parent_names as select id, concat(name, ';') as label from parent;
delimiter //
create procedure fill(n int)
begin
  declare i int default 0;
  l: loop
    set i = i + 1;
    if i > n then leave l; end if;
    insert into audit(what) values (concat('loop ', i));
  end loop l;
  while i > 0 do
    set i = i - 1;
  end while;
  repeat set i = i + 1; until i >= 2 end repeat;
  case i when 2 then insert into audit(what) values ('two; done'); else begin end; end case;
end //
create function grade(x int) returns varchar(10) deterministic
begin
  return case when x > 10 then 'big' else 'small' end;
end //
create trigger child_note before insert on child for each row
begin
  if new.note is null then
    set new.note = 'none; given';
  end if;
end //
delimiter ;
call fill(3);
insert into child(id, parent_id) values (13, 1);
)";

// Objects, row counts and checksums of a MariaDB database, with its name taken out.
std::string maria_state(const maria_server& m, const std::string& db) {
  const std::string q =
      "select table_name, table_type from information_schema.tables where table_schema = '" + db + "' order by 1;"
      "select routine_name, routine_type, routine_definition from information_schema.routines where routine_schema = '" +
      db + "' order by 1;"
      "select trigger_name, action_statement from information_schema.triggers where trigger_schema = '" + db +
      "' order by 1;"
      "select view_definition from information_schema.views where table_schema = '" + db + "' order by 1;"
      "select constraint_name, referenced_table_name from information_schema.referential_constraints"
      " where constraint_schema = '" + db + "' order by 1;"
      "select count(*) from parent; select count(*) from child; select count(*) from audit;"
      "checksum table parent, child, audit;";
  run_result r = m.client("mariadb", {"-N", "-B", db, "-e", q});
  EXPECT_EQ(r.status, 0) << r.err;
  return std::regex_replace(r.out, std::regex("`?" + db + "`?\\."), "DB.");
}

} // namespace

TEST(MariaDump, RestoresAsTheNativeClientDoes) {
  maria_server& m = shared_maria_server();
  ASSERT_TRUE(m.running()) << m.error();
  ASSERT_EQ(m.sql("drop database if exists dump_src; create database dump_src"), 0);
  const run_result made = m.client("mariadb", {"dump_src"}, maria_source);
  ASSERT_EQ(made.status, 0) << made.err;
  const run_result dump = m.client("mariadb-dump", {"--routines", "--triggers", "dump_src"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  temp_dir dir;
  dir.write("dump.sql", dump.out);
  const std::string source_state = maria_state(m, "dump_src");
  ASSERT_NE(source_state.find("two; done"), std::string::npos) << source_state;
  for (const restore how : {restore::native, restore::file, restore::input}) {
    const std::string db = "dump_" + std::to_string(static_cast<int>(how));
    ASSERT_EQ(m.sql("drop database if exists " + db + "; create database " + db), 0);
    if (how == restore::native) {
      const run_result r = m.client("mariadb", {db}, dump.out);
      ASSERT_EQ(r.status, 0) << r.err;
    } else {
      const run_result r = sqlterm(with_database(m.connection_string(), "vela", db), how, dir.path("dump.sql"), dump.out, {"-oe"});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_FALSE(has_error(r)) << r.out << r.err;
    }
    EXPECT_EQ(maria_state(m, db), source_state) << static_cast<int>(how);
  }
}

// The DELIMITER script of a procedure creates it and runs none of its body; so does the same
// procedure without DELIMITER.
TEST(MariaDump, ProcedureBodiesAreNotRunAtLoadTime) {
  database db("maria");
  ASSERT_TRUE(db.ready()) << db.why_not();
  for (const bool delimiter : {true, false}) {
    const std::string body = "CREATE PROCEDURE purge_old() BEGIN UPDATE t SET a = a + 1; DELETE FROM t; END";
    const std::string script = "drop procedure if exists purge_old;\ndrop table if exists t;\n"
                               "create table t(a int);\ninsert into t values (1), (2), (3);\n" +
                               (delimiter ? "DELIMITER //\n" + body + " //\nDELIMITER ;\n" : body + ";\n");
    db.dir.write("p.sql", script);
    const run_result r = run_process({SQLTERM_PATH, "-cs:" + db.cs, "-oe", "-qf:" + db.dir.path("p.sql")});
    EXPECT_EQ(r.status, 0) << r.err;
    const run_result check = run_process(
        {SQLTERM_PATH, "-cs:" + db.cs, "-do", "-cd:|", "-q:select count(*) from t; select count(*) from information_schema.routines"
                                            " where routine_name = 'purge_old'"});
    EXPECT_EQ(check.out, "\n3\n\n1\n\n") << delimiter;
  }
}

namespace {

const char* const pg_source = R"(
create table parent(id int primary key, name text);
create table child(id int primary key, parent_id int references parent(id), note text);
insert into parent values (1, 'It''s; fine'), (2, E'back\\slash'), (3, E'line1\nline2');
insert into child values (10, 1, '\.'), (11, 2, 'tab	here'), (12, 3, null);
create view names as select id, name || ';' as label from parent;
create function twice(i int) returns int language plpgsql as $$ begin return i * 2; end; $$;
create table awkward(id int primary key, t text, b bytea, n numeric(30,10), ts timestamp, tz timestamptz,
  a int[], ta text[], flag boolean, d date, j jsonb);
insert into awkward values
  (1, E'tab\there\nnew line\r\\back\\slash', '\x00ff5c0a09', 12345678901234567890.0123456789,
   '2024-02-29 23:59:59.123456', '2024-01-01 10:00:00+05', '{1,2,NULL}', '{"a b","c,d","e\"f",NULL}', true,
   '1999-12-31', '{"k": "v\\n", "u": "\u00e9"}'),
  (2, 'Ünïcødé — 日本語 😀', '', -0.0000000001, '0001-01-01 00:00:00', 'infinity', '{}', '{}', false, 'infinity', 'null'),
  (3, null, null, null, null, null, null, null, null, null, null),
  (4, '', E'\\x5c4e', 'NaN', '1970-01-01', '1970-01-01 00:00:00+00', '{{1,2},{3,4}}', '{"\\N"}', null, '2000-01-01', '[]'),
  (5, E'\\N', '\x', 0, null, null, null, null, true, null, null);
create table ident(id int generated always as identity primary key, v text);
insert into ident(v) values ('a'), ('b');
insert into awkward select g, repeat('x', g % 50) || g, int4send(g), g / 7.0, null, null, array[g], null, g % 2 = 0, null, null
  from generate_series(6, 2600) g;
)";

std::string pg_state(const pg_server& pg, const std::string& db) {
  const std::string q =
      "select c.relname, c.relkind from pg_class c join pg_namespace n on n.oid = c.relnamespace"
      " where n.nspname = 'public' order by 1;"
      "select pg_get_functiondef(p.oid) from pg_proc p join pg_namespace n on n.oid = p.pronamespace"
      " where n.nspname = 'public' order by p.proname;"
      "select conname, pg_get_constraintdef(oid) from pg_constraint where connamespace = 'public'::regnamespace order by 1;"
      "select count(*), md5(string_agg(p::text, '|' order by id)) from parent p;"
      "select count(*), md5(string_agg(c::text, '|' order by id)) from child c;"
      "select count(*), md5(string_agg(w::text, '|' order by id)) from awkward w;"
      "select string_agg(i::text, '|' order by id) from ident i;";
  const run_result r = pg.client("psql", db, {"-X", "-At", "-c", q});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

} // namespace

// A plain dump restores through its COPY blocks as psql restores it, from a file and from
// standard input; a refused row is named by its line, and "-oe" stops there.
TEST(PgDump, PlainDumpRestoresAsPsqlDoes) {
  pg_server& pg = shared_pg_server();
  ASSERT_TRUE(pg.running()) << pg.error();
  auto fresh = [&](const std::string& db) {
    return pg.client("psql", "postgres", {"-X", "-q", "-c", "drop database if exists " + db}).status == 0 &&
           pg.client("psql", "postgres", {"-X", "-q", "-c", "create database " + db}).status == 0;
  };
  ASSERT_TRUE(fresh("pgdump_src"));
  ASSERT_EQ(pg.client("psql", "pgdump_src", {"-X", "-q", "-v", "ON_ERROR_STOP=1"}, pg_source).status, 0);
  const std::string source_state = pg_state(pg, "pgdump_src");
  temp_dir dir;
  const run_result plain = pg.client("pg_dump", "pgdump_src", {});
  ASSERT_EQ(plain.status, 0) << plain.err;
  dir.write("plain.sql", plain.out);
  ASSERT_NE(plain.out.find("\nCOPY public.awkward"), std::string::npos);
  ASSERT_TRUE(fresh("pgdump_psql"));
  ASSERT_EQ(pg.client("psql", "pgdump_psql", {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-f", dir.path("plain.sql")}).status, 0);
  ASSERT_EQ(pg_state(pg, "pgdump_psql"), source_state);

  const std::string cs = with_database(pg.connection_string(), "postgres", "pgdump_copy");
  for (const restore how : {restore::file, restore::input}) {
    ASSERT_TRUE(fresh("pgdump_copy"));
    const run_result r = sqlterm(cs, how, dir.path("plain.sql"), plain.out, {"-oe", "-batch:700"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(has_error(r)) << r.out << r.err;
    EXPECT_NE(r.out.find("Rows loaded: 2600. Rows failed: 0."), std::string::npos) << r.out;
    EXPECT_EQ(pg_state(pg, "pgdump_copy"), source_state) << static_cast<int>(how);
  }

  // A child row whose parent is missing, and a line with a value too few.
  const std::string bad = "create table p(id int primary key);\ncreate table c(id int, p int references p(id));\n"
                          "insert into p values (1);\nCOPY c (id, p) FROM stdin;\n1\t1\n2\t9\n3\n4\t1\n\\.\n";
  dir.write("bad.sql", bad);
  const std::string where = dir.path("bad.sql");
  const struct {
    std::vector<std::string> extra;
    int rows;
    std::string err;
  } cases[] = {
      {{}, 2, ""},
      {{"-oe"}, 1, where + ":6: Row not loaded (" + where + ":6): "},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(fresh("pgdump_copy"));
    const run_result r = sqlterm(cs, restore::file, where, bad, c.extra);
    EXPECT_EQ(r.status != 0, !c.extra.empty()) << r.err;
    if (c.extra.empty()) {
      EXPECT_NE(r.out.find("Row not loaded (" + where + ":6): "), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("Row not loaded (" + where + ":7): 2 values expected, 1 found"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("Rows loaded: 2. Rows failed: 2."), std::string::npos) << r.out;
    } else {
      EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
      EXPECT_NE(r.err.find("c_p_fkey"), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find("values expected"), std::string::npos) << r.err;
    }
    EXPECT_EQ(pg.client("psql", "pgdump_copy", {"-X", "-At", "-c", "select count(*) from c"}).out,
              std::to_string(c.rows) + "\n");
  }

  const run_result inserts = pg.client("pg_dump", "pgdump_src", {"--inserts"});
  ASSERT_EQ(inserts.status, 0) << inserts.err;
  dir.write("inserts.sql", inserts.out);
  ASSERT_TRUE(fresh("pgdump_psql"));
  ASSERT_EQ(pg.client("psql", "pgdump_psql", {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-f", dir.path("inserts.sql")}).status, 0);
  EXPECT_EQ(pg_state(pg, "pgdump_psql"), source_state);
  for (const restore how : {restore::file, restore::input}) {
    ASSERT_TRUE(fresh("pgdump_ins"));
    const run_result r = sqlterm(with_database(pg.connection_string(), "postgres", "pgdump_ins"), how,
                                 dir.path("inserts.sql"), inserts.out, {"-oe"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(has_error(r)) << r.out << r.err;
    EXPECT_EQ(pg_state(pg, "pgdump_ins"), source_state);
  }
}

// \c switches the database for the rest of the script, reported as CONNECT reports it.
TEST(PgDump, ConnectSwitchesTheDatabase) {
  pg_server& pg = shared_pg_server();
  ASSERT_TRUE(pg.running()) << pg.error();
  ASSERT_EQ(pg.psql("drop database if exists switch_to"), 0);
  temp_dir dir;
  dir.write("s.sql", "create database switch_to;\n\\c switch_to;\ncreate table here(a int);\n"
                     "select current_database();\n");
  const run_result r = run_process({SQLTERM_PATH, "-cs:" + pg.connection_string(), "-oe", "-qf:" + dir.path("s.sql")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Connected to '"), r.out.rfind("Connected to '")) << r.out;
  EXPECT_NE(r.out.find("\nswitch_to "), std::string::npos) << r.out;
  EXPECT_EQ(pg.client("psql", "switch_to", {"-X", "-At", "-c", "select count(*) from here"}).out, "0\n");
}

namespace {

std::string hex_of(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string h;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    h += digits[b >> 4];
    h += digits[b & 15];
  }
  return h;
}

std::string every_byte() {
  std::string b;
  for (int i = 0; i < 256; ++i) b.push_back(static_cast<char>(i));
  return b;
}

// Every byte value in BLOB, VARBINARY and BINARY columns: a row of each byte with bytes
// around it, and a row of all of them.
std::string maria_binary_table() {
  std::string s = "create table bin(id int primary key, b blob, vb varbinary(300), fb binary(3));\n";
  for (int i = 0; i < 256; ++i) {
    const std::string h = hex_of(std::string(1, static_cast<char>(i)));
    s += "insert into bin values (" + std::to_string(i) + ", X'" + h + "', X'41" + h + "FF', X'" + h + "');\n";
  }
  const std::string all = hex_of(every_byte());
  return s + "insert into bin values (256, X'" + all + "', X'" + all + "', X'FF80C0');\n";
}

std::string maria_binary_state(const maria_server& m, const std::string& db) {
  const run_result r = m.client("mariadb", {"-N", "-B", db, "-e",
                                            "checksum table bin; select id, hex(b), hex(vb), hex(fb) from bin order by id"});
  EXPECT_EQ(r.status, 0) << r.err;
  return std::regex_replace(r.out, std::regex(db + "\\."), "DB.");
}

} // namespace

// A dump with default options writes binary values as literals of raw bytes (after _binary
// in some versions); they restore byte for byte from a file and from standard input, as the native client restores them.
TEST(MariaDump, BinaryValuesRestoreByteForByte) {
  maria_server& m = shared_maria_server();
  ASSERT_TRUE(m.running()) << m.error();
  ASSERT_EQ(m.sql("drop database if exists bin_src; create database bin_src"), 0);
  const run_result made = m.client("mariadb", {"bin_src"}, maria_binary_table());
  ASSERT_EQ(made.status, 0) << made.err;
  const run_result dump = m.client("mariadb-dump", {"bin_src"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  ASSERT_NE(dump.out.find("'A\\0\xff'"), std::string::npos);  // raw bytes, not hex
  temp_dir dir;
  dir.write("dump.sql", dump.out);
  ASSERT_EQ(m.sql("drop database if exists bin_native; create database bin_native"), 0);
  ASSERT_EQ(m.client("mariadb", {"bin_native"}, dump.out).status, 0);
  const std::string expected = maria_binary_state(m, "bin_native");
  ASSERT_EQ(expected, maria_binary_state(m, "bin_src"));
  for (const restore how : {restore::file, restore::input}) {
    const std::string db = "bin_" + std::to_string(static_cast<int>(how));
    ASSERT_EQ(m.sql("drop database if exists " + db + "; create database " + db), 0);
    const run_result r = sqlterm(with_database(m.connection_string(), "vela", db), how, dir.path("dump.sql"), dump.out, {"-oe"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(has_error(r)) << r.out << r.err;
    EXPECT_EQ(maria_binary_state(m, db), expected) << static_cast<int>(how);
    // The echo shows the statement as written, not the literal sent in its place.
    EXPECT_EQ(r.out.find("X'41"), std::string::npos);
  }
}

namespace {

using ScriptBytes = vela::testing::sqlterm_test;

// A bytea value in the escape format of a standard string and of an E'…' string, raw bytes
// as they are.
std::string bytea_escape(bool e_string) {
  std::string s;
  for (const char c : every_byte()) {
    if (c == '\0') s += e_string ? "\\\\000" : "\\000";
    else if (c == '\\') s += e_string ? "\\\\\\\\" : "\\\\";
    else if (c == '\'') s += "''";
    else s += c;
  }
  return s;
}

// The bytes of a text literal that are not UTF-8: every byte but NUL, the quote and the
// backslash (an escape in MariaDB).
std::string raw_text() {
  std::string s;
  for (const char c : every_byte())
    if (c != '\0' && c != '\'' && c != '\\') s += c;
  return s;
}

} // namespace

// Literals holding bytes that are not text reach the database as written, or the statement
// is refused where no literal can carry them exactly; "-oe" stops there.
TEST_P(ScriptBytes, LiteralBytesReachTheDatabaseAsWritten) {
  const std::string all = hex_of(every_byte());
  const struct {
    const char* kind;
    std::string create, insert, query, rows;
  } cases[] = {
      {"pg", "create table sb(id int, v bytea)",
       "insert into sb values (1, '" + bytea_escape(false) + "'::bytea), (2, E'" + bytea_escape(true) + "'::bytea);",
       "select id, upper(encode(v, 'hex')) from sb order by id", "\n1|" + all + "\n2|" + all + "\n\n"},
      {"sqlite", "create table sb(id int, v)", "insert into sb values (1, X'" + all + "'), (2, '" + raw_text() + "');",
       "select id, hex(v), typeof(v) from sb order by id",
       "\n1|" + all + "|blob\n2|" + hex_of(raw_text()) + "|text\n\n"},
      {"maria", "create table sb(id int, v blob)", "insert into sb values (1, '" + raw_text() + "'), (2, _binary '\\0\\Z\\\\\xff');",
       "select id, hex(v) from sb order by id", "\n1|" + hex_of(raw_text()) + "\n2|001A5CFF\n\n"},
  };
  for (const auto& c : cases) {
    if (db->kind != c.kind) continue;
    ASSERT_EQ(run({"-q:drop table if exists sb; " + c.create}).status, 0);
    db->dir.write("bytes.sql", "-- bytes\n" + c.insert + "\n");
    const run_result r = run({"-oe", "-qf:" + db->dir.path("bytes.sql")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(run({"-do", "-lc", "-cd:|", "-q:" + c.query}).out, c.rows);
  }
  if (db->kind != "pg") return;
  // Text that is not UTF-8 outside a bytea value: PostgreSQL cannot be given it exactly.
  ASSERT_EQ(run({"-q:drop table if exists sb; create table sb(v text)"}).status, 0);
  const std::string script = "insert into sb values ('ok');\n\ninsert into sb\nvalues ('a\xff" "b');\ninsert into sb values ('after');\n";
  db->dir.write("bad.sql", script);
  const std::string where = db->dir.path("bad.sql");
  const std::string refused = "Statement not sent: bytes at " + where + ":4 are not valid text";
  for (const bool on_error : {true, false}) {
    ASSERT_EQ(run({"-q:delete from sb"}).status, 0);
    const run_result r = on_error ? run({"-oe", "-qf:" + where}) : run({"-qf:" + where});
    EXPECT_EQ(r.status != 0, on_error) << r.err;
    EXPECT_NE(r.err.find(refused), std::string::npos) << r.err << "\nOUT:" << r.out;
    EXPECT_EQ(run({"-do", "-lc", "-cd:|", "-q:select v from sb order by v"}).out, on_error ? "\nok\n\n" : "\nafter\nok\n\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, ScriptBytes, vela::testing::all_databases(), vela::testing::param_name);

namespace {

using Dumps = vela::testing::sqlterm_test;

} // namespace

// Standard input keeps a line break inside a literal.
TEST_P(Dumps, StandardInputKeepsLineBreaksInLiterals) {
  ASSERT_EQ(run({"-q:drop table if exists lit"}).status, 0);
  const run_result r = run({"-qi", "-oe"}, "create table lit(v varchar(20));\ninsert into lit\nvalues('line1\nline2');\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(run({"-do", "-cd:|", "-q:select v from lit"}).out, "\nline1\nline2\n\n");
}

// Under "-oe" a failure names the script (or "-") and the line its statement begins on;
// client commands run scripts in place, and the others are failures.
TEST_P(Dumps, FailuresNameTheirPlace) {
  db->dir.write("inc.sql", "insert into place values (2);\n");
  db->dir.write("loop.sql", "\\i " + db->dir.path("loop.sql") + "\n");
  const std::string setup = "drop table if exists place;\ncreate table place(a int);\n";
  const std::string main_path = db->dir.path("main.sql");
  const struct {
    std::string script;
    bool from_file;
    std::string err;  // where: the script's name
    const char* rows;
  } cases[] = {
      {setup + "insert into place values (1);\n\\ir inc.sql\nselect *\n  from no_such_table;\n", true,
       "where:5: ", "\n1\n2\n\n"},
      {setup + ";;\n-- nothing\n\\lo_list\ninsert into place values (1);\n", true,
       "where:5: Client command not supported: \\lo_list (where:5)\n", "\n\n"},
      {setup + "\\restrict abc\ninsert into place values (1);\n\\i " + db->dir.path("loop.sql") + "\n", true,
       db->dir.path("loop.sql") + ":1: Script file includes itself: " + db->dir.path("loop.sql") + " (" +
           db->dir.path("loop.sql") + ":1)\n",
       "\n1\n\n"},
      {setup + "\n\ninsert into\nno_such_table values (1);\n", false, "-:5: ", "\n\n"},
      {setup + "insert into place values (1);\n\n  select 1\n", false, "-:5: Statement", "\n1\n\n"},
  };
  for (const auto& c : cases) {
    db->dir.write("main.sql", c.script);
    const run_result r = c.from_file ? run({"-oe", "-qf:" + main_path}) : run({"-oe", "-qi"}, c.script);
    EXPECT_NE(r.status, 0) << c.script;
    const std::string where = c.from_file ? main_path : "-";
    const std::string expected = std::regex_replace(c.err, std::regex("where"), where);
    EXPECT_EQ(r.err.substr(0, expected.size()), expected) << c.script;
    EXPECT_EQ(run({"-do", "-cd:|", "-q:select a from place order by a"}).out, c.rows) << c.script;
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, Dumps, vela::testing::all_databases(), vela::testing::param_name);
