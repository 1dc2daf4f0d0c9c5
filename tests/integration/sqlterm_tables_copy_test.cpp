// Whole tables copied between databases: "-copy_from" with "-tables" or "-schema" makes each
// table on the target, copies its rows, then its keys, indexes and foreign keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/databases.h"
#include "support/process.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/connection_info.h"
#include "vela/utf.h"

using vela::testing::database;
using vela::testing::run_process;
using vela::testing::run_result;

namespace {

run_result sqlterm(const database& d, std::vector<std::string> args) {
  args.insert(args.begin(), {SQLTERM_PATH, "-cs:" + d.cs});
  return run_process(args);
}

const char* const tables[] = {"customers", "products", "orders", "order_lines", "tags", "product_tags", "events", "notes"};

// Eight tables: foreign keys, a composite primary key, unique indexes (one of a UNIQUE
// constraint), a table without a key; NULLs, binary, Unicode and numeric(12,4) values.
std::string schema_script(const database& d, const std::string& s) {
  const std::string blob = d.blob_type();
  std::string text =
      "create table " + s + "customers (id integer primary key, email varchar(80) not null, name varchar(100), note text);\n"
      "create unique index customers_email on " + s + "customers (email);\n"
      "create table " + s + "products (sku varchar(20) primary key, title varchar(200), price numeric(12,4), photo " + blob + ");\n"
      "create table " + s + "orders (id integer primary key, customer_id integer, placed varchar(30),"
      " constraint orders_customer_fk foreign key (customer_id) references " + s + "customers (id));\n"
      "create index orders_placed on " + s + "orders (placed);\n"
      "create table " + s + "order_lines (order_id integer not null, line_no integer not null, sku varchar(20), qty integer,"
      " amount numeric(12,4), primary key (order_id, line_no),"
      " constraint lines_order_fk foreign key (order_id) references " + s + "orders (id),"
      " constraint lines_sku_fk foreign key (sku) references " + s + "products (sku));\n"
      "create table " + s + "tags (id integer primary key, label varchar(40) not null, unique (label));\n"
      "create table " + s + "product_tags (sku varchar(20) not null, tag_id integer not null, primary key (sku, tag_id),"
      " constraint pt_sku_fk foreign key (sku) references " + s + "products (sku),"
      " constraint pt_tag_fk foreign key (tag_id) references " + s + "tags (id));\n"
      "create table " + s + "events (id integer primary key, kind varchar(20), payload text);\n"
      "create table " + s + "notes (body varchar(100), score double precision);\n";
  // Rows in the order the foreign keys need on the source.
  for (int i = 1; i <= 30; ++i) {
    const std::string n = std::to_string(i);
    text += "insert into " + s + "customers values (" + n + ", 'c" + n + "@example.org', " +
            (i % 5 ? "'Ünïcødé 日本 " + n + "'" : "null") + ", " + (i % 3 ? "'it''s \"quoted\"\\n" + n + "'" : "null") + ");\n";
  }
  for (int i = 1; i <= 12; ++i) {
    const std::string n = std::to_string(i);
    text += "insert into " + s + "products values ('P" + n + "', 'Ærøskøbing " + n + "', " +
            (i % 4 ? std::to_string(i * 1234567) + ".1234" : "-0.0001") + ", " +
            (i % 3 ? d.hex("00ff10" + std::string(i % 2 ? "80" : "") + "0d0a") : "null") + ");\n";
  }
  for (int i = 1; i <= 40; ++i)
    text += "insert into " + s + "orders values (" + std::to_string(i) + ", " + (i % 7 ? std::to_string(i % 30 + 1) : "null") +
            ", '2024-01-" + std::to_string(10 + i % 20) + " 10:00:00');\n";
  for (int i = 1; i <= 80; ++i)
    text += "insert into " + s + "order_lines values (" + std::to_string((i - 1) / 2 + 1) + ", " + std::to_string(i % 2 + 1) +
            ", 'P" + std::to_string(i % 12 + 1) + "', " + std::to_string(i) + ", " + std::to_string(i * 1000) + ".5000);\n";
  for (int i = 1; i <= 6; ++i) text += "insert into " + s + "tags values (" + std::to_string(i) + ", 'tag ✓ " + std::to_string(i) + "');\n";
  for (int i = 1; i <= 12; ++i)
    text += "insert into " + s + "product_tags values ('P" + std::to_string(i) + "', " + std::to_string(i % 6 + 1) + ");\n";
  for (int i = -3; i <= 9; ++i)
    text += "insert into " + s + "events values (" + std::to_string(i) + ", " + (i % 2 ? "'kind'" : "null") + ", '{\"n\": " +
            std::to_string(i) + "}');\n";
  text += "insert into " + s + "notes values ('first', 0.5);\ninsert into " + s + "notes values ('second', null);\n"
          "insert into " + s + "notes values (null, -2.25);\n";
  return text;
}

std::string drop_script(const std::string& s) {
  std::string text;
  for (auto t = std::rbegin(tables); t != std::rend(tables); ++t) text += "drop table if exists " + s + *t + ";\n";
  return text;
}

// Bytes as hex digits; a decimal with its four places (SQLite's REAL prints -1e-04).
std::string hex_of(const database& d, const std::string& column) {
  if (d.kind == "pg") return "encode(" + column + ", 'hex')";
  return "case when " + column + " is null then null else lower(hex(" + column + ")) end";
}
std::string places_of(const database& d, const std::string& column) {
  return d.kind == "sqlite" ? "printf('%.4f', " + column + ")" : column;
}

// Every row of every table, ordered by its key, as sqlterm prints them; decimals without their
// trailing zeros (SQLite keeps no scale).
std::string rows_of(const database& d, const std::string& s) {
  const std::string selects[] = {
      "select id, email, name, note from " + s + "customers order by id",
      "select sku, title, " + places_of(d, "price") + ", " + hex_of(d, "photo") + " from " + s + "products order by sku",
      "select id, customer_id, placed from " + s + "orders order by id",
      "select order_id, line_no, sku, qty, amount from " + s + "order_lines order by order_id, line_no",
      "select id, label from " + s + "tags order by id",
      "select sku, tag_id from " + s + "product_tags order by sku, tag_id",
      "select id, kind, payload from " + s + "events order by id",
      "select body, score from " + s + "notes order by coalesce(score, 99)",
  };
  std::string all;
  for (const auto& q : selects) {
    const run_result r = sqlterm(d, {"-do", "-csv", "-lc", "-null:<null>", "-q:" + q});
    EXPECT_EQ(r.status, 0) << q << r.out << r.err;
    all += std::regex_replace(r.out, std::regex(R"((\.\d*?)0+\b)"), "$1") + "--\n";
  }
  return std::regex_replace(all, std::regex(R"((\d)\.(,|\n))"), "$1$2");
}

// Where two dumps part: the first line that differs on each side ("" when none does).
std::string difference(const std::string& a, const std::string& b) {
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  if (at == a.size() && at == b.size()) return "";
  const size_t line = a.rfind('\n', at) == std::string::npos ? 0 : a.rfind('\n', at) + 1;
  return "target: " + a.substr(line, a.find('\n', line) - line) + "\nsource: " + b.substr(line, b.find('\n', line) - line);
}

// The keys the catalog functions give for one table: "pk(...)", "unique(...)", "index(...)"
// and "fk(...)->table(...)", names left out and folded to lower case.
std::set<std::string> keys_of(const database& d, const std::string& schema, const std::string& table) {
  vela::odbc::connection c;
  EXPECT_TRUE(c.connect(nullptr, d.wcs()).succeeded());
  vela::odbc::connection_info info(&c);
  const std::wstring s = vela::testing::widen(schema), t = vela::testing::widen(table);
  auto lower = [](std::wstring w) {
    std::string u = vela::wide_to_utf8(w);
    std::transform(u.begin(), u.end(), u.begin(), ::tolower);
    return u;
  };
  std::set<std::string> keys;
  std::vector<vela::odbc::index_column> key;
  EXPECT_TRUE(info.ListPrimaryKey(key, L"", s, t).succeeded());
  std::sort(key.begin(), key.end(), [](auto& a, auto& b) { return a.position < b.position; });
  std::string pk;
  for (const auto& k : key) pk += (pk.empty() ? std::string() : std::string(",")) + lower(k.column);
  if (!pk.empty()) keys.insert("pk(" + pk + ")");
  EXPECT_TRUE(info.ListIndexes(key, L"", s, t).succeeded());
  std::map<std::wstring, std::pair<bool, std::string>> indexes;
  std::stable_sort(key.begin(), key.end(), [](auto& a, auto& b) { return a.position < b.position; });
  for (const auto& k : key) {
    auto& [unique, columns] = indexes[k.name];
    unique = k.unique;
    columns += (columns.empty() ? std::string() : std::string(",")) + lower(k.column);
  }
  for (const auto& [name, index] : indexes)
    if (index.second != pk || !index.first) keys.insert((index.first ? "unique(" : "index(") + index.second + ")");
  std::vector<vela::odbc::foreign_key_column> fks;
  EXPECT_TRUE(info.ListForeignKeys(fks, L"", s, t).succeeded());
  // SQLite's driver names no foreign key: each starts again at position 1.
  std::map<std::wstring, std::vector<const vela::odbc::foreign_key_column*>> refs;
  size_t unnamed = 0;
  for (const auto& f : fks) refs[f.name.empty() ? std::to_wstring(f.position == 1 ? ++unnamed : unnamed) : f.name].push_back(&f);
  for (auto& [name, columns] : refs) {
    std::sort(columns.begin(), columns.end(), [](auto* a, auto* b) { return a->position < b->position; });
    std::string from, to;
    for (const auto* f : columns) {
      from += (from.empty() ? std::string() : std::string(",")) + lower(f->column);
      to += (to.empty() ? std::string() : std::string(",")) + lower(f->target_column);
    }
    keys.insert("fk(" + from + ")->" + lower(columns.front()->target_table) + "(" + to + ")");
  }
  return keys;
}

// What every copy must give on the target: the keys of each table (MariaDB adds an index of
// its own for each foreign key, which is not asked for).
const std::set<std::string> expected_keys[] = {
    {"pk(id)", "unique(email)"},
    {"pk(sku)"},
    {"pk(id)", "index(placed)", "fk(customer_id)->customers(id)"},
    {"pk(order_id,line_no)", "fk(order_id)->orders(id)", "fk(sku)->products(sku)"},
    {"pk(id)", "unique(label)"},
    {"pk(sku,tag_id)", "fk(sku)->products(sku)", "fk(tag_id)->tags(id)"},
    {"pk(id)"},
    {},
};

void expect_keys(const database& d, const std::string& schema, const char* direction) {
  for (size_t i = 0; i < std::size(tables); ++i) {
    std::set<std::string> got = keys_of(d, schema, tables[i]), missing;
    for (const auto& k : expected_keys[i])
      if (!got.count(k)) missing.insert(k);
    std::string all;
    for (const auto& k : got) all += k + " ";
    EXPECT_TRUE(missing.empty()) << direction << " " << tables[i] << ": " << *missing.begin() << " missing in " << all;
  }
}

} // namespace

