#include "Terminal/load/new_table.h"

#include <unordered_map>

#include "Terminal/load/data_file.h"
#include "Terminal/load/json_lines.h"
#include "Terminal/strings.h"
#include "vela/odbc/bulk_insert.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/query.h"
#include "vela/os_error.h"
#include "vela/utf.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

result run(odbc::connection& c, const std::wstring& text) {
  odbc::query q(&c, text);
  return q.execute(text, false, false);
}

// Whether the table is there: a query of it that returns no row runs. Inside a transaction
// the test is a savepoint's, so that its failure spoils nothing (PostgreSQL).
bool table_exists(odbc::connection& c, const std::wstring& table, bool in_transaction) {
  if (in_transaction && !run(c, L"SAVEPOINT vela_probe").succeeded()) return false;
  const bool there = run(c, L"SELECT * FROM " + table + L" WHERE 1=0").succeeded();
  if (in_transaction) {
    (void)run(c, L"ROLLBACK TO SAVEPOINT vela_probe");
    (void)run(c, L"RELEASE SAVEPOINT vela_probe");
  }
  return there;
}

// Names made unique (in any letter case) with "_2", "_3" …; an empty name is columnN.
void unique_names(std::vector<odbc::column_shape>& columns) {
  for (size_t i = 0; i < columns.size(); ++i) {
    std::wstring& name = columns[i].name;
    if (name.empty()) name = L"column" + std::to_wstring(i + 1);
    const std::wstring base = name;
    for (unsigned k = 2;; ++k) {
      bool taken = false;
      for (size_t j = 0; j < i && !taken; ++j) taken = compare_nocase(columns[j].name, name) == 0;
      if (!taken) break;
      name = base + L"_" + std::to_wstring(k);
    }
  }
}

} // namespace

result make_table(odbc::connection& c, const std::wstring& table, std::vector<odbc::column_shape> columns,
                  copy_format::creation how, bool in_transaction, bool& made) {
  made = false;
  // Where DDL commits the transaction first (MariaDB, MySQL), a table is not made inside one.
  if (in_transaction && *c.profile().transaction_state_query())
    return failure(os::err_invalid_function, str(string_id::copy_create_in_transaction));
  unique_names(columns);
  const bool exists = how != copy_format::creation::create && table_exists(c, table, in_transaction);
  if (exists && how == copy_format::creation::if_not_exists) return result();
  if (exists && how == copy_format::creation::replace)
    if (const result r = run(c, L"DROP TABLE " + table); !r.succeeded()) return r;
  const result r = run(c, odbc::create_table_statement(table, columns, c.profile(), c.data_types(), false));
  made = r.succeeded();
  return r;
}

std::vector<odbc::column_shape> file_table::shapes() const {
  std::vector<odbc::column_shape> v;
  for (size_t i = 0; i < guesses.size(); ++i) v.push_back(guesses[i].shape(names[i]));
  return v;
}

result file_table::guess(const std::wstring& file, text_file_code_page cp, const copy_format& f, size_t n) {
  if (f.jsonl) return guess_json(file, cp, f, n);
  record_reader reader(f);
  size_t seen = 0, width = 0;
  guesses.clear();
  auto take = [&](record_reader::outcome o, const odbc::bulk_row& row, const std::wstring&) {
    if (o == record_reader::outcome::bad_header) return false;
    if (o != record_reader::outcome::row) return true;
    if (width == 0) {
      width = reader.header().empty() ? row.values.size() : reader.header().size();
      guesses.assign(width, column_guess());
    }
    if (row.values.size() != width) return true;  // refused by the load itself
    for (size_t i = 0; i < width; ++i)
      if (!row.nulls[i]) guesses[i].take(row.values[i]);
    return ++seen < n;
  };
  bool go = true;
  const result r = read_data_lines(file, cp, [&](std::wstring_view line, size_t number) { return reader.add_line(line, number, take); }, go);
  if (!r.succeeded()) return r;
  if (go) (void)reader.finish(take);
  if (width == 0) guesses.assign(width = reader.header().size(), column_guess());
  if (width == 0) return failure(os::err_invalid_data, L"no columns to make the table of");
  names.assign(width, std::wstring());
  for (size_t i = 0; i < width; ++i) names[i] = i < reader.header().size() ? reader.header()[i] : std::wstring();
  for (auto& name : names) trim(name, L" ", L" ");
  has_boolean = false;
  for (auto& g : guesses) {
    if (g.kind == guessed_kind::none) g.kind = guessed_kind::text;
    has_boolean = has_boolean || g.kind == guessed_kind::boolean;
  }
  return result();
}

