#include "vela/cmdline.h"

#include <cwctype>

#include "os/os.h"
#include "vela/wstr.h"

namespace vela {

namespace {

onetime_task* registration = nullptr;

bool ws(wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; }

std::wstring rest(const wchar_t* pos, const wchar_t* end) { return std::wstring(pos, end); }

result failure(uint32_t code, std::wstring text) { return result(code, std::move(text), 3); }

constexpr auto icase = std::regex_constants::ECMAScript | std::regex_constants::icase;

bool is_hex(wchar_t c) { return std::iswxdigit(static_cast<wint_t>(c)) != 0; }

} // namespace

// ---- argument_parser -----------------------------------------------------------

argument_parser::argument_parser(std::wstring name, std::wstring* target)
    : name_(std::move(name)), target_(target) {
  run_once_per_process(registration, [] { RegisterError(commandline_error, std::wstring()); });
  if (!name_.empty()) {
    value_form_ = std::wregex(L"^[-/]" + name_ + L":", icase);
    switch_form_ = std::wregex(L"^[-/]" + name_ + L"$|^[-/]" + name_ + L"\\s", icase);
  }
}

const wchar_t* argument_parser::match_value_form(const wchar_t* pos, const wchar_t* end) const {
  if (name_.empty()) return nullptr;
  std::wcmatch m;
  if (!std::regex_search(pos, end, m, value_form_)) return nullptr;
  return pos + m.length(0);
}

std::wstring argument_parser::option_as_written(const wchar_t* pos, const wchar_t* value) {
  return std::wstring(pos, value - 1);  // without the colon
}

result argument_parser::second_use(const std::wstring& text) { return failure(os::err_already_initialized, text); }

result argument_parser::parse(const wchar_t*& pos, const wchar_t* end) {
  if (name_.empty()) {
    // A positional argument: anything that is not an option.
    static const std::wregex option_test(L"^[-/].+", std::regex_constants::ECMAScript);
    if (std::regex_search(pos, end, option_test)) return failure(os::err_not_supported, rest(pos, end));
    if (uses++ != 0 && !repeatable()) return second_use(rest(pos, end));
    bool quoted = false;
    const wchar_t* p = pos;
    for (; p != end && (quoted || !ws(*p)); ++p)
      if (*p == L'"') quoted = !quoted;
    if (quoted) return failure(os::err_invalid_parameter, rest(pos, end));
    target_->assign(pos, p);
    strip_pairs(*target_, L'"');
    pos = p;
    return result();
  }
  if (const wchar_t* v = match_value_form(pos, end)) {
    if (v == end || ws(*v)) return failure(os::err_invalid_parameter, rest(pos, end));
    if (uses++ != 0 && !repeatable()) return second_use(option_as_written(pos, v));
    const wchar_t *begin, *stop;
    if (*v == L'"') {
      // Runs to the first quote followed by white space or the end of the line.
      begin = v + 1;
      stop = begin;
      while (stop != end && !(*stop == L'"' && (stop + 1 == end || ws(stop[1])))) ++stop;
    } else {
      begin = stop = v;
      while (stop != end && !ws(*stop)) ++stop;
    }
    target_->assign(begin, stop);
    pos = stop == end ? end : stop + 1;
    return result();
  }
  std::wcmatch m;
  if (std::regex_search(pos, end, m, switch_form_)) {
    const wchar_t* word_end = pos;
    while (word_end != end && !ws(*word_end)) ++word_end;
    if (uses++ != 0 && !repeatable()) return second_use(std::wstring(pos, word_end));
    pos = word_end;
    return result();
  }
  return failure(os::err_not_supported, rest(pos, end));
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

result commandline_bool_argument_parser::parse(const wchar_t*& pos, const wchar_t* end) {
  value_.clear();
  const result r = argument_parser::parse(pos, end);
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

result commandline_argument_escape_parser::parse(const wchar_t*& pos, const wchar_t* end) {
  const wchar_t* v = match_value_form(pos, end);
  if (!v) return failure(os::err_not_supported, std::wstring());
  if (v == end || ws(*v)) return failure(os::err_invalid_parameter, rest(pos, end));
  if (uses++ != 0 && !repeatable()) return second_use(option_as_written(pos, v));
  const wchar_t* stop;
  if (*v == L'"') {
    stop = v + 1;
    while (stop != end) {
      if (*stop == L'\\' && stop + 1 != end && (stop[1] == L'\\' || stop[1] == L'"')) {
        stop += 2;
        continue;
      }
      if (*stop == L'"' && (stop + 1 == end || ws(stop[1]))) break;
      ++stop;
    }
    target_->assign(v + 1, stop);
    replace_all(*target_, L"\\\"", L"\"");
  } else {
    stop = v;
    while (stop != end && !ws(*stop)) ++stop;
    target_->assign(v, stop);
  }
  pos = stop == end ? end : stop + 1;
  *target_ = unescape(*target_);
  return result();
}

// ---- sub-values ------------------------------------------------------------------

commandline_argument_subvalues_parser::commandline_argument_subvalues_parser(std::wstring name, string_list* target)
    : argument_parser(std::move(name), &value_), list_(target) {}

result commandline_argument_subvalues_parser::parse(const wchar_t*& pos, const wchar_t* end) {
  const wchar_t* v = match_value_form(pos, end);
  if (!v) return failure(os::err_not_supported, std::wstring());
  list_->clear();
  if (v == end || ws(*v)) return failure(os::err_invalid_parameter, rest(pos, end));
  if (uses++ != 0 && !repeatable()) return second_use(option_as_written(pos, v));
  const wchar_t* p = v;
  for (;;) {
    if (p != end && *p == L'"') {
      const wchar_t* s = p + 1;
      const wchar_t* q = s;
      while (q != end && !(*q == L'"' && (q + 1 == end || ws(q[1]) || q[1] == L','))) ++q;
      list_->emplace_back(s, q);
      if (q == end) {
        p = end;
        break;
      }
      p = q + 1;
    } else {
      const wchar_t* s = p;
      while (p != end && *p != L',' && !ws(*p)) ++p;
      list_->emplace_back(s, p);
    }
    if (p == end || *p != L',') break;  // the end of the line or white space ends the argument
    if (++p == end) break;               // a comma at the very end starts no sub-value
  }
  value_.assign(v, p);
  pos = p;
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

result commandline_filename_parser::parse(const wchar_t*& pos, const wchar_t* end) {
  const wchar_t* start = pos;
  const result r = commandline_argument_subvalues_parser::parse(pos, end);
  if (!r.succeeded()) return r;
  return take_file_name(std::wstring(start, pos));
}

result commandline_filename_parser::parse_word(const std::wstring& name, const std::wstring& value,
                                               const string_list& subvalues) {
  const result r = commandline_argument_subvalues_parser::parse_word(name, value, subvalues);
  if (!r.succeeded()) return r;
  return take_file_name(value);
}

// ---- the parsers -----------------------------------------------------------------

commandline_parser::commandline_parser() : task(0), command_line_(os::command_line()) {}

commandline_parser::commandline_parser(std::wstring command_line) : task(0), command_line_(std::move(command_line)) {}

void commandline_parser::reset_uses() {
  for (QueueIter<argument_parser> it(parsers_); !it.done(); it.next()) it.current()->uses = 0;
}

void commandline_parser::do_run() {
  reset_uses();
  std::wstring line = command_line_;
  trim(line, L" ");
  // Words at blanks outside double quotes.
  string_list words;
  std::wstring word;
  bool quoted = false;
  for (wchar_t c : line) {
    if (c == L'"') quoted = !quoted;
    if (c == L' ' && !quoted) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  for (auto& w : words) {
    size_t quotes = 0;
    for (wchar_t c : w) quotes += c == L'"';
    if (quotes == 2 && w.size() >= 2 && w.front() == L'"' && w.back() == L'"') w = w.substr(1, w.size() - 2);
  }
  result total;
  for (size_t i = 1; i < words.size(); ++i) {
    const std::wstring& w = words[i];
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
    if (!outcome.succeeded()) outcome = result(outcome.code(), w, 3);
    total.merge(outcome);
  }
  if (!total.succeeded()) throw windows_error(total);
}

void commandline_customized_parser::do_run() {
  reset_uses();
  const wchar_t* p = command_line_.data();
  const wchar_t* const end = p + command_line_.size();
  // The program name, with quotes.
  bool quoted = false;
  for (; p != end && (quoted || !ws(*p)); ++p)
    if (*p == L'"') quoted = !quoted;
  for (;;) {
    while (p != end && ws(*p)) ++p;
    if (p == end) return;
    const wchar_t* const before = p;
    result r = failure(os::err_not_supported, rest(p, end));
    for (QueueIter<argument_parser> it(parsers_); !it.done() && r.code() == os::err_not_supported; it.next())
      r = it.current()->parse(p, end);
    if (!r.succeeded()) throw windows_error(r);
    if (p == before) throw windows_error(failure(os::err_invalid_parameter, rest(p, end)));
  }
}

} // namespace vela
