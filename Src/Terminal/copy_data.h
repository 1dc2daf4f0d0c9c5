// Rows as text: the data blocks of COPY statements and the files of \copy, in PostgreSQL's
// text format (tab-separated, \N NULL, backslash escapes) or as CSV (RFC 4180).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "vela/file.h"
#include "vela/odbc/bulk_insert.h"

namespace vela::terminal {

struct copy_format {
  bool csv = false;
  wchar_t delimiter = L'\t';
  std::wstring null_text = L"\\N";
  bool header = false;
  wchar_t quote = L'"';
  wchar_t escape = L'"';
  std::wstring encoding;
};

// A COPY statement or a \copy command taken apart.
struct copy_command {
  std::wstring table;                 // as written, or empty for a query
  std::wstring query;                 // (select …) of \copy … TO, without the parentheses
  std::vector<std::wstring> columns;  // as written
  bool from = true;                   // FROM (load) or TO (write)
  std::wstring file;                  // the file; "stdin"/"stdout" for COPY blocks
  std::wstring connection;            // FROM CONNECTION '…'
  std::wstring source_query;          // … QUERY '…'
  copy_format format;
};

// Reads "COPY table [(columns)] FROM stdin [options]" (from_word "COPY"), or the arguments
// of \copy. False with a reason when the text is not understood.
bool parse_copy(std::wstring_view text, copy_command& out, std::wstring& why);

// Turns lines into records. A CSV record may take more than one line (a quoted line break).
class record_reader {
 public:
  explicit record_reader(const copy_format& f) : f_(f) {}
  enum class outcome { row, more, bad };
  // One line without its "\n" (a "\r" before it is part of the line), number line_no.
  // row: a record is in row (its line where it began); more: a quoted field goes on;
  // bad: the record is malformed (why says how).
  outcome add_line(std::wstring_view line, size_t line_no, odbc::bulk_row& row, std::wstring& why);
  // The input ended inside a quoted field: the record's first line (0 when none is open).
  size_t open_record() const { return pending_ ? start_ : 0; }

 private:
  outcome text_record(std::wstring_view line, odbc::bulk_row& row, std::wstring& why);
  outcome csv_record(std::wstring_view line, odbc::bulk_row& row, std::wstring& why);

  copy_format f_;
  std::wstring record_;
  bool pending_ = false;
  size_t start_ = 0;
};

// Splits pieces of text into lines ("\n" ends a line; a first U+FEFF is dropped).
class line_splitter {
 public:
  template <typename Sink>
  bool add(std::wstring_view piece, Sink&& line) {
    size_t p = 0;
    if (first_ && !piece.empty()) {
      first_ = false;
      if (piece[0] == 0xFEFF) p = 1;
    }
    for (;;) {
      const size_t e = piece.find(L'\n', p);
      if (e == std::wstring_view::npos) {
        rest_.append(piece.substr(p));
        return true;
      }
      ++number_;
      bool go;
      if (rest_.empty()) {
        go = line(piece.substr(p, e - p), number_);
      } else {
        rest_.append(piece.substr(p, e - p));
        go = line(std::wstring_view(rest_), number_);
        rest_.clear();
      }
      if (!go) return false;
      p = e + 1;
    }
  }
  template <typename Sink>
  bool finish(Sink&& line) {
    if (rest_.empty()) return true;
    ++number_;
    const bool go = line(std::wstring_view(rest_), number_);
    rest_.clear();
    return go;
  }

 private:
  std::wstring rest_;
  size_t number_ = 0;
  bool first_ = true;
};

// One load in progress: the engine, how its rows are read, and where failures are told.
struct copy_load {
  copy_load(odbc::connection& c, size_t batch, const copy_format& f) : engine(c, batch), reader(f) {}
  odbc::bulk_insert engine;
  record_reader reader;
  odbc::bulk_row row;
  bool header = false;  // the first line is a header, skipped
  std::wstring where;   // the source's name in messages
  uint32_t started = tick_count();
  uint32_t shown = started;
  bool progress_shown = false;
  bool in_script = false;  // a COPY block: its rows are lines of the script
};

// A value written in the text format: backslash, tab, line breaks escaped; NULL as \N.
void append_text_field(std::wstring& out, const std::wstring& value, bool is_null, const copy_format& f);

} // namespace vela::terminal
