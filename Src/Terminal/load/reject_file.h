// REJECTS 'file': the records a load refused, written as they were read (the header first),
// so that the file can be mended and loaded with the same options. The file is put in place
// when the load ends: until then a file of that name (even the source) keeps what it held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "vela/code_page.h"
#include "vela/result.h"
#include "vela/system.h"
#include "vela/textfile.h"

namespace vela::terminal {

class reject_file {
 public:
  // header: the source begins with a header, to be written first; skip_through: the lines of
  // SKIP, which no record takes.
  reject_file(const std::wstring& path, text_file_code_page cp, bool header, size_t skip_through);
  // Makes the file to write (empty); its failure when it cannot be.
  result create();
  // A line of the source as read, kept until the record it belongs to is settled.
  void line(std::wstring_view text, size_t number);
  // The header took the first lines kept: written first, once.
  bool wants_header() const { return wants_header_; }
  void header(size_t lines);
  // The reader gave a record of lines lines from line first on (lines before it that no
  // record took, such as those passed over, are dropped).
  void record(size_t first, size_t lines);
  // The record beginning at line was refused: written once the records before it are settled.
  void refused(size_t line);
  // Records beginning before line are settled: loaded or refused.
  void settled(size_t line);
  // The source is read again from its start: the refused records held are written.
  void restart();
  // Writes every refused record still held and puts the file in place; its failure, if any.
  result close();
  const std::wstring& path() const { return path_; }
  uint64_t written() const { return written_; }

 private:
  struct held {
    size_t line;
    std::wstring text;  // its lines, each ended by "\n"
    bool refused = false;
  };
  void take(std::wstring& out, size_t lines);
  void write_front();
  void flush();

  std::wstring path_;
  text_file_code_page cp_;
  sys::replacing_file target_;
  std::unique_ptr<textfile> out_;
  std::deque<std::pair<size_t, std::wstring>> lines_;
  std::deque<held> records_;
  std::wstring chunk_;
  result failed_;
  bool wants_header_;
  size_t skip_through_;
  uint64_t written_ = 0;
};

} // namespace vela::terminal
