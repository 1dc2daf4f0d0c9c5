// The ODBC layer against the real driver manager with SQLite3, PostgreSQL and MariaDB.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "os/os.h"
#include "support/databases.h"
#include "support/sqlterm_fixture.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/environment.h"
#include "vela/odbc/query.h"
#include "vela/odbc/query_data_file.h"
#include "vela/utf.h"

using namespace vela;
using namespace vela::odbc;
using vela::testing::database;
using vela::testing::widen;
namespace fs = std::filesystem;

namespace {

class Odbc : public vela::testing::database_test {
 protected:
  void SetUp() override {
    database_test::SetUp();
    if (HasFatalFailure()) return;
    const result r = conn.connect(nullptr, db->wcs(), &completed);
    ASSERT_TRUE(r.succeeded()) << std::string(r.format().begin(), r.format().end());
  }

  // Runs a statement and expects it to succeed.
  void exec(const std::wstring& sql) {
    query q(&conn, sql);
    const result r = q.execute(true);
    ASSERT_TRUE(r.succeeded()) << to_narrow(r.format());
  }

  // The rows of a SELECT as text, every column bound as wide text like the terminal does.
  std::vector<std::vector<std::wstring>> select(const std::wstring& sql) {
    query q(&conn, sql);
    const result r = q.execute(false);
    EXPECT_TRUE(r.succeeded()) << to_narrow(r.format());
    resultset& rows = q.rows();
    for (size_t i = 0; i < rows.count(); ++i)
      EXPECT_TRUE(rows.bind(static_cast<uint16_t>(i + 1), nullptr, bind_type::wide_text, 0).succeeded());
    std::vector<std::vector<std::wstring>> out;
    result f;
    while ((f = rows.fetch()).succeeded()) {
      std::vector<std::wstring> row;
      for (size_t i = 0; i < rows.count(); ++i) row.push_back(rows.at(i).is_null() ? L"<NULL>" : rows.at(i).text());
      out.push_back(row);
    }
    EXPECT_EQ(f.code(), no_data_error());
    return out;
  }

  static std::string to_narrow(const std::wstring& w) { return wide_to_utf8(w); }

  connection conn;
  std::wstring completed;
};

} // namespace

TEST_P(Odbc, ConnectHandsBackTheCompletedStringMasked) {
  EXPECT_TRUE(conn.connected());
  EXPECT_NE(conn.hdbc(), nullptr);
  ASSERT_NE(conn.adapter(), nullptr);
  EXPECT_STREQ(conn.adapter()->name(), L"Default driver");
  if (db->d.completed_pwd_last) {
    EXPECT_TRUE(completed.size() >= 12 && completed.substr(completed.size() - 12) == L"PWD=*hidden*")
        << to_narrow(completed);
  } else {
    EXPECT_NE(completed.find(L"PWD=*hidden*;"), std::wstring::npos) << to_narrow(completed);
  }
  EXPECT_EQ(completed.find(L"secret"), std::wstring::npos);
  EXPECT_TRUE(conn.disconnect().succeeded());
  const result again = conn.disconnect();
  EXPECT_EQ(again.code(), 1u);
  EXPECT_EQ(again.severity(), 1);
  EXPECT_EQ(again.text(), L"Has not been connected");
  EXPECT_EQ(conn.adapter(), nullptr);
}

