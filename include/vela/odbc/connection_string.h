// The one reader of connection strings: "key=value" attributes separated by ";", a value
// in braces keeping ";" and "=" ("}}" stands for one "}" inside it). Masking, the driver
// choice and the driver-name guard all read strings through it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vela::odbc {

// Positions into the string read.
struct cs_attribute {
  static constexpr size_t none = std::wstring::npos;

  size_t start = 0;           // first character of the key (blanks included)
  size_t equals = none;       // the "=", or none for a piece without a value
  size_t brace_open = none;   // the "{" a value starts with (after blanks), or none
  size_t brace_close = none;  // its closing "}", or none when the string ends first
  size_t end = 0;             // the ";" that ends the attribute, or the string's length

  bool has_value() const { return equals != none; }
  bool braced() const { return brace_open != none; }
  bool balanced() const { return brace_open == none || brace_close != none; }
  // The key's last word ("PWD" of " PWD ", of "CONNECT \"pwd"): the word before the "=".
  std::wstring key(const std::wstring& s) const;
  // The value as the driver takes it: blanks before it and its braces off, "}}" as "}".
  std::wstring value(const std::wstring& s) const;
  // Between the braces as written ("}}" kept); empty for a value without braces.
  std::wstring braced_text(const std::wstring& s) const;
};

enum class brace_rule {
  keep,    // a braced value runs to its closing "}" and then to the next ";"
  ignore,  // every ";" ends an attribute, braces or not
};

std::vector<cs_attribute> read_connection_string(const std::wstring& s, brace_rule braces = brace_rule::keep);

// Whether a key names a password: PWD or PASSWORD in any letter case.
bool is_password_key(const std::wstring& key);

// The value of the first attribute named key (any letter case); "" when there is none.
std::wstring attribute_value(const std::wstring& s, const std::wstring& key);
// s with the value of key replaced (added at the end when missing); a value holding ";", "{"
// or "}" goes in braces. Empty pieces (a ";" at the end) are dropped.
std::wstring with_attribute(const std::wstring& s, const std::wstring& key, const std::wstring& value);

// One host of a list: its name, and the port written after it ("" for none).
struct cs_host {
  std::wstring name;
  std::wstring port;
  // As written in a list: "name" or "name:port" (an IPv6 address in brackets).
  std::wstring text() const;
};
// "h1,h2:3307,[::1]:5432": the hosts in order, blanks around each dropped. Empty when the
// list is empty or holds an empty name or a port that is not a number from 1 to 65535.
std::vector<cs_host> read_host_list(const std::wstring& list);
// The key that names the server in s as written ("Server" or "Servername"); "" for neither.
std::wstring server_key(const std::wstring& s);
// s aimed at one host: its server key (Server when s has none) set to the host's name and,
// when the host has a port, Port set to it.
std::wstring for_host(const std::wstring& s, const cs_host& host);

} // namespace vela::odbc
