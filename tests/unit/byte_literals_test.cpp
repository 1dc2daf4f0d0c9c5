#include "Terminal/input/byte_literals.h"

#include <gtest/gtest.h>

#include "vela/utf.h"

using namespace vela::terminal;
using vela::odbc::byte_literal_form;
using vela::odbc::script_dialect;

namespace {

struct rewrite_case {
  const char* script;  // bytes as a script holds them
  script_dialect dialect;
  byte_literal_form form;
  int32_t code_page;
  const wchar_t* sent;  // nullptr: refused; L"": sent as written
  size_t at = 0;        // refused: where the first byte that cannot be sent stands
};

std::wstring decoded(const char* script, int32_t code_page) {
  if (code_page == 65001) return vela::utf8_to_wide_escaped(script);
  std::wstring w;
  for (const char* p = script; *p; ++p) {
    const auto b = static_cast<unsigned char>(*p);
    w += b < 0x80 ? static_cast<wchar_t>(b) : b == 0xE9 ? L'\u00e9' : static_cast<wchar_t>(0xDC00 + b);  // 1252, 0x81 unmapped
  }
  return w;
}

} // namespace

TEST(ByteLiterals, LiteralsOfBytesThatAreNotTextBecomeExactLiterals) {
  const auto mysql = script_dialect::mysql;
  const auto generic = script_dialect::generic;
  const rewrite_case cases[] = {
      // Valid text, and bytes in comments, are not touched.
      {"insert into t values ('\xc3\xa9t\xc3\xa9')", mysql, byte_literal_form::hex, 65001, L""},
      {"select 1 -- \xff\n", generic, byte_literal_form::bytea_hex, 65001, L""},
      {"select 1 /* \xff */", generic, byte_literal_form::none, 65001, L""},
      // MariaDB: the bytes after the escapes, an introducer kept; "…" is a literal too.
      {"insert into t values (_binary '\\0\\'\\\"\\b\\n\\r\\t\\Z\\\\\\%\\_\xff''', 'a')", mysql, byte_literal_form::hex,
       65001, L"insert into t values (_binary X'002722080A0D091A5C5C255C5FFF27', 'a')"},
      {"select \"\xfe\", 'x'", mysql, byte_literal_form::hex, 65001, L"select X'FE', 'x'"},
      {"'\xff'", mysql, byte_literal_form::hex, 65001, L"X'FF'"},
      {"select _binary'\xfe', 1--'\xff'", mysql, byte_literal_form::hex, 65001, L"select _binary X'FE', 1--X'FF'"},
      {"select /*!40101 '\xfe' */", mysql, byte_literal_form::hex, 65001, L"select /*!40101 X'FE' */"},
      {"select '\xc3\xa9\xff'", mysql, byte_literal_form::hex, 65001, L"select X'C3A9FF'"},
      // SQLite keeps them as text.
      {"insert into t values ('a''\xff')", generic, byte_literal_form::hex_as_text, 65001,
       L"insert into t values (CAST(X'6127FF' AS TEXT))"},
      // PostgreSQL: only a bytea value, from its escape or hex format.
      {"select '\\\\\\000\xff'::bytea", generic, byte_literal_form::bytea_hex, 65001, L"select '\\x5C00FF'::bytea"},
      {"select E'\\\\000\\x41\xff' :: BYTEA", generic, byte_literal_form::bytea_hex, 65001,
       L"select E'\\\\x0041FF' :: BYTEA"},
      {"select bytea '\xff'", generic, byte_literal_form::bytea_hex, 65001, L"select bytea '\\xFF'"},
      {"select 'a\xff'", generic, byte_literal_form::bytea_hex, 65001, nullptr, 9},
      {"select '\\q\xff'::bytea", generic, byte_literal_form::bytea_hex, 65001, nullptr, 10},
      // No literal to carry them: refused where the byte stands.
      {"select '\xff'", generic, byte_literal_form::none, 65001, nullptr, 8},
      {"select \"\xff\" from t", generic, byte_literal_form::hex_as_text, 65001, nullptr, 8},
      {"select 1 \xff", mysql, byte_literal_form::hex, 65001, nullptr, 9},
      {"select $$\xff$$", generic, byte_literal_form::bytea_hex, 65001, nullptr, 9},
      {"select N'\xff'", mysql, byte_literal_form::hex, 65001, nullptr, 9},
      // An 8-bit script: a binary value holds the script's bytes, not their UTF-8.
      {"select _binary '\xe9', '\xe9'", mysql, byte_literal_form::hex, 1252, L"select _binary X'E9', '\u00e9'"},
      {"select '\xe9\x81'", mysql, byte_literal_form::hex, 1252, L"select X'E981'"},
  };
  for (const auto& c : cases) {
    const std::wstring statement = decoded(c.script, c.code_page);
    const byte_literal_rewrite r = rewrite_byte_literals(statement, c.dialect, c.form, c.code_page);
    EXPECT_EQ(r.refused, c.sent == nullptr) << c.script;
    if (c.sent) EXPECT_EQ(r.text, c.sent) << c.script;
    else EXPECT_EQ(r.at, c.at) << c.script;
  }
}
