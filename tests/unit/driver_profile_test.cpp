// The driver profile: what each known driver and database do their own way, from the names
// they report; and no code outside the profile and the adapters compares those names.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "vela/odbc/driver_profile.h"

using namespace vela::odbc;
namespace fs = std::filesystem;

namespace {

struct profile_row {
  const char* kind;
  const wchar_t* driver_file;
  const wchar_t* dbms;
  script_dialect dialect;
  byte_literal_form literals;
  bool savepoint_begins, narrow_copy_text, narrow_parameters, binary_arrays, inexact_doubles, two_part_catalog;
  size_t multi_row_parameters;
  const wchar_t* quoted;  // quote_identifier(L"a\"b`c")
  const wchar_t* streamed;  // streaming_connection(L"Driver=x;Database=d; ")
  const wchar_t* system_schema;  // one the database keeps for itself (nullptr: none)
  const wchar_t* system_object[3];  // catalog, schema and name of one of its own objects (nullptr: none)
  bool asks_checks;  // a query of check constraints
};

const profile_row profiles[] = {
    {"sqlite", L"sqlite3odbc.so", L"SQLite", script_dialect::generic, byte_literal_form::hex_as_text, true, true, false,
     false, true, false, 0, L"\"a\"\"b`c\"", L"Driver=x;Database=d;StepAPI=1;", nullptr,
     {L"", L"", L"sqlite_sequence"}, false},
    {"pg", L"psqlodbcw.so", L"PostgreSQL", script_dialect::generic, byte_literal_form::bytea_hex, false, false, false,
     true, false, false, 4000, L"\"a\"\"b`c\"", L"Driver=x;Database=d;UseDeclareFetch=1;Fetch=2000;", L"pg_catalog",
     {L"postgres", L"information_schema", L"tables"}, true},
    {"maria", L"libmaodbc.so", L"MariaDB", script_dialect::mysql, byte_literal_form::hex, false, true, true, true, false,
     true, 0, L"`a\"b``c`", L"Driver=x;Database=d; ", L"INFORMATION_SCHEMA",
     {L"performance_schema", L"", L"threads"}, true},
    {"unknown", L"other.so", L"Other", script_dialect::generic, byte_literal_form::none, false, false, false, true, false,
     false, 0, L"a\"b`c", L"Driver=x;Database=d; ", nullptr, {nullptr}, false},
};

} // namespace

TEST(DriverProfile, FromTheNamesTheDriverReports) {
  for (const profile_row& row : profiles) {
    const driver_profile p(row.driver_file, row.dbms, L"", nullptr);
    SCOPED_TRACE(row.kind);
    EXPECT_EQ(p.dialect(), row.dialect);
    EXPECT_EQ(p.byte_literals(), row.literals);
    EXPECT_EQ(p.savepoint_begins_transaction(), row.savepoint_begins);
    EXPECT_EQ(p.narrow_copy_text(), row.narrow_copy_text);
    EXPECT_EQ(p.narrow_parameters(), row.narrow_parameters);
    EXPECT_EQ(p.binary_parameter_arrays(), row.binary_arrays);
    EXPECT_EQ(p.inexact_doubles(), row.inexact_doubles);
    EXPECT_EQ(p.two_part_name_is_catalog(), row.two_part_catalog);
    EXPECT_EQ(p.multi_row_parameters(), row.multi_row_parameters);
    EXPECT_EQ(p.overriding_system_value(), row.multi_row_parameters > 0);
    EXPECT_EQ(*p.transaction_state_query() != 0, row.dialect == script_dialect::mysql);
    EXPECT_EQ(p.quote_identifier(L"a\"b`c"), row.quoted);
    EXPECT_EQ(p.streaming_connection(L"Driver=x;Database=d; "), row.streamed);
    if (row.system_schema) {
      EXPECT_TRUE(p.is_system_schema(row.system_schema));
    }
    EXPECT_FALSE(p.is_system_schema(L"public"));
    if (row.system_object[0]) {
      EXPECT_TRUE(p.is_system_object(row.system_object[0], row.system_object[1], row.system_object[2]));
    }
    EXPECT_FALSE(p.is_system_object(L"app", row.two_part_catalog ? L"" : L"public", L"orders"));
    EXPECT_EQ(*p.check_constraints_query() != 0, row.asks_checks);
    EXPECT_EQ(p.utf8_narrow_text(), traits_of_driver(row.driver_file).utf8_narrow_text);
  }
  // A streaming setting already given stays as it is, whatever its value.
  EXPECT_EQ(driver_profile(L"", L"SQLite", L"", nullptr).streaming_connection(L"Database=d;stepapi=0"),
            L"Database=d;stepapi=0");
  // The connection string given sets streaming; the connect's own defaults do not.
  EXPECT_TRUE(driver_profile(L"psqlodbcw.so", L"PostgreSQL", L"UseDeclareFetch=1", nullptr).streams_results());
  EXPECT_FALSE(driver_profile(L"psqlodbcw.so", L"PostgreSQL", L"", nullptr).streams_results());
  // Where the database is not known, the connection's adapter quotes names.
  const msaccess_driver access;
  EXPECT_EQ(driver_profile(L"odbcjt32.dll", L"ACCESS", L"", &access).quote_identifier(L"t"), L"[t]");
}

