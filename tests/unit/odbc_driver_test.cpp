#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cwchar>
#include <memory>

#include "vela/odbc/connection.h"
#include "vela/odbc/connection_string.h"
#include "vela/odbc/driver.h"
#include "vela/odbc/environment.h"
#include "vela/odbc/hosts.h"
#include "vela/odbc/types.h"

using namespace vela;
using namespace vela::odbc;

TEST(SelectDriver, ByNameInAnyCaseWithOrWithoutBraces) {
  auto pick = [](const wchar_t* cs) { return std::unique_ptr<driver>(select_driver(cs)); };
  EXPECT_STREQ(pick(L"DRIVER={sql server};Server=x")->name(), L"SQL Server");
  EXPECT_STREQ(pick(L"Driver=Microsoft Access Driver (*.mdb);DBQ=a.mdb")->name(), L"Microsoft Access driver (*.mdb)");
  EXPECT_STREQ(pick(L"Driver={Microsoft dBase Driver (*.dbf)};DBQ=.")->name(), L"Microsoft dBase driver (*.dbf)");
  EXPECT_STREQ(pick(L"Driver={Microsoft Access Driver (*.mdb, *.accdb)};")->name(), L"Default driver");
  EXPECT_STREQ(pick(L"DSN=x")->name(), L"Default driver");
  EXPECT_NE(dynamic_cast<dbase_driver*>(pick(L"driver={microsoft dbase driver (*.dbf)}").get()), nullptr);
}

TEST(Adapters, TimeLiteralsAndTypeNames) {
  driver d;
  sqlserver_odbc_driver s;
  msaccess_driver a;
  EXPECT_EQ(d.translate_term(L"TIME(08:30)"), L"'08:30'");
  EXPECT_EQ(d.translate_term(L"TIME(08:30:15)"), L"'08:30:15'");
  EXPECT_EQ(d.translate_term(L"TIME(08:30) TIME(08:30:15)"), L"'08:30' TIME(08:30:15)");
  EXPECT_EQ(d.translate_term(L"time(08:30)"), L"time(08:30)");
  EXPECT_EQ(s.translate_term(L"now"), L"GETDATE");
  EXPECT_EQ(s.translate_term(L"NOW()"), L"NOW()");
  EXPECT_EQ(a.translate_term(L"nvarchar ( 20 )"), L"TEXT");
  EXPECT_EQ(a.translate_term(L"NVARCHAR"), L"TEXT");
  EXPECT_EQ(a.translate_term(L"nvarchar(max)"), L"TEXT");
  EXPECT_EQ(a.translate_term(L"NVARCHAR(abc)"), L"NVARCHAR(abc)");
  EXPECT_EQ(a.translate_term(L"TIME(23:59:01)"), L"#23:59:01#");
}

TEST(Adapters, StatementsDatesAndQuoting) {
  std::wstring st = L"create table t(a NVARCHAR(50), b nvarchar(max))";
  EXPECT_TRUE(msaccess_driver().rewrite_statement(st));
  EXPECT_EQ(st, L"create table t(a TEXT, b TEXT)");
  st = L"create table t(d datetime default now(), e datetime DEFAULT NOW())";
  EXPECT_TRUE(sqlserver_odbc_driver().rewrite_statement(st));
  EXPECT_EQ(st, L"create table t(d datetime DEFAULT GETDATE(), e datetime DEFAULT GETDATE())");
  std::wstring same = L"x";
  EXPECT_FALSE(driver().rewrite_statement(same));
  EXPECT_FALSE(dbase_driver().rewrite_statement(same));

  b_time t;
  t.set(2017, 4, 5, 9, 8, 7, 6);
  EXPECT_EQ(driver().date_literal(t), L"2017-04-05 09:08:07");
  EXPECT_EQ(sqlserver_odbc_driver().date_literal(t), L"2017-04-05 09:08:07.006");
  EXPECT_EQ(dbase_driver().date_literal(t), L"#2017-04-05 09:08:07#");

  EXPECT_EQ(driver().quote_table(L"t"), L"t");
  EXPECT_EQ(msaccess_driver().quote_table(L"t"), L"[t]");
  EXPECT_EQ(dbase_driver().quote_table(L"long table"), L"[long table]");
  // No short names here: the lookup fails and the long name is used (with a log line).
  EXPECT_EQ(dbase_driver(L"/data", true).quote_table(L"long table"), L"[long table]");
  EXPECT_EQ(driver().connection_prefix(), L"Driver=Default driver;");
  EXPECT_EQ(dbase_driver(L"/d", false).connection_prefix(), L"Driver=Microsoft dBase driver (*.dbf);DBQ=/d;DefaultDir=/d");
  EXPECT_EQ(msaccess_driver(L"a.mdb").connection_prefix(),
            L"Driver=Microsoft Access driver (*.mdb);DBQ=a.mdb;ExtendedAnsiSQL=1;");
  std::unique_ptr<driver> c(dbase_driver(L"/d", true).clone());
  EXPECT_EQ(c->connection_prefix(), L"Driver=Microsoft dBase driver (*.dbf);DBQ=/d;DefaultDir=/d");
}

