#include "vela/async_log.h"

#include <chrono>

#include "os/os.h"
#include "vela/file.h"
#include "vela/os_error.h"
#include "vela/utf.h"

namespace vela {

namespace {

constexpr uint32_t final_flush_window_ms = 15000;
constexpr uint32_t min_timer_ms = 10;
constexpr uint32_t wait_timeout = 258;  // the wait ran out before the thread ended

std::wstring default_base_path() {
  std::wstring drive, dir, name;
  if (!split_path(module_path(), &drive, &dir, &name, nullptr)) return L"vela";
  return drive + dir + name;
}

// Signed distance between two tick values, safe across the counter's wrap.
int32_t ticks_until(uint32_t deadline, uint32_t now) { return static_cast<int32_t>(deadline - now); }

} // namespace

Log& install_async_process_log() {
  // Never destroyed: a writer stuck in the file system must not hold up the exit.
  static Log* const log = new AsyncLog();
  set_process_log(log);
  return *log;
}

AsyncLog::~AsyncLog() {
  if (thread_.joinable()) stop(no_limit);
}

// What the writer thread keeps between the batches it takes: the parameters, the lines not
// yet in the file and the reload and flush timers.
struct AsyncLog::writer_state {
  writer_state(AsyncLog& owner, const std::wstring& base_path) : log(owner), params(base_path) {
    try {
      params.reload();
    } catch (...) {
    }
    try {
      params.prepare_log_file();
    } catch (...) {
    }
    const uint32_t now = log.ticks();
    next_reload = now + reload_period();
    next_flush = now + flush_period();
  }

  uint32_t reload_period() const {
    const uint32_t ms = log.options_.reload_ms ? log.options_.reload_ms : params.reload_seconds * 1000;
    return ms < min_timer_ms ? min_timer_ms : ms;
  }
  // Periods in milliseconds stay within what the 32-bit tick arithmetic below can wait.
  uint32_t flush_ms() const {
    return (params.flush_seconds < max_flush_seconds ? params.flush_seconds : max_flush_seconds) * 1000;
  }
  uint32_t flush_period() const {
    const uint32_t ms = flush_ms();
    return ms < min_timer_ms ? min_timer_ms : ms;
  }

  // Waits until something is posted or a timer is due, then takes everything posted so far.
  void take(std::deque<message>& batch) {
    std::unique_lock<std::mutex> lock(log.mutex_);
    while (log.queue_.empty()) {
      const uint32_t now = log.ticks();
      // With nothing buffered the flush deadline has nothing to do: an idle writer sleeps
      // until the next reload.
      const int32_t wait = buffer.empty() ? ticks_until(next_reload, now)
                                          : std::min(ticks_until(next_reload, now), ticks_until(next_flush, now));
      if (wait <= 0) break;
      log.wake_.wait_for(lock, std::chrono::milliseconds(wait));
    }
    batch.swap(log.queue_);  // take everything posted so far in one go
  }

  // Buffers the batch's lines and notes its sync requests; true when it asks the writer to end.
  bool handle(std::deque<message>& batch) {
    for (auto& m : batch) {
      if (m.what == request::quit) return true;  // nothing is posted behind the quit request
      if (m.what != request::line) {
        answer = m.ticket;
        flush_asked = flush_asked || m.what == request::flush;
        continue;
      }
      if (!m.record) continue;
      try {
        buffer += params.format_line(*m.record);
        const uint32_t t = log.ticks();
        if (t - last_flush > flush_ms() || buffer.size() * 2 > params.flush_bytes) {
          log.flush_log(params, buffer);
          last_flush = log.ticks();
        }
      } catch (...) {
        // The line is abandoned; the writer goes on.
      }
    }
    return false;
  }

  // The reload and flush timers, and a flush a sync asked for.
  void run_timers() {
    const uint32_t now = log.ticks();
    if (ticks_until(next_reload, now) <= 0) {
      next_reload = now + reload_period();
      try {
        const uint32_t old_flush_seconds = params.flush_seconds;
        params.reload();
        if (params.flush_seconds != old_flush_seconds) next_flush = now + flush_period();
      } catch (...) {
      }
      log.note_parameters(params);
    }
    if (ticks_until(next_flush, now) <= 0 || flush_asked) {
      if (!flush_asked) next_flush = now + flush_period();
      flush_asked = false;
      try {
        log.flush_log(params, buffer);
      } catch (...) {
      }
    }
  }

  // Answered only after the timers, so a caller that waited sees their work done as well.
  void answer_sync() {
    if (!answer) return;
    std::lock_guard<std::mutex> lock(log.mutex_);
    log.answered_ = answer;
    answer = 0;
    log.ended_cv_.notify_all();
  }

