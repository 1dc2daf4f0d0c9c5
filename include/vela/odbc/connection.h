// One ODBC connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "vela/containers.h"
#include "vela/odbc/driver.h"
#include "vela/odbc/driver_profile.h"
#include "vela/odbc/types.h"
#include "vela/result.h"

namespace vela::odbc {

// Hides the value of every PWD (or PASSWORD) keyword, in any letter case; a braced value
// is hidden whole. When braces do not balance, or a keyword sits inside a braced value, the
// value is hidden to the next ";" or the end. The rest of the string stays as it is.
std::wstring mask_password(const std::wstring& connection_string);

// A text that may quote the connection string (a diagnostic): keyword values masked as above
// and every password value of the string replaced wherever it appears.
std::wstring mask_secrets(const std::wstring& text, const std::wstring& connection_string);

// Hides the secrets of statement text, keeping the rest: the value after PWD= or PASSWORD=
// (up to ";", a quote or a closing brace; a quoted or braced value whole), and the literal
// after PASSWORD or IDENTIFIED BY ("alter user u password 'x'"), in any letter case.
std::wstring mask_statement(const std::wstring& text);

struct type_catalog;

class connection : public base {
 public:
  connection() = default;
  ~connection() override;
  connection(const connection&) = delete;
  connection& operator=(const connection&) = delete;

  result connect(void* window, const std::wstring& connection_string, std::wstring* completed = nullptr,
                 completion mode = completion::no_prompt);
  result connect_driver(void* window, const std::wstring& driver_name, const std::wstring& rest,
                        std::wstring* completed = nullptr, completion mode = completion::no_prompt);
  result ConnDs(const std::wstring& dsn, const std::wstring& user, const std::wstring& password);
  result disconnect();
  // Whether connects run on a thread of their own, so that cancel() can give one up (the
  // default); without, a process with nothing else to do keeps its one thread.
  static void set_connects_in_thread(bool on) { connects_in_thread = on; }
  // Exchanges the two connections (handles, adapters, what was learnt of each), so that a
  // new connection can be opened beside one that stays until the new one works. Neither
  // may be connecting or listing meanwhile.
  void swap(connection& other);
  // 0 commit, anything else rollback.
  result transact(int completion_type);
  // The driver commits each statement itself (SQL_ATTR_AUTOCOMMIT on, as connections start).
  bool autocommit() const;
  // Switches autocommit on or off; off, the statements form a transaction until transact.
  result set_autocommit(bool on);
  // COLUMN_SIZE of SQL_LONGVARBINARY, asked once per connection (0 when unknown).
  int32_t long_binary_size();
  // The database's data types (SQLGetTypeInfo), asked once per connection (type_mapping.cpp).
  const type_catalog& data_types();

  // From another thread: gives up the connect that runs now (it fails at once with
  // "[HY008] Operation canceled"; the driver's call is left to end on its own, and its handle
  // is freed then), or cancels the catalog listing that runs now.
  void cancel();
  // The statement of a catalog listing while it runs (null after it), for cancel.
  void set_catalog_statement(void* hstmt);
  // The catalog listing that runs now was cancelled: its rows are not read on.
  bool catalog_cancelled() const { return catalog_cancelled_; }

  dbc_handle hdbc() const { return hdbc_; }
  driver* adapter() const { return adapter_.get(); }
  bool connected() const { return connected_; }
  // Whether statement text goes to the driver as UTF-8 through the narrow calls (learnt once
  // per connection): the driver takes no wide text of its own, and the driver manager's
  // conversion of wide text breaks characters beyond Latin-1.
  bool narrow_statements() const { return narrow_statements_; }
  // What the connected driver and its database do their own way (built at connect).
  const driver_profile& profile() const { return profile_; }
  const driver_traits& traits() const { return profile_.traits(); }
  // Whether text fetched as SQL_C_CHAR is UTF-8: the locale is UTF-8, the driver is known for
  // it, and a probe confirmed it. The first call on a connection runs the probe, a statement
  // of its own: ask before a statement whose rows are still being read.
  bool utf8_narrow_text();

 private:
  result allocate();
  void release_after_failure(const result& r);
  void connected_as(const std::wstring* completed_string, std::wstring* completed);

  struct pending_connect;
  static bool connect_in_thread(const std::shared_ptr<pending_connect>& call, dbc_handle hdbc, void* window,
                                const std::wstring& connection_string, bool raw_bytes, completion mode);
  static std::atomic<bool> connects_in_thread;

  dbc_handle hdbc_ = nullptr;
  std::mutex cancel_mutex_;  // connecting_ and catalog_statement_ as cancel sees them
  std::shared_ptr<pending_connect> connecting_;
  void* catalog_statement_ = nullptr;
  std::atomic<bool> catalog_cancelled_{false};
  Case<driver> adapter_;
  bool connected_ = false;
  bool narrow_statements_ = false;
  bool utf8_narrow_text_ = false;
  bool utf8_narrow_text_known_ = false;
  driver_profile profile_;
  int32_t long_binary_size_ = 0;
  bool long_binary_size_known_ = false;
  std::shared_ptr<const type_catalog> data_types_;
};

} // namespace vela::odbc
