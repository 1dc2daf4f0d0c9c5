// SQL dialect adapters of the ODBC drivers.
#pragma once

#include <cstdint>
#include <string>

#include "vela/b_time.h"
#include "vela/base.h"

namespace vela::odbc {

class driver : public base {
 public:
  virtual const wchar_t* name() const { return L"Default driver"; }
  // Rewrites TIME(hh:mm) and TIME(hh:mm:ss) literals.
  virtual std::wstring translate_term(const std::wstring& term) const;
  virtual std::wstring connection_prefix() const;
  virtual std::wstring quote_column(const std::wstring& name) const { return name; }
  virtual std::wstring date_literal(const b_time& t) const;
  virtual std::wstring quote_table(const std::wstring& name) const { return name; }
  virtual bool rewrite_statement(std::wstring& statement) const;
  virtual driver* clone() const { return new driver(*this); }
};

class sqlserver_odbc_driver : public driver {
 public:
  const wchar_t* name() const override { return L"SQL Server"; }
  std::wstring translate_term(const std::wstring& term) const override;
  std::wstring date_literal(const b_time& t) const override;
  bool rewrite_statement(std::wstring& statement) const override;
  driver* clone() const override { return new sqlserver_odbc_driver(*this); }
};

class msaccess_driver : public driver {
 public:
  msaccess_driver() = default;
  explicit msaccess_driver(std::wstring database_path) : database_path_(std::move(database_path)) {}
  const wchar_t* name() const override { return L"Microsoft Access driver (*.mdb)"; }
  std::wstring translate_term(const std::wstring& term) const override;
  std::wstring connection_prefix() const override;
  std::wstring quote_column(const std::wstring& name) const override { return L"[" + name + L"]"; }
  std::wstring quote_table(const std::wstring& name) const override { return quote_column(name); }
  bool rewrite_statement(std::wstring& statement) const override;
  driver* clone() const override { return new msaccess_driver(*this); }
  const std::wstring& database_path() const { return database_path_; }

 private:
  std::wstring database_path_;
};

class dbase_driver : public driver {
 public:
  dbase_driver() = default;
  dbase_driver(std::wstring default_dir, bool short_names)
      : short_names_(short_names), default_dir_(std::move(default_dir)) {}
  const wchar_t* name() const override { return L"Microsoft dBase driver (*.dbf)"; }
  std::wstring connection_prefix() const override;
  std::wstring quote_column(const std::wstring& name) const override { return L"[" + name + L"]"; }
  std::wstring date_literal(const b_time& t) const override;
  std::wstring quote_table(const std::wstring& name) const override;
  driver* clone() const override { return new dbase_driver(*this); }

 private:
  bool short_names_ = false;
  std::wstring default_dir_;
};

// The rules by which a script for the connected database is cut into statements.
enum class script_dialect : uint8_t { generic, mysql };
// How a string literal holding bytes that are not text reaches the database exactly.
enum class byte_literal_form : uint8_t {
  none,         // no exact way: such a statement is refused
  hex,          // X'…', an introducer such as _binary kept before it (MySQL, MariaDB)
  hex_as_text,  // CAST(X'…' AS TEXT): the bytes kept as text (SQLite)
  bytea_hex,    // '\x…' only where the literal is a bytea value ('…'::bytea, bytea '…'; PostgreSQL)
};
// What a connected handle tells of itself (SQLGetInfo); empty where the driver does not say.
enum class info_text : uint8_t {
  datasource_name, driver_file, driver_version, dbms_name, dbms_version, user_name, database_name, server_name
};
std::wstring ask_info_text(void* hdbc, info_text what);

// The adapter for the driver a connection string names (the default one otherwise).
driver* select_driver(const std::wstring& connection_string);

} // namespace vela::odbc