TEST(MaskPassword, EveryPasswordKeyInAnyCase) {
  EXPECT_EQ(mask_password(L"Driver=x;PWD=secret;UID=u"), L"Driver=x;PWD=*hidden*;UID=u");
  EXPECT_EQ(mask_password(L"Driver=x;PWD="), L"Driver=x;PWD=*hidden*");
  EXPECT_EQ(mask_password(L"PWD=;a=b"), L"PWD=*hidden*;a=b");
  EXPECT_EQ(mask_password(L"pwd=a;Pwd=b;PASSWORD=c"), L"pwd=*hidden*;Pwd=*hidden*;PASSWORD=*hidden*");
  EXPECT_EQ(mask_password(L"PWD={a;b};UID=u"), L"PWD=*hidden*;UID=u");
  EXPECT_EQ(mask_password(L"PWD={a}}b;c};UID=u"), L"PWD=*hidden*;UID=u");
  EXPECT_EQ(mask_password(L"Driver={SQLite3};Database=/tmp/a b.db;"), L"Driver={SQLite3};Database=/tmp/a b.db;");
  EXPECT_EQ(mask_password(L"DSN=x;;NoValue;UID=a"), L"DSN=x;;NoValue;UID=a");
  EXPECT_EQ(mask_password(L" PWD =x"), L" PWD =*hidden*");
  EXPECT_EQ(mask_password(L""), L"");
}

TEST(MaskPassword, BracesThatDoNotBalanceStillHideEveryPassword) {
  // An unclosed brace: the driver name swallows the rest, the password is still hidden.
  EXPECT_EQ(mask_password(L"Driver={PostgreSQL Unicode;Server=h;Pwd=s3cret;UID=u"),
            L"Driver={PostgreSQL Unicode;Server=h;Pwd=*hidden*;UID=u");
  EXPECT_EQ(mask_password(L"Driver={a}};PASSWORD=s3cret"), L"Driver={a}};PASSWORD=*hidden*");
  EXPECT_EQ(mask_password(L"PWD={s3cret"), L"PWD=*hidden*");
  EXPECT_EQ(mask_password(L"Driver={x}};PWD=s3cret;};UID=u"), L"Driver={x}};PWD=*hidden*;};UID=u");
  // Keywords only count as whole words.
  EXPECT_EQ(mask_password(L"MYPWD=a;UID=u"), L"MYPWD=a;UID=u");
  EXPECT_EQ(mask_password(L"Driver={x};pAsSwOrD \t= s3cret"), L"Driver={x};pAsSwOrD \t=*hidden*");
}

TEST(MaskPassword, DiagnosticsQuotingTheStringAreMasked) {
  const std::wstring cs = L"Driver={PostgreSQL Unicode;Server=h;Pwd=s3cret";
  EXPECT_EQ(mask_secrets(L"Can't open lib 'PostgreSQL Unicode;Server=h;Pwd=s3cret' : file not found", cs),
            L"Can't open lib 'PostgreSQL Unicode;Server=h;Pwd=*hidden*");
  // The bare value quoted without its keyword, braced or not.
  EXPECT_EQ(mask_secrets(L"login failed for s3cret!", L"UID=a;PWD=s3cret"), L"login failed for *hidden*!");
  EXPECT_EQ(mask_secrets(L"bad: se;cr}et", L"PWD={se;cr}}et}"), L"bad: *hidden*");
  // Short values are not hunted down in the text: they would mask ordinary letters.
  EXPECT_EQ(mask_secrets(L"a message", L"PWD=a"), L"a message");
  EXPECT_EQ(mask_secrets(L"no secret here", L"Driver=x"), L"no secret here");
}

