#include "Terminal/input/completion_context.h"

#include <algorithm>
#include <cwctype>
#include <initializer_list>

#include "vela/wstr.h"

namespace vela::terminal {

namespace {

enum class token_kind { word, punctuation, literal };

struct sql_token {
  std::wstring text;  // a quoted name without its quotes
  token_kind kind;
};

bool name_char(wchar_t c) { return std::iswalnum(static_cast<wint_t>(c)) || c == L'_' || c == L'$'; }

// Where the literal, quoted name or comment that begins at i ends (the index after it).
size_t skip_quoted(const std::wstring& s, size_t i, wchar_t quote) {
  for (++i; i < s.size(); ++i)
    if (s[i] == quote) {
      if (i + 1 < s.size() && s[i + 1] == quote) ++i;  // a doubled quote stands for one
      else return i + 1;
    }
  return s.size();
}

// The statement's words, names, literals and punctuation; comments left out.
std::vector<sql_token> sql_tokens(const std::wstring& s) {
  std::vector<sql_token> out;
  size_t i = 0;
  while (i < s.size()) {
    const wchar_t c = s[i];
    if (std::iswspace(static_cast<wint_t>(c))) {
      ++i;
    } else if (s.compare(i, 2, L"--") == 0) {
      i = std::min(s.find(L'\n', i), s.size());
    } else if (s.compare(i, 2, L"/*") == 0) {
      const size_t e = s.find(L"*/", i + 2);
      i = e == std::wstring::npos ? s.size() : e + 2;
    } else if (c == L'\'' || c == L'"' || c == L'`') {
      const size_t e = skip_quoted(s, i, c);
      const bool name = c != L'\'';
      out.push_back({name ? s.substr(i + 1, e - i - 2 + (e == s.size() && s.back() != c)) : L"'",
                     name ? token_kind::word : token_kind::literal});
      i = e;
    } else if (name_char(c)) {
      size_t e = i;
      while (e < s.size() && name_char(s[e])) ++e;
      out.push_back({s.substr(i, e - i), std::iswdigit(static_cast<wint_t>(c)) ? token_kind::literal : token_kind::word});
      i = e;
    } else {
      out.push_back({std::wstring(1, c), token_kind::punctuation});
      ++i;
    }
  }
  return out;
}

bool is_one_of(const sql_token& t, std::initializer_list<const wchar_t*> words) {
  return t.kind == token_kind::word &&
         std::any_of(words.begin(), words.end(), [&](const wchar_t* w) { return compare_nocase(t.text, w) == 0; });
}

bool is_punctuation(const sql_token& t, wchar_t c) { return t.kind == token_kind::punctuation && t.text[0] == c; }

// Words that end a table's reference in FROM: what follows them is no alias.
bool ends_reference(const sql_token& t) {
  return is_one_of(t, {L"WHERE", L"JOIN", L"INNER", L"LEFT", L"RIGHT", L"FULL", L"CROSS", L"NATURAL", L"OUTER",
                       L"ON", L"USING", L"GROUP", L"ORDER", L"HAVING", L"LIMIT", L"OFFSET", L"SET", L"VALUES",
                       L"UNION", L"EXCEPT", L"INTERSECT", L"WINDOW", L"RETURNING", L"FETCH", L"FOR", L"SELECT",
                       L"DEFAULT", L"STRAIGHT_JOIN"});
}

// A [schema.]name from token i on; i is left after it (and after its alias).
table_reference reference_at(const std::vector<sql_token>& t, size_t& i) {
  table_reference r;
  while (i < t.size() && t[i].kind == token_kind::word && !ends_reference(t[i])) {
    r.name += t[i++].text;
    if (i + 1 < t.size() && is_punctuation(t[i], L'.')) {
      r.name += L'.';
      ++i;
    } else {
      break;
    }
  }
  if (i < t.size() && is_one_of(t[i], {L"AS"})) ++i;
  if (!r.name.empty() && i < t.size() && t[i].kind == token_kind::word && !ends_reference(t[i])) r.alias = t[i++].text;
  return r;
}

std::vector<table_reference> tables_named(const std::vector<sql_token>& t) {
  std::vector<table_reference> out;
  for (size_t i = 0; i < t.size();) {
    const bool from = is_one_of(t[i], {L"FROM"});
    if (!from && !is_one_of(t[i], {L"JOIN", L"UPDATE", L"INTO", L"STRAIGHT_JOIN"})) {
      ++i;
      continue;
    }
    ++i;
    for (;;) {
      table_reference r = reference_at(t, i);
      if (!r.name.empty() && std::find(out.begin(), out.end(), r) == out.end()) out.push_back(std::move(r));
      // FROM a, b: a list of tables.
      if (!from || i >= t.size() || !is_punctuation(t[i], L',')) break;
      ++i;
    }
  }
  return out;
}

// The clause the cursor stands in: the last clause word at its own level of parentheses
// (an INSERT's column list counts as a clause of its own, "("); null before any.
const sql_token* clause_of(const std::vector<sql_token>& t) {
  int depth = 0;
  for (size_t k = t.size(); k-- > 0;) {
    if (is_punctuation(t[k], L')')) ++depth;
    if (is_punctuation(t[k], L'(') && depth-- == 0) {
      // INSERT INTO [schema.]table (
      size_t n = k;
      while (n >= 2 && is_punctuation(t[n - 2], L'.')) n -= 2;
      if (n >= 2 && is_one_of(t[n - 2], {L"INTO"}) && t[k - 1].kind == token_kind::word) return &t[k];
      depth = 0;
    }
    if (depth == 0 && is_one_of(t[k], {L"SELECT", L"FROM", L"WHERE", L"JOIN", L"ON", L"BY", L"SET", L"HAVING",
                                       L"INTO", L"UPDATE", L"VALUES", L"USING", L"RETURNING", L"LIMIT"}))
      return &t[k];
  }
  return nullptr;
}

sql_place place_of(const std::vector<sql_token>& t) {
  if (t.empty()) return sql_place::keyword;
  const sql_token& previous = t.back();
  if (is_one_of(previous, {L"FROM", L"JOIN", L"UPDATE", L"INTO", L"TABLE", L"TRUNCATE", L"DESCRIBE",
                           L"STRAIGHT_JOIN"}) ||
      (t.size() == 1 && is_one_of(previous, {L"DESC"})))
    return sql_place::table;
  const sql_token* clause = clause_of(t);
  if (!clause) return sql_place::keyword;
  if (is_punctuation(previous, L',') && is_one_of(*clause, {L"FROM"})) return sql_place::table;
  const bool column_clause =
      is_punctuation(*clause, L'(') ||
      is_one_of(*clause, {L"SELECT", L"WHERE", L"ON", L"BY", L"SET", L"HAVING", L"RETURNING"});
  // After an operator or a word that a value follows; after a name or a value, a keyword.
  const bool value_follows =
      (previous.kind == token_kind::punctuation && !is_punctuation(previous, L')') && !is_punctuation(previous, L'.')) ||
      is_one_of(previous, {L"SELECT", L"WHERE", L"AND", L"OR", L"ON", L"BY", L"SET", L"HAVING", L"DISTINCT", L"NOT",
                           L"WHEN", L"THEN", L"ELSE", L"CASE", L"RETURNING", L"LIKE", L"IN", L"BETWEEN"});
  return column_clause && value_follows ? sql_place::column : sql_place::keyword;
}

// Only the statement the cursor stands in: the tokens after the last ";" before it, or
// before the first ";" after it.
std::vector<sql_token> this_statement(std::vector<sql_token> t, bool before) {
  const auto semicolon = [](const sql_token& x) { return is_punctuation(x, L';'); };
  if (before) {
    const auto last = std::find_if(t.rbegin(), t.rend(), semicolon);
    t.erase(t.begin(), last.base());
  } else {
    t.erase(std::find_if(t.begin(), t.end(), semicolon), t.end());
  }
  return t;
}

} // namespace

statement_context context_of(const std::wstring& before, const std::wstring& after) {
  statement_context c;
  size_t start = before.size();
  while (start > 0 && (name_char(before[start - 1]) || before[start - 1] == L'.' || before[start - 1] == L'"' ||
                       before[start - 1] == L'`'))
    --start;
  c.word_start = start;
  const std::wstring word = before.substr(start);
  const size_t dot = word.rfind(L'.');
  if (dot != std::wstring::npos) {
    c.qualifier = word.substr(0, dot);
    trim(c.qualifier, L"\"`");
    c.partial = word.substr(dot + 1);
  } else {
    c.partial = word;
  }
  const std::vector<sql_token> head = this_statement(sql_tokens(before.substr(0, start)), true);
  const std::vector<sql_token> tail = this_statement(sql_tokens(after), false);
  c.first = head.empty();
  c.place = place_of(head);
  std::vector<sql_token> all = head;
  all.insert(all.end(), tail.begin(), tail.end());
  c.tables = tables_named(all);
  return c;
}

std::wstring table_of(const statement_context& c, const std::wstring& name) {
  for (const table_reference& t : c.tables)
    if (compare_nocase(t.alias, name) == 0) return t.name;
  for (const table_reference& t : c.tables) {
    const size_t dot = t.name.rfind(L'.');
    if (compare_nocase(dot == std::wstring::npos ? t.name : t.name.substr(dot + 1), name) == 0) return t.name;
  }
  return name;
}

} // namespace vela::terminal
