#include "vela/private_file.h"

#include <iterator>

#include "os/os.h"
#include "vela/file.h"
#include "vela/utf.h"

namespace vela {

namespace {

enum : uint32_t { text_shared = 1, text_not_regular = 2, text_too_large = 3, text_not_utf8 = 4, text_unreadable = 5 };

constexpr string_entry english[] = {
    {text_shared, L"File '%s' can be read by group or others: allow its owner only (chmod 600)"},
    {text_not_regular, L"File '%s' is not a regular file"},
    {text_too_large, L"File '%s' is larger than 64 KiB"},
    {text_not_utf8, L"File '%s' is not UTF-8 text"},
    {text_unreadable, L"File '%s' cannot be read"},
};
constexpr string_entry russian[] = {
    {text_shared, L"Файл '%s' доступен группе или остальным: оставьте доступ только владельцу (chmod 600)"},
    {text_not_regular, L"Файл '%s' не является обычным файлом"},
    {text_too_large, L"Файл '%s' больше 64 КиБ"},
    {text_not_utf8, L"Файл '%s' не является текстом UTF-8"},
    {text_unreadable, L"Файл '%s' не удаётся прочитать"},
};
constexpr string_table strings{english, std::size(english), russian, std::size(russian)};

constexpr size_t size_limit = 64 * 1024;

result refused(uint32_t code, uint32_t text_id, const std::wstring& path) {
  std::wstring t = table_string(strings, text_id);
  const size_t at = t.find(L"%s");
  if (at != std::wstring::npos) t.replace(at, 2, path);
  return failure(code, t);
}

} // namespace

result read_private_text(const std::wstring& path, std::wstring& text) {
  text.clear();
  os::handle h = os::invalid_handle;
  const uint32_t opened = os::open_private_file(path, h);
  if (opened == os::err_access_denied) return refused(opened, text_shared, path);
  if (opened == os::err_invalid_data) return refused(opened, text_not_regular, path);
  if (opened != 0) return refused(opened, text_unreadable, path);
  const THandle owner(h);
  std::string bytes(size_limit + 1, '\0');
  size_t got = 0;
  if (const uint32_t code = os::read_file(h, bytes.data(), bytes.size(), got)) return refused(code, text_unreadable, path);
  if (got > size_limit) return refused(os::err_file_too_large, text_too_large, path);
  bytes.resize(got);
  if (!bytes.empty() && bytes.back() == '\n') bytes.pop_back();
  if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
  bool valid = true;
  std::wstring decoded = utf8_to_wide(bytes, &valid);
  if (!valid) return refused(os::err_no_unicode_translation, text_not_utf8, path);
  text = std::move(decoded);
  return result();
}

} // namespace vela
