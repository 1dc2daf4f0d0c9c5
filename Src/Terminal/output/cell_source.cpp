#include "Terminal/output/cell_source.h"

#include <algorithm>
#include <cstring>

#include "vela/utf.h"

namespace vela::terminal {

namespace {

// Bytes as hexadecimal digits, two a byte.
void append_hex(std::string& to, const unsigned char* bytes, size_t n, bool lower) {
  const char* const digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
  const size_t at = to.size();
  to.resize(at + n * 2);
  for (size_t i = 0; i < n; ++i) {
    to[at + i * 2] = digits[bytes[i] >> 4];
    to[at + i * 2 + 1] = digits[bytes[i] & 15];
  }
}

} // namespace

void cell_source::add_column(size_t i, bool long_columns, size_t long_width) {
  const odbc::column& c = rows_.at(i);
  const odbc::type_class t = c.kind();
  column col;
  const bool unbound_text = path_ == text_path::wide_unbound && t == odbc::type_class::text;
  col.how = unbound_text                                             ? kind::long_text
            : odbc::is_floating(c.sql_type()) && writer_.exact_floats() ? kind::floating
            : !odbc::is_long_or_binary(c.sql_type())                 ? kind::bound
            : !long_columns                          ? kind::left_out
            : t == odbc::type_class::long_text       ? kind::long_text
                                                     : kind::long_binary;
  if (col.how == kind::floating && floats_as_text_) col.how = kind::floating_text;
  col.layout.name = wide_to_utf8(c.name());
  col.layout.right = t == odbc::type_class::number;
  col.layout.kind = t;
  col.layout.sql_type = c.sql_type();
  col.layout.boolean = c.boolean();
  col.layout.left_out = col.how == kind::left_out;
  col.layout.width = col.how == kind::bound || col.how == kind::floating || col.how == kind::floating_text || unbound_text
                         ? static_cast<size_t>(odbc::bounded_display_size(c.display_size()))
                     : col.how == kind::left_out ? 0
                                                 : long_width;
  col.wanted = writer_.wanted_units(col.layout);
  columns_.push_back(std::move(col));
}

result cell_source::bind_column(size_t i) {
  column& col = columns_[i];
  odbc::column& c = rows_.at(i);
  const size_t rows = rows_.rowset_size();
  if (col.how == kind::floating) {
    col.number.assign(rows, 0.0);
    return c.bind(col.number.data(), odbc::bind_type::float64, sizeof(double));
  }
  if (col.how == kind::floating_text) {
    const size_t each = float_text_room(col);
    col.bytes.assign(each * rows, '\0');
    return c.bind(col.bytes.data(), odbc::bind_type::narrow_text, static_cast<int32_t>(each));
  }
  if (col.how == kind::bound && path_ == text_path::utf8) {
    const size_t each = col.layout.width * 4 + 1;
    col.bytes.assign(each * rows, '\0');
    return c.bind(col.bytes.data(), odbc::bind_type::narrow_text, static_cast<int32_t>(each));
  }
  if (col.how == kind::bound) {
    const size_t each = col.layout.width + 1;
    col.buffer.assign(each * rows, u'\0');
    return c.bind(col.buffer.data(), odbc::bind_type::wide_text, static_cast<int32_t>(each * sizeof(char16_t)));
  }
  // Long and binary columns stay unbound: left out, they read as NULL in every row; with
  // "-lc" they are read in pieces.
  if (col.how == kind::long_text && path_ == text_path::wide_unbound && col.layout.kind == odbc::type_class::text)
    return c.unbind();
  return result();
}

size_t cell_source::float_text_room(const column& c) {
  return std::max<size_t>(c.layout.width, odbc::float_text_size) + 1;
}

bool cell_source::all_bound() const {
  for (const column& c : columns_)
    if (c.how != kind::bound && c.how != kind::floating && c.how != kind::floating_text && c.how != kind::left_out)
      return false;
  return true;
}

size_t cell_source::row_bytes() const {
  size_t bytes = 0;
  for (const column& c : columns_)
    bytes += c.how == kind::floating        ? sizeof(double)
             : c.how == kind::floating_text ? float_text_room(c)
             : c.how != kind::bound  ? 0
             : path_ == text_path::utf8 ? c.layout.width * 4 + 1
                                        : (c.layout.width + 1) * sizeof(char16_t);
  return bytes;
}

bool cell_source::may_read_again() const {
  for (const column& c : columns_)
    if (c.how == kind::bound && c.wanted > c.layout.width) return true;
  return false;
}

std::vector<column_layout> cell_source::layouts() const {
  std::vector<column_layout> out;
  out.reserve(columns_.size());
  for (const column& c : columns_) out.push_back(c.layout);
  return out;
}

void cell_source::write_row(const std::function<void(const result&)>& failed) {
  for (size_t i = 0; i < columns_.size(); ++i) {
    writer_.next_column(i);
    switch (columns_[i].how) {
      case kind::left_out: writer_.left_out(columns_[i].layout); break;
      case kind::bound: path_ == text_path::utf8 ? write_utf8(i) : write_bound(i); break;
      case kind::floating: write_floating(i); break;
      case kind::floating_text: write_floating_text(i); break;
      default: write_long(i, failed);
    }
  }
  writer_.end_row();
}

void cell_source::write_bound(size_t i) {
  const column& col = columns_[i];
  const column_layout& c = col.layout;
  const int64_t indicator = rows_.at(i).indicator();
  if (indicator == odbc::null_data) {
    writer_.null(c);
    return;
  }
  const auto* v = static_cast<const char16_t*>(rows_.at(i).buffer());
  if (indicator >= 0 && static_cast<size_t>(indicator / 2) <= c.width) {
    write_utf16(c, v, static_cast<size_t>(indicator / 2));
    return;
  }
  size_t units = 0;
  while (units < c.width && v[units]) ++units;  // the bound part
  if (col.wanted <= c.width) {
    if (units > 0 && v[units - 1] >= 0xD800 && v[units - 1] <= 0xDBFF) --units;  // never half a pair
    write_utf16(c, v, units);  // cut to its column
    return;
  }
  // Longer than the buffer and wanted whole: read again from the driver, or the bound part
  // when the driver cannot give it again.
  bool wrote = false;
  writer_.begin_value(c);
  const result whole = rows_.at(i).read_text(piece_, [this, &wrote](const char16_t* t, size_t n) {
    piece_utf16(t, n);
    wrote = true;
  });
  if (!whole.succeeded() && !wrote) piece_utf16(v, units);
  writer_.end_value(c);
}

void cell_source::write_utf8(size_t i) {
  const column& col = columns_[i];
  const column_layout& c = col.layout;
  const int64_t indicator = rows_.at(i).indicator();
  if (indicator == odbc::null_data) {
    writer_.null(c);
    return;
  }
  const auto* v = static_cast<const char*>(rows_.at(i).buffer());
  const size_t room = c.width * 4;
  const bool cut = indicator < 0 || static_cast<size_t>(indicator) > room;  // no total, or longer
  const size_t bytes = cut ? utf8_complete(v, strnlen(v, room)) : static_cast<size_t>(indicator);
  if (!cut || col.wanted <= c.width) {  // whole, or enough for a writer that cuts to its column
    writer_.value(c, v, bytes);
    return;
  }
  // Longer than the buffer and wanted whole: read again from the driver, or the bound part
  // when the driver cannot give it again.
  bool wrote = false;
  writer_.begin_value(c);
  const result whole = rows_.at(i).read_utf8(bytes_, [this, &wrote](const unsigned char* t, size_t n) {
    writer_.piece(reinterpret_cast<const char*>(t), n);
    wrote = true;
  });
  if (!whole.succeeded() && !wrote) writer_.piece(v, bytes);
  writer_.end_value(c);
}

void cell_source::write_floating(size_t i) {
  const column& col = columns_[i];
  if (rows_.at(i).indicator() == odbc::null_data) {
    writer_.null(col.layout);
    return;
  }
  char text[odbc::float_text_size];
  writer_.value(col.layout, text,
                odbc::float_text(*static_cast<const double*>(rows_.at(i).buffer()), col.layout.sql_type, text));
}

void cell_source::write_floating_text(size_t i) {
  const column& col = columns_[i];
  const int64_t indicator = rows_.at(i).indicator();
  if (indicator == odbc::null_data) {
    writer_.null(col.layout);
    return;
  }
  const auto* v = static_cast<const char*>(rows_.at(i).buffer());
  const size_t room = float_text_room(col) - 1;
  const size_t bytes = indicator >= 0 && static_cast<size_t>(indicator) <= room ? static_cast<size_t>(indicator)
                                                                                 : strnlen(v, room);
  char text[odbc::float_text_size];
  const size_t n = odbc::float_text(v, bytes, col.layout.sql_type, text);
  if (n) writer_.value(col.layout, text, n);
  else writer_.value(col.layout, v, bytes);  // not a number (SQLite keeps any value): as it is
}

void cell_source::write_utf16(const column_layout& c, const char16_t* text, size_t units) {
  text_.clear();
  append_utf16_as_utf8(text_, text, units);
  writer_.value(c, text_.data(), text_.size());
}

void cell_source::piece_utf16(const char16_t* text, size_t units) {
  text_.clear();
  append_utf16_as_utf8(text_, text, units);
  writer_.piece(text_.data(), text_.size());
}

void cell_source::write_long(size_t i, const std::function<void(const result&)>& failed) {
  const column_layout& c = columns_[i].layout;
  odbc::column& value = rows_.at(i);
  const size_t wanted = columns_[i].wanted;
  bool null = false;
  result got;
  writer_.begin_value(c);
  if (columns_[i].how == kind::long_text && path_ == text_path::utf8) {
    // At least wanted units are in three times as many bytes.
    got = value.read_utf8(bytes_, [this](const unsigned char* t, size_t n) {
      writer_.piece(reinterpret_cast<const char*>(t), n);
    }, &null, wanted > SIZE_MAX / 3 ? SIZE_MAX : wanted * 3);
  } else if (columns_[i].how == kind::long_text) {
    got = value.read_text(piece_, [this](const char16_t* t, size_t n) { piece_utf16(t, n); }, &null, wanted);
  } else {
    bool started = false;
    const bool backslash = writer_.backslash_hex();
    const char* const prefix = backslash ? "\\x" : "0x";
    got = value.read_bytes(bytes_, [this, &started, prefix, backslash](const unsigned char* b, size_t n) {
      hex_.assign(started ? "" : prefix);
      started = true;
      append_hex(hex_, b, n, backslash);
      writer_.piece(hex_.data(), hex_.size());
    }, &null, wanted == SIZE_MAX ? SIZE_MAX : wanted / 2);
    if (!null && !started) writer_.piece(prefix, 2);
  }
  if (null) {
    if (!got.succeeded()) failed(got);
    writer_.null(c);
  } else {
    writer_.end_value(c);
    if (!got.succeeded()) failed(got);
  }
}

} // namespace vela::terminal
