#include "vela/textfile.h"

#include <algorithm>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "os/os.h"
#include "vela/utf.h"

namespace vela {

namespace {

constexpr size_t detection_sample = 102400;

} // namespace

bool is_text_unicode(const unsigned char* bytes, size_t length, bool* signature) {
  if (signature) *signature = false;
  if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    if (signature) *signature = true;
    return true;
  }
  // NUL bytes never occur in 8-bit text. In little-endian UTF-16 they are the high bytes of
  // ASCII and Latin characters (odd offsets), which any script has more of than characters
  // of the form U+xx00 (even offsets), whatever its other letters are.
  size_t zero_high = 0, zero_low = 0;
  for (size_t i = 0; i + 1 < length; i += 2) {
    zero_low += bytes[i] == 0;
    zero_high += bytes[i + 1] == 0;
  }
  return zero_high > 0 && zero_high >= zero_low;
}

bool is_utf8(const unsigned char* bytes, size_t length) {
  if (length == 0) throw wexception(L"_size == 0 at ..\\Src\\win\\text_file_code_page line 130");
  size_t n = length;
  while (n > 0 && bytes[n - 1] != '\n') --n;
  if (n == 0) n = length;
  return valid_utf8(std::string_view(reinterpret_cast<const char*>(bytes), n));
}

text_file_code_page detect_code_page(const unsigned char* bytes, size_t length) {
  const size_t sample = length < detection_sample ? length : detection_sample;
  bool signature = false;
  if (is_text_unicode(bytes, sample, &signature)) return {1200, signature};
  // NUL bytes in the other pattern: big-endian UTF-16 (or not text at all), never 8-bit text.
  if (std::memchr(bytes, 0, sample)) return {1201, sample >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF};
  if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) return {65001, true};
  bool ascii = true;
  for (size_t i = 0; i < length && ascii; ++i) ascii = bytes[i] < 0x80;
  if (ascii) return {0, false};
  if (sample && is_utf8(bytes, sample)) return {65001, false};
  return {0, false};
}

// ---- reading -----------------------------------------------------------------

namespace {

// How many of the n bytes to decode now so that no character is cut: UTF-8 ends before a lead
// byte near the end (the decoder never joins bytes across a lead or ASCII byte); UTF-16 ends
// on a whole unit and not after a high surrogate.
size_t utf8_cut(const unsigned char* b, size_t n) {
  for (size_t k = 1; k <= 3 && k <= n; ++k) {
    const unsigned char c = b[n - k];
    if ((c & 0xC0) != 0x80) return c >= 0xC0 ? n - k : n;
  }
  return n;
}

size_t utf16le_cut(const unsigned char* b, size_t n) {
  n &= ~static_cast<size_t>(1);
  if (n >= 2 && b[n - 1] >= 0xD8 && b[n - 1] <= 0xDB) n -= 2;
  return n;
}

enum class text_kind { code_page, utf16le, utf8 };

// How a file's bytes are decoded, chosen from its first piece.
struct text_decoding {
  text_kind kind = text_kind::code_page;
  text_file_code_page cp;  // what the file was found to be; a negative id: no code page fits
  size_t skip = 0;         // the bytes of a byte-order mark
  bool ascii_start = false;
};

// asked: the code page asked for (auto_code_page: detected from the first piece, bytes[0, have)).
text_decoding choose_decoding(int32_t asked, bool keep_bytes, const unsigned char* bytes, size_t have, bool at_end,
                              bool ascii) {
  text_decoding d;
  text_file_code_page detected =
      asked == auto_code_page ? detect_code_page(bytes, have) : text_file_code_page{invalid_code_page, false};
  // ASCII at the start of a longer file: UTF-8 when any other byte follows, else ANSI. Both
  // read ASCII alike, so decode as UTF-8 and tell which it was at the end.
  d.ascii_start = asked == auto_code_page && !at_end && ascii && detected.id == 0;
  if (d.ascii_start) detected = {65001, false};
  // Keeping bytes, 8-bit text of no named code page is read as UTF-8 whatever its bytes: the
  // bytes that are not UTF-8 are kept as they were, not taken for ANSI characters.
  if (keep_bytes && detected.id == 0) detected = {65001, false};

  const std::string_view start_view(reinterpret_cast<const char*>(bytes), have);
  auto is = [&](int32_t id) { return asked == id || detected.id == id; };
  if (asked == 0 || detected.id == 0) {
    d.cp = {0, false};
  } else if (is(1)) {
    // CR, LF and TAB pass through the OEM conversion unchanged.
    d.cp = {1, false};
  } else if (is(1200)) {
    bool signature = false;
    is_text_unicode(bytes, have, &signature);
    d.skip = signature ? 2 : 0;
    d.kind = text_kind::utf16le;
    d.cp = {1200, signature};
  } else if (is(65001)) {
    const bool mark = start_view.size() >= 3 && start_view.substr(0, 3) == "\xEF\xBB\xBF";
    d.skip = mark ? 3 : 0;
    d.kind = text_kind::utf8;
    d.cp = {65001, mark};
  } else {
    const int32_t id = asked == auto_code_page ? detected.id : asked;
    d.skip = id >= 0 && asked == auto_code_page && detected.bom ? 2 : 0;
    d.cp = {id, d.skip != 0};
  }
  return d;
}

// Decodes the bytes b[from, have) into text; a character cut at the end of a piece is left
// for the next one. Returns where the decoded bytes end; code is the decoder's failure.
size_t decode_piece(const text_decoding& d, os::wide_decoder& decoder, const unsigned char* b, size_t from, size_t have,
                    bool at_end, bool keep_bytes, std::wstring& text, uint32_t& code) {
  size_t end = have;
  code = 0;
  if (d.kind == text_kind::utf8) {
    if (!at_end) end = from + utf8_cut(b + from, have - from);
    const std::string_view piece(reinterpret_cast<const char*>(b + from), end - from);
    text = keep_bytes ? utf8_to_wide_escaped(piece) : utf8_to_wide(piece);
  } else if (d.kind == text_kind::utf16le) {
    if (!at_end) end = from + utf16le_cut(b + from, have - from);
    text = utf16le_to_wide(b + from, end - from);
  } else {
    text.clear();
    code = decoder.decode(std::string_view(reinterpret_cast<const char*>(b + from), have - from), at_end, text, false, keep_bytes);
  }
  return end;
}

} // namespace

