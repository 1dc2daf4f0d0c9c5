// What the connected driver and its database do their own way, learnt once at connect from
// the names they report (SQL_DRIVER_NAME, SQL_DBMS_NAME). The rest of the code asks the
// profile and never compares those names itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vela/odbc/driver.h"

namespace vela::odbc {

struct column_shape;

// A batch of a load as one statement: none (arrays of parameters), one array a column
// (PostgreSQL: INSERT … SELECT unnest(…), …, one round trip whatever the rows), or the
// rows as one JSON text (SQLite: its driver prepares the INSERT again for every row of an
// array, which is half of a load's instructions; json_each is prepared once a batch).
enum class batch_statement : uint8_t { none, column_arrays, json_rows };

// What a host of a list must be to be kept: anything, writable, read-only, the primary
// of a replicated database, or one of its standbys.
enum class host_target : uint8_t { any, read_write, read_only, primary, standby };
// "any", "read-write", "read-only", "primary", "standby" in any letter case ("_" for "-").
bool read_host_target(const std::wstring& word, host_target& target);
// The target as read_host_target takes it ("read-write").
const wchar_t* host_target_name(host_target target);

// What is known of an ODBC driver by the file name it reports (SQL_DRIVER_NAME).
struct driver_traits {
  const wchar_t* file = L"";
  // Text bound as SQL_C_CHAR comes as UTF-8 when the client's locale is UTF-8.
  bool utf8_narrow_text = false;
  // Text bound as SQL_C_WCHAR gets lengths that can be trusted (this driver's bound wide
  // lengths lose characters beyond ASCII, and truncation goes unreported).
  bool sound_wide_lengths = true;
  // The connection-string setting that makes results stream instead of being held whole
  // in memory ("" when the driver holds nothing or has no such setting).
  const wchar_t* streaming_setting = L"";
  // The first driver version (SQL_DRIVER_VER, "NN.NN.NNNN") that knows that setting ("" all).
  const wchar_t* streaming_since = L"";
  // Rows a fetch of printed rows asks for where fetching many at once saves the driver work
  // (1: one row at a time).
  size_t rowset_rows = 1;
};
// The traits of a driver by its file name; default traits for a driver not in the table.
const driver_traits& traits_of_driver(const std::wstring& driver_file);
// Whether connection_string sets the driver's streaming setting ("KEY=VALUE", keys in any
// letter case).
bool streams_results(const driver_traits& traits, const std::wstring& connection_string);

class driver_profile {
 public:
  // Not connected: nothing known of the driver.
  driver_profile() = default;
  // driver_file and dbms_name as the driver reports them; connection_string: the completed
  // one (empty for a data source); adapter: the connection's dialect adapter (or null),
  // which quotes names where the database is not known here. The connection drops the
  // adapter and resets its profile together; a copy of a profile does not outlive them.
  driver_profile(const std::wstring& driver_file, const std::wstring& dbms_name, const std::wstring& connection_string,
                 const driver* adapter);
  // The names asked of a connected handle.
  static driver_profile of_connection(void* hdbc, const std::wstring& connection_string, const driver* adapter);

  const std::wstring& driver_file() const { return driver_file_; }
  const std::wstring& dbms_name() const { return dbms_name_; }
  const driver_traits& traits() const { return *traits_; }

  // Text. Whether text fetched as SQL_C_CHAR may be UTF-8 (a probe confirms it), whether
  // wide lengths can be trusted, and whether a copy reads text as UTF-8 bytes (MariaDB's wide
  // path loses characters, SQLite's drops bytes that are not UTF-8).
  bool utf8_narrow_text() const { return traits_->utf8_narrow_text; }
  bool sound_wide_lengths() const { return traits_->sound_wide_lengths; }
  bool narrow_copy_text() const { return family_ == family::mysql || family_ == family::sqlite; }
  // Parameters go as UTF-8 (MariaDB and MySQL store a wide character beyond U+FFFF as two).
  bool narrow_parameters() const { return family_ == family::mysql; }

  // Streaming. The setting that makes this driver stream results ("" none), and whether the
  // connection string set it.
  const wchar_t* streaming_setting() const { return traits_->streaming_setting; }
  bool streams_results() const { return streams_results_; }
  // Whether the connected driver's version knows its streaming setting.
  bool knows_streaming_setting() const { return knows_streaming_; }
  // Rows one fetch asks for where the rows are only read through their bound buffers.
  size_t rowset_rows() const { return traits_->rowset_rows; }
  // A second connection to this database that should stream: source with the driver's
  // settings for it added, or source itself when it sets them already or the driver has none.
  std::wstring streaming_connection(const std::wstring& source) const;