result file_table::guess_json(const std::wstring& file, text_file_code_page cp, const copy_format& f, size_t n) {
  file_table& t = *this;
  const bool fixed = !t.names.empty();
  t.guesses.assign(t.names.size(), column_guess());
  std::unordered_map<std::string, size_t> at;
  for (size_t i = 0; i < t.names.size(); ++i) at.emplace(wide_to_utf8(t.names[i]), i);
  size_t seen = 0;
  std::string utf8;
  std::wstring why;
  auto line = [&](std::wstring_view text, size_t number) {
    if (number <= f.skip_through || blank_line(text)) return true;
    utf8 = wide_to_utf8(text);
    (void)each_json_member(utf8, [&](const std::string& key, json_kind kind, const std::string& value) {
      auto [place, fresh] = at.emplace(key, t.names.size());
      if (fresh && fixed) {
        at.erase(place);
        return true;
      }
      if (fresh) {
        t.names.push_back(utf8_to_wide(key));
        t.guesses.emplace_back();
      }
      if (kind != json_kind::null) t.guesses[place->second].take(utf8_to_wide(value));
      return true;
    }, why);  // a line that is no object is refused by the load itself
    return ++seen < n;
  };
  bool go = true;
  if (const result r = read_data_lines(file, cp, line, go); !r.succeeded()) return r;
  if (t.names.empty()) return failure(os::err_invalid_data, L"no columns to make the table of");
  t.has_boolean = false;
  for (auto& g : t.guesses) {
    if (g.kind == guessed_kind::none) g.kind = guessed_kind::text;
    t.has_boolean = t.has_boolean || g.kind == guessed_kind::boolean;
  }
  return result();
}

const odbc::bulk_row* file_table::fit(const odbc::bulk_row& row, odbc::bulk_insert& engine, odbc::connection& c, result& failed,
                                      std::vector<std::pair<std::wstring, std::wstring>>& changed) {
  std::vector<column_guess> wider;  // made only when a value does not fit
  const size_t n = std::min(row.values.size(), guesses.size());
  for (size_t i = 0; i < n && !restarted; ++i) {
    if (row.nulls[i]) continue;
    column_guess g = guesses[i];
    if (!g.take(row.values[i])) {
      guesses[i] = g;  // an integer's digits, kept for a decimal it may become
      if (!wider.empty()) wider[i] = g;
      continue;
    }
    if (wider.empty()) wider = guesses;
    wider[i] = g;
  }
  if (!wider.empty()) {
    const odbc::driver_profile& p = c.profile();
    std::vector<std::wstring> alter;
    for (size_t i = 0; i < n; ++i) {
      if (wider[i].same_type(guesses[i])) continue;
      const std::wstring type = odbc::target_type(wider[i].shape(names[i]), p, c.data_types());
      alter.push_back(widens_in_place(guesses[i], wider[i]) ? p.alter_column_type(table, names[i], type) : std::wstring());
      if (alter.back().empty()) {
        restart_line = row.line;
        return nullptr;
      }
      changed.emplace_back(names[i], type);
    }
    failed = engine.change_table(alter);
    if (!failed.succeeded()) return nullptr;
    guesses = std::move(wider);
  }
  if (!has_boolean) return &row;
  shaped = row;
  for (size_t i = 0; i < n; ++i)
    if (guesses[i].kind == guessed_kind::boolean && !row.nulls[i]) shaped.values[i] = boolean_text(row.values[i]);
  return &shaped;
}

} // namespace vela::terminal
