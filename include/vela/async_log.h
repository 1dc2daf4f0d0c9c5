// The asynchronous process log: callers hand lines to one writer thread, which filters
// them by the ".wli" parameter file and appends them to the ".log" file.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "vela/b_time.h"
#include "vela/log.h"

namespace vela::os {
class pattern;
}

namespace vela {

// The longest flush period the writer keeps (24 days): longer ones are cut to it.
constexpr uint32_t max_flush_seconds = 2000000;

enum start_mode : int32_t { start_append = 0, start_overwrite = 1, start_new = 2 };

// One submitted line on its way to the writer.
struct log_record {
  int64_t seconds = 0;  // wall-clock time of the write
  long nanoseconds = 0;
  std::wstring tag;
  std::wstring text;
  uint32_t process_id = 0;
  uint32_t thread_id = 0;

  b_time time() const;
};

class LogParams : public base {
 public:
  LogParams() { reset(); }
  // The finished line with its line end, or empty when no event entry accepts it.
  virtual std::wstring format_line(const log_record& rec) const;
  virtual void reset();
  bool accepts(const std::wstring& tag, const std::wstring& text) const;

  std::wstring time_format;
  bool show_pid = true;
  bool show_tid = true;
  int32_t start_mode = start_append;
  uint32_t flush_seconds = 60;  // periods beyond max_flush_seconds count as that
  uint32_t flush_bytes = 4096;
  std::map<std::wstring, std::wstring> events;
  std::wstring log_file;

 private:
  const os::pattern* compiled(const std::wstring& pattern) const;
  mutable std::map<std::wstring, std::shared_ptr<const os::pattern>> compiled_;
};

class LogWliParams : public LogParams {
 public:
  // base_path: drive, directory and base name of the executable (no extension).
  explicit LogWliParams(const std::wstring& base_path);
  std::wstring format_line(const log_record& rec) const override { return LogParams::format_line(rec); }
  void reset() override;
  // Loads the first parameter file found (beside the executable, in the user's and then the
  // system's configuration folder) when its last-write time changed; defaults when none is.
  void reload();
  // Chooses the log file beside the parameter file, or in the user's state folder when
  // that folder is not writable.
  void prepare_log_file();

  std::wstring base_path;
  std::wstring wli_path;
  b_time wli_time;
  uint32_t reload_seconds = 60;

 private:
  int64_t stamp_seconds_ = -1;
  long stamp_nanoseconds_ = -1;
  std::wstring log_name_;  // file name of the log, chosen once by prepare_log_file
};

class AsyncLog : public Log {
 public:
  struct options {
    std::wstring base_path;      // empty: the executable's path without its extension
    uint32_t reload_ms = 0;      // 0: the parameters' reload_seconds
    // The writer's millisecond ticks for its reload and flush periods; null: the system's.
    uint32_t (*clock)() = nullptr;
  };

  AsyncLog() = default;
  explicit AsyncLog(options opt) : options_(std::move(opt)) {}
  ~AsyncLog() override;

  Log& apply(void*) override { return *this; }
  uint32_t start() override;
  uint32_t stop(uint32_t timeout_ms) override;
  uint32_t write(const std::wstring& tag, const std::wstring& text) override;
  // False while no parameter file asks for any line. Without a writer the parameter file is
  // looked at again here, once its reload period has passed since the last look.
  bool enabled() const override;

  uint32_t writer_thread_id() const { return thread_id_; }

  // Waits until the writer has taken every line written before the call and done what its
  // timers asked for by then; with write_file, the lines are in the file as well.
  uint32_t sync(bool write_file);

 private:
  enum class request { line, quit, sync, flush };
  struct message {
    request what = request::line;
    std::unique_ptr<log_record> record;
    uint64_t ticket = 0;  // sync and flush: the number the caller waits for
  };

  // Until the writer has read the parameters, every line is kept for it.
  enum recording : int { recording_unknown, recording_on, recording_off };

  struct writer_state;  // the writer's parameters, lines and timers
  struct state_deleter {
    void operator()(writer_state* s) const;
  };
  void writer();
  void note_parameters(const LogWliParams& params);
  // No writer yet: the parameters read again when their reload period has passed.
  void check_parameters() const;
  // The writer thread, begun with the first line that a parameter file asks for.
  uint32_t start_writer();
  void flush_log(LogWliParams& params, std::wstring& buffer);
  uint32_t ticks() const;

  options options_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable ended_cv_;  // the writer ended or answered a sync
  std::deque<message> queue_;
  bool accepting_ = false;
  bool ended_ = false;
  uint64_t tickets_ = 0;   // sync requests posted
  uint64_t answered_ = 0;  // sync requests the writer has answered
  mutable std::atomic<int> recording_{recording_unknown};
  mutable std::atomic<uint32_t> next_check_{0};  // ticks of the next look at the parameters
  mutable std::atomic<bool> checking_{false};
  mutable std::mutex reload_mutex_;  // the parameters read by one caller at a time
  std::unique_ptr<writer_state, state_deleter> state_;
  std::atomic<uint32_t> thread_id_{0xFFFFFFFFu};
  std::thread thread_;
};

// Installs an asynchronous log, never destroyed, as the process's log and returns it.
Log& install_async_process_log();

// The user's folder for what programs keep between runs, ending in "/":
// $XDG_STATE_HOME/vela/ (default ~/.local/state/vela/), created when create is set; empty
// when neither variable is known.
std::wstring user_state_folder(bool create);
// The user's folder for settings, ending in "/": $XDG_CONFIG_HOME/vela/ (default
// ~/.config/vela/); empty when neither variable is known.
std::wstring user_config_folder();

} // namespace vela