TEST_P(Odbc, ProfileOfTheConnectedDriver) {
  const struct {
    const char* kind;
    const wchar_t* dbms;
    script_dialect dialect;
    byte_literal_form literals;
    bool savepoint_begins, binary_arrays;
    size_t multi_row_parameters;
    const wchar_t* streaming_setting;
  } expected[] = {
      {"sqlite", L"SQLite", script_dialect::generic, byte_literal_form::hex_as_text, true, false, 0, L"StepAPI=1"},
      {"pg", L"PostgreSQL", script_dialect::generic, byte_literal_form::bytea_hex, false, true, 4000, L"UseDeclareFetch=1"},
      {"maria", L"MariaDB", script_dialect::mysql, byte_literal_form::hex, false, true, 0, L"NO_CACHE=1"},
  };
  const auto e = std::find_if(std::begin(expected), std::end(expected), [&](const auto& x) { return db->kind == x.kind; });
  ASSERT_NE(e, std::end(expected));
  const driver_profile& p = conn.profile();
  EXPECT_EQ(p.dbms_name(), e->dbms);
  EXPECT_EQ(p.dialect(), e->dialect);
  EXPECT_EQ(p.byte_literals(), e->literals);
  EXPECT_EQ(p.savepoint_begins_transaction(), e->savepoint_begins);
  EXPECT_EQ(p.binary_parameter_arrays(), e->binary_arrays);
  EXPECT_EQ(p.multi_row_parameters(), e->multi_row_parameters);
  EXPECT_STREQ(p.streaming_setting(), e->streaming_setting);
  EXPECT_EQ(p.inexact_doubles(), !db->d.exact_doubles);
  EXPECT_FALSE(p.streams_results());
  // A name the profile quotes is the column's name as the database gives it back.
  query q(&conn, L"select 1 as " + p.quote_identifier(L"a\"b`c d"));
  ASSERT_TRUE(q.execute(false).succeeded());
  EXPECT_EQ(q.rows().at(0).name(), L"a\"b`c d");
  EXPECT_EQ(p.quote_identifier(L"t"), widen(db->quoted("t")));
  // A connection that asks for streaming says so; a closed one knows no driver.
  const std::wstring streamed = p.streaming_connection(db->wcs());
  (void)conn.disconnect();
  EXPECT_EQ(conn.profile().dbms_name(), L"");
  EXPECT_EQ(conn.profile().dialect(), script_dialect::generic);
  ASSERT_TRUE(conn.connect(nullptr, streamed).succeeded());
  EXPECT_EQ(conn.profile().streams_results(), streamed != db->wcs());
}

TEST_P(Odbc, ConnectWithDriverNameAndParameters) {
  (void)conn.disconnect();
  std::wstring rest;
  const std::wstring driver_name = widen(db->d.driver);
  if (db->d.server) rest = widen(db->cs.substr(db->cs.find(';') + 1));
  else rest = L"Database=" + widen(db->dir.path("other.db"));
  const result r = conn.connect_driver(nullptr, driver_name, rest, &completed);
  EXPECT_TRUE(r.succeeded()) << to_narrow(r.format());
  exec(L"create table drv_t(i integer)");
}

TEST_P(Odbc, FailuresAreFailuresWithTheirState) {
  (void)conn.disconnect();
  result r = conn.connect(nullptr, L"Driver={No Such Driver};Database=x;");
  EXPECT_FALSE(r.succeeded());
  EXPECT_EQ(r.severity(), 3);
  EXPECT_EQ(r.code(), db_access_error());
  EXPECT_EQ(r.text().rfind(L"[01000]", 0), 0u) << to_narrow(r.text());
  EXPECT_FALSE(conn.connected());
  EXPECT_EQ(conn.hdbc(), nullptr);
  if (db->d.server) {
    struct {
      std::string cs;
      const char* state;
      const char* text;
    } const failures[] = {
        {db->with("Port", std::to_string(vela::testing::pg_server::free_port())), db->d.refused_state,
         db->d.refused_text},
        {db->with("PWD", "wrong"), db->d.bad_password_state, db->d.bad_password_text},
        {db->with("Server", "no-such-host.invalid"), db->d.unknown_host_state, db->d.unknown_host_text},
    };
    for (const auto& f : failures) {
      r = conn.connect(nullptr, widen(f.cs));
      EXPECT_FALSE(r.succeeded()) << f.cs;
      EXPECT_EQ(r.severity(), 3);
      EXPECT_EQ(r.code(), db_access_error());
      EXPECT_EQ(r.text().rfind(L"[" + widen(f.state) + L"]", 0), 0u) << to_narrow(r.text());
      EXPECT_EQ(r.state(), widen(f.state));
      EXPECT_NE(r.text().find(widen(f.text)), std::wstring::npos) << to_narrow(r.text());
      EXPECT_EQ(r.text().find(L"secret"), std::wstring::npos) << to_narrow(r.text());
      EXPECT_FALSE(conn.connected());
    }
  } else {
    r = conn.connect(nullptr, L"Driver=SQLite3;Database=/nonexistent/dir/x.db;NoCreat=1;");
    EXPECT_FALSE(r.succeeded());
  }
}

