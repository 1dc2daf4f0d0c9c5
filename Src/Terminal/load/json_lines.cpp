#include "Terminal/load/json_lines.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cwctype>

#include "Terminal/output/json_text.h"
#include "Terminal/strings.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/query.h"
#include "vela/utf.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

using json = nlohmann::json;

// The events of one object's parse: members at the top level go out whole, nested values are
// written again as JSON text (numbers with the digits they came with).
class member_events {
 public:
  explicit member_events(const json_member& m) : member_(m) {}
  bool stopped = false;  // the sink said no
  std::string why;

  bool null() { return scalar(json_kind::null, "null"); }
  bool boolean(bool v) { return scalar(json_kind::boolean, v ? "true" : "false"); }
  bool number_integer(json::number_integer_t v) { return scalar(json_kind::number, std::to_string(v)); }
  bool number_unsigned(json::number_unsigned_t v) { return scalar(json_kind::number, std::to_string(v)); }
  bool number_float(json::number_float_t, const std::string& s) { return scalar(json_kind::number, s); }
  bool string(std::string& s) {
    if (depth_ > 1) {
      comma();
      quoted(s);
      return true;
    }
    return top(json_kind::string, s);
  }
  bool binary(json::binary_t&) { return false; }
  bool start_object(std::size_t) { return open('{'); }
  bool start_array(std::size_t) {
    if (depth_ == 0) return not_object("an array");
    return open('[');
  }
  bool key(std::string& k) {
    if (depth_ == 1) {
      key_ = k;
      return true;
    }
    comma();
    quoted(k);
    nested_ += ':';
    after_ = false;
    return true;
  }
  bool end_object() { return close('}'); }
  bool end_array() { return close(']'); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
    if (why.empty()) {
      // "[json.exception.parse_error.101] parse error at line 1, column 5: syntax error …": the
      // part after the place, since the line is told by the load.
      why = e.what();
      const size_t at = why.find("column ");
      const size_t colon = at == std::string::npos ? std::string::npos : why.find(": ", at);
      if (colon != std::string::npos) why.erase(0, colon + 2);
    }
    return false;
  }

 private:
  bool not_object(const char* what) {
    why = what;
    return false;
  }
  bool scalar(json_kind k, const std::string& text) {
    if (depth_ > 1) {
      comma();
      nested_ += text;
      return true;
    }
    return top(k, text);
  }
  bool top(json_kind k, const std::string& text) {
    if (depth_ == 0) return not_object("a single value");
    if (member_(key_, k, text)) return true;
    stopped = true;
    return false;
  }
  void comma() {
    if (after_) nested_ += ',';
    after_ = true;
  }
  void quoted(const std::string& s) {
    nested_ += '"';
    append_json_escaped(nested_, s.data(), s.size());
    nested_ += '"';
  }
  bool open(char c) {
    if (depth_ == 1) nested_.clear();
    else if (depth_ > 1) comma();
    if (depth_++ > 0) nested_ += c;
    after_ = false;
    return true;
  }
  bool close(char c) {
    if (--depth_ == 0) return true;
    nested_ += c;
    after_ = true;
    return depth_ > 1 || top(json_kind::nested, nested_);
  }

  const json_member& member_;
  int depth_ = 0;
  bool after_ = false;  // a value went before: the next one needs a comma
  std::string key_;
  std::string nested_;
};

std::string folded(std::string_view s) { return wide_to_utf8(to_upper_copy(utf8_to_wide(s))); }

} // namespace

bool each_json_member(std::string_view line, const json_member& member, std::wstring& why) {
  member_events events(member);
  const bool ok = json::sax_parse(line.begin(), line.end(), &events);
  if (ok || events.stopped) return ok;
  why = message(string_id::json_not_object, utf8_to_wide(events.why).c_str());
  return false;
}

bool blank_line(std::wstring_view line) {
  for (const wchar_t c : line)
    if (!std::iswspace(static_cast<wint_t>(c))) return false;
  return true;
}

json_row_reader::json_row_reader(std::vector<std::wstring> names, std::vector<char> words)
    : names_(std::move(names)), words_(std::move(words)) {
  words_.resize(names_.size(), 1);
  for (size_t i = 0; i < names_.size(); ++i) {
    const std::string name = wide_to_utf8(names_[i]);
    exact_.emplace(name, i);
    const auto [at, fresh] = folded_.emplace(folded(name), i);
    if (!fresh) at->second = SIZE_MAX;
  }
}

