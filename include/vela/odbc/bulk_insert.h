// Rows loaded into a table in batches: one prepared INSERT executed with arrays of parameters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vela/result.h"

namespace vela::odbc {

class connection;

// One row of a source: a text per column, a NULL flag per column, and where it came from.
struct bulk_row {
  std::vector<std::wstring> values;
  std::vector<char> nulls;  // non-zero: NULL
  size_t line = 0;          // the source's line (or row number), from 1
  // A value may come as its source read it instead of in values: UTF-8 text, UTF-16 text
  // (well formed, host order) or the bytes of a binary value. The engine converts each value
  // once, into what its column takes; a binary value goes to a text column as "\x" and hex.
  enum class form : char { wide, utf8, utf16, bytes };
  std::vector<form> forms;              // empty: every value is in values
  std::vector<std::string> encoded;     // utf8 and bytes values
  std::vector<std::u16string> units;    // utf16 values
  // n columns, each empty and not NULL; the strings keep their room.
  void reset(size_t n) {
    values.resize(n);
    nulls.assign(n, 0);
    for (auto& v : values) v.clear();
    forms.clear();
  }
  form form_of(size_t i) const { return i < forms.size() ? forms[i] : form::wide; }
  // Value i given as UTF-8 text or bytes (f): its room, emptied.
  std::string& encode(size_t i, form f) {
    mark(i, f);
    if (encoded.size() <= i) encoded.resize(values.size());
    encoded[i].clear();
    return encoded[i];
  }
  // Value i given as UTF-16 text: its room, emptied.
  std::u16string& encode_utf16(size_t i) {
    mark(i, form::utf16);
    if (units.size() <= i) units.resize(values.size());
    units[i].clear();
    return units[i];
  }

 private:
  void mark(size_t i, form f) {
    if (forms.size() < values.size()) forms.resize(values.size(), form::wide);
    forms[i] = f;
  }
};

// Where rows come from: a data block, a file, another connection's result.
class bulk_source {
 public:
  virtual ~bulk_source() = default;
  // The next row: true with a row, false at the end or on a failure that ends the source
  // (then in end). A row the source could not read (a malformed line) is reported through
  // bad and skipped: it counts as failed.
  virtual bool next(bulk_row& row, result& end) = 0;
  std::function<void(size_t line, const std::wstring& why)> bad;
};

class bulk_insert {
 public:
  static constexpr size_t default_batch = 1000;

  // batch_rows 0: as many as the database loads best at a time (driver_profile::load_batch_rows).
  explicit bulk_insert(connection& target, size_t batch_rows = default_batch);
  ~bulk_insert();
  bulk_insert(const bulk_insert&) = delete;
  bulk_insert& operator=(const bulk_insert&) = delete;

  // INSERT INTO table [(columns)] VALUES (?, …), the parameters typed as the target's
  // columns. table and columns are written as the statement needs them (quoted or not).
  result prepare(const std::wstring& table, const std::vector<std::wstring>& columns);
  // Parameters per row (after prepare).
  size_t columns() const;
  // One row; a full batch runs. A failure here ends the load (not a failed row).
  result add(const bulk_row& row);
  // The table changes between two batches (statements such as ALTER TABLE): the rows held
  // run first, then the statements (committed, unless the load joined a transaction), and
  // the INSERT is prepared again for the table as it is now.
  result change_table(const std::vector<std::wstring>& statements);
  // Runs what is left and gives the connection its autocommit back.
  result finish();
  // Every row of source, then finish.
  result load(bulk_source& source);

  // A row the database refused: reported with its source line; with stop_on_failure the
  // load stops at once (rows before it stay loaded).
  std::function<void(size_t line, const std::wstring& why)> on_failure;
  bool stop_on_failure = false;
  // The load stops at this many failed rows (0: never), as stop_on_failure does at the first.
  uint64_t max_failures = 0;
  // The rows join the transaction open on the connection: autocommit stays as it is, nothing
  // is committed, and a batch with a refused row is taken back to a savepoint (set before prepare).
  bool join_transaction = false;
  // A batch of its own transaction that meets a conflict (see conflict_of) runs again up to
  // this many times, after a growing pause, before its rows are run one at a time.
  uint32_t retries = 0;
  // Called after each batch (progress).
  std::function<void()> on_batch;

