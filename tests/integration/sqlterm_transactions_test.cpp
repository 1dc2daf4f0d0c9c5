// Transactions are the user's: BEGIN … ROLLBACK takes everything back, loads join an open
// transaction, and a run that ends inside one (its end, EXIT, "-oe", a signal) commits nothing.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/sqlterm_fixture.h"

using vela::testing::run_result;

namespace {

const std::string rolled_back = "The transaction left open was rolled back.\n";

class SqltermTransactions : public vela::testing::sqlterm_test {
 protected:
  void SetUp() override {
    sqlterm_test::SetUp();
    if (HasFatalFailure()) return;
    use_table("tx_");
    sql("create table " + table + "(id int primary key)");
    sql("insert into " + table + " values(1), (2), (3)");
    db->dir.write("rows.txt", "4\n5\n");
    db->dir.write("clash.txt", "4\n1\n5\n");
  }

  // The script with T standing for the table and F for the folder of the test's files.
  std::string script(std::string text) const {
    text = std::regex_replace(text, std::regex("\\bT\\b"), table);
    return std::regex_replace(text, std::regex("\\bF/"), db->dir.path() + "/");
  }

  long rows() {
    const run_result r = run({"-do", "-q:select count(*) from " + table});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return std::stol(r.out.substr(r.out.find_first_not_of(" \n")));
  }