result json_row_reader::of_table(odbc::connection& c, const std::wstring& table, const std::vector<std::wstring>& columns,
                                 const std::vector<std::wstring>* made, std::unique_ptr<json_row_reader>& out) {
  if (made) {
    out = std::make_unique<json_row_reader>(*made, std::vector<char>());  // booleans as words: the load shapes them
    return result();
  }
  std::wstring list;
  for (const auto& n : columns) list += (list.empty() ? L"" : L", ") + n;
  const std::wstring text = L"SELECT " + (list.empty() ? std::wstring(L"*") : list) + L" FROM " + table + L" WHERE 1=0";
  odbc::query q(&c, text);
  if (const result r = q.execute(text, false, false); !r.succeeded()) return r;
  std::vector<std::wstring> names;
  std::vector<char> words;
  for (size_t i = 0; i < q.rows().count(); ++i) {
    const odbc::column& col = q.rows().at(i);
    names.push_back(col.name());
    words.push_back(col.kind() == odbc::type_class::text || col.kind() == odbc::type_class::long_text ? 1 : 0);
  }
  out = std::make_unique<json_row_reader>(std::move(names), std::move(words));
  return result();
}

bool json_row_reader::column_of(const std::string& key, size_t& i) const {
  if (const auto e = exact_.find(key); e != exact_.end()) {
    i = e->second;
    return true;
  }
  const auto f = folded_.find(folded(key));
  if (f == folded_.end() || f->second == SIZE_MAX) return false;
  i = f->second;
  return true;
}

bool json_row_reader::read(std::wstring_view line, odbc::bulk_row& row, std::wstring& why) {
  row.reset(names_.size());
  row.nulls.assign(names_.size(), 1);  // a key not given is NULL
  utf8_ = wide_to_utf8(line);
  const bool ok = each_json_member(utf8_, [&](const std::string& key, json_kind kind, const std::string& text) {
    size_t i = 0;
    if (!column_of(key, i)) {
      why = message(string_id::json_unknown_key, utf8_to_wide(key).c_str());
      return false;
    }
    row.nulls[i] = kind == json_kind::null ? 1 : 0;
    if (kind == json_kind::boolean && !words_[i]) row.values[i] = text == "true" ? L"1" : L"0";
    else if (kind != json_kind::null) row.values[i] = utf8_to_wide(text);
    else row.values[i].clear();
    return true;
  }, why);
  return ok;
}

json_line_writer::json_line_writer(odbc::resultset& columns) {
  for (size_t i = 0; i < columns.count(); ++i) {
    const odbc::column& c = columns.at(i);
    const std::string name = wide_to_utf8(c.name());
    std::string k = i == 0 ? "{\"" : ",\"";
    append_json_escaped(k, name.data(), name.size());
    k += "\":";
    keys_.push_back(std::move(k));
    numbers_.push_back(c.kind() == odbc::type_class::number || c.sql_type() == -5 || c.sql_type() == -6 ? 1 : 0);
    booleans_.push_back(c.boolean() ? 1 : 0);
  }
}

void json_line_writer::append(std::wstring& out, const odbc::bulk_row& row) {
  line_.clear();
  for (size_t i = 0; i < row.values.size() && i < keys_.size(); ++i) {
    line_ += keys_[i];
    if (row.nulls[i]) {
      line_ += "null";
      continue;
    }
    const std::string v = wide_to_utf8(row.values[i]);
    if (numbers_[i] && json_number(v.data(), v.size())) {
      line_ += v;
      continue;
    }
    if (booleans_[i] && (v == "1" || v == "0" || v == "t" || v == "f" || v == "true" || v == "false")) {
      line_ += v == "1" || v == "t" || v == "true" ? "true" : "false";
      continue;
    }
    line_ += '"';
    append_json_escaped(line_, v.data(), v.size());
    line_ += '"';
  }
  line_ += keys_.empty() ? "{}\n" : "}\n";
  out += utf8_to_wide(line_);
}

} // namespace vela::terminal
