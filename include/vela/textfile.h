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
  // read_all, and whether the text is the file's bytes exactly: it holds no NUL, and written
  // in the code page found (its mark included) it gives the same bytes again.
  textfile& read_all_exact(std::wstring& text, bool& exact);
  // Raises the windows_error a read raises for a code page that no converter takes.
  void check_code_page() const;
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
  // Reading: an invalid byte 0x80..0xFF of 8-bit text becomes U+DC00 + byte (U+DC80..U+DCFF)
  // instead of U+FFFD, so that the bytes of the file can be had again (see utf.h); with the
  // code page detected, 8-bit text is UTF-8 (never ANSI).
  void keep_invalid_bytes(bool on) { keep_bytes_ = on; }
  // The code page that the text read so far is decoded from (known once a piece was read).
  const text_file_code_page& decoding() const { return decoding_; }

 private:
  result write_bytes(const void* data, size_t n, const wchar_t* what);
  result write_converted(unsigned code_page, const std::wstring& text);

  text_file_code_page cp_;
  text_file_code_page decoding_;
  bool keep_bytes_ = false;
};

} // namespace vela
