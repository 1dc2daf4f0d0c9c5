#include "vela/cmdline.h"

#include <algorithm>
#include <cwctype>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>

#include "os/os.h"
#include "vela/wstr.h"

namespace vela {

namespace {

onetime_task* registration = nullptr;

constexpr auto icase = std::regex_constants::ECMAScript | std::regex_constants::icase;

bool is_hex(wchar_t c) { return std::iswxdigit(static_cast<wint_t>(c)) != 0; }

} // namespace

// ---- argument_parser -----------------------------------------------------------

namespace {

struct option_patterns {
  std::wregex value_form;
  std::wregex switch_form;
};

// The patterns of an option name, compiled once per process.
const option_patterns& patterns_of(const std::wstring& name) {
  static std::mutex guard;
  static std::map<std::wstring, std::unique_ptr<option_patterns>> compiled;
  const std::lock_guard<std::mutex> lock(guard);
  std::unique_ptr<option_patterns>& p = compiled[name];
  if (!p) {
    p = std::make_unique<option_patterns>();
    p->value_form = std::wregex(L"^[-/]" + name + L":", icase);
    p->switch_form = std::wregex(L"[-/]" + name, icase);
  }
  return *p;
}

bool is_option(const std::wstring& arg) {
  return arg.size() >= 2 && (arg[0] == L'-' || arg[0] == L'/');
}

bool word_char(wchar_t c) {
  return (c >= L'0' && c <= L'9') || ((c | 0x20) >= L'a' && (c | 0x20) <= L'z') || c == L'_' || c == L'-';
}

// The words of a name that is only a choice of words ("cs|connection_string", in
// parentheses or not), which are matched without compiling a pattern; empty for any other.
std::vector<std::wstring> words_of(const std::wstring& name) {
  std::wstring_view rest(name);
  if (rest.size() >= 2 && rest.front() == L'(' && rest.back() == L')') rest = rest.substr(1, rest.size() - 2);
  std::vector<std::wstring> words;
  for (;;) {
    const std::wstring_view word = rest.substr(0, rest.find(L'|'));
    if (word.empty() || !std::all_of(word.begin(), word.end(), word_char)) return {};
    words.emplace_back(word);
    if (word.size() == rest.size()) return words;
    rest.remove_prefix(word.size() + 1);
  }
}

bool is_ascii(std::wstring_view text) {
  return std::all_of(text.begin(), text.end(), [](wchar_t c) { return static_cast<uint32_t>(c) < 0x80; });
}

bool same_ascii_nocase(std::wstring_view a, std::wstring_view b) {
  const auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c | 0x20) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](wchar_t x, wchar_t y) { return fold(x) == fold(y); });
}

} // namespace

argument_parser::argument_parser(std::wstring name, std::wstring* target)
    : name_(std::move(name)), target_(target), words_(words_of(name_)) {
  run_once_per_process(registration, [] { RegisterError(commandline_error, std::wstring()); });
  // A bad name fails here, not in the middle of a parse.
  if (!name_.empty() && words_.empty()) patterns_of(name_);
}

// Whether the option word of arg (behind its "-" or "/") is one of the words; nullopt when
// only the pattern can tell (letters beyond ASCII, whose case the pattern folds its own way).
std::optional<bool> argument_parser::is_word(std::wstring_view word) const {
  if (words_.empty() || !is_ascii(word)) return std::nullopt;
  return std::any_of(words_.begin(), words_.end(), [word](const std::wstring& w) { return same_ascii_nocase(w, word); });
}

size_t argument_parser::match_value_form(const std::wstring& arg) const {
  if (name_.empty()) return std::wstring::npos;
  const size_t colon = arg.find(L':');
  if (is_option(arg) && colon != std::wstring::npos) {
    if (const std::optional<bool> known = is_word(std::wstring_view(arg).substr(1, colon - 1)))
      return *known ? colon + 1 : std::wstring::npos;
  } else if (!words_.empty()) {
    return std::wstring::npos;
  }
  std::wsmatch m;
  if (!std::regex_search(arg, m, patterns_of(name_).value_form)) return std::wstring::npos;
  return static_cast<size_t>(m.length(0));
}

bool argument_parser::match_switch_form(const std::wstring& arg) const {
  if (name_.empty()) return false;
  if (!words_.empty() && !is_option(arg)) return false;
  if (const std::optional<bool> known = is_word(std::wstring_view(arg).substr(std::min<size_t>(arg.size(), 1)))) return *known;
  return std::regex_match(arg, patterns_of(name_).switch_form);
}

result argument_parser::second_use(const std::wstring& text) { return failure(os::err_already_initialized, text); }

std::wstring unquote_value(std::wstring value) {
  if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') return value.substr(1, value.size() - 2);
  return value;
}

