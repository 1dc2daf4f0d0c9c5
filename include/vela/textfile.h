// Whole text files in a named or detected code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "vela/code_page.h"
#include "vela/file.h"
#include "vela/result.h"

namespace vela {

text_file_code_page detect_code_page(const unsigned char* bytes, size_t length);
// Valid UTF-8 up to and including the last LF (all bytes when there is none).
bool is_utf8(const unsigned char* bytes, size_t length);
// The UTF-16 test: a FF FE mark, or little-endian text whose odd bytes are mostly zero.
bool is_text_unicode(const unsigned char* bytes, size_t length, bool* signature);

class textfile : public file {
 public:
  textfile(const std::wstring& path, text_file_code_page cp) : file(path), cp_(cp) {}

  // Raises file_error (open, position, size, read) or windows_error (conversion).
  textfile& read_all(std::wstring& text, text_file_code_page* found = nullptr);
  // The same text in pieces, in order, read and decoded about piece_bytes at a time: only a
  // piece is held, and no character is cut between two pieces. found is known at the end.
  textfile& read_pieces(const std::function<void(std::wstring_view)>& sink, text_file_code_page* found = nullptr,
                        size_t piece_bytes = 1 << 20);
  // UTF-8 from now on keeps a byte that is not part of valid UTF-8: read as U+DC80..U+DCFF (see
  // utf8_to_wide_escaped) instead of U+FFFD, so that a reader can tell it and still has the
  // byte, and such a code point written as its byte again.
  void keep_invalid_bytes() { keep_invalid_bytes_ = true; }
  result save(const std::wstring& text);
  result append(const std::wstring& text);
  void append_or_throw(const std::wstring& text);

  result write_utf16(const std::wstring& text);
  result write_utf16_bom(const std::wstring& text);
  result append_utf8(const std::wstring& text);
  result write_utf8(const std::wstring& text);
  result write_ansi(const std::wstring& text);
  result write_oem(const std::wstring& text);
  result write_code_page(const std::wstring& text);

  const text_file_code_page& code_page() const { return cp_; }

 private:
  result write_bytes(const void* data, size_t n, const wchar_t* what);
  result write_converted(unsigned code_page, const std::wstring& text);

  text_file_code_page cp_;
  bool keep_invalid_bytes_ = false;
};

} // namespace vela