TEST(Connection, ADriverNameTheLoaderCannotTakeIsRefusedNotFatal) {
  // The driver manager's loader aborts the process on these names.
  environment env;
  for (const wchar_t* cs : {L"Driver=/", L"Driver=:", L"driver={:};UID=a", L"DRIVER=//", L"Driver=:/;PWD=x"}) {
    connection c;
    const result r = c.connect(nullptr, cs);
    EXPECT_FALSE(r.succeeded()) << std::string(cs, cs + wcslen(cs));
    EXPECT_EQ(r.text(), L"[IM003] Specified driver could not be loaded");
    EXPECT_EQ(c.hdbc(), nullptr);
  }
  // Names that merely look odd still reach the driver manager.
  connection c;
  const result r = c.connect(nullptr, L"Driver=a:/");
  EXPECT_FALSE(r.succeeded());
  EXPECT_NE(r.text(), L"[IM003] Specified driver could not be loaded");
}

TEST(DriverTraits, StreamingSettingReadFromTheConnectionString) {
  const driver_traits& sqlite = traits_of_driver(L"sqlite3odbc.so");
  const driver_traits& pg = traits_of_driver(L"PSQLODBCW.SO");
  EXPECT_TRUE(sqlite.utf8_narrow_text);
  EXPECT_FALSE(traits_of_driver(L"libmaodbc.so").sound_wide_lengths);
  EXPECT_STREQ(traits_of_driver(L"other.so").streaming_setting, L"");
  const struct {
    const driver_traits& driver;
    const wchar_t* connection_string;
    bool streams;
  } cases[] = {
      {sqlite, L"Driver=SQLite3;Database=a.db;StepAPI=1;", true},
      {sqlite, L"DRIVER=SQLite3;stepapi=1", true},
      {sqlite, L"Driver=SQLite3;StepAPI=0;", false},
      {sqlite, L"Driver=SQLite3;Database={StepAPI=1};", false},
      {pg, L"Driver={PostgreSQL Unicode};UseDeclareFetch=1;Fetch=1000", true},
      {pg, L"Driver={PostgreSQL Unicode};Fetch=1000", false},
      {traits_of_driver(L"other.so"), L"StepAPI=1", false},
  };
  for (const auto& c : cases) EXPECT_EQ(streams_results(c.driver, c.connection_string), c.streams) << c.connection_string;
}

TEST(TypeClass, EverySqlTypeInOneClass) {
  for (int t : {SQL_CHAR, SQL_VARCHAR, SQL_WCHAR, SQL_WVARCHAR}) {
    EXPECT_EQ(classify(t), type_class::text) << t;
    EXPECT_FALSE(is_long_or_binary(t)) << t;
  }
  // Numbers are aligned to the right: the core numeric types only, as the printer always did.
  for (int t : {SQL_NUMERIC, SQL_DECIMAL, SQL_INTEGER, SQL_SMALLINT, SQL_FLOAT, SQL_REAL, SQL_DOUBLE})
    EXPECT_TRUE(is_number(t)) << t;
  for (int t : {SQL_BIGINT, SQL_TINYINT, SQL_BIT, SQL_GUID, 0, 12345})
    EXPECT_EQ(classify(t), type_class::other) << t;
  for (int t : {SQL_LONGVARCHAR, SQL_WLONGVARCHAR}) {
    EXPECT_EQ(classify(t), type_class::long_text) << t;
    EXPECT_TRUE(is_long_or_binary(t)) << t;
  }
  for (int t : {SQL_BINARY, SQL_VARBINARY, SQL_LONGVARBINARY}) {
    EXPECT_EQ(classify(t), type_class::binary) << t;
    EXPECT_TRUE(is_long_or_binary(t)) << t;
  }
  for (int t : {SQL_DATETIME, SQL_TYPE_DATE, SQL_TYPE_TIME, SQL_TYPE_TIMESTAMP, SQL_TIME, SQL_TIMESTAMP})
    EXPECT_EQ(classify(t), type_class::date_time) << t;
  EXPECT_TRUE(is_fixed_length_text(SQL_CHAR));
  EXPECT_TRUE(is_fixed_length_text(SQL_WCHAR));
  EXPECT_FALSE(is_fixed_length_text(SQL_VARCHAR));
  EXPECT_FALSE(is_fixed_length_text(SQL_LONGVARCHAR));
}