result argument_parser::parse(const std::wstring& arg, const std::wstring& rest) {
  if (name_.empty()) {
    // A positional argument: anything that is not an option.
    if (is_option(arg)) return failure(os::err_not_supported, rest);
    if (uses++ != 0 && !repeatable()) return second_use(rest);
    *target_ = arg;
    strip_pairs(*target_, L'"');
    return result();
  }
  const size_t v = match_value_form(arg);
  if (v != std::wstring::npos) {
    // The shell has taken the quotes away: a blank after the colon is the value's own.
    if (v == arg.size()) return failure(os::err_invalid_parameter, rest);
    if (uses++ != 0 && !repeatable()) return second_use(arg.substr(0, v - 1));
    *target_ = unquote_value(arg.substr(v));
    return result();
  }
  if (match_switch_form(arg)) {
    if (uses++ != 0 && !repeatable()) return second_use(arg);
    return result();
  }
  return failure(os::err_not_supported, rest);
}

result argument_parser::parse_word(const std::wstring& name, const std::wstring& value, const string_list&) {
  if (compare_nocase(name_, name) != 0) return failure(os::err_not_supported, std::wstring());
  if (uses++ != 0 && !repeatable()) return second_use(name);
  *target_ = value;
  return result();
}

// ---- switches ------------------------------------------------------------------

commandline_bool_argument_parser::commandline_bool_argument_parser(std::wstring name, bool* target)
    : argument_parser(std::move(name), &value_), flag_(target) {
  *flag_ = false;
}

result commandline_bool_argument_parser::parse(const std::wstring& arg, const std::wstring& rest) {
  value_.clear();
  const result r = argument_parser::parse(arg, rest);
  if (!r.succeeded()) return r;
  if (!value_.empty()) return failure(os::err_invalid_parameter, value_);
  *flag_ = true;
  return result();
}

result commandline_bool_argument_parser::parse_word(const std::wstring& name, const std::wstring& value,
                                                    const string_list& subvalues) {
  const result r = argument_parser::parse_word(name, value, subvalues);
  if (!r.succeeded()) return r;
  if (!value_.empty()) return failure(os::err_invalid_parameter, value_);
  *flag_ = true;
  return result();
}

// ---- escaped values ------------------------------------------------------------

std::wstring unescape(const std::wstring& in) {
  std::wstring s = in;
  size_t i = 0;
  while (i + 1 < s.size()) {
    if (s[i] != L'\\') {
      ++i;
      continue;
    }
    const wchar_t c = s[i + 1];
    switch (c) {
      case L'\\':
      case L'\'':
      case L'"': s.erase(i, 1); break;
      case L't': s.replace(i, 2, 1, L'\t'); break;
      case L'r': s.replace(i, 2, 1, L'\r'); break;
      case L'n': s.replace(i, 2, 1, L'\n'); break;
      case L'u':
        if (i + 5 < s.size() && is_hex(s[i + 2]) && is_hex(s[i + 3]) && is_hex(s[i + 4]) && is_hex(s[i + 5]))
          s.replace(i, 6, 1, static_cast<wchar_t>(std::stoul(s.substr(i + 2, 4), nullptr, 16)));
        break;
      case L'x':
        if (i + 3 < s.size() && is_hex(s[i + 2]) && is_hex(s[i + 3]))
          s.replace(i, 4, 1, static_cast<wchar_t>(std::stoul(s.substr(i + 2, 2), nullptr, 16)));
        break;
      default: break;
    }
    ++i;  // behind the produced (or kept) character
  }
  return s;
}

result commandline_argument_escape_parser::parse(const std::wstring& arg, const std::wstring& /*rest*/) {
  const size_t v = match_value_form(arg);
  if (v == std::wstring::npos) return failure(os::err_not_supported, std::wstring());
  // The value is text: it may be empty or start with a blank ("-cd: |").
  if (uses++ != 0 && !repeatable()) return second_use(arg.substr(0, v - 1));
  *target_ = unescape(unquote_value(arg.substr(v)));
  return result();
}

// ---- sub-values ------------------------------------------------------------------

commandline_argument_subvalues_parser::commandline_argument_subvalues_parser(std::wstring name, string_list* target)
    : argument_parser(std::move(name), &value_), list_(target) {}

