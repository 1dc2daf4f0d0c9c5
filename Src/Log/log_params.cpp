// Log parameters, their ".wli" file and its two formats.
#include <cstdlib>
#include <string>

#include "Log/log_place.h"
#include "os/os.h"
#include "vela/async_log.h"
#include "vela/file.h"
#include "vela/format.h"
#include "vela/ini.h"
#include "vela/utf.h"
#include "vela/wstr.h"

namespace vela {

b_time log_record::time() const {
  const os::local_time lt = os::to_local(seconds, nanoseconds);
  b_time t;
  t.set(lt.year, lt.month, lt.day, lt.hour, lt.minute, lt.second, lt.millisecond);
  return t;
}

void LogParams::reset() {
  time_format = L"dd.MM.yyyy HH:mm:ss.ii";
  show_pid = true;
  show_tid = true;
  start_mode = start_append;
  flush_seconds = 60;
  flush_bytes = 4096;
  events.clear();
}

// The compiled form of a pattern, or null when the engine refuses it.
const os::pattern* LogParams::compiled(const std::wstring& pattern) const {
  auto found = compiled_.find(pattern);
  if (found != compiled_.end()) return found->second.get();
  // Patterns come from the parameter file; a file rewritten many times must not grow the cache without end.
  if (compiled_.size() >= 256) compiled_.clear();
  auto re = std::make_shared<os::pattern>(pattern);
  if (!re->ok()) re.reset();
  return compiled_.emplace(pattern, std::move(re)).first->second.get();
}

bool LogParams::accepts(const std::wstring& tag, const std::wstring& text) const {
  if (events.empty()) return false;
  for (const auto& [tag_pattern, text_pattern] : events) {
    // A pattern the engine refuses drops the line.
    const os::pattern* tag_re = compiled(tag_pattern);
    if (!tag_re) return false;
    if (!tag_re->full_match(tag)) continue;
    if (text_pattern.empty()) return true;
    const os::pattern* text_re = compiled(text_pattern);
    if (!text_re) return false;
    if (text_re->full_match(text)) return true;
  }
  return false;
}

std::wstring LogParams::format_line(const log_record& rec) const {
  if (!accepts(rec.tag, rec.text)) return {};
  std::wstring line = rec.tag;
  auto part = [&line](const std::wstring& p) {
    if (!line.empty()) line += L' ';
    line += p;
  };
  if (!time_format.empty()) part(rec.time().format(time_format));
  if (show_pid) part(wformat(L"PID=%04X", rec.process_id));
  if (show_tid) part(wformat(L"TID=%04X", rec.thread_id));
  part(rec.text);
  line += L"\r\n";
  return line;
}

LogWliParams::LogWliParams(const std::wstring& base) : base_path(base) {
  reset();
  wli_path = base + L".wli";
  log_file = base + L".log";
}

void LogWliParams::reset() {
  LogParams::reset();
  reload_seconds = 60;
  wli_time = b_time();
  stamp_seconds_ = -1;
  stamp_nanoseconds_ = -1;
}

void LogWliParams::prepare_log_file() {
  const size_t slash = base_path.rfind(L'/');
  const std::wstring name = slash == std::wstring::npos ? base_path : base_path.substr(slash + 1);
  switch (start_mode) {
    case start_append: log_name_ = name + L".log"; break;
    case start_overwrite: log_name_ = name + L".log"; break;
    case start_new: log_name_ = name + b_time::now().format(L"yyyyMMdd-HHmmssii") + L".log"; break;
    default: break;
  }
  if (log_name_.empty()) return;
  // Beside the parameter file that switched the log on (when there is one yet).
  log_file = log_place::log_folder(wli_path, stamp_seconds_ != -1) + log_name_;
  if (start_mode == start_overwrite) os::remove_file(log_file);
}

} // namespace vela

// ---- the two file formats ----------------------------------------------------------

namespace {

// Text from the parameter file: UTF-8 when it is valid UTF-8, the ANSI code page otherwise.
std::wstring widen(const char* s) {
  const std::string_view v(s);
  return vela::valid_utf8(v) ? vela::utf8_to_wide(v) : vela::ansi_to_wide(v);
}

} // namespace

