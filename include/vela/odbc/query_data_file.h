// Binary values streamed between files (or memory) and the database in pieces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vela/odbc/types.h"
#include "vela/result.h"

namespace vela::odbc {

class connection;
class query;

using chunk_buffer = std::vector<unsigned char>;

// Code of next_chunk when more pieces follow.
constexpr uint32_t more_data = 234;
constexpr uint32_t upload_chunk_size = 0x100000;

// Raises windows_error(r.format(), r.code()) for a failed result; the source position is
// written to the log only.
const result& check_result(const char* file, int line, const result& r);
#define VELA_CHECK(r) ::vela::odbc::check_result(__FILE__, __LINE__, (r))

// A data-at-execution binary parameter.
class queryparam : public base {
 public:
  virtual result bind_param(connection& conn, stmt_handle statement, uint16_t number);
  virtual uint64_t data_size() = 0;
  // Fills the buffer with the next piece: code 234 when more follow, 0 after the last one.
  virtual result next_chunk(chunk_buffer& chunk) = 0;
  virtual queryparam* clone() const = 0;

  int64_t indicator() const { return indicator_; }

 protected:
  int64_t indicator_ = 0;
  int64_t announced_size_ = -1;  // the length told to the driver, when it asked for one
};

class query_file_uploader : public queryparam {
 public:
  explicit query_file_uploader(std::wstring path) : path_(std::move(path)) {}
  uint64_t data_size() override;
  result next_chunk(chunk_buffer& chunk) override;
  queryparam* clone() const override { return new query_file_uploader(*this); }

  void set_chunk_size(uint32_t n) { chunk_size_ = n; }
  uint32_t chunk_size() const { return chunk_size_; }
  uint64_t offset() const { return offset_; }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  uint32_t chunk_size_ = 0;
  uint64_t offset_ = 0;
  int64_t stream_size_ = -1;
};

// A memory block that must outlive the execution: one piece, or pieces of chunk_size bytes
// when one is set.
class query_memory_uploader : public queryparam {
 public:
  explicit query_memory_uploader(const std::vector<unsigned char>* data) : data_(data) {}
  uint64_t data_size() override { return data_->size(); }
  result next_chunk(chunk_buffer& chunk) override;
  queryparam* clone() const override { return new query_memory_uploader(*this); }

  void set_chunk_size(uint32_t n) { chunk_size_ = n; }

 private:
  const std::vector<unsigned char>* data_;
  uint32_t chunk_size_ = 0;
  size_t offset_ = 0;
};

class query_file_downloader : public base {
 public:
  explicit query_file_downloader(std::wstring path) : path_(std::move(path)) {}
  // Writes column c of the current row of q into the file, in pieces of 1 MiB.
  result download(query& q, uint16_t c, uint64_t* bytes = nullptr);

 private:
  std::wstring path_;
};

} // namespace vela::odbc
