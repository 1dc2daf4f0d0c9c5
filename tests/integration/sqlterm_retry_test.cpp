// Work that meets a conflict runs again with -retry: a statement that PostgreSQL refuses to
// serialize, a statement that a Galera cluster aborts for a write on another node, and a load
// into one node while another node updates the same table.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/galera_cluster.h"
#include "support/odbc_values.h"
#include "support/sqlterm_fixture.h"
#include "support/wait.h"
#include "vela/utf.h"

using vela::odbc::scalar;
using vela::testing::run_result;
using vela::testing::wait_until;

namespace {

// Runs text on c without committing; it must succeed.
void run_on(vela::odbc::connection& c, const std::string& text) {
  vela::odbc::query q(&c, vela::testing::widen(text));
  const vela::result r = q.execute(q.text(), false, false);
  ASSERT_TRUE(r.succeeded()) << text << ": " << vela::wide_to_utf8(r.format());
}

run_result sqlterm(const std::string& cs, std::vector<std::string> args) {
  args.insert(args.begin(), {SQLTERM_PATH, "-cs:" + cs});
  return vela::testing::run_process(args);
}

// The statement starts, waits for a row another session holds (blocked() tells when it
// does), and meets a conflict once the other session writes the row; with -retry it runs
// again and succeeds.
struct conflict_case {
  std::vector<std::string> args;
  bool retried;
  const char* value;  // the row's value at the end
};

class SqltermRetryPg : public vela::testing::sqlterm_test {};

TEST_P(SqltermRetryPg, SerializationFailureOfAStatementRunsAgain) {
  use_table("retry_");
  sql("create table " + table + "(id int primary key, v int)");
  const conflict_case cases[] = {{{"-retry:3"}, true, "11"}, {{}, false, "1"}};
  for (const conflict_case& c : cases) {
    sql("update " + table + " set v = 0");
    vela::odbc::connection other;
    ASSERT_TRUE(other.connect(nullptr, db->wcs()).succeeded());
    run_on(other, "insert into " + table + " select 1, 0 where not exists (select 1 from " + table + ")");
    run_on(other, "begin");
    run_on(other, "update " + table + " set v = v + 1 where id = 1");
    run_result r;
    std::vector<std::string> args = c.args;
    args.push_back("-q:set session characteristics as transaction isolation level repeatable read;"
                   "update " + table + " set v = v + 10 where id = 1");
    std::thread session([&] { r = sqlterm(db->cs, args); });
    vela::odbc::connection watch;
    ASSERT_TRUE(watch.connect(nullptr, db->wcs()).succeeded());
    const bool blocked = wait_until([&] {
      return scalar(watch, L"select count(*) from pg_stat_activity where wait_event_type = 'Lock' and query like 'update%v + 10%'") == L"1";
    });
    run_on(other, "commit");
    session.join();
    ASSERT_TRUE(blocked);
    const std::string all = r.out + r.err;
    EXPECT_EQ(all.find("Retried once: serialization failure.\n") != std::string::npos, c.retried) << all;
    EXPECT_EQ(all.find("could not serialize") == std::string::npos, c.retried) << all;
    EXPECT_EQ(scalar(watch, vela::testing::widen("select v from " + table)), vela::testing::widen(c.value));
  }
}

INSTANTIATE_TEST_SUITE_P(Pg, SqltermRetryPg, ::testing::Values("pg"));

class SqltermRetryGalera : public ::testing::Test {
 protected:
  void SetUp() override {
    vela::testing::galera_cluster& c = vela::testing::shared_galera_cluster();
    if (!c.running()) GTEST_SKIP() << "no Galera cluster: " << c.error();
    cluster = &c;
    for (size_t i = 0; i < 2; ++i) ASSERT_TRUE(conn[i].connect(nullptr, vela::testing::widen(cs(i))).succeeded());
  }
  std::string cs(size_t node) const { return cluster->node(node).connection_string(); }

  vela::testing::galera_cluster* cluster = nullptr;
  vela::odbc::connection conn[2];
};

// A statement on node 1 holds a row while node 2 updates it: the cluster aborts node 1's.
TEST_F(SqltermRetryGalera, StatementAbortedByAnotherNodeRunsAgain) {
  run_on(conn[0], "create or replace table gs(id int primary key, v int)");
  const conflict_case cases[] = {{{"-retry:3"}, true, "101"}, {{}, false, "100"}};
  for (const conflict_case& c : cases) {
    run_on(conn[0], "delete from gs");
    run_on(conn[0], "insert into gs values (1, 0)");
    run_result r;
    std::vector<std::string> args = c.args;
    args.push_back("-q:update gs set v = v + 1 where id = 1 and sleep(2) = 0");
    std::thread session([&] { r = sqlterm(cs(0), args); });
    const bool blocked = wait_until([&] {
      return scalar(conn[0], L"select count(*) from information_schema.processlist where info like 'update gs%sleep(2)%'") == L"1";
    });
    // The row is locked on node 1 only once its statement has read it.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    run_on(conn[1], "update gs set v = v + 100 where id = 1");
    session.join();
    ASSERT_TRUE(blocked);
    const std::string all = r.out + r.err;
    EXPECT_EQ(std::regex_search(all, std::regex("Retried once: (deadlock|certification conflict)\\.\n")), c.retried) << all;
    EXPECT_EQ(all.find("Deadlock") == std::string::npos, c.retried) << all;
    EXPECT_TRUE(wait_until([&] { return scalar(conn[0], L"select v from gs") == vela::testing::widen(c.value); })) << all;
  }
}

// Every loaded row refers to row 0, which node 2 keeps updating: batches on node 1 meet
// conflicts and run again, and every row is in the table exactly once.
TEST_F(SqltermRetryGalera, LoadWhileAnotherNodeUpdatesLoadsEveryRowOnce) {
  run_on(conn[0], "drop table if exists gl");
  run_on(conn[0], "create table gl(id int primary key, parent int not null, v int default 0, "
                  "foreign key (parent) references gl(id))");
  run_on(conn[0], "insert into gl(id, parent) values (0, 0)");
  constexpr long rows = 6000;
  const std::string file = cluster->node(0).dir() + "/gl.txt";
  {
    std::ofstream out(file);
    for (long i = 1; i <= rows; ++i) out << i << "\t0\n";
  }
  ASSERT_TRUE(wait_until([&] { return scalar(conn[1], L"select count(*) from gl") == L"1"; }));
  std::atomic<bool> loading{true};
  std::thread updates([&] {
    while (loading) {
      vela::odbc::query q(&conn[1], L"update gl set v = v + 1 where id = 0");
      (void)q.execute(q.text(), false, false);  // a conflict here is the other side's
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  const run_result r = sqlterm(cs(0), {"-retry:30", "-batch:200", "-q:\\copy gl(id, parent) from '" + file + "'"});
  loading = false;
  updates.join();
  const std::string all = r.out + r.err;
  EXPECT_EQ(r.status, 0) << all;
  EXPECT_NE(all.find("Rows loaded: " + std::to_string(rows) + ". Rows failed: 0.\n"), std::string::npos) << all;
  EXPECT_TRUE(std::regex_search(all, std::regex("\nBatch retries: [1-9][0-9]*\\.\n"))) << all;
  EXPECT_EQ(scalar(conn[0], L"select count(*) from gl where id > 0"), std::to_wstring(rows));
  EXPECT_EQ(scalar(conn[0], L"select sum(id) from gl"), std::to_wstring(rows * (rows + 1) / 2));
}

} // namespace