TEST_P(Odbc, DataSourceNameFromAPrivateIni) {
  (void)conn.disconnect();
  const std::string ini = db->dir.path("odbc.ini");
  std::ofstream out(ini);
  const std::wstring dsn = L"vela_dsn_" + widen(GetParam());
  out << "[vela_dsn_" << GetParam() << "]\n" << db->dsn_entry(db->dir.path("dsn.db"));
  out.close();
  setenv("ODBCINI", ini.c_str(), 1);
  const result r = db->d.server ? conn.ConnDs(dsn, L"vela", L"secret") : conn.ConnDs(dsn, L"", L"");
  unsetenv("ODBCINI");
  ASSERT_TRUE(r.succeeded()) << to_narrow(r.format());
  EXPECT_EQ(conn.adapter(), nullptr);
  exec(L"create table dsn_t(i integer)");
  const result missing = conn.ConnDs(L"no_such_dsn", L"", L"");
  EXPECT_FALSE(missing.succeeded());
  EXPECT_EQ(missing.text().rfind(L"[IM002]", 0), 0u) << to_narrow(missing.text());
}

TEST_P(Odbc, RowCountsValuesNullsAndTheEndOfRows) {
  exec(L"drop table if exists vals");
  exec(L"create table vals(i integer, n numeric(10,2), d double precision, v varchar(20), x text, ts timestamp)");
  {
    query ins(&conn, L"insert into vals values(42, 12.5, 0.25, 'Жук', 'long text', '2017-04-05 09:08:07')");
    ASSERT_TRUE(ins.execute(true).succeeded());
    EXPECT_EQ(ins.rows().count(), 0u);
    EXPECT_EQ(ins.rows().row_count(), 1u);
  }
  exec(L"insert into vals values(null, null, null, null, null, null)");
  {
    query upd(&conn, L"update vals set v = 'x' where v is null or v = 'x'");
    ASSERT_TRUE(upd.execute(true).succeeded());
    EXPECT_EQ(upd.rows().row_count(), 1u);
  }
  {
    // An UPDATE that leaves its row as it was: some servers count the rows changed, not matched.
    query same(&conn, L"update vals set i = 42 where i = 42");
    ASSERT_TRUE(same.execute(true).succeeded());
    EXPECT_EQ(same.rows().row_count(), db->d.update_counts_matched ? 1u : 0u);
  }
  const auto rows = select(L"select i, n, d, v, x, ts from vals order by i");
  ASSERT_EQ(rows.size(), 2u);
  const auto& full = db->d.nulls_last ? rows[0] : rows[1];
  const auto& empty = db->d.nulls_last ? rows[1] : rows[0];
  EXPECT_EQ(full[0], L"42");
  EXPECT_EQ(full[1], widen(db->d.decimal_12_5));
  EXPECT_EQ(full[2], L"0.25");
  EXPECT_EQ(full[3], L"Жук");
  EXPECT_EQ(full[4], L"long text");
  EXPECT_EQ(full[5].substr(0, 19), L"2017-04-05 09:08:07");
  EXPECT_EQ(empty[0], L"<NULL>");
  EXPECT_EQ(empty[3], L"x");
  EXPECT_EQ(empty[5], L"<NULL>");
}

// With the driver's setting that streams results (a small fetch, so that a result takes
// several round trips): the counts of UPDATE and DELETE stay, a SELECT's count is the driver's
// own (psqlODBC's cursor gives none), and a write while a result is open on the same
// connection is committed, as without the setting.
TEST_P(Odbc, StreamedResultsKeepCountsAndWrites) {
  const struct {
    const char* kind;
    const wchar_t* setting;  // "" buffered
    int64_t select_count;    // SQLRowCount of a SELECT of 3 rows once read
  } cases[] = {
      {"sqlite", L"", 0},   {"sqlite", L"StepAPI=1;", 0},
      {"pg", L"", 3},       {"pg", L"UseDeclareFetch=1;Fetch=2;", -1},
      {"maria", L"", 3},
  };
  for (const auto& c : cases) {
    if (db->kind != c.kind) continue;
    SCOPED_TRACE(to_narrow(c.setting));
    exec(L"drop table if exists streamed");
    exec(L"create table streamed(n integer)");
    exec(L"insert into streamed values(1), (2), (3), (4), (5)");
    connection s;
    ASSERT_TRUE(s.connect(nullptr, db->wcs() + c.setting).succeeded());
    EXPECT_EQ(s.profile().streams_results(), *c.setting != 0);
    // MariaDB's driver knows its setting from 3.1.17 (Debian 12 has 3.1.15).
    const std::wstring version = ask_info_text(s.hdbc(), info_text::driver_version);
    EXPECT_EQ(s.profile().knows_streaming_setting(), db->kind != "maria" || version >= L"03.01.0017")
        << to_narrow(version);
    const auto changed = [&s](const wchar_t* sql) {
      query q(&s, sql);
      EXPECT_TRUE(q.execute(false).succeeded()) << to_narrow(sql);
      return q.changed_rows();
    };
    EXPECT_EQ(changed(L"update streamed set n = n + 10 where n > 2"), 3);
    EXPECT_EQ(changed(L"delete from streamed where n = 15"), 1);
    query open(&s, L"select n from streamed order by n");
    ASSERT_TRUE(open.execute(false).succeeded());
    ASSERT_TRUE(open.rows().bind(1, nullptr, bind_type::wide_text, 0).succeeded());
    ASSERT_TRUE(open.rows().fetch().succeeded());
    EXPECT_EQ(open.rows().at(0).text(), L"1");
    EXPECT_EQ(changed(L"insert into streamed values(6)"), 1);  // while the result is open
    int read = 1;
    while (open.rows().fetch().succeeded()) ++read;
    EXPECT_EQ(read, 4);  // the rows as the SELECT found them
    ASSERT_TRUE(open.Free().succeeded());
    query all(&s, L"select n from streamed where n < 10");
    ASSERT_TRUE(all.execute(false).succeeded());
    while (all.rows().fetch().succeeded()) {
    }
    EXPECT_EQ(all.changed_rows(), c.select_count);
    ASSERT_TRUE(all.Free().succeeded());
    ASSERT_TRUE(s.disconnect().succeeded());
    EXPECT_EQ(select(L"select count(*) from streamed"), (std::vector<std::vector<std::wstring>>{{L"5"}}));
  }
}

