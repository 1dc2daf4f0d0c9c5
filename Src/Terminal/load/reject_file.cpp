#include "Terminal/load/reject_file.h"

#include <algorithm>

#include "Terminal/load/data_file.h"

namespace vela::terminal {

namespace {

constexpr size_t chunk_bytes = 1u << 19;  // text held before it is written

} // namespace

reject_file::reject_file(const std::wstring& path, text_file_code_page cp, bool header, size_t skip_through)
    : path_(path), cp_(cp), target_(path), wants_header_(header), skip_through_(skip_through) {}

result reject_file::create() {
  const uint32_t made = target_.create();
  if (made) return failure(made, path_ + L": " + failure(made).format(L"%d"));
  out_ = std::make_unique<textfile>(target_.path(), cp_);
  out_->keep_invalid_bytes(true);  // bytes that were not text go back as they came
  const result r = out_->save(std::wstring());
  return r.succeeded() ? r : failure(r.code(), path_ + L": " + r.format(L"%d"));
}

void reject_file::line(std::wstring_view text, size_t number) {
  if (number > skip_through_ || wants_header_) lines_.emplace_back(number, std::wstring(text));
}

void reject_file::take(std::wstring& out, size_t lines) {
  for (; lines && !lines_.empty(); --lines) {
    out += lines_.front().second;
    out += L'\n';
    lines_.pop_front();
  }
}

void reject_file::header(size_t lines) {
  wants_header_ = false;
  take(chunk_, lines);
}

void reject_file::record(size_t first, size_t lines) {
  while (!lines_.empty() && lines_.front().first < first) lines_.pop_front();
  records_.push_back(held{first, {}});
  take(records_.back().text, lines);
}

void reject_file::refused(size_t line) {
  const auto at = std::lower_bound(records_.begin(), records_.end(), line, [](const held& h, size_t l) { return h.line < l; });
  if (at == records_.end() || at->line != line) return;
  at->refused = true;
  write_front();
}

void reject_file::settled(size_t line) {
  while (!records_.empty() && records_.front().line < line) {
    if (records_.front().refused) write_front();
    else records_.pop_front();
  }
  write_front();
}

// Refused records at the front go out: no record before them is still to be settled.
void reject_file::write_front() {
  while (!records_.empty() && records_.front().refused) {
    chunk_ += records_.front().text;
    ++written_;
    records_.pop_front();
  }
  if (chunk_.size() >= chunk_bytes) flush();
}

void reject_file::flush() {
  if (chunk_.empty() || !out_) return;
  const result r = append_data(*out_, chunk_);
  chunk_.clear();
  if (!r.succeeded() && failed_.succeeded()) failed_ = failure(r.code(), path_ + L": " + r.format(L"%d"));
}

void reject_file::restart() {
  settled(SIZE_MAX);
  lines_.clear();
}

result reject_file::close() {
  restart();
  flush();
  if (!out_) return failed_;
  out_.reset();
  if (!failed_.succeeded()) return failed_;  // the file that was there stays
  const uint32_t code = target_.commit();
  if (code) failed_ = failure(code, path_ + L": " + failure(code).format(L"%d"));
  return failed_;
}

} // namespace vela::terminal
