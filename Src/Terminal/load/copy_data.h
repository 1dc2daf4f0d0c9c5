// Rows as text: the data blocks of COPY statements and the files of \copy, in PostgreSQL's
// text format (tab-separated, \N NULL, backslash escapes) or as CSV (RFC 4180).
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vela/file.h"
#include "vela/odbc/bulk_insert.h"
#include "vela/odbc/connection.h"

namespace vela::terminal {

struct copy_format {
  bool csv = false;
  bool jsonl = false;  // JSON lines: an object a line, its keys the columns
  wchar_t delimiter = L'\t';
  std::wstring null_text = L"\\N";
  bool header = false;
  wchar_t quote = L'"';
  wchar_t escape = L'"';
  std::wstring encoding;
  size_t skip_through = 0;  // SKIP N: records that begin at line N or before are passed over
  // CREATE: the table is made from the source's columns first; IF NOT EXISTS: unless it is
  // there; REPLACE: dropped and made again. SAMPLE N: the records of a file whose values
  // choose the column types.
  enum class creation : uint8_t { none, create, if_not_exists, replace };
  creation create = creation::none;
  size_t sample = 10000;
  // REJECTS 'file': the refused records go there as they were read. MAX_ERRORS N: the load
  // stops at its Nth refused row (0: it never stops for refused rows).
  std::wstring rejects;
  size_t max_errors = 0;
};

// A COPY statement or a \copy command taken apart.
class json_row_reader;

struct copy_command {
  std::wstring table;                 // as written, or empty for a query
  std::wstring query;                 // (select …) of \copy … TO, without the parentheses
  std::vector<std::wstring> columns;  // as written
  bool from = true;                   // FROM (load) or TO (write)
  std::wstring file;                  // the file; "stdin"/"stdout" for COPY blocks
  std::wstring connection;            // FROM CONNECTION '…'
  std::wstring source_query;          // … QUERY '…'
  bool process_stdin = false;         // FROM pstdin: sqlterm's own standard input (file "pstdin")
  copy_format format;
};

// Reads "COPY table [(columns)] FROM stdin [options]" (from_word "COPY"), or the arguments
// of \copy. False with a reason when the text is not understood.
bool parse_copy(std::wstring_view text, copy_command& out, std::wstring& why);

// Turns lines into records. A CSV record may take more than one line (a quoted line break):
// it is read in one pass, however many lines it takes. A record that goes wrong after its
// first line (a quote still open at the end, text after a closing quote, a count of values
// that is not the table's) fails at its first line, and its other lines are read again as
// records of their own: reading picks up at the next line that starts a record.
class record_reader {
 public:
  // columns: the values a record must have (0: any, until expect tells).
  explicit record_reader(const copy_format& f, size_t columns = 0) : f_(f), header_(f.header), columns_(columns) {}
  enum class outcome { row, more, bad, bad_header };
  // Takes each record: row (the record, row.line where it began), bad (a malformed record at
  // row.line, why says how) or bad_header (the header is malformed). False stops the reading.
  using sink = std::function<bool(outcome, const odbc::bulk_row& row, const std::wstring& why)>;
  void expect(size_t columns) { columns_ = columns; }
  // JSON lines: each line's object read into a row by json.
  void read_json(json_row_reader* json) { json_ = json; }
  // One line without its "\n" (a "\r" before it is part of the line), number line_no.
  bool add_line(std::wstring_view line, size_t line_no, const sink& to);
  // The input ended: a record still open fails (its quoted field is not closed).
  bool finish(const sink& to);
  // Lines that are no row: the header, and lines of broken records that were not read again.
  uint64_t skipped() const { return skipped_; }
  // The header's values, once it is read.
  const std::vector<std::wstring>& header() const { return header_values_; }
  // The lines of the record last given or passed over (one for a malformed record whose
  // other lines are read again).
  size_t given_lines() const { return given_; }

 private:
  bool step(std::wstring_view line, size_t line_no, const sink& to);
  bool fail(const std::wstring& why, const sink& to);
  bool drain(const sink& to);
  outcome text_record(std::wstring_view line, odbc::bulk_row& row, std::wstring& why);
  outcome csv_record(std::wstring_view line, odbc::bulk_row& row, std::wstring& why);

  copy_format f_;
  bool header_;
  size_t columns_;
  odbc::bulk_row row_;
  size_t values_ = 0;  // values of the open record so far
  bool open_ = false;  // a quoted field goes on in the next line
  size_t start_ = 0;   // the open record's first line
  size_t lines_ = 0;   // and its lines
  std::wstring kept_;  // its lines after the first, to be read again if it goes wrong
  std::vector<size_t> kept_ends_;
  std::deque<std::wstring> again_;  // lines to be read again, the first numbered again_no_
  size_t again_no_ = 0;
  uint64_t fresh_ = 0;       // lines given
  uint64_t read_again_ = 0;  // lines read a second time: never more than fresh_, so reading stays linear
  uint64_t skipped_ = 0;
  size_t given_ = 0;
  std::vector<std::wstring> header_values_;
  json_row_reader* json_ = nullptr;
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

struct file_table;
class reject_file;

// One load in progress: the engine, how its rows are read, and where failures are told.
struct copy_load {
  copy_load(odbc::connection& c, size_t batch, const copy_format& f) : engine(c, batch), reader(f) {}
  // "-jobs" over several hosts: the connections the engine spreads the batches over.
  std::vector<std::unique_ptr<odbc::connection>> jobs;
  odbc::bulk_insert engine;
  record_reader reader;
  record_reader::sink take;  // the reader's records go to the engine
  result failure;            // the engine failed: the load ends
  std::wstring bad_header;   // why the header was refused: the load ends before any row
  size_t header_line = 0;
  std::wstring where;   // the source's name in messages
  uint32_t started = tick_count();
  uint32_t shown = started;
  bool progress_shown = false;
  bool in_script = false;  // a COPY block: its rows are lines of the script
  std::wstring file;       // \copy FROM a file: a load that stops part-way can go on from it
  file_table* made = nullptr;  // the table the load made from the file, whose columns may widen
  // REJECTS: where refused records go (kept over a load started again), and the line of the
  // record being given to the engine, whose batch may still run.
  std::shared_ptr<reject_file> rejects;
  size_t adding = 0;
  size_t last_refused = 0;   // the line of the last row refused
  bool interrupted = false;  // Ctrl-C stopped the reading
  std::shared_ptr<json_row_reader> json;  // JSON lines: keys to columns
  bool process_stdin = false;  // the rows come from sqlterm's standard input
};

// A value written in the text format: backslash, tab, line breaks escaped; NULL as \N.
void append_text_field(std::wstring& out, const std::wstring& value, bool is_null, const copy_format& f);

} // namespace vela::terminal