  // Last flush: keep trying for a while when the file cannot be written.
  void final_flush() {
    const uint32_t window_start = os::tick_count();
    while (!buffer.empty() && os::tick_count() - window_start < final_flush_window_ms) {
      try {
        log.flush_log(params, buffer);
      } catch (...) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
  }

  AsyncLog& log;
  LogWliParams params;
  std::wstring buffer;
  uint32_t last_flush = 0;
  uint32_t next_reload = 0;
  uint32_t next_flush = 0;
  uint64_t answer = 0;  // the last sync request taken
  bool flush_asked = false;
};

uint32_t AsyncLog::start() {
  // The parameters are read here, so that a log in overwrite mode is cleared at the start
  // and a run that logs nothing never starts a thread. Reading them may log (the parameter
  // file's own loader): no lock of the queue is held meanwhile.
  std::lock_guard<std::mutex> reading(reload_mutex_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (accepting_) return 0;
    if (thread_.joinable()) return os::err_already_initialized;  // a stop that ran out of time
  }
  std::unique_ptr<writer_state, state_deleter> state(
      new writer_state(*this, options_.base_path.empty() ? default_base_path() : options_.base_path));
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = std::move(state);
  ended_ = false;
  accepting_ = true;
  recording_ = state_->params.events.empty() ? recording_off : recording_on;
  next_check_ = state_->next_reload;
  return 0;
}

uint32_t AsyncLog::start_writer() {
  try {
    thread_ = std::thread(&AsyncLog::writer, this);
  } catch (const std::system_error&) {
    accepting_ = false;
    return os::err_not_enough_memory;
  }
  return 0;
}

bool AsyncLog::enabled() const {
  if (recording_.load(std::memory_order_relaxed) != recording_off) return true;
  if (ticks_until(next_check_.load(std::memory_order_relaxed), ticks()) > 0) return false;
  check_parameters();
  return recording_.load(std::memory_order_relaxed) != recording_off;
}

void AsyncLog::check_parameters() const {
  // One look at a time; a line logged while the file is read does not look again.
  if (checking_.exchange(true)) return;
  std::lock_guard<std::mutex> reading(reload_mutex_);
  bool due = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t now = ticks();
    if (state_ && ticks_until(next_check_, now) <= 0) {
      next_check_ = now + state_->reload_period();
      due = accepting_ && !thread_.joinable();  // a running writer reloads them itself
    }
  }
  if (due) {
    try {
      state_->params.reload();
    } catch (...) {
    }
    std::lock_guard<std::mutex> lock(mutex_);
    state_->next_reload = next_check_;
    if (accepting_) recording_ = state_->params.events.empty() ? recording_off : recording_on;
  }
  checking_ = false;
}

uint32_t AsyncLog::write(const std::wstring& tag, const std::wstring& text) {
  if (!enabled()) return 0;
  auto rec = std::make_unique<log_record>();
  os::realtime_now(rec->seconds, rec->nanoseconds);
  rec->tag = tag;
  rec->text = text;
  rec->process_id = os::process_id();
  rec->thread_id = os::thread_id();
  bool was_empty;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!accepting_) return os::err_invalid_handle;
    if (!thread_.joinable())
      if (const uint32_t code = start_writer()) return code;
    was_empty = queue_.empty();
    queue_.push_back(message{request::line, std::move(rec)});
  }
  // The writer only sleeps on an empty queue.
  if (was_empty) wake_.notify_one();
  return 0;
}

uint32_t AsyncLog::stop(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!thread_.joinable()) {
    // No line was ever asked for: there is no writer to end.
    if (!accepting_) return os::err_invalid_handle;
    accepting_ = false;
    recording_ = recording_unknown;
    return 0;
  }
  if (accepting_) {
    accepting_ = false;
    recording_ = recording_unknown;
    queue_.push_back(message{request::quit, nullptr});
    wake_.notify_one();
  }
  if (timeout_ms == no_limit) {
    ended_cv_.wait(lock, [this] { return ended_; });
  } else if (!ended_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return ended_; })) {
    return wait_timeout;
  }
  lock.unlock();
  thread_.join();
  return 0;
}

uint32_t AsyncLog::sync(bool write_file) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!accepting_) return os::err_invalid_handle;
  if (!thread_.joinable()) {
    // No writer: no line is waiting, only the parameters may be due for a look.
    lock.unlock();
    (void)enabled();
    return 0;
  }
  const uint64_t ticket = ++tickets_;
  const bool was_empty = queue_.empty();
  queue_.push_back(message{write_file ? request::flush : request::sync, nullptr, ticket});
  if (was_empty) wake_.notify_one();
  ended_cv_.wait(lock, [&] { return ended_ || answered_ >= ticket; });
  return 0;
}

uint32_t AsyncLog::ticks() const { return options_.clock ? options_.clock() : os::tick_count(); }

void AsyncLog::flush_log(LogWliParams& params, std::wstring& buffer) {
  if (buffer.empty()) return;
  os::handle h = os::invalid_handle;
  const uint32_t code = os::open_private_append(params.log_file, h);
  // Something other than a file at the log's name (a planted link, a FIFO): the lines are
  // dropped rather than written through it or waited on.
  if (code == os::err_invalid_data) {
    buffer.clear();
    return;
  }
  if (code != 0) throw file_error(params.log_file, code);
  THandle owner(h);
  const std::string bytes = wide_to_utf8(buffer);
  if (const uint32_t w = os::write_file(h, bytes.data(), bytes.size())) throw file_error(params.log_file, w);
  buffer.clear();
}

void AsyncLog::note_parameters(const LogWliParams& params) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (accepting_) recording_ = params.events.empty() ? recording_off : recording_on;
}

void AsyncLog::state_deleter::operator()(writer_state* s) const { delete s; }

void AsyncLog::writer() {
  thread_id_ = os::thread_id();
  writer_state& state = *state_;
  std::deque<message> batch;
  for (;;) {
    state.take(batch);
    const bool quit = state.handle(batch);
    batch.clear();
    if (quit) break;
    state.run_timers();
    state.answer_sync();
  }
  state.final_flush();
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  ended_cv_.notify_all();
}

} // namespace vela
