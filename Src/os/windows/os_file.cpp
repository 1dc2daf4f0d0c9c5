// Files on Windows: CreateFileW with the caller's share mode, which the system enforces.
#include <windows.h>

#include <csignal>
#include <cwchar>

#include "os/os.h"
#include "os/windows/win_time.h"
#include "vela/utf.h"

namespace vela::os {

namespace {

HANDLE native(handle h) { return reinterpret_cast<HANDLE>(h); }
bool usable(handle h) { return h != null_handle && h != invalid_handle; }

local_time local_of(const FILETIME& utc) {
  FILETIME local{};
  SYSTEMTIME st{};
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return {};
  return from_system_time(st);
}

} // namespace

std::string native_path(const std::wstring& path) { return wide_to_utf8(path); }

uint32_t open_file(const std::wstring& path, uint32_t access, uint32_t share, uint32_t disposition, handle& out) {
  out = invalid_handle;
  if (disposition < create_new || disposition > truncate_existing) return err_invalid_parameter;
  if (path.empty()) return err_path_not_found;
  const HANDLE h = CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  out = reinterpret_cast<handle>(h);
  return 0;
}

uint32_t close_handle(handle h) {
  if (!usable(h)) return err_invalid_handle;
  return CloseHandle(native(h)) ? 0 : GetLastError();
}

uint32_t read_file(handle h, void* buf, size_t n, size_t& got) {
  got = 0;
  auto* p = static_cast<char*>(buf);
  while (got < n) {
    const DWORD want = static_cast<DWORD>(n - got > 0x40000000 ? 0x40000000 : n - got);
    DWORD r = 0;
    if (!ReadFile(native(h), p + got, want, &r, nullptr)) {
      const DWORD e = GetLastError();
      if (e == ERROR_BROKEN_PIPE || e == ERROR_HANDLE_EOF) break;  // the writer is gone: the end
      return e;
    }
    if (r == 0) break;
    got += r;
  }
  return 0;
}

uint32_t write_file(handle h, const void* buf, size_t n) {
  const auto* p = static_cast<const char*>(buf);
  while (n > 0) {
    const DWORD want = static_cast<DWORD>(n > 0x40000000 ? 0x40000000 : n);
    DWORD w = 0;
    if (!WriteFile(native(h), p, want, &w, nullptr)) {
      const DWORD e = GetLastError();
      return e == ERROR_NO_DATA ? uint32_t{err_broken_pipe} : e;
    }
    p += w;
    n -= w;
  }
  return 0;
}

uint32_t seek_file(handle h, int64_t offset, int whence, int64_t* new_pos) {
  const DWORD method = whence == 0 ? FILE_BEGIN : (whence == 1 ? FILE_CURRENT : FILE_END);
  LARGE_INTEGER distance{}, result{};
  distance.QuadPart = offset;
  if (!SetFilePointerEx(native(h), distance, &result, method)) return GetLastError();
  if (new_pos) *new_pos = result.QuadPart;
  return 0;
}

uint32_t file_size(handle h, int64_t& size) {
  LARGE_INTEGER s{};
  if (!GetFileSizeEx(native(h), &s)) return GetLastError();
  size = s.QuadPart;
  return 0;
}

uint32_t truncate_file(handle h) { return SetEndOfFile(native(h)) ? 0 : GetLastError(); }

uint32_t flush_file(handle h) {
  if (FlushFileBuffers(native(h))) return 0;
  const DWORD e = GetLastError();
  return e == ERROR_INVALID_HANDLE || e == ERROR_INVALID_FUNCTION ? 0 : e;  // consoles and pipes
}

uint32_t get_file_times(handle h, file_times_info& out) {
  FILETIME c{}, a{}, w{};
  if (!GetFileTime(native(h), &c, &a, &w)) return GetLastError();
  out.creation = local_of(c);
  out.access = local_of(a);
  out.write = local_of(w);
  return 0;
}

uint32_t last_write_time(const std::wstring& path, int64_t& seconds, long& nanoseconds) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return GetLastError();
  const int64_t ticks = ticks_of(data.ftLastWriteTime) - epoch_difference;
  seconds = ticks / 10000000LL;
  nanoseconds = static_cast<long>(ticks % 10000000LL) * 100;
  return 0;
}

