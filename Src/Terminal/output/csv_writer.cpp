// RFC 4180 fields: quoted when they hold the delimiter, a quote or a line break.
#include "Terminal/output/row_writer.h"
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "vela/console.h"

namespace vela::terminal {

namespace {

// delimiter: one byte, or 0 when the delimiter is none or longer (then looked for apart).
#ifdef __SSE2__
// Whether any of the sixteen bytes b is one of the four.
inline bool any_of_four(__m128i b, char delimiter) {
  const __m128i hit = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(b, _mm_set1_epi8('"')), _mm_cmpeq_epi8(b, _mm_set1_epi8(delimiter))),
      _mm_or_si128(_mm_cmpeq_epi8(b, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(b, _mm_set1_epi8('\n'))));
  return _mm_movemask_epi8(hit) != 0;
}
#endif

bool needs_quotes(const char* v, size_t n, char delimiter) {
#ifdef __SSE2__
  // Sixteen bytes at a time (the last block overlapping), or eight and eight: a cell is
  // mostly plain text.
  if (n >= 16) {
    for (size_t i = 0; i + 16 <= n; i += 16)
      if (any_of_four(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i)), delimiter)) return true;
    return any_of_four(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + n - 16)), delimiter);
  }
  if (n >= 8) {
    const __m128i b = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v)),
                                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + n - 8)));
    return any_of_four(b, delimiter);
  }
#endif
  for (size_t i = 0; i < n; ++i) {
    const char c = v[i];
    // '"', CR and LF are all below '#': most bytes take two comparisons.
    if (c == delimiter || (static_cast<unsigned char>(c) < '#' && (c == '"' || c == '\r' || c == '\n')))
      return true;
  }
  return false;
}

class csv_writer final : public row_writer {
 public:
  csv_writer(console_writer& out, std::string delimiter, std::string null_text, bool null_given, bool names)
      : out_(out),
        null_given_(null_given),
        names_(names),
        delimiter_(std::move(delimiter)),
        byte_delimiter_(delimiter_.size() == 1 ? delimiter_[0] : '\0'),
        null_text_(std::move(null_text)) {}

  void header(const std::vector<column_layout>& columns) override {
    if (!names_) return;
    for (size_t i = 0; i < columns.size(); ++i) {
      next_column(i);
      field(columns[i].name.data(), columns[i].name.size());
    }
    out_.line_break();
  }
  void next_column(size_t i) override {
    if (i > 0 && !delimiter_.empty()) out_.write_utf8(delimiter_.data(), delimiter_.size());
  }
  void left_out(const column_layout&) override {}
  void null(const column_layout&) override {
    if (!null_text_.empty()) field(null_text_.data(), null_text_.size());
  }
  void value(const column_layout&, const char* text, size_t bytes) override { data_field(text, bytes); }
  bool backslash_hex() const override { return true; }
  // A value that fits one piece is quoted only when it needs it; a longer one is always
  // quoted, as it is never held whole.
  void begin_value(const column_layout&) override {
    pieces_ = 0;
    quoting_ = false;
  }
  void piece(const char* text, size_t bytes) override {
    if (pieces_++ == 0) {
      held_.assign(text, bytes);
      return;
    }
    if (!quoting_) {
      out_.write(L'"');
      quoted_body(held_.data(), held_.size());
      quoting_ = true;
    }
    quoted_body(text, bytes);
  }
  void end_value(const column_layout&) override {
    if (quoting_) out_.write(L'"');
    else if (pieces_ > 0) data_field(held_.data(), held_.size());
  }
  void end_row() override { out_.line_break(); }

 private:
  // A value that reads like the "-null" text is quoted, so a reader tells the two apart.
  void data_field(const char* v, size_t n) {
    if (!null_given_ || n != null_text_.size() || null_text_.compare(0, n, v, n) != 0) {
      field(v, n);
      return;
    }
    out_.write(L'"');
    quoted_body(v, n);
    out_.write(L'"');
  }
  void field(const char* v, size_t n) {
    if (!needs_quotes(v, n, byte_delimiter_) &&
        (delimiter_.size() < 2 || std::string_view(v, n).find(delimiter_) == std::string_view::npos)) {
      out_.write_utf8(v, n);
      return;
    }
    out_.write(L'"');
    quoted_body(v, n);
    out_.write(L'"');
  }
  // The inside of a quoted field: every double quote doubled.
  void quoted_body(const char* v, size_t n) {
    size_t from = 0;
    for (size_t i = 0; i < n; ++i) {
      if (v[i] != '"') continue;
      out_.write_utf8(v + from, i + 1 - from);
      out_.write(L'"');
      from = i + 1;
    }
    out_.write_utf8(v + from, n - from);
  }

  console_writer& out_;
  bool null_given_;
  bool names_;
  std::string delimiter_;
  char byte_delimiter_;
  std::string null_text_;
  size_t pieces_ = 0;
  bool quoting_ = false;
  std::string held_;
};

} // namespace

std::unique_ptr<row_writer> make_csv_writer(console_writer& out, std::string delimiter, std::string null_text,
                                            bool null_given, bool names) {
  return std::make_unique<csv_writer>(out, delimiter, std::move(null_text), null_given, names);
}

} // namespace vela::terminal
