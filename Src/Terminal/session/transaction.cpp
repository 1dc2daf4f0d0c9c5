#include "Terminal/session/transaction.h"

#include <cwchar>
#include <cwctype>
#include <vector>

#include "Terminal/strings.h"
#include "vela/odbc/query.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

// The first words of a statement after blanks and comments: a word in capitals, a quoted
// name as written, or one other character.
std::vector<std::wstring> first_words(const std::wstring& s, size_t count) {
  std::vector<std::wstring> words;
  size_t i = 0;
  const size_t n = s.size();
  while (i < n && words.size() < count) {
    const wchar_t c = s[i];
    if (std::iswspace(static_cast<wint_t>(c))) {
      ++i;
    } else if (c == L'-' && i + 1 < n && s[i + 1] == L'-') {
      i = s.find(L'\n', i);
    } else if (c == L'/' && i + 1 < n && s[i + 1] == L'*') {
      i = s.find(L"*/", i + 2);
      if (i != std::wstring::npos) i += 2;
    } else if (std::iswalnum(static_cast<wint_t>(c)) || c == L'_') {
      size_t e = i;
      while (e < n && (std::iswalnum(static_cast<wint_t>(s[e])) || s[e] == L'_' || s[e] == L'$')) ++e;
      words.push_back(to_upper_copy(s.substr(i, e - i)));
      i = e;
    } else if (c == L'"' || c == L'`' || c == L'[') {
      const size_t e = s.find(c == L'[' ? L']' : c, i + 1);
      words.push_back(s.substr(i + 1, (e == std::wstring::npos ? n : e) - i - 1));
      i = e == std::wstring::npos ? n : e + 1;
    } else {
      words.emplace_back(1, c);
      ++i;
    }
    if (i == std::wstring::npos) break;
  }
  words.resize(count);
  return words;
}

bool any_of(const std::wstring& w, std::initializer_list<const wchar_t*> list) {
  for (const wchar_t* l : list)
    if (w == l) return true;
  return false;
}

} // namespace

transaction_statement transaction_effect(const std::wstring& statement) {
  // Most statements are told apart by their first letter, or else their first word.
  const size_t first = statement.find_first_not_of(L" \t\r\n");
  if (first != std::wstring::npos && std::iswalpha(static_cast<wint_t>(statement[first])) &&
      !std::wcschr(L"BSCERAPbscerap", statement[first]))
    return {};
  if (!any_of(first_words(statement, 1)[0], {L"BEGIN", L"START", L"COMMIT", L"END", L"ROLLBACK", L"ABORT", L"PREPARE",
                                             L"SAVEPOINT", L"RELEASE"}))
    return {};
  const std::vector<std::wstring> w = first_words(statement, 5);
  if (w[0] == L"BEGIN") {
    // BEGIN alone or with what a transaction takes; BEGIN of a block is no transaction.
    if (any_of(w[1], {L"", L";", L"TRANSACTION", L"WORK", L"TRAN", L"DEFERRED", L"IMMEDIATE", L"EXCLUSIVE",
                      L"ISOLATION", L"READ", L"NOT"}))
      return {transaction_step::begin, {}};
    return {};
  }
  if (w[0] == L"START" && w[1] == L"TRANSACTION") return {transaction_step::begin, {}};
  if (any_of(w[0], {L"COMMIT", L"END", L"ROLLBACK", L"ABORT"})) {
    for (size_t i = 1; i < w.size(); ++i) {
      if (w[i] == L"TO") return {};  // ROLLBACK [WORK] TO [SAVEPOINT] name
      if (w[i] == L"CHAIN" && w[i - 1] == L"AND") return {};  // a new transaction follows at once
      if (w[i] == L"PREPARED") return {};  // another, prepared transaction
    }
    return {transaction_step::end, {}};
  }
  if (w[0] == L"PREPARE" && w[1] == L"TRANSACTION") return {transaction_step::end, {}};
  if (w[0] == L"SAVEPOINT") return {transaction_step::savepoint, w[1]};
  if (w[0] == L"RELEASE") return {transaction_step::release, w[1] == L"SAVEPOINT" ? w[2] : w[1]};
  return {};
}

void track_transaction(terminal_context& ctx, const std::wstring& statement, const result& r) {
  const transaction_statement t = transaction_effect(statement);
  transaction_state& now = ctx.transaction;
  if (t.step == transaction_step::end || (t.step == transaction_step::begin && r.succeeded())) {
    now.failed = false;
    now.statements_since_end = false;
  } else if (r.succeeded()) {
    // A statement that succeeds (ROLLBACK TO SAVEPOINT among them) leaves the transaction usable.
    now.failed = false;
    now.statements_since_end = true;
  } else if (now.open || !ctx.connection.autocommit()) {
    now.failed = true;
  }
  switch (t.step) {
    case transaction_step::none: break;
    case transaction_step::begin:
      if (r.succeeded()) ctx.transaction.open = true;
      break;
    case transaction_step::end:
      // A failed COMMIT ends the transaction too, but on SQLite (a busy database keeps it).
      if (r.succeeded() || !ctx.connection.profile().savepoint_begins_transaction()) ctx.transaction.open = false;
      ctx.transaction.opening_savepoint.clear();
      break;
    case transaction_step::savepoint:
      // SQLite begins a transaction with a SAVEPOINT outside one; its RELEASE ends it.
      if (r.succeeded() && ctx.connection.profile().savepoint_begins_transaction() && !ctx.transaction.open) {
        ctx.transaction.open = true;
        ctx.transaction.opening_savepoint = to_upper_copy(t.savepoint);
      }
      break;
    case transaction_step::release:
      if (r.succeeded() && !ctx.transaction.opening_savepoint.empty() && to_upper_copy(t.savepoint) == ctx.transaction.opening_savepoint) {
        ctx.transaction.open = false;
        ctx.transaction.opening_savepoint.clear();
      }
      break;
  }
}

bool transaction_open(terminal_context& ctx) {
  if (!ctx.connection.hdbc()) return false;
  // MariaDB knows (a CREATE or DROP there commits the transaction on its own).
  if (const wchar_t* asked = ctx.connection.profile().transaction_state_query(); *asked) {
    std::wstring open;
    if (odbc::first_value(&ctx.connection, asked, open).succeeded()) ctx.transaction.open = open == L"1";
  }
  return ctx.transaction.open;
}

wchar_t transaction_status(terminal_context& ctx) {
  if (!ctx.connection.hdbc()) return 0;
  const bool open = transaction_open(ctx) || (ctx.transaction.statements_since_end && !ctx.connection.autocommit());
  return !open ? 0 : ctx.transaction.failed ? L'!' : L'*';
}

void roll_back_open_transaction(terminal_context& ctx) {
  if (!transaction_open(ctx)) return;
  if (ctx.connection.autocommit()) {
    // Begun by a statement: ended by one (the SQLite driver ends only transactions of its own).
    odbc::query q(&ctx.connection, L"ROLLBACK");
    (void)q.execute(false);  // a connection gone has rolled it back as well
  } else {
    (void)ctx.connection.transact(1);
  }
  ctx.transaction.open = false;
  ctx.transaction.opening_savepoint.clear();
  ctx.report_warning(str(string_id::transaction_rolled_back));
}

} // namespace vela::terminal