namespace {

// Names of drivers and databases as code would test them, in a string literal.
const std::regex name_literal(R"re("[^"]*(sqlite|postgres|mysql|mariadb|psqlodbc|maodbc|pg_catalog|information_schema)[^"]*")re",
                              std::regex::icase);
// What makes a line test a name: a comparison, a search, or asking the driver for it.
const std::regex name_test(R"re(==|!=|\bfind|compare|starts_with|ends_with|strstr|wcsstr|SQL_DBMS_NAME|SQL_DRIVER_NAME)re");

bool tests_a_name(const std::string& line) {
  const std::string code = line.substr(0, line.find("//"));
  if (code.find("SQL_DBMS_NAME") != std::string::npos || code.find("SQL_DRIVER_NAME") != std::string::npos) return true;
  return std::regex_search(code, name_literal) && std::regex_search(code, name_test);
}

} // namespace

TEST(DriverProfile, NoNameTestedOutsideTheProfile) {
  // The check itself, on lines that test names and lines that do not.
  EXPECT_TRUE(tests_a_name(R"(  if (dbms == L"SQLite") return;)"));
  EXPECT_TRUE(tests_a_name(R"(  return find_nocase(name, L"mariadb") >= 0;)"));
  EXPECT_TRUE(tests_a_name(R"(  if (file.find(L"psqlodbc") != npos) x();)"));
  EXPECT_TRUE(tests_a_name(R"(  SQLGetInfoW(h, SQL_DBMS_NAME, name, sizeof name, &n);)"));
  EXPECT_FALSE(tests_a_name(R"(  L"sqlterm SQLite3 \"Database=/var/lib/app/app.db\" init.sql\n")"));
  EXPECT_FALSE(tests_a_name(R"(  if (a == b) return;  // as "SQLite" does)"));

  const fs::path root = VELA_SOURCE_DIR;
  const std::vector<std::string> allowed = {"Src/odbc/driver_profile.cpp", "Src/odbc/driver.cpp"};
  size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root / "Src")) {
    const std::string ext = entry.path().extension().string();
    if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
    const std::string file = fs::relative(entry.path(), root).generic_string();
    if (std::find(allowed.begin(), allowed.end(), file) != allowed.end()) continue;
    ++files;
    std::ifstream in(entry.path());
    std::string line;
    for (int number = 1; std::getline(in, line); ++number)
      EXPECT_FALSE(tests_a_name(line)) << file << ":" << number << " tests a driver's name: ask the driver profile";
  }
  EXPECT_GT(files, 50u);
}
