// Error numbers and their descriptions on Windows: the system's own.
#include <windows.h>

#include <cerrno>

#include "os/os.h"

namespace vela::os {

// The C runtime's errno values, for the few runtime calls the library makes.
uint32_t error_from_errno(int e) {
  switch (e) {
    case 0: return err_success;
    case ENOENT: return err_file_not_found;
    case ENOTDIR: return err_path_not_found;
    case EMFILE:
    case ENFILE: return err_too_many_open_files;
    case EACCES:
    case EPERM:
    case EISDIR: return err_access_denied;
    case EBADF: return err_invalid_handle;
    case ENOMEM: return err_not_enough_memory;
    case EROFS: return err_write_protect;
    case EWOULDBLOCK: return err_sharing_violation;
    case EEXIST: return err_file_exists;
    case EINVAL: return err_invalid_parameter;
    case ENOSPC: return err_disk_full;
    case ENAMETOOLONG: return err_filename_too_long;
    case EIO: return err_write_fault;
    case EFBIG: return err_file_too_large;
    case EPIPE: return err_broken_pipe;
    case EILSEQ: return err_no_unicode_translation;
    case ENOTSUP: return err_not_supported;
    case ECANCELED: return err_cancelled;
    default: return err_invalid_function;
  }
}

uint32_t last_error() { return GetLastError(); }

namespace {
// -1 until the user's language has been asked for.
int language_choice = -1;
} // namespace

bool russian_ui() {
  if (language_choice < 0) language_choice = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN ? 1 : 0;
  return language_choice == 1;
}

void forget_language() { language_choice = -1; }

// The system's text in the user's language, without its line end.
std::wstring system_message(uint32_t code) {
  wchar_t* buf = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::wstring text;
  if (n && buf) text.assign(buf, n);
  if (buf) LocalFree(buf);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  return text;
}

} // namespace vela::os