  // Runs every case of the table below through a connection string with setting added.
  void run_scripts(const std::string& setting);
};

void SqltermTransactions::run_scripts(const std::string& setting) {
  enum class via { file, stdin_option };
  struct tx_case {
    const char* name;
    const char* text;
    std::vector<std::string> args;
    via how;
    long rows;
    bool fails;
    bool rolled_back;
    bool maria_only = false;
  };
  const tx_case cases[] = {
      {"rollback", "begin;\ndelete from T;\nrollback;\n", {}, via::file, 3, false, false},
      {"commit", "begin;\ndelete from T where id = 1;\ncommit;\n", {}, via::file, 2, false, false},
      // Results read inside and outside a transaction.
      {"select inside, rolled back", "begin;\ndelete from T where id = 1;\nselect * from T;\nrollback;\n", {}, via::file,
       3, false, false},
      {"selects around a write", "select * from T;\ninsert into T values(4);\nselect * from T;\n", {}, via::file, 4,
       false, false},
      {"select inside, left open", "begin;\ninsert into T values(4);\nselect * from T;\n", {}, via::file, 3, false,
       true},
      {"failing under -oe", "begin;\ninsert into T values(4);\nselect * from nosuch;\ncommit;\n", {"-oe"}, via::file, 3, true, true},
      {"left open", "begin;\ninsert into T values(4);\n", {}, via::file, 3, false, true},
      // Only the failed statement is taken back (on PostgreSQL psqlODBC's default level of
      // rollback on errors), and the transaction commits what went before and after it.
      {"failing", "begin;\ninsert into T values(4);\nselect * from nosuch;\ninsert into T values(5);\ncommit;\n", {},
       via::file, 5, false, false},
      {"exit inside", "begin;\ndelete from T;\nexit\ncommit;\n", {}, via::file, 3, false, true},
      {"disconnect inside", "begin;\ndelete from T;\nDISCONNECT\n", {}, via::file, 3, false, true},
      {"-qi left open", "begin;\ndelete from T;\n", {"-qi"}, via::stdin_option, 3, false, true},
      {"rollback to savepoint",
       "begin;\ninsert into T values(4);\nsavepoint s1;\ninsert into T values(5);\nrollback to savepoint s1;\ncommit;\n",
       {}, via::file, 4, false, false},
      {"copy rolled back", "begin;\n\\copy T from 'F/rows.txt'\nrollback;\n", {}, via::file, 3, false, false},
      {"copy committed", "begin;\n\\copy T from 'F/rows.txt'\ncommit;\n", {}, via::file, 5, false, false},
      {"copy with a refused row", "begin;\n\\copy T from 'F/clash.txt'\ncommit;\n", {}, via::file, 5, false, false},
      {"copy block rolled back", "begin;\nCOPY T (id) FROM stdin;\n4\n5\n\\.\nrollback;\n", {}, via::file, 3, false, false},
      // A dump's SET autocommit=0 makes the statements one transaction: none is committed
      // by itself.
      {"autocommit off, rolled back", "set autocommit=0;\ninsert into T values(4);\nrollback;\n", {}, via::file, 3, false,
       false, true},
      {"autocommit off, committed", "set autocommit=0;\ninsert into T values(4);\ncommit;\n", {}, via::file, 4, false, false,
       true},
      {"autocommit off, left open", "set autocommit=0;\ninsert into T values(4);\n", {}, via::file, 3, false, true, true},
  };
  for (const tx_case& c : cases) {
    SCOPED_TRACE(c.name);
    if (maria() && std::string(c.text).find("COPY") != std::string::npos) continue;  // a PostgreSQL dump's block
    if (c.maria_only && !maria()) continue;
    std::vector<std::string> args = c.args;
    std::string input;
    if (c.how == via::file) {
      db->dir.write("script.sql", script(c.text));
      args.push_back("-qf:" + db->dir.path("script.sql"));
    } else {
      input = script(c.text);
    }
    args.insert(args.begin(), {SQLTERM_PATH, "-cs:" + db->cs + setting});
    const run_result r = vela::testing::run_process(args, input);
    EXPECT_EQ(r.status != 0, c.fails) << r.out << r.err;
    EXPECT_EQ(r.err.find(rolled_back) != std::string::npos, c.rolled_back) << r.out << r.err;
    EXPECT_EQ(rows(), c.rows);
    sql("delete from " + table);
    sql("insert into " + table + " values(1), (2), (3)");
  }
}

TEST_P(SqltermTransactions, WhatTheScriptDoesNotCommitStaysUndone) { run_scripts(""); }

// The same with the driver's setting that streams results, a fetch of one row at a time on
// PostgreSQL (its driver reads through a cursor, in a transaction of its own where none is
// open): nothing is committed behind the script's back either.
TEST_P(SqltermTransactions, StreamingChangesNoTransaction) {
  if (maria()) GTEST_SKIP() << "this MariaDB driver has no setting that streams";
  run_scripts(pg() ? "UseDeclareFetch=1;Fetch=1;" : "StepAPI=1;");
}

TEST_P(SqltermTransactions, AScriptKilledInsideItsTransactionLeavesNoRow) {
  std::string text = "begin;\n";
  for (int i = 10; i < 20010; ++i) text += "insert into T values(" + std::to_string(i) + ");\n";
  db->dir.write("script.sql", script(text + "commit;\n"));
  bool sent = false;
  const run_result r = vela::testing::run_process(
      {SQLTERM_PATH, "-cs:" + db->cs, "-qf:" + db->dir.path("script.sql")}, {}, {}, {},
      [&sent](const run_result& so_far, int pid) {
        // Killed once a few hundred inserts have run.
        if (sent) return;
        size_t inserts = 0;
        for (size_t at = so_far.out.find("\ninsert "); at != std::string::npos; at = so_far.out.find("\ninsert ", at + 1))
          ++inserts;
        if (inserts < 300) return;
        sent = true;
        kill(pid, SIGTERM);
      });
  ASSERT_TRUE(sent) << r.out.substr(r.out.size() > 2000 ? r.out.size() - 2000 : 0);
  EXPECT_EQ(r.status, 128 + SIGTERM);
  EXPECT_EQ(rows(), 3);
}

INSTANTIATE_TEST_SUITE_P(Databases, SqltermTransactions, vela::testing::all_databases(), vela::testing::param_name);

// The log records no commit that autocommit made, and no secret of a statement.
TEST(SqltermTransactionLog, StatementsAreLoggedWithoutSecretsOrCommits) {
  namespace fs = std::filesystem;
  vela::testing::temp_dir dir;
  fs::copy_file(SQLTERM_PATH, dir.path("sqlterm"));
  dir.write("sqlterm.wli", "[Prms]\nPID=Off\nTID=Off\nTmFrmt=\n[Evts]\nTO.=\n");
  const run_result r = vela::testing::run_process(
      {dir.path("sqlterm"), "-cs:Driver=SQLite3;Database=" + dir.path("l.db"),
       "-q:select 'Driver=x;PWD=s3cr3t1;UID=u' as x;create user u identified by 's3cr3t2';"
       "alter user u with password 's3cr3t3' valid until 'infinity'"});
  EXPECT_EQ(r.status, 0);
  const std::string log = dir.read("sqlterm.log");
  for (const char* secret : {"s3cr3t1", "s3cr3t2", "s3cr3t3"}) EXPECT_EQ(log.find(secret), std::string::npos) << log;
  EXPECT_NE(log.find("TOQ \"select 'Driver=x;PWD=*hidden*;UID=u' as x;\""), std::string::npos) << log;
  EXPECT_NE(log.find("TO! \"create user u identified by '*hidden*';\""), std::string::npos) << log;
  EXPECT_NE(log.find("password '*hidden*' valid until 'infinity'\""), std::string::npos) << log;
  EXPECT_EQ(log.find("SQLTransact"), std::string::npos) << log;
}

} // namespace