TEST(ConnectionStringReader, KeysValuesBracesAndPositions) {
  constexpr size_t none = cs_attribute::none;
  struct row {
    const wchar_t* text;
    brace_rule rule;
    // key|value|end of each attribute, "!" after the value when its brace is not closed
    std::vector<std::wstring> expected;
  };
  const std::vector<row> rows = {
      {L"", brace_rule::keep, {}},
      {L"DSN=x", brace_rule::keep, {L"DSN|x|5"}},
      {L"Driver={SQLite3};Database=/tmp/a b.db;", brace_rule::keep, {L"Driver|SQLite3|16", L"Database|/tmp/a b.db|37"}},
      {L" PWD = {a;b}}c} ;UID=u", brace_rule::keep, {L"PWD|a;b}c|16", L"UID|u|22"}},
      // The plain rule ends attributes at every ";"; the brace still runs to its close.
      {L"PWD={a;b}};UID=u", brace_rule::ignore, {L"PWD|a;b};UID=u!|6", L"||10", L"UID|u|16"}},
      {L"DSN=x;;NoValue;UID=a", brace_rule::keep, {L"DSN|x|5", L"||6", L"NoValue||14", L"UID|a|20"}},
      {L"Driver={PostgreSQL Unicode;Pwd=s", brace_rule::keep, {L"Driver|PostgreSQL Unicode;Pwd=s!|32"}},
      {L"Driver={PostgreSQL Unicode;Pwd=s", brace_rule::ignore, {L"Driver|PostgreSQL Unicode;Pwd=s!|26", L"Pwd|s|32"}},
      {L"CONNECT \"pwd=x;a=b=c", brace_rule::keep, {L"pwd|x|14", L"a|b=c|20"}},
      {L"MYPWD=a", brace_rule::keep, {L"MYPWD|a|7"}},
  };
  for (const row& r : rows) {
    const std::wstring s = r.text;
    std::vector<std::wstring> got;
    for (const cs_attribute& a : read_connection_string(s, r.rule)) {
      EXPECT_EQ(a.has_value(), a.equals != none);
      got.push_back(a.key(s) + L"|" + a.value(s) + (a.balanced() ? L"" : L"!") + L"|" + std::to_wstring(a.end));
    }
    EXPECT_EQ(got, r.expected) << std::string(s.begin(), s.end());
  }
  // The text between braces as written, for masking what a diagnostic may quote.
  const std::wstring s = L"PWD={se;cr}}et}";
  EXPECT_EQ(read_connection_string(s).at(0).braced_text(s), L"se;cr}}et");
  for (const wchar_t* key : {L"PWD", L"pwd", L"Password", L"PASSWORD"}) EXPECT_TRUE(is_password_key(key));
  for (const wchar_t* key : {L"MYPWD", L"PW", L"", L"UID"}) EXPECT_FALSE(is_password_key(key));
}

