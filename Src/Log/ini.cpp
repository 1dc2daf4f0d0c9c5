#include "vela/ini.h"

#include <cstring>
#include <string>
#include <vector>

#include "vela/file.h"
#include "vela/log.h"
#include "vela/utf.h"

namespace vela {

namespace {

bool blank_or_tab(char c) { return c == ' ' || c == '\t'; }

std::string trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && blank_or_tab(s[b])) ++b;
  while (e > b && blank_or_tab(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Trim, remove one pair of enclosing quotes (when no other quote is inside), trim again.
std::string clean(const std::string& s) {
  std::string t = trimmed(s);
  if (t.size() >= 2 && t.front() == '"' && t.back() == '"' && t.find('"', 1) == t.size() - 1)
    t = t.substr(1, t.size() - 2);
  return trimmed(t);
}

std::vector<std::string> split_items(const std::string& text) {
  std::vector<std::string> items;
  const size_t n = text.size();
  size_t i = 0;
  for (;;) {
    size_t j = i;
    while (j < n && blank_or_tab(text[j])) ++j;
    size_t after = j;
    if (j < n && text[j] == '"') {
      const size_t close = text.find('"', j + 1);
      after = close == std::string::npos ? n : close + 1;
    }
    const size_t comma = text.find(',', after);
    if (comma == std::string::npos) {
      items.push_back(clean(text.substr(i)));
      break;
    }
    items.push_back(clean(text.substr(i, comma - i)));
    i = comma + 1;
    if (i == n) break;  // a comma at the very end adds no empty item
  }
  return items;
}

} // namespace

TIniVal::TIniVal(const char* line_text) {
  const std::string line(line_text ? line_text : "");
  size_t eq = std::string::npos;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    else if (line[i] == '=' && !quoted) {
      eq = i;
      break;
    }
  }
  if (eq == std::string::npos) {
    text_.assign(line.c_str());
  } else {
    name_.assign(clean(line.substr(0, eq)).c_str());
    text_.assign(line.substr(eq + 1).c_str());
  }
  if (!text_.empty()) {
    const std::vector<std::string> items = split_items(text_.c_str());
    items_.set_size(static_cast<uint32_t>(items.size()));
    for (uint32_t i = 0; i < items.size(); ++i) items_[i].assign(items[i].c_str());
  }
}

TIniSection::TIniSection(const char* name) { name_.assign(name); }

const TIniVal* TIniSection::find(const char* name) const {
  for (uint32_t i = 0; i < entries_.count(); ++i)
    if (compare_ascii_nocase(entries_.at(i)->name().c_str(), name) == 0) return entries_.at(i);
  return nullptr;
}

const TIniSection* TIni::find(const char* name) const {
  for (uint32_t i = 0; i < sections_.count(); ++i)
    if (compare_ascii_nocase(sections_.at(i)->name().c_str(), name) == 0) return sections_.at(i);
  return nullptr;
}

uint32_t TIni::Ld(const std::wstring& path, uint32_t share_mode) {
  write_formatted(process_log(), L"TIL", L"TIni::Ld(%s,%u) begin", path.c_str(), share_mode);
  sections_.clear();
  uint32_t rc = 0;
  {
    file f;
    rc = f.open_code(path, file_access::read, share_mode, nullptr, file_access::open_existing,
                     file_access::normal_attributes, 0);
    if (rc == 0) {
      int64_t size = 0;
      rc = f.size(size);
      if (rc == 0) {
        std::string buf(static_cast<size_t>(size) + 1, '\0');
        size_t got = 0;
        rc = f.read(buf.data(), static_cast<size_t>(size), got);
        if (rc == 0) {
          buf[got] = '\0';
          rc = parse(buf.c_str());  // the text ends at the first NUL byte
        }
      }
      f.close();
    }
  }
  write_formatted(process_log(), L"TIL", L"TIni::Ld(%s) end(%u)", path.c_str(), rc);
  return rc;
}

uint32_t TIni::parse(const char* text) {
  std::string current;
  const char* p = text;
  while (*p) {
    while (*p == '\r' || *p == '\n') ++p;
    if (!*p) break;
    const char* end = p;
    while (*end && *end != '\r' && *end != '\n') ++end;
    const std::string line(p, end);
    p = end;
    if (line[0] == ';') continue;
    size_t b = 0, e = line.size();
    while (b < e && line[b] == ' ') ++b;
    while (e > b && line[e - 1] == ' ') --e;
    if (b == e) continue;
    if (line[b] == '[' && line[e - 1] == ']' && e - b >= 2) {
      current = trimmed(line.substr(b + 1, e - b - 2));
      if (!current.empty()) sections_.append(new TIniSection(current.c_str()));
      continue;
    }
    const std::string entry = trimmed(line.substr(b));
    if (current.empty() || entry.empty()) continue;
    TIniSection* target = nullptr;
    for (uint32_t i = 0; i < sections_.count() && !target; ++i)
      if (compare_ascii_nocase(sections_.at(i)->name().c_str(), current.c_str()) == 0) target = sections_.at(i);
    if (!target) {
      target = new TIniSection(current.c_str());
      sections_.append(target);
    }
    target->add(new TIniVal(entry.c_str()));
  }
  return 0;
}

} // namespace vela
