// The setup every program test shares: a database of the kind the test runs for, a table
// named after the test (dropped first), and sqlterm run against that database.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/databases.h"
#include "support/process.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/query.h"
#include "vela/utf.h"

namespace vela::testing {

// The columns of a table as the database names their types: "name type, …".
inline std::string column_types_query(const std::string& kind, const std::string& table) {
  if (kind == "pg")
    return "select string_agg(attname || ' ' || format_type(atttypid, atttypmod), ', ' order by attnum) from pg_attribute"
           " where attrelid = '" + table + "'::regclass and attnum > 0 and not attisdropped";
  if (kind == "maria")
    return "select group_concat(column_name, ' ', column_type order by ordinal_position separator ', ')"
           " from information_schema.columns where table_schema = database() and table_name = '" + table + "'";
  return "select group_concat(name || ' ' || type, ', ') from pragma_table_info('" + table + "')";
}

class database_test : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = std::make_unique<database>(GetParam());
    ASSERT_TRUE(db->ready()) << db->why_not();
  }

  // A table name from the prefix and the test's name.
  void name_table(const std::string& prefix) {
    table = std::regex_replace(prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name(),
                               std::regex("[^A-Za-z0-9_]"), "_");
  }

  bool pg() const { return GetParam() == "pg"; }
  bool maria() const { return GetParam() == "maria"; }

  std::unique_ptr<database> db;
  std::string table;
};

// The database, also connected through the library.
class connected_test : public database_test {
 protected:
  void SetUp() override {
    database_test::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(conn.connect(nullptr, db->wcs()).succeeded());
  }

  // Runs a statement through the library; it must succeed.
  void exec(const std::string& sql) {
    odbc::query q(&conn, widen(sql));
    const result r = q.execute(true);
    ASSERT_TRUE(r.succeeded()) << sql << ": " << wide_to_utf8(r.format());
  }

  odbc::connection conn;
};

#ifdef SQLTERM_PATH
class sqlterm_test : public database_test {
 protected:
  // The table, named from the prefix, is dropped before the test.
  void use_table(const std::string& prefix) {
    name_table(prefix);
    sql("drop table if exists " + table);
  }

  // sqlterm -cs:<db> followed by the arguments as given.
  run_result run(std::vector<std::string> args, const std::string& input = {},
                 const std::map<std::string, std::string>& env = {}) {
    args.insert(args.begin(), {SQLTERM_PATH, "-cs:" + db->cs});
    return run_process(args, input, env);
  }

  // One statement through -q; it must succeed and say nothing on standard error.
  void sql(const std::string& statement) {
    const run_result r = run({"-do", "-q:" + statement});
    ASSERT_EQ(r.status, 0) << statement << "\n" << r.out;
    ASSERT_EQ(r.err, "") << statement;
  }
};
#endif

} // namespace vela::testing