bool path_exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool is_regular_file(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

uint32_t open_private_file(const std::wstring&, handle& out) {
  // Access is kept in ACLs here, not in owner/group/other modes: no such check is offered.
  out = invalid_handle;
  return err_not_supported;
}

uint32_t open_private_append(const std::wstring& path, handle& out) {
  // Access is kept in ACLs here: the file gets the folder's; only the end is written to.
  if (const uint32_t code = open_file(path, generic_write, share_read, open_always, out)) return code;
  if (const uint32_t code = seek_file(out, 0, 2)) {
    close_handle(out);
    out = invalid_handle;
    return code;
  }
  return err_success;
}

uint32_t create_temp_file(std::wstring& path, handle& out) {
  out = invalid_handle;
  wchar_t dir[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
  if (n == 0 || n > MAX_PATH) return GetLastError() ? GetLastError() : uint32_t{err_path_not_found};
  wchar_t name[MAX_PATH + 1];
  if (!GetTempFileNameW(dir, L"vel", 0, name)) return GetLastError();  // creates the file
  const uint32_t code = open_file(name, generic_read | generic_write, share_read, truncate_existing, out);
  if (code != 0) {
    DeleteFileW(name);
    return code;
  }
  path = name;
  return 0;
}

uint32_t create_temp_file_beside(const std::wstring& target, std::wstring& path, handle& out) {
  out = invalid_handle;
  const size_t slash = target.find_last_of(L"\\/");
  const std::wstring dir = slash == std::wstring::npos ? std::wstring(L".") : target.substr(0, slash + 1);
  wchar_t name[MAX_PATH + 1];
  if (!GetTempFileNameW(dir.c_str(), L"vel", 0, name)) return GetLastError();  // creates the file
  const uint32_t code = open_file(name, generic_write, share_read, truncate_existing, out);
  if (code != 0) {
    DeleteFileW(name);
    return code;
  }
  path = name;
  remove_on_signal(path);
  return 0;
}

uint32_t replace_file(const std::wstring& from, const std::wstring& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : GetLastError();
}

bool is_device_or_fifo(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DEVICE);
}

// A file open here cannot lose its name: it stays named and goes when the caller removes it.
uint32_t create_unnamed_temp_file(std::wstring& reopen_path, handle& out) { return create_temp_file(reopen_path, out); }

namespace {

constexpr size_t doomed_slots = 4;
wchar_t doomed_path[doomed_slots][MAX_PATH + 1];
volatile sig_atomic_t doomed_set[doomed_slots] = {};

} // namespace

void remove_temp_files() {
  for (size_t i = 0; i < doomed_slots; ++i)
    if (doomed_set[i]) DeleteFileW(doomed_path[i]);
}

void remove_temp_files_and_end(int sig) {
  remove_temp_files();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void remove_on_signal(const std::wstring& path) {
  static const bool installed = [] {
    std::signal(SIGINT, remove_temp_files_and_end);
    std::signal(SIGTERM, remove_temp_files_and_end);
    return true;
  }();
  (void)installed;
  if (path.empty() || path.size() > MAX_PATH) return;
  for (size_t i = 0; i < doomed_slots; ++i)
    if (!doomed_set[i]) {
      std::wmemcpy(doomed_path[i], path.c_str(), path.size() + 1);
      doomed_set[i] = 1;
      return;
    }
}

void keep_on_signal(const std::wstring& path) {
  for (size_t i = 0; i < doomed_slots; ++i)
    if (doomed_set[i] && path == doomed_path[i]) {
      doomed_set[i] = 0;
      return;
    }
}

bool passes_through_link(const std::wstring& folder, const std::wstring& relative) {
  const std::wstring base = folder.empty() ? std::wstring() : folder + L"\\";
  for (size_t slash = relative.find_first_of(L"\\/"); slash != std::wstring::npos;
       slash = relative.find_first_of(L"\\/", slash + 1)) {
    if (slash == 0) continue;
    const DWORD a = GetFileAttributesW((base + relative.substr(0, slash)).c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  }
  return false;
}

// Access lists are not checked here: any file that is there is obeyed.
bool trusted_config_file(const std::wstring& path) { return is_regular_file(path); }

std::wstring executable_path() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

bool short_path_name(const std::wstring& path, std::wstring& out) {
  const DWORD n = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (n == 0) return false;
  std::wstring buf(n, L'\0');
  const DWORD m = GetShortPathNameW(path.c_str(), buf.data(), n);
  if (m == 0 || m >= n) return false;
  buf.resize(m);
  out = buf;
  return true;
}

uint32_t remove_file(const std::wstring& path) { return DeleteFileW(path.c_str()) ? 0 : GetLastError(); }

} // namespace vela::os
