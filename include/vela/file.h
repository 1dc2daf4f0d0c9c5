// OS handles, raw files, the executable module with its string table, path and time helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vela/b_time.h"
#include "vela/base.h"
#include "vela/result.h"

namespace vela {

using os_handle = intptr_t;

// Owns one OS handle and closes it once.
class THandle : public base {
 public:
  static constexpr os_handle invalid_value = -1;

  THandle() = default;
  explicit THandle(os_handle h) : handle_(h) {}
  ~THandle() override;
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;

  // 0, or the system code of a failed close; the handle is dropped in both cases.
  virtual uint32_t close();

  bool is_valid() const { return handle_ != 0 && handle_ != invalid_value; }
  os_handle get() const { return handle_; }
  void attach(os_handle h) { handle_ = h; }

 private:
  os_handle handle_ = 0;
};

// Values of the open arguments (those of the system's CreateFileW).
namespace file_access {
constexpr uint32_t read = 0x80000000u, write = 0x40000000u;
constexpr uint32_t share_read = 1, share_write = 2, share_delete = 4;
constexpr uint32_t create_new = 1, create_always = 2, open_existing = 3, open_always = 4, truncate_existing = 5;
constexpr uint32_t normal_attributes = 0x80;
} // namespace file_access

class file : public base {
 public:
  file() = default;
  explicit file(std::wstring name) : name_(std::move(name)) {}
  ~file() override;
  file(const file&) = delete;
  file& operator=(const file&) = delete;

  // Raises file_error on failure.
  file& open(const std::wstring& path, uint32_t access, uint32_t share, void* security, uint32_t disposition,
             uint32_t flags, os_handle templ);
  // Returns 0 or the system error code; the handle stays invalid on failure.
  uint32_t open_code(const std::wstring& path, uint32_t access, uint32_t share, void* security,
                     uint32_t disposition, uint32_t flags, os_handle templ);
  virtual file& close();
  virtual result close_result();

  bool is_open() const { return handle_.is_valid(); }
  os_handle handle() const { return handle_.get(); }
  const std::wstring& name() const { return name_; }

  // Raw access for callers that read and write themselves.
  uint32_t read(void* buf, size_t n, size_t& got);
  uint32_t write(const void* buf, size_t n);
  uint32_t seek(int64_t offset, int whence, int64_t* pos = nullptr);
  uint32_t size(int64_t& out);
  uint32_t truncate();

 protected:
  std::wstring name_;
  THandle handle_;
  bool writable_ = false;
};

class file_error : public windows_error {
 public:
  file_error(const std::wstring& path, uint32_t code);
  const std::wstring& file_name() const { return file_name_; }

 private:
  std::wstring file_name_;
};

// ---- string tables -----------------------------------------------------------

struct string_entry {
  uint32_t id;
  const wchar_t* text;
};

struct string_table {
  const string_entry* english;
  size_t english_count;
  const string_entry* russian;
  size_t russian_count;
};

// Each program names its table once at start.
void set_string_table(const string_table* table);

class module : public base {
 public:
  module() = default;
  virtual std::wstring file_name() const;
  std::wstring load_string(uint32_t id) const;
};

// Numbered string of the running program's table in the user's language; empty when unknown.
std::wstring load_string(const module* m, uint32_t id);
// Numbered string of a given table in the user's language; empty when unknown.
std::wstring table_string(const string_table& table, uint32_t id);

std::wstring module_path();

// Drive (always empty here), directory with its trailing "/", base name, extension with its dot.
bool split_path(const std::wstring& path, std::wstring* drive, std::wstring* dir, std::wstring* base_name,
                std::wstring* ext);
bool file_exists(const std::wstring& path);
result file_times(const std::wstring& path, b_time* creation, b_time* access, b_time* write);
// Milliseconds since start_tick, across one wrap of the 32-bit counter.
uint32_t elapsed_ms(uint32_t start_tick);
uint32_t tick_count();

} // namespace vela