// Host lists as -hosts and a Server value give them, and a string aimed at one of them.
TEST(ConnectionStringHosts, ListsAndOneHostsString) {
  struct row {
    const wchar_t* list;
    std::vector<std::wstring> hosts;  // name|port, shown again as text; empty: refused
  };
  const std::vector<row> rows = {
      {L"h1,h2:3307, h3 ", {L"h1||h1", L"h2|3307|h2:3307", L"h3||h3"}},
      {L"[::1]:5432,::1,[fe80::1]", {L"::1|5432|[::1]:5432", L"::1||[::1]", L"fe80::1||[fe80::1]"}},
      {L"h1:65535", {L"h1|65535|h1:65535"}},
      {L"", {}}, {L"h1,,h2", {}}, {L"h1,", {}}, {L"h1:", {}}, {L"h1:0", {}}, {L"h1:65536", {}},
      {L"h1:5x", {}}, {L"[::1", {}}, {L"[::1]5432", {}}, {L":5432", {}},
  };
  for (const row& r : rows) {
    std::vector<std::wstring> got;
    for (const cs_host& h : read_host_list(r.list)) got.push_back(h.name + L"|" + h.port + L"|" + h.text());
    EXPECT_EQ(got, r.hosts) << std::string(r.list, r.list + wcslen(r.list));
  }
  struct aimed {
    const wchar_t* string;
    cs_host host;
    const wchar_t* expected;
  };
  const std::vector<aimed> strings = {
      {L"Driver=x;Server=h1,h2;Port=5432;", {L"h2", L""}, L"Driver=x;Server=h2;Port=5432"},
      {L"Driver=x;servername = a,b;UID=u", {L"b", L"7"}, L"Driver=x;servername =b;UID=u;Port=7"},
      {L"DSN=pg", {L"h", L"1"}, L"DSN=pg;Server=h;Port=1"},
      {L"Driver=x;Server={a;b}", {L"c;d", L""}, L"Driver=x;Server={c;d}"},
  };
  for (const aimed& a : strings) EXPECT_EQ(for_host(a.string, a.host), a.expected);
  EXPECT_EQ(server_key(L"Driver=x;SERVERNAME=a"), L"SERVERNAME");
  EXPECT_EQ(server_key(L"Driver=x;Host=a"), L"");
  EXPECT_EQ(attribute_value(L"a=1;Port= 5;b={x;y}", L"port"), L"5");
  EXPECT_EQ(attribute_value(L"a=1;b={x;y}", L"B"), L"x;y");
  EXPECT_EQ(attribute_value(L"a=1", L"c"), L"");
}

// Which hosts a connect goes through: a list is tried host by host, one server is left to the
// driver unless a target is to be checked.
TEST(ConnectionStringHosts, PlanOfAConnect) {
  struct row {
    const wchar_t* string;
    const wchar_t* hosts;  // as -hosts gives them
    bool target;
    bool listed;
    std::vector<std::wstring> named;  // host_text of each host tried; empty: not a list
  };
  const std::vector<row> rows = {
      {L"Driver=x;Server=h1", L"", false, false, {L"h1"}},
      {L"Driver=x;Server=h1", L"", true, true, {L"h1"}},
      {L"Driver=x;Server=h1,h2:3307", L"", false, true, {L"h1", L"h2:3307"}},
      {L"Driver=x;Server=h1", L"a,b:1", false, true, {L"a", L"b:1"}},
      {L"Driver=x;Database=/tmp/f.db", L"", false, false, {L"/tmp/f.db"}},
      {L"Driver=x;Server=h1,,h2", L"", false, true, {}},
  };
  for (const row& r : rows) {
    const host_plan plan = plan_hosts(r.string, r.hosts, r.target, false);
    std::vector<std::wstring> named;
    for (const cs_host& h : plan.hosts) named.push_back(host_text(plan, h));
    EXPECT_EQ(plan.listed, r.listed) << std::wstring_view(r.string).size();
    EXPECT_EQ(named, r.named);
  }
  // A random order keeps every host once.
  host_plan plan = plan_hosts(L"Driver=x;Server=a,b,c,d", L"", false, true);
  std::vector<std::wstring> named;
  for (const cs_host& h : plan.hosts) named.push_back(h.name);
  std::sort(named.begin(), named.end());
  EXPECT_EQ(named, (std::vector<std::wstring>{L"a", L"b", L"c", L"d"}));
}

TEST(MaskPassword, KeywordsInsideValuesAndOddKeys) {
  // A ";" forgotten, a key after a brace: still hidden to the next ";".
  EXPECT_EQ(mask_password(L"Driver=x Pwd=s3cret;UID=u"), L"Driver=x Pwd=*hidden*;UID=u");
  EXPECT_EQ(mask_password(L"Driver={x}PWD=s3cret;UID=u"), L"Driver={x}PWD=*hidden*;UID=u");
  EXPECT_EQ(mask_password(L"Driver={x;PWD=s3cret};UID=u"), L"Driver={x;PWD=*hidden*;UID=u");
}