textfile& textfile::read_all(std::wstring& text, text_file_code_page* found) {
  text.clear();
  return read_pieces([&text](std::wstring_view piece) { text.append(piece); }, found);
}

textfile& textfile::read_pieces(const std::function<void(std::wstring_view)>& sink, text_file_code_page* found,
                                size_t piece_bytes) {
  const bool opened_here = !is_open();
  if (opened_here) {
    open(name_, file_access::read, file_access::share_read, nullptr, file_access::open_existing,
         file_access::normal_attributes, 0);
  } else if (const uint32_t code = seek(0, 0)) {
    throw file_error(name_, code);
  }
  auto fail = [&](uint32_t code) {
    if (opened_here) close();
    throw file_error(name_, code);
  };
  // Read to the end, whatever the size says: pipes, FIFOs and /dev/stdin report 0. The first
  // piece holds the sample that the code page is detected from.
  if (piece_bytes < detection_sample) piece_bytes = detection_sample;
  std::vector<unsigned char> bytes(piece_bytes + 8);
  size_t have = 0;
  bool at_end = false;
  auto fill = [&] {
    size_t got = 0;
    if (const uint32_t code = read(bytes.data() + have, piece_bytes, got)) fail(code);
    have += got;
    at_end = got < piece_bytes;
  };
  fill();
  if (have == 0) {
    if (opened_here) close();
    return *this;
  }

  bool ascii = ascii_prefix(bytes.data(), have) == have;  // so far
  const text_decoding d = choose_decoding(cp_.id, keep_bytes_, bytes.data(), have, at_end, ascii);
  text_file_code_page result_cp = d.cp;
  if (result_cp.id < 0) {
    if (opened_here) close();
    throw windows_error(name_, os::err_invalid_parameter);
  }
  os::wide_decoder decoder(static_cast<unsigned>(result_cp.id));
  decoding_ = d.kind == text_kind::utf8 ? text_file_code_page{65001, result_cp.bom} : result_cp;
  std::wstring text;
  size_t from = d.skip;
  for (;;) {
    const unsigned char* b = bytes.data();
    uint32_t code = 0;
    const size_t end = decode_piece(d, decoder, b, from, have, at_end, keep_bytes_, text, code);
    // ANSI and OEM read whatever they can.
    if (code && result_cp.id > 1) {
      if (opened_here) close();
      throw windows_error(name_, static_cast<int32_t>(code));
    }
    if (d.ascii_start && ascii && end > from) ascii = ascii_prefix(b + from, end - from) == end - from;
    if (!text.empty()) sink(text);
    if (at_end) break;
    // The bytes of a cut character go first in the next piece.
    std::copy(b + end, b + have, bytes.data());
    have -= end;
    from = 0;
    fill();
  }
  if (opened_here) close();
  if (d.ascii_start && ascii) result_cp = {0, false};
  if (found) *found = result_cp;
  return *this;
}

void textfile::check_code_page() const {
  const int32_t id = cp_.id;
  if (id == auto_code_page || id == 0 || id == 1 || id == 1200 || id == 65001) return;
  if (id < 0 || !os::wide_decoder(static_cast<unsigned>(id)).ok()) throw windows_error(name_, os::err_invalid_parameter);
}