TEST_P(Odbc, BitValuesReadAsDigits) {
  // One driver hands a BIT over as its raw byte when asked for text; the library mends it.
  exec(L"drop table if exists bits");
  exec(L"create table bits(k integer, b " + widen(db->d.bit_type) + L")");
  std::string zero = db->d.bit_one;
  zero[zero.find('1')] = '0';
  exec(L"insert into bits values(1, " + widen(db->d.bit_one) + L")");
  exec(L"insert into bits values(2, " + widen(zero) + L")");
  exec(L"insert into bits values(3, null)");
  const auto rows = select(L"select b from bits order by k");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0], L"1");
  EXPECT_EQ(rows[1][0], L"0");
  EXPECT_EQ(rows[2][0], L"<NULL>");
}

TEST_P(Odbc, DefaultBindingsAndDescriptions) {
  exec(L"drop table if exists descr");
  exec(std::wstring(L"create table descr(i integer, v varchar(5), x text, b ") + widen(db->blob_type()) + L")");
  exec(L"insert into descr values(7, 'abcde', 't', null)");
  query q(&conn, L"select i, v, x, b from descr");
  ASSERT_TRUE(q.execute(false).succeeded());
  resultset& rows = q.rows();
  ASSERT_EQ(rows.count(), 4u);
  EXPECT_EQ(rows.at(0).name(), L"i");
  EXPECT_EQ(rows.at(0).sql_type(), SQL_INTEGER);
  EXPECT_EQ(static_cast<int>(rows.at(0).c_type()), SQL_C_LONG);
  EXPECT_EQ(rows.at(0).display_size(), db->d.int_display_size);
  EXPECT_EQ(rows.at(1).display_size(), 5);
  EXPECT_EQ(rows.at(2).buffer(), nullptr);  // long text is read in pieces
  EXPECT_EQ(rows.at(3).buffer(), nullptr);
  EXPECT_EQ(rows.at(3).sql_type(), db->d.blob_sql_type);
  EXPECT_EQ(rows.at(3).display_size(), db->d.blob_display_size);
  ASSERT_TRUE(rows.fetch().succeeded());
  EXPECT_EQ(*static_cast<int32_t*>(rows.at(0).buffer()), 7);
  EXPECT_EQ(rows.at(1).text(), L"abcde");
  // Rebinding to a caller buffer too small for the value: a truncation notice, not a failure.
  SQLWCHAR small[3];
  ASSERT_TRUE(q.execute(L"select v from descr", false, true).succeeded());
  ASSERT_TRUE(q.rows().bind(1, small, bind_type::wide_text, sizeof small).succeeded());
  const result f = q.rows().fetch();
  EXPECT_TRUE(f.succeeded());
  EXPECT_EQ(f.severity(), 1);
  EXPECT_EQ(f.text().rfind(L"[01004]", 0), 0u) << to_narrow(f.text());
  EXPECT_EQ(q.rows().at(0).text(), L"ab");
}

