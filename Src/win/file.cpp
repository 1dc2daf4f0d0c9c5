#include "vela/file.h"

#include "os/os.h"
#include "vela/log.h"

namespace vela {

// ---- THandle -----------------------------------------------------------------

THandle::~THandle() {
  if (is_valid()) os::close_handle(handle_);
}

uint32_t THandle::close() {
  if (!is_valid()) {
    write_formatted(process_log(), "SOA", "Closing handle: h=%p,this=%p-skipped(invalid).",
                    reinterpret_cast<void*>(handle_), static_cast<void*>(this));
    return 0;
  }
  const uint32_t code = os::close_handle(handle_);
  handle_ = 0;
  return code;
}

// ---- file --------------------------------------------------------------------

file::~file() {
  if (handle_.is_valid()) {
    if (writable_) os::flush_file(handle_.get());  // a file left open is written out first
    handle_.close();
  }
}

uint32_t file::open_code(const std::wstring& path, uint32_t access, uint32_t share, void*, uint32_t disposition,
                         uint32_t, os_handle) {
  name_ = path;
  if (handle_.is_valid()) handle_.close();
  os::handle h = os::invalid_handle;
  const uint32_t code = os::open_file(path, access, share, disposition, h);
  handle_.attach(code ? THandle::invalid_value : h);
  writable_ = code == 0 && (access & file_access::write) != 0;
  return code;
}

file& file::open(const std::wstring& path, uint32_t access, uint32_t share, void* security, uint32_t disposition,
                 uint32_t flags, os_handle templ) {
  if (const uint32_t code = open_code(path, access, share, security, disposition, flags, templ))
    throw file_error(path, code);
  return *this;
}

file& file::close() {
  handle_.close();
  return *this;
}

result file::close_result() {
  const uint32_t code = handle_.close();
  return failure(code);
}

uint32_t file::read(void* buf, size_t n, size_t& got) { return os::read_file(handle_.get(), buf, n, got); }
uint32_t file::write(const void* buf, size_t n) { return os::write_file(handle_.get(), buf, n); }
uint32_t file::seek(int64_t offset, int whence, int64_t* pos) {
  return os::seek_file(handle_.get(), offset, whence, pos);
}
uint32_t file::size(int64_t& out) { return os::file_size(handle_.get(), out); }
uint32_t file::truncate() { return os::truncate_file(handle_.get()); }

file_error::file_error(const std::wstring& path, uint32_t code)
    : windows_error(L"File operation failed '" + path + L"'", static_cast<int32_t>(code)), file_name_(path) {}

// ---- paths and times ---------------------------------------------------------

std::wstring module_path() { return os::executable_path(); }

bool split_path(const std::wstring& path, std::wstring* drive, std::wstring* dir, std::wstring* base_name,
                std::wstring* ext) {
  constexpr size_t max_dir = 4095, max_part = 255;
  const size_t slash = path.rfind(L'/');
  const size_t name_start = slash == std::wstring::npos ? 0 : slash + 1;
  const std::wstring d = path.substr(0, name_start);
  const std::wstring name = path.substr(name_start);
  const size_t dot = name.rfind(L'.');
  const std::wstring b = dot == std::wstring::npos ? name : name.substr(0, dot);
  const std::wstring e = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
  if (d.size() > max_dir || b.size() > max_part || e.size() > max_part) return false;
  if (drive) drive->clear();
  if (dir) *dir = d;
  if (base_name) *base_name = b;
  if (ext) *ext = e;
  return true;
}

bool file_exists(const std::wstring& path) { return os::path_exists(path); }

result file_times(const std::wstring& path, b_time* creation, b_time* access, b_time* write) {
  file f;
  const uint32_t code = f.open_code(path, file_access::read, 7, nullptr, file_access::open_existing,
                                    file_access::normal_attributes, 0);
  if (code) return failure(code);
  result r;
  os::file_times_info info;
  if (const uint32_t rc = os::get_file_times(f.handle(), info)) {
    r.merge(failure(rc));
  } else {
    auto store = [](b_time* t, const os::local_time& lt) {
      if (t) t->set(lt.year, lt.month, lt.day, lt.hour, lt.minute, lt.second, lt.millisecond);
    };
    store(creation, info.creation);
    store(access, info.access);
    store(write, info.write);
  }
  r.merge(f.close_result());
  return r;
}

uint32_t tick_count() { return os::tick_count(); }

uint32_t elapsed_ms(uint32_t start_tick) { return os::tick_count() - start_tick; }

} // namespace vela