  // Loads. The most parameters one INSERT of many VALUES rows takes (0: arrays of parameters
  // serve instead; psqlODBC drops the connection at about 7,700); arrays of binary parameters
  // work; identity values need OVERRIDING SYSTEM VALUE.
  size_t multi_row_parameters() const { return family_ == family::postgresql ? 4000 : 0; }
  // How a batch goes where it can go as one statement (batch_statement); arrays of parameters
  // where not (multi_row_parameters on PostgreSQL where a column's type is itself an array).
  batch_statement load_batch_statement() const {
    return family_ == family::postgresql ? batch_statement::column_arrays
           : family_ == family::sqlite   ? batch_statement::json_rows
                                         : batch_statement::none;
  }
  // Rows a batch of a load holds where none is asked for: SQLite syncs its file at each
  // commit, and ten times the rows a commit take a 1,000,000-row load from 3-5 s to 1.3-1.8 s.
  size_t load_batch_rows() const { return family_ == family::sqlite ? 10000 : 1000; }
  bool binary_parameter_arrays() const { return binary_arrays_; }
  bool overriding_system_value() const { return family_ == family::postgresql; }
  // A REAL comes in 15 significant digits whatever is asked for (SQLite).
  bool inexact_doubles() const { return family_ == family::sqlite; }
  // Floating-point values reach the driver as text (SQLite's own text, PostgreSQL's text
  // protocol): fetched as text and read here, without the driver's conversion through the
  // locale, they are the same doubles.
  bool floats_come_as_text() const { return family_ == family::sqlite || family_ == family::postgresql; }

  // Scripts and statements.
  script_dialect dialect() const { return family_ == family::mysql ? script_dialect::mysql : script_dialect::generic; }
  byte_literal_form byte_literals() const { return byte_literals_; }
  // A SAVEPOINT outside a transaction begins one (SQLite).
  bool savepoint_begins_transaction() const { return family_ == family::sqlite; }
  // A query whose one value is 1 while a transaction is open ("" when the database cannot
  // say): where DDL ends a transaction on its own.
  const wchar_t* transaction_state_query() const { return family_ == family::mysql ? L"SELECT @@in_transaction" : L""; }
  // A query whose one value is 1 on a node of a Galera cluster ("" where there is none).
  const wchar_t* cluster_node_query() const { return family_ == family::mysql ? L"SELECT @@wsrep_on" : L""; }
  // A query whose one value is 1 when the connected host is what target asks and 0 when not;
  // "" for any, and where the database cannot say. PostgreSQL: whether it is in recovery and
  // its transactions are read-only; MariaDB: @@read_only (a standby is read-only), and a
  // Galera node only once it is synced (wsrep_ready, wsrep_local_state 4).
  const wchar_t* target_query(host_target target) const;
  // A name in the database's quotes (a quote inside doubled); the adapter quotes it where
  // the database is not known.
  std::wstring quote_identifier(const std::wstring& name) const;
  // A text as a string literal: a quote inside doubled, and where backslashes escape (MySQL,
  // MariaDB) a backslash doubled too.
  std::wstring quote_literal(const std::wstring& text) const;

  // Catalogs. A two-part name is database.table (the catalog, no schema); the schemas the
  // database keeps for itself.
  bool two_part_name_is_catalog() const { return family_ == family::mysql; }
  bool is_system_schema(const std::wstring& schema) const;
  // An object the database keeps for itself: in a system schema (MySQL: a system database,
  // its catalog), or SQLite's own sqlite_ tables.
  bool is_system_object(const std::wstring& catalog, const std::wstring& schema, const std::wstring& name) const;
  // A query of one table's check constraints (name, clause), which the ODBC catalog calls do
  // not give, taking the schema (MySQL: the database) and the table as its two parameters;
  // "" where the database has no catalog view of them (SQLite).
  const wchar_t* check_constraints_query() const;
  // The words of the database's SQL that Tab completes: standard SQL and the dialect's own.
  std::vector<std::wstring> keywords() const;

  // Types of created tables (type_mapping.cpp). The family's own type for a column that takes
  // the values of c ("" where the database's listed types decide); a source's column as the
  // values it holds need (SQLite's INTEGER holds 8 bytes); the statement that changes a
  // column's type in place ("" where the database cannot: SQLite).
  std::wstring column_type(const column_shape& c) const;
  void source_column(column_shape& c) const;
  std::wstring alter_column_type(const std::wstring& table, const std::wstring& column, const std::wstring& type) const;

  // Copies of tables (table_schema.cpp). ALTER TABLE adds no primary key and no foreign key
  // (SQLite): both go into the CREATE TABLE; a query of the database's triggers (one name a
  // row; "" where it cannot list them).
  bool keys_in_create_table() const;
  const wchar_t* triggers_query() const;

 private:
  enum class family : uint8_t { unknown, sqlite, postgresql, mysql };

  std::wstring driver_file_;
  std::wstring dbms_name_;
  const driver_traits* traits_ = &traits_of_driver(std::wstring());
  const driver* adapter_ = nullptr;
  family family_ = family::unknown;
  byte_literal_form byte_literals_ = byte_literal_form::none;
  bool streams_results_ = false;
  bool knows_streaming_ = true;
  bool binary_arrays_ = true;
};

} // namespace vela::odbc