TEST_P(Odbc, FailedStatementsAndTransactions) {
  query bad(&conn, L"select * from no_such_table");
  const result r = bad.execute(false);
  EXPECT_FALSE(r.succeeded());
  EXPECT_EQ(r.code(), db_access_error());
  // The text is built from the state the driver gave.
  ASSERT_EQ(r.state().size(), 5u);
  EXPECT_EQ(r.text().rfind(L"[" + r.state() + L"] ", 0), 0u) << to_narrow(r.text());
  EXPECT_EQ(bad.rows().count(), 0u);
  exec(L"drop table if exists tx");
  exec(L"create table tx(i integer)");
  SQLSetConnectAttr(conn.hdbc(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
  {
    query ins(&conn, L"insert into tx values(1)");
    ASSERT_TRUE(ins.execute(false).succeeded());
    ASSERT_TRUE(conn.transact(1).succeeded());  // rolled back
    ASSERT_TRUE(ins.execute(true).succeeded());  // committed
  }
  EXPECT_EQ(select(L"select count(*) from tx")[0][0], L"1");
  query q(&conn, L"select 1");
  EXPECT_EQ(q.Free().code(), 1u);  // never executed
}

namespace {

long peak_rss_kib() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// Records the size of every piece it hands over.
class counting_uploader : public query_file_uploader {
 public:
  using query_file_uploader::query_file_uploader;
  result next_chunk(chunk_buffer& chunk) override {
    result r = query_file_uploader::next_chunk(chunk);
    pieces.push_back(chunk.size());
    return r;
  }
  std::vector<size_t> pieces;
};

} // namespace

TEST_P(Odbc, StreamsRoundTripByteForByte) {
  exec(L"drop table if exists files");
  exec(std::wstring(L"create table files(id integer, data ") + widen(db->blob_type()) + L")");
  const size_t mib = 1 << 20;
  const size_t sizes[] = {0, 1, mib, mib + 1, mib * 5 / 2, 64 * mib};
  int id = 0;
  long peak_growth = 0;
  for (size_t size : sizes) {
    ++id;
    const std::string bytes = vela::testing::random_bytes(size, static_cast<unsigned>(size));
    db->dir.write("in.bin", bytes);
    const long before = peak_rss_kib();
    {
      counting_uploader up(widen(db->dir.path("in.bin")));
      up.set_chunk_size(upload_chunk_size);
      query ins(&conn, L"insert into files values(" + std::to_wstring(id) + L", ?)");
      (void)ins.add_param(&up);
      const result r = ins.execute(true);
      ASSERT_TRUE(r.succeeded()) << size << ": " << to_narrow(r.format());
      for (size_t p : up.pieces) EXPECT_LE(p, mib);
      if (size == mib * 5 / 2) {
        EXPECT_EQ(up.pieces, (std::vector<size_t>{mib, mib, mib / 2}));
      }
    }
    {
      query sel(&conn, L"select data from files where id = " + std::to_wstring(id));
      ASSERT_TRUE(sel.execute(false).succeeded());
      ASSERT_TRUE(sel.rows().fetch().succeeded());
      uint64_t count = 99;
      const result r = query_file_downloader(widen(db->dir.path("out.bin"))).download(sel, 1, &count);
      ASSERT_TRUE(r.succeeded()) << to_narrow(r.format());
      EXPECT_EQ(count, size);
    }
    EXPECT_TRUE(db->dir.read("out.bin") == bytes) << size;
    if (size == 64 * mib) {
      peak_growth = peak_rss_kib() - before;
      std::printf("[ figures  ] %s: peak RSS grew by %ld KiB over a 64 MiB round trip\n", GetParam().c_str(),
                  peak_growth);
    }
  }
}

TEST_P(Odbc, NullValueDownloadsAsAnEmptyFile) {
  exec(L"drop table if exists nfiles");
  exec(std::wstring(L"create table nfiles(data ") + widen(db->blob_type()) + L")");
  exec(L"insert into nfiles values(null)");
  db->dir.write("out.bin", "old content");
  query sel(&conn, L"select data from nfiles");
  ASSERT_TRUE(sel.execute(false).succeeded());
  ASSERT_TRUE(sel.rows().fetch().succeeded());
  uint64_t count = 99;
  EXPECT_TRUE(query_file_downloader(widen(db->dir.path("out.bin"))).download(sel, 1, &count).succeeded());
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(db->dir.read("out.bin"), "");
  const result missing = query_file_downloader(widen(db->dir.path("no/dir/out.bin"))).download(sel, 1, &count);
  EXPECT_EQ(missing.code(), 2u);
}

TEST_P(Odbc, AnUploadWhoseFileChangesIsCancelled) {
  exec(L"drop table if exists cut");
  exec(std::wstring(L"create table cut(data ") + widen(db->blob_type()) + L")");
  db->dir.write("in.bin", vela::testing::random_bytes(3 << 20, 7));
  class shrinking : public query_file_uploader {
   public:
    shrinking(const std::wstring& p, std::string path) : query_file_uploader(p), path_(std::move(path)) {}
    result next_chunk(chunk_buffer& chunk) override {
      result r = query_file_uploader::next_chunk(chunk);
      if (offset() > 0) fs::resize_file(path_, 1 << 20);  // the file shrinks under the upload
      return r;
    }
    std::string path_;
  } up(widen(db->dir.path("in.bin")), db->dir.path("in.bin"));
  up.set_chunk_size(upload_chunk_size);
  query ins(&conn, L"insert into cut values(?)");
  (void)ins.add_param(&up);
  const result r = ins.execute(true);
  EXPECT_FALSE(r.succeeded());
  EXPECT_EQ(r.code(), 13u);
  EXPECT_EQ(select(L"select count(*) from cut")[0][0], L"0");
  // An upload file that is missing raises out of the execution.
  query_file_uploader gone(widen(db->dir.path("gone.bin")));
  gone.set_chunk_size(upload_chunk_size);
  query ins2(&conn, L"insert into cut values(?)");
  (void)ins2.add_param(&gone);
  try {
    (void)ins2.execute(true);
    FAIL();
  } catch (const windows_error& e) {
    EXPECT_EQ(e.code(), 2);
    // The file is named; the source position is kept for the log.
    EXPECT_EQ(e.what().rfind(L"'" + widen(db->dir.path("gone.bin")) + L"' ", 0), 0u) << to_narrow(e.what());
    EXPECT_EQ(e.what().find(L".cpp"), std::wstring::npos) << to_narrow(e.what());
  }
  EXPECT_EQ(select(L"select count(*) from cut")[0][0], L"0");
}

TEST_P(Odbc, LongBinarySizeAndTextUpload) {
  EXPECT_GE(conn.long_binary_size(), 0);
  EXPECT_EQ(conn.long_binary_size(), conn.long_binary_size());
  exec(L"drop table if exists mem");
  exec(std::wstring(L"create table mem(data ") + widen(db->blob_type()) + L")");
  const std::vector<unsigned char> data = {0x41, 0, 0x42, 0};
  query_memory_uploader up(&data);
  query ins(&conn, L"insert into mem values(?)");
  (void)ins.add_param(&up);
  ASSERT_TRUE(ins.execute(true).succeeded());
  query sel(&conn, L"select data from mem");
  ASSERT_TRUE(sel.execute(false).succeeded());
  ASSERT_TRUE(sel.rows().fetch().succeeded());
  ASSERT_TRUE(query_file_downloader(widen(db->dir.path("m.bin"))).download(sel, 1).succeeded());
  EXPECT_EQ(db->dir.read("m.bin"), std::string("A\0B\0", 4));
}

INSTANTIATE_TEST_SUITE_P(Drivers, Odbc, vela::testing::all_databases(), vela::testing::param_name);

TEST(Environment, SharedHandleAndCounter) {
  const int32_t before = environment::live_count();
  EXPECT_GE(before, 1);  // the program's own object
  SQLHENV h = environment::handle();
  ASSERT_NE(h, nullptr);
  {
    environment a, b;
    EXPECT_EQ(environment::live_count(), before + 2);
    EXPECT_EQ(environment::handle(), h);
  }
  EXPECT_EQ(environment::live_count(), before);
  EXPECT_EQ(environment::handle(), h);
  EXPECT_NE(db_access_error(), no_data_error());
  const bool ru = os::russian_ui();
  EXPECT_EQ(GetErrorText(db_access_error()), ru ? L"Ошибка при обращении к базе данных" : L"Database access error");
  EXPECT_EQ(GetErrorText(no_data_error()), ru ? L"Нет данных" : L"No data");
  EXPECT_TRUE(odbc_diagnostics(h, nullptr, nullptr).succeeded());  // nothing pending
}