// Each direction: the source made afresh, the target's tables dropped, the copy, then the
// same rows on both sides and the keys on the target. PostgreSQL's tables are in a schema of
// their own where PostgreSQL is the source.
TEST(TablesCopy, BetweenEngines) {
  const struct {
    const char* from;
    const char* to;
    const char* source_schema;
    std::vector<std::string> options;
  } cases[] = {
      {"sqlite", "pg", "", {"-tables:*"}},
      {"sqlite", "maria", "", {"-schema"}},
      {"maria", "pg", "", {"-tables:customers,products,orders,order_lines,tags,product_tags,events,notes", "-jobs:4"}},
      {"pg", "sqlite", "copysrc", {"-schema:copysrc"}},
      {"sqlite", "pg", "", {"-tables:*", "-jobs:4", "-batch:7"}},
      // More jobs than tables: the tables with an integer key (negative ones too) in three parts.
      {"pg", "maria", "copysrc", {"-schema:copysrc", "-jobs:24"}},
  };
  for (const auto& c : cases) {
    const std::string direction = std::string(c.from) + " to " + c.to;
    database source(c.from), target(c.to);
    ASSERT_TRUE(source.ready()) << source.why_not();
    ASSERT_TRUE(target.ready()) << target.why_not();
    const std::string s = *c.source_schema ? std::string(c.source_schema) + "." : "";
    const std::string prepare = *c.source_schema ? "drop schema if exists copysrc cascade;\ncreate schema copysrc;\n" : drop_script("");
    const run_result made = sqlterm(source, {"-oe", "-q:" + prepare + schema_script(source, s)});
    ASSERT_EQ(made.status, 0) << made.out << made.err;
    ASSERT_EQ(sqlterm(target, {"-oe", "-q:" + drop_script("")}).status, 0);
    std::vector<std::string> args = {"-copy_from:" + source.cs};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const run_result r = sqlterm(target, args);
    EXPECT_EQ(r.status, 0) << direction << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find("Table order_lines: 80 rows read, 80 written in "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("; count 80 on the source, 80 on the target."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Tables copied: 8. Tables failed: 0."), std::string::npos) << r.out;
    EXPECT_EQ(difference(rows_of(target, ""), rows_of(source, s)), "") << direction;
    expect_keys(target, "", direction.c_str());
  }
}

// A table that cannot be made is named, the others are copied, and the run fails; REPLACE
// makes every table again, and views and triggers are listed as not copied.
TEST(TablesCopy, FailedTableAndReplace) {
  database source("sqlite"), target("pg");
  ASSERT_TRUE(target.ready()) << target.why_not();
  ASSERT_EQ(sqlterm(source, {"-oe", "-q:" + schema_script(source, "") +
                                        "create view big_orders as select * from orders where id > 10;\n"
                                        "create trigger stamp after insert on events begin select 1; end;"})
                .status,
            0);
  ASSERT_EQ(sqlterm(target, {"-oe", "-q:" + drop_script("") + "create table events (id integer)"}).status, 0);
  const run_result failed = sqlterm(target, {"-copy_from:" + source.cs, "-tables:events,tags"});
  EXPECT_NE(failed.status, 0);
  EXPECT_NE(failed.out.find("Table events FAILED: 0 rows read, 0 written in "), std::string::npos) << failed.out;
  EXPECT_NE((failed.out + failed.err).find("Table events failed: [42P07]"), std::string::npos) << failed.out << failed.err;
  EXPECT_NE(failed.out.find("Table tags: 6 rows read, 6 written in "), std::string::npos) << failed.out;
  EXPECT_NE(failed.out.find("Tables copied: 1. Tables failed: 1."), std::string::npos) << failed.out;
  EXPECT_NE(failed.out.find("Not copied: view big_orders."), std::string::npos) << failed.out;
  EXPECT_NE(failed.out.find("Not copied: trigger stamp."), std::string::npos) << failed.out;

  const run_result unknown = sqlterm(target, {"-copy_from:" + source.cs, "-tables:nosuch"});
  EXPECT_NE(unknown.status, 0);
  EXPECT_NE((unknown.out + unknown.err).find("Tables not copied: no table nosuch on the source"), std::string::npos) << unknown.err;

  const run_result replaced = sqlterm(target, {"-copy_from:" + source.cs, "-tables:*", "-create:replace"});
  EXPECT_EQ(replaced.status, 0) << replaced.out << replaced.err;
  EXPECT_NE(replaced.out.find("Tables copied: 8. Tables failed: 0."), std::string::npos) << replaced.out;
  EXPECT_EQ(difference(rows_of(target, ""), rows_of(source, "")), "");
  expect_keys(target, "", "replaced");
  // Options that do not go together.
  for (const std::vector<std::string>& wrong : {std::vector<std::string>{"-tables:*", "-into:x"},
                                                {"-schema", "-q:select 1"}, {"-jobs:2", "-into:x", "-q:select 1"}, {"-tables:*", "-jobs:0"}})
  {
    std::vector<std::string> args = {"-copy_from:" + source.cs};
    args.insert(args.end(), wrong.begin(), wrong.end());
    EXPECT_NE(sqlterm(target, args).status, 0) << wrong[0] << " " << wrong[1];
  }
}