  // The batches go to these connections instead of the one given, a batch to each in turn,
  // each with an engine (and a worker thread) of its own. A connection that is lost hands its
  // rows not committed to the others, whole, so that no row goes in twice; the load fails when
  // every one is lost, or when a commit was sent without an answer. The order of commits
  // across connections is not the source's: last_committed stays empty. Set before prepare;
  // not with join_transaction or change_table.
  void spread(const std::vector<connection*>& targets);
  // Lane (from 0, as given to spread) lost its connection (why) and its rows went to the others.
  std::function<void(size_t lane, const result& why)> on_lane_lost;
  // Rows given to add and reject.
  uint64_t taken() const { return taken_; }

  uint64_t loaded() const { return loaded_; }
  uint64_t failed() const { return failed_; }
  // Times a batch ran again after a conflict.
  uint64_t retried() const { return retried_; }
  // A failed row stopped the load.
  bool stopped() const { return stopped_; }
  // The driver executes arrays of parameters (otherwise one row at a time).
  bool arrays() const;
  // A row that the source could not read: counted and told as failed.
  void reject(size_t line, const std::wstring& why);
  // The source line of the first row taken whose outcome is not known yet (a batch runs
  // while the next fills); SIZE_MAX when every row taken is loaded or refused.
  size_t first_unsettled_line() const;

  // Batches are numbered from 1; a batch's rows came from these source lines.
  struct batch_lines {
    uint64_t number = 0;  // 0: none
    size_t first = 0, last = 0;
  };
  // The connection went during the load: the load stopped there, and add and finish give
  // that failure from then on.
  bool connection_lost() const { return lost_.number != 0; }
  // The last batch whose commit the database confirmed (a batch with a refused row is run
  // one row at a time and still commits once; joined to a caller's transaction, its rows
  // count up to the last row confirmed).
  const batch_lines& last_committed() const { return committed_; }
  // The batch that was running when the connection went, and whether its commit had been
  // sent without an answer (then it may be in the table or not).
  const batch_lines& lost_batch() const { return lost_; }
  bool lost_commit_unknown() const { return commit_unknown_; }

 private:
  struct batch;
  // Runs the rows held: wait, or on the worker thread while the next batch fills (the one
  // running before is settled first either way).
  result finish_batch(bool wait);
  result collect();
  result settle(batch& b);
  result run_rows_alone(batch& b, size_t n);
  void count_failed(size_t line, const std::wstring& why);
  bool stops_at(uint64_t failures) const { return stop_on_failure || (max_failures && failures >= max_failures); }
  // Notes a lost connection at row first of b: true when r says so.
  bool lose(batch& b, const result& r, size_t first, bool commit_sent);
  struct state;
  std::unique_ptr<state> s_;
  // The batches spread over several connections (see spread).
  struct lanes;
  std::unique_ptr<lanes> lanes_;
  result spread_prepare(const std::wstring& table, const std::vector<std::wstring>& columns);
  result hand(const bulk_row& row);
  result lane_lost(size_t lane);
  void lane_settled(size_t lane);
  void lanes_total();
  result spread_finish();
  uint64_t taken_ = 0;
  uint64_t loaded_ = 0;
  uint64_t failed_ = 0;
  uint64_t retried_ = 0;
  bool stopped_ = false;
  uint64_t batches_ = 0;
  batch_lines committed_;
  batch_lines lost_;
  bool commit_unknown_ = false;
  result lost_result_;
  result held_;  // a failure met while settling for a rejected row, told by the next add or finish
};

} // namespace vela::odbc
