#include "vela/odbc/connection_string.h"

#include <algorithm>

#include "vela/wstr.h"

namespace vela::odbc {

namespace {

bool word_char(wchar_t c) { return (c >= L'0' && c <= L'9') || ((c | 0x20) >= L'a' && (c | 0x20) <= L'z') || c == L'_'; }

// The "}" that closes the brace at open, "}}" being one brace inside; none when missing.
size_t closing_brace(const std::wstring& s, size_t open) {
  for (size_t k = open + 1; k < s.size(); ++k) {
    if (s[k] != L'}') continue;
    if (k + 1 < s.size() && s[k + 1] == L'}') {
      ++k;
      continue;
    }
    return k;
  }
  return cs_attribute::none;
}

} // namespace

std::wstring cs_attribute::key(const std::wstring& s) const {
  size_t e = has_value() ? equals : end;
  while (e > start && (s[e - 1] == L' ' || s[e - 1] == L'\t')) --e;
  size_t b = e;
  while (b > start && word_char(s[b - 1])) --b;
  return s.substr(b, e - b);
}

std::wstring cs_attribute::value(const std::wstring& s) const {
  if (!has_value()) return {};
  if (!braced()) {
    size_t b = equals + 1;
    while (b < end && s[b] == L' ') ++b;
    return s.substr(b, end - b);
  }
  std::wstring v = braced_text(s);
  replace_all(v, L"}}", L"}");
  return v;
}

std::wstring cs_attribute::braced_text(const std::wstring& s) const {
  if (!braced()) return {};
  const size_t stop = brace_close == none ? s.size() : brace_close;
  return s.substr(brace_open + 1, stop - brace_open - 1);
}

std::vector<cs_attribute> read_connection_string(const std::wstring& s, brace_rule braces) {
  std::vector<cs_attribute> out;
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    cs_attribute a;
    a.start = i;
    const size_t eq = s.find(L'=', i);
    const size_t semi = s.find(L';', i);
    if (eq == std::wstring::npos || (semi != std::wstring::npos && semi < eq)) {
      a.end = semi == std::wstring::npos ? n : semi;
    } else {
      a.equals = eq;
      size_t first = eq + 1;
      while (first < n && s[first] == L' ') ++first;
      size_t from = eq + 1;
      if (first < n && s[first] == L'{') {
        a.brace_open = first;
        a.brace_close = closing_brace(s, first);
        if (braces == brace_rule::keep) from = a.brace_close == cs_attribute::none ? n : a.brace_close + 1;
      }
      const size_t stop = s.find(L';', from);
      a.end = stop == std::wstring::npos ? n : stop;
    }
    out.push_back(a);
    i = a.end + 1;
  }
  return out;
}

bool is_password_key(const std::wstring& key) {
  return compare_nocase(key, L"PWD") == 0 || compare_nocase(key, L"PASSWORD") == 0;
}

std::wstring attribute_value(const std::wstring& s, const std::wstring& key) {
  for (const cs_attribute& a : read_connection_string(s))
    if (a.has_value() && compare_nocase(a.key(s), key) == 0) return a.value(s);
  return {};
}

std::wstring with_attribute(const std::wstring& s, const std::wstring& key, const std::wstring& value) {
  const std::wstring written = value.find_first_of(L";{}") == std::wstring::npos ? value : L"{" + value + L"}";
  std::wstring out;
  bool replaced = false;
  for (const cs_attribute& a : read_connection_string(s)) {
    std::wstring pair = s.substr(a.start, a.end - a.start);
    if (a.has_value() && compare_nocase(a.key(s), key) == 0) {
      pair = s.substr(a.start, a.equals + 1 - a.start) + written;
      replaced = true;
    }
    if (!pair.empty()) out += (out.empty() ? L"" : L";") + pair;
  }
  if (!replaced) out += (out.empty() ? L"" : L";") + key + L"=" + written;
  return out;
}

std::wstring cs_host::text() const {
  const std::wstring shown = name.find(L':') == std::wstring::npos ? name : L"[" + name + L"]";
  return port.empty() ? shown : shown + L":" + port;
}

namespace {

std::wstring trimmed(const std::wstring& s) {
  const size_t b = s.find_first_not_of(L" \t");
  if (b == std::wstring::npos) return {};
  return s.substr(b, s.find_last_not_of(L" \t") + 1 - b);
}

bool valid_port(const std::wstring& port) {
  if (port.empty() || port.size() > 5) return false;
  unsigned n = 0;
  for (const wchar_t c : port) {
    if (c < L'0' || c > L'9') return false;
    n = n * 10 + static_cast<unsigned>(c - L'0');
  }
  return n >= 1 && n <= 65535;
}

// One item of a list: "name", "name:port", "[v6]" or "[v6]:port"; false when malformed.
bool read_host(const std::wstring& item, cs_host& host) {
  size_t colon = std::wstring::npos;
  if (!item.empty() && item[0] == L'[') {
    const size_t close = item.find(L']');
    if (close == std::wstring::npos) return false;
    host.name = item.substr(1, close - 1);
    if (close + 1 < item.size()) {
      if (item[close + 1] != L':') return false;
      colon = close + 1;
    }
  } else {
    colon = item.find(L':');
    // A bare IPv6 address (more than one ":") has no port.
    if (colon != std::wstring::npos && item.find(L':', colon + 1) != std::wstring::npos) colon = std::wstring::npos;
    host.name = item.substr(0, colon);
  }
  if (colon != std::wstring::npos) {
    host.port = item.substr(colon + 1);
    if (!valid_port(host.port)) return false;
  }
  return !host.name.empty();
}

} // namespace

std::vector<cs_host> read_host_list(const std::wstring& list) {
  std::vector<cs_host> hosts;
  size_t from = 0;
  while (from <= list.size()) {
    const size_t comma = std::min(list.find(L',', from), list.size());
    cs_host host;
    if (!read_host(trimmed(list.substr(from, comma - from)), host)) return {};
    hosts.push_back(host);
    from = comma + 1;
  }
  return hosts;
}

std::wstring server_key(const std::wstring& s) {
  for (const cs_attribute& a : read_connection_string(s)) {
    const std::wstring key = a.key(s);
    if (a.has_value() && (compare_nocase(key, L"Server") == 0 || compare_nocase(key, L"Servername") == 0)) return key;
  }
  return {};
}

std::wstring for_host(const std::wstring& s, const cs_host& host) {
  const std::wstring key = server_key(s);
  const std::wstring aimed = with_attribute(s, key.empty() ? std::wstring(L"Server") : key, host.name);
  return host.port.empty() ? aimed : with_attribute(aimed, L"Port", host.port);
}

} // namespace vela::odbc