textfile& textfile::read_all_exact(std::wstring& text, bool& exact) {
  text_file_code_page found{65001, false};  // an empty file is empty text in any code page
  read_all(text, &found);
  exact = false;
  if (text.find(L'\0') != std::wstring::npos) return *this;
  std::string back;
  if (found.id == 1200) back = (found.bom ? "\xFF\xFE" : "") + wide_to_utf16le(text);
  else if (found.id == 65001) back = (found.bom ? "\xEF\xBB\xBF" : "") + wide_to_utf8(text);
  else if (found.id < 0 || os::from_wide(static_cast<unsigned>(found.id), text, back, true)) return *this;
  open(name_, file_access::read, file_access::share_read, nullptr, file_access::open_existing,
       file_access::normal_attributes, 0);
  std::vector<char> piece(1 << 20);
  size_t at = 0, got = 0;
  exact = true;
  do {
    if (const uint32_t code = read(piece.data(), piece.size(), got)) {
      close();
      throw file_error(name_, code);
    }
    exact = exact && at + got <= back.size() && back.compare(at, got, piece.data(), got) == 0;
    at += got;
  } while (got == piece.size());
  close();
  exact = exact && at == back.size();
  return *this;
}

// ---- writing -----------------------------------------------------------------

result textfile::write_bytes(const void* data, size_t n, const wchar_t* what) {
  const uint32_t code = write(data, n);
  return failure(code, code ? std::wstring(what) : std::wstring());
}

result textfile::write_utf16(const std::wstring& text) {
  const std::string bytes = wide_to_utf16le(text);
  return write_bytes(bytes.data(), bytes.size(), L"write_utf16");
}

result textfile::write_utf16_bom(const std::wstring& text) {
  result r;
  if (cp_.bom || cp_.id == auto_code_page) r.merge(write_bytes("\xFF\xFE", 2, L"write_utf16_bom"));
  if (r.succeeded()) r.merge(write_utf16(text));
  return r;
}

result textfile::append_utf8(const std::wstring& text) {
  const std::string bytes = keep_bytes_ ? wide_to_utf8_escaped(text) : wide_to_utf8(text);
  return write_bytes(bytes.data(), bytes.size(), L"append_utf8");
}

result textfile::write_utf8(const std::wstring& text) {
  result r;
  if (cp_.bom) r.merge(write_bytes("\xEF\xBB\xBF", 3, L"write_utf8"));
  if (r.succeeded()) r.merge(append_utf8(text));
  return r;
}

result textfile::write_converted(unsigned code_page, const std::wstring& text) {
  std::string bytes;
  if (const uint32_t code = os::from_wide(code_page, text, bytes, false)) return failure(code);
  return write_bytes(bytes.data(), bytes.size(), L"");
}

result textfile::write_ansi(const std::wstring& text) { return write_converted(0, text); }
result textfile::write_oem(const std::wstring& text) { return write_converted(1, text); }

result textfile::write_code_page(const std::wstring& text) {
  if (cp_.id < 0) return failure(os::err_invalid_parameter);
  return write_converted(static_cast<unsigned>(cp_.id), text);
}

result textfile::save(const std::wstring& text) {
  const bool opened_here = !is_open();
  if (opened_here) {
    if (const uint32_t code = open_code(name_, file_access::read | file_access::write, file_access::share_read,
                                        nullptr, file_access::create_always, file_access::normal_attributes, 0))
      return failure(code);
  } else if (const uint32_t code = seek(0, 0)) {
    return failure(code);
  }
  result r;
  switch (cp_.id) {
    case 0: r = write_ansi(text); break;
    case 1: r = write_oem(text); break;
    case 65001: r = write_utf8(text); break;
    case 1200:
    case auto_code_page: r = write_utf16_bom(text); break;
    default: r = write_code_page(text);
  }
  r.merge(failure(truncate()));
  if (opened_here) r.merge(close_result());
  return r;
}

result textfile::append(const std::wstring& text) {
  const bool opened_here = !is_open();
  if (opened_here) {
    if (!file_exists(name_)) return save(text);
    if (const uint32_t code = open_code(name_, file_access::read | file_access::write, file_access::share_read,
                                        nullptr, file_access::open_always, file_access::normal_attributes, 0))
      return failure(code);
  }
  if (const uint32_t code = seek(0, 2)) {
    if (opened_here) close();
    return failure(code);
  }
  result r;
  switch (cp_.id) {
    case 0: r = write_ansi(text); break;
    case 1: r = write_oem(text); break;
    case 1200:
    case auto_code_page: r = write_utf16(text); break;
    case 65001: r = append_utf8(text); break;
    default: r = failure(os::err_invalid_parameter);
  }
  if (opened_here) r.merge(close_result());
  return r;
}

void textfile::append_or_throw(const std::wstring& text) {
  const result r = append(text);
  if (!r.succeeded()) throw file_error(name_, r.code());
}

} // namespace vela