result commandline_argument_subvalues_parser::parse(const std::wstring& arg, const std::wstring& rest) {
  const size_t v = match_value_form(arg);
  if (v == std::wstring::npos) return failure(os::err_not_supported, std::wstring());
  list_->clear();
  if (v == arg.size()) return failure(os::err_invalid_parameter, rest);
  if (uses++ != 0 && !repeatable()) return second_use(arg.substr(0, v - 1));
  const size_t end = arg.size();
  size_t p = v;
  for (;;) {
    if (p != end && arg[p] == L'"') {
      // Runs to the first quote followed by a comma or the end of the argument.
      size_t q = p + 1;
      while (q != end && !(arg[q] == L'"' && (q + 1 == end || arg[q + 1] == L','))) ++q;
      list_->push_back(arg.substr(p + 1, q - p - 1));
      p = q == end ? end : q + 1;
    } else {
      const size_t s = p;
      while (p != end && arg[p] != L',') ++p;
      list_->push_back(arg.substr(s, p - s));
    }
    if (p == end) break;
    if (++p == end) break;  // a comma at the very end starts no sub-value
  }
  value_ = arg.substr(v);
  return result();
}

result commandline_argument_subvalues_parser::parse_word(const std::wstring& name, const std::wstring& value,
                                                         const string_list& subvalues) {
  const result r = argument_parser::parse_word(name, value, subvalues);
  if (r.succeeded()) *list_ = subvalues;
  return r;
}

// ---- file names ------------------------------------------------------------------

commandline_filename_parser::commandline_filename_parser(std::wstring name, std::wstring* file_name,
                                                         text_file_code_page* code_page)
    : commandline_argument_subvalues_parser(std::move(name), &parts_), file_name_(file_name), code_page_(code_page) {}

result commandline_filename_parser::take_file_name(const std::wstring& consumed) {
  file_name_->clear();
  *code_page_ = text_file_code_page{auto_code_page, false};
  if (parts_.empty() || parts_.size() > 2) return failure(os::err_invalid_parameter, consumed);
  *file_name_ = parts_[0];
  if (parts_.size() == 2) *code_page_ = parse_code_page(parts_[1]);
  return result();
}

result commandline_filename_parser::parse(const std::wstring& arg, const std::wstring& rest) {
  const result r = commandline_argument_subvalues_parser::parse(arg, rest);
  if (!r.succeeded()) return r;
  return take_file_name(arg);
}

result commandline_filename_parser::parse_word(const std::wstring& name, const std::wstring& value,
                                               const string_list& subvalues) {
  const result r = commandline_argument_subvalues_parser::parse_word(name, value, subvalues);
  if (!r.succeeded()) return r;
  return take_file_name(value);
}

// ---- the parsers -----------------------------------------------------------------

commandline_parser::commandline_parser() : commandline_parser(os::command_args()) {}

commandline_parser::commandline_parser(string_list args)
    : task(0), args_(std::move(args)), command_line_(os::join_command_line(args_)) {}

void commandline_parser::reset_uses() {
  for (QueueIter<argument_parser> it(parsers_); !it.done(); it.next()) it.current()->uses = 0;
}

void commandline_parser::do_run() {
  reset_uses();
  result total;
  for (size_t i = 1; i < args_.size(); ++i) {
    const std::wstring w = unquote_value(args_[i]);
    if (w.empty()) continue;
    std::wstring name, value;
    if (w[0] == L'-' || w[0] == L'/') {
      const size_t colon = w.find(L':');
      name = w.substr(1, colon == std::wstring::npos ? std::wstring::npos : colon - 1);
      if (colon != std::wstring::npos) value = w.substr(colon + 1);
    } else {
      value = w;
    }
    string_list subvalues;
    size_t start = 0;
    for (;;) {
      const size_t comma = value.find(L',', start);
      std::wstring part = value.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
      strip_pairs(part, L'"');
      subvalues.push_back(part);
      if (comma == std::wstring::npos) break;
      start = comma + 1;
    }
    if (subvalues.size() == 1) strip_pairs(value, L'"');
    result outcome = failure(os::err_not_supported, name + L" ");
    for (QueueIter<argument_parser> it(parsers_); !it.done(); it.next()) {
      const result r = it.current()->parse_word(name, value, subvalues);
      if (r.succeeded()) outcome = result();
      else if (r.code() != os::err_not_supported) outcome = r;
    }
    if (!outcome.succeeded()) outcome = failure(outcome.code(), w);
    total.merge(outcome);
  }
  if (!total.succeeded()) throw windows_error(total);
}

void commandline_customized_parser::do_run() {
  reset_uses();
  for (size_t i = 1; i < args_.size(); ++i) {
    const std::wstring rest = os::join_command_line(string_list(args_.begin() + static_cast<std::ptrdiff_t>(i), args_.end()), false);
    result r = failure(os::err_not_supported, rest);
    for (QueueIter<argument_parser> it(parsers_); !it.done() && r.code() == os::err_not_supported; it.next())
      r = it.current()->parse(args_[i], rest);
    if (!r.succeeded()) throw windows_error(r);
  }
}

} // namespace vela
