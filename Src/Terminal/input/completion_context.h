// Where the cursor stands in a statement typed at the prompt, read from the line's text
// alone: whether a table, a column or a keyword goes there, and the tables the statement
// names (in FROM, JOIN, INTO and UPDATE, before or after the cursor).
#pragma once

#include <string>
#include <vector>

namespace vela::terminal {

// A table the statement names, as typed ("s.t" with its schema), and its alias.
struct table_reference {
  std::wstring name;
  std::wstring alias;
  bool operator==(const table_reference&) const = default;
};

enum class sql_place { keyword, table, column };

struct statement_context {
  sql_place place = sql_place::keyword;
  bool first = false;      // the word begins the statement
  size_t word_start = 0;   // where the word being typed begins (its qualifier with it)
  std::wstring qualifier;  // the part of that word before its last ".", "" when it has none
  std::wstring partial;    // the part after it
  std::vector<table_reference> tables;
};

// The context of the word that ends at the cursor: before holds the line up to the cursor,
// after the rest of it. Only the statement the cursor stands in counts (";" ends one).
statement_context context_of(const std::wstring& before, const std::wstring& after);

// The table a name in the statement stands for: the table with that alias, or the name
// itself when no alias is that name.
std::wstring table_of(const statement_context& c, const std::wstring& name);

} // namespace vela::terminal
