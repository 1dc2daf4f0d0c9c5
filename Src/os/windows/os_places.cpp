// Environment and folders on Windows.
#include <windows.h>

#include <string>

#include "os/os.h"
#include "vela/utf.h"

namespace vela::os {

std::wstring environment(const char* name) {
  const std::wstring wide_name = utf8_to_wide(name);
  const DWORD n = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  const DWORD m = GetEnvironmentVariableW(wide_name.c_str(), value.data(), n);
  value.resize(m < n ? m : 0);
  return value;
}

bool folder_writable(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return false;
  // Access lists decide: try to create a file there, removed again when closed.
  std::wstring probe = path;
  if (!probe.empty() && probe.back() != L'\\' && probe.back() != L'/') probe += L'\\';
  probe += L"vela-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64()) + L".tmp";
  const HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

uint32_t create_folders(const std::wstring& path) {
  if (path.empty()) return err_path_not_found;
  // Skip a drive ("C:\") or a share ("\\server\share\") at the start.
  size_t start = 0;
  if (path.size() >= 2 && path[1] == L':') start = 2;
  else if (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/')) {
    start = path.find_first_of(L"\\/", 2);
    start = start == std::wstring::npos ? path.size() : path.find_first_of(L"\\/", start + 1);
    if (start == std::wstring::npos) start = path.size();
  }
  for (size_t pos = start + 1; pos <= path.size(); ++pos) {
    if (pos < path.size() && path[pos] != L'/' && path[pos] != L'\\') continue;
    const std::wstring part = path.substr(0, pos);
    if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      const DWORD e = GetLastError();
      if (e != ERROR_ACCESS_DENIED || !path_exists(part)) return e;  // a drive root refuses
    }
  }
  const DWORD a = GetFileAttributesW(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return GetLastError();
  return (a & FILE_ATTRIBUTE_DIRECTORY) ? 0u : uint32_t{err_path_not_found};
}

// Access is kept in ACLs here: a folder under the user's profile is the user's already.
uint32_t private_folder(const std::wstring& path) { return create_folders(path); }

std::vector<std::wstring> folder_entries(const std::wstring& path) {
  std::vector<std::wstring> out;
  std::wstring pattern = path.empty() ? L"." : path;
  if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  WIN32_FIND_DATAW found{};
  const HANDLE h = FindFirstFileW((pattern + L'*').c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return out;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    out.push_back(name + ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? L"/" : L""));
  } while (FindNextFileW(h, &found));
  FindClose(h);
  return out;
}

} // namespace vela::os