// The INI format: sections "Prms" and "Evts".
class LogWliParamsLoader2 {
 public:
  virtual ~LogWliParamsLoader2() = default;
  virtual int load(vela::LogWliParams& params, const std::wstring& path) const {
    params.reset();
    vela::TIni ini;
    ini.Ld(path, vela::file_access::share_read);
    const vela::TIniSection* prms = ini.find("Prms");
    if (!prms) return 13;
    if (const auto* v = prms->find("TmFrmt")) params.time_format = widen(v->text().c_str());
    if (const auto* v = prms->find("PID")) params.show_pid = vela::compare_ascii_nocase(v->text().c_str(), "On") == 0;
    if (const auto* v = prms->find("TID")) params.show_tid = vela::compare_ascii_nocase(v->text().c_str(), "On") == 0;
    if (const auto* v = prms->find("StrtMd")) {
      const char* m = v->text().c_str();
      if (vela::compare_ascii_nocase(m, "ovrwrt") == 0 || vela::compare_ascii_nocase(m, "overwrite") == 0) params.start_mode = vela::start_overwrite;
      else if (vela::compare_ascii_nocase(m, "new") == 0) params.start_mode = vela::start_new;
      else params.start_mode = vela::start_append;
    }
    if (const auto* v = prms->find("FlshSec")) params.flush_seconds = seconds(v);
    else if (const auto* w = prms->find("flushseconds")) params.flush_seconds = seconds(w);
    if (const auto* v = prms->find("flushlines")) params.flush_bytes = number(v);
    else if (const auto* w = prms->find("FlshLns")) params.flush_bytes = number(w) * 80;
    const vela::TIniSection* evts = ini.find("Evts");
    if (!evts) return 13;
    for (uint32_t i = 0; i < evts->count(); ++i) {
      const vela::TIniVal* e = evts->at(i);
      params.events[widen(e->name().c_str())] = widen(e->text().c_str());
    }
    return 0;
  }

 private:
  static uint32_t number(const vela::TIniVal* v) {
    return static_cast<uint32_t>(std::strtol(v->text().c_str(), nullptr, 10));
  }
  // A period: a negative one means 0 (flush at once), a huge one is cut to the longest
  // period the writer's timers take.
  static uint32_t seconds(const vela::TIniVal* v) {
    const long n = std::strtol(v->text().c_str(), nullptr, 10);
    if (n < 0) return 0;
    return n > static_cast<long>(vela::max_flush_seconds) ? vela::max_flush_seconds : static_cast<uint32_t>(n);
  }
};

// The older line format: "+TAG" adds an event, "!X" flushes every line at once.
class LogWliParamsLoader {
 public:
  virtual ~LogWliParamsLoader() = default;
  virtual int load(vela::LogWliParams& params, const std::wstring& path) const {
    params.reset();
    vela::file f;
    f.open(path, vela::file_access::read, vela::file_access::share_read, nullptr, vela::file_access::open_existing,
           vela::file_access::normal_attributes, 0);
    int64_t size = 0;
    if (f.size(size) != 0 || size == 0) return 13;
    std::string bytes(static_cast<size_t>(size), '\0');
    size_t got = 0;
    if (f.read(bytes.data(), bytes.size(), got) != 0)
      throw vela::wexception(L"!::ReadFile(wli,buf,fsz,&bytes_read,nullptr) at ..\\Src\\Log\\PrmsLdr line 22");
    bytes.resize(got);
    size_t pos = 0;
    while (pos < bytes.size()) {
      const size_t end = bytes.find_first_of("\r\n", pos);
      const std::string line = bytes.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
      pos = end == std::string::npos ? bytes.size() : end + 1;
      std::string token;
      for (char c : line) {
        if (c == ' ') continue;
        token += c;
        if (token.size() == 4) break;
      }
      if (token.empty()) continue;
      if (token[0] == '+') {
        params.events[widen(token.substr(1).c_str())] = L"";
      } else if (token[0] == '!') {
        if (vela::compare_ascii_nocase(token.substr(1).c_str(), "IMM") != 0) params.flush_bytes = 1;
      }
    }
    return 0;
  }
};

namespace vela {

void LogWliParams::reload() {
  int64_t seconds = 0;
  long nanoseconds = 0;
  const std::wstring found = log_place::find_wli(base_path, seconds, nanoseconds);
  if (found.empty()) {
    reset();
    return;
  }
  if (found != wli_path) {  // another place switches the log on now
    wli_path = found;
    stamp_seconds_ = -1;
  }
  // The log follows the parameter file that switched it on.
  if (stamp_seconds_ == -1 && !log_name_.empty()) log_file = log_place::log_folder(wli_path, true) + log_name_;
  if (seconds == stamp_seconds_ && nanoseconds == stamp_nanoseconds_) return;
  if (LogWliParamsLoader2().load(*this, wli_path) != 0) LogWliParamsLoader().load(*this, wli_path);
  stamp_seconds_ = seconds;
  stamp_nanoseconds_ = nanoseconds;
  const os::local_time lt = os::to_local(seconds, nanoseconds);
  wli_time.set(lt.year, lt.month, lt.day, lt.hour, lt.minute, lt.second, lt.millisecond);
}

} // namespace vela
