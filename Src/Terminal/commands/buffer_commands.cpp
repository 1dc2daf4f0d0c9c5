// The query buffer's commands: \g and \gx run it (or the last statement) once elsewhere,
// \gset stores its one row in variables, \watch repeats it, \e edits it, \r clears it, \p
// prints it; \o sends the rows of the statements after it to a file or a command.
#include <chrono>
#include <cwchar>
#include <optional>
#include <thread>
#include <vector>

#include "Terminal/commands/command_table.h"
#include "Terminal/commands/commands.h"
#include "Terminal/input/prompt.h"
#include "Terminal/output/formats.h"
#include "Terminal/session/transaction.h"
#include "Terminal/strings.h"
#include "vela/b_time.h"
#include "vela/console.h"
#include "vela/odbc/environment.h"
#include "vela/file.h"
#include "vela/system.h"
#include "vela/utf.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

// The statement typed and not run yet, else the last one run; empty when there is neither.
const std::wstring& statement_to_run(const terminal_context& ctx) {
  return ctx.buffer.held.empty() ? ctx.buffer.last : ctx.buffer.held;
}

// The statement held runs now: the buffer is empty after it.
void clear_held(terminal_context& ctx) {
  if (!ctx.buffer.held.empty()) ctx.buffer.replacement = std::wstring();
}

// For one statement: its rows to another target and in another layout, as they were after.
class diverted_rows {
 public:
  diverted_rows(terminal_context& ctx, output_target* target, const output_format* layout)
      : ctx_(ctx), before_(target ? ctx.routes.send_rows_to(target) : ctx.routes.rows_target()) {
    ctx.buffer.layout = layout;
  }
  ~diverted_rows() {
    ctx_.routes.send_rows_to(before_);
    ctx_.buffer.layout = nullptr;
  }
  diverted_rows(const diverted_rows&) = delete;
  diverted_rows& operator=(const diverted_rows&) = delete;

 private:
  terminal_context& ctx_;
  output_target* before_;
};

// Column values of the one row of a result as text; nullopt for NULL.
result one_row(terminal_context& ctx, odbc::resultset& rows, std::vector<std::optional<std::wstring>>& values) {
  if (rows.count() == 0) return ctx.fail(str(string_id::gset_no_result));
  result fetched;
  if (!rows.fetch_row(fetched)) {
    if (fetched.code() == odbc::no_data_error()) return ctx.fail(str(string_id::gset_no_row));
    ctx.routes.failure_line(fetched.text(), ctx.place);
    ctx.note(fetched);
    return fetched;
  }
  // UTF-8 from drivers whose narrow text is the sound one, as the rows are printed.
  const bool utf8 = ctx.connection.utf8_narrow_text();
  std::vector<char16_t> piece(4096);
  std::vector<unsigned char> bytes(4096);
  for (size_t i = 0; i < rows.count(); ++i) {
    std::u16string wide;
    std::string narrow;
    bool is_null = false;
    const result read =
        utf8 ? rows.at(i).read_utf8(bytes, [&](const unsigned char* s, size_t n) { narrow.append(reinterpret_cast<const char*>(s), n); }, &is_null)
             : rows.at(i).read_text(piece, [&](const char16_t* s, size_t n) { wide.append(s, n); }, &is_null);
    if (!read.succeeded()) {
      ctx.routes.failure_line(read.text(), ctx.place);
      ctx.note(read);
      return read;
    }
    if (is_null) values.emplace_back();
    else values.emplace_back(utf8 ? utf8_to_wide(narrow) : utf16_to_wide(wide));
  }
  if (rows.fetch_row(fetched)) return ctx.fail(str(string_id::gset_many_rows));
  return result();
}

// "2026-12-09 09:05:36", the time of a \watch round.
std::wstring now_text() {
  const b_time t = b_time::now();
  return wformat(L"%04u-%02u-%02u %02u:%02u:%02u", t.year(), t.month(), t.day(), t.hour(), t.minute(), t.second());
}

// Waits the seconds, or until Ctrl-C; false after Ctrl-C.
bool wait_or_interrupt(double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (interrupted()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return !interrupted();
}

// The whole file as text (UTF-8); false when it cannot be read.
uint32_t read_text_file(const std::wstring& path, std::wstring& text) {
  file f;
  if (const uint32_t code = f.open_code(path, file_access::read, file_access::share_read, nullptr,
                                        file_access::open_existing, file_access::normal_attributes, 0))
    return code;
  std::string bytes;
  char chunk[16384];
  for (;;) {
    size_t got = 0;
    if (const uint32_t code = f.read(chunk, sizeof chunk, got)) return code;
    if (got == 0) break;
    bytes.append(chunk, got);
  }
  text = utf8_to_wide(bytes);
  return 0;
}

// A temporary file that holds text, removed at the end of the scope.
class edit_file {
 public:
  ~edit_file() {
    if (!path_.empty()) (void)sys::remove_file(path_);
  }
  uint32_t create(const std::wstring& text) {
    sys::file_handle h = sys::invalid_file_handle;
    if (const uint32_t code = sys::create_temp_file(path_, h)) return code;
    const std::string bytes = wide_to_utf8(text.empty() ? text : text + L"\n");
    const uint32_t written = sys::write_file(h, bytes.data(), bytes.size());
    const uint32_t closed = sys::close_file(h);
    return written ? written : closed;
  }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

std::wstring editor_command() {
  for (const char* name : {"VISUAL", "EDITOR"})
    if (std::wstring e = sys::environment(name); !e.empty()) return e;
  return L"vi";
}

} // namespace

result close_output(terminal_context& ctx) {
  if (!ctx.buffer.output) return result();
  if (ctx.routes.rows_target() == ctx.buffer.output.get()) ctx.routes.send_rows_to(nullptr);
  const result r = ctx.buffer.output->close();
  ctx.buffer.output.reset();
  return r.succeeded() ? r : ctx.fail(r.text());
}

result run_output(terminal_context& ctx, command_host&, const TOdbcHndlrCmd& cmd) {
  const result closed = close_output(ctx);
  if (cmd.rest.empty()) return closed;
  auto target = std::make_unique<output_target>();
  if (const result r = target->open(command_argument(cmd.rest)); !r.succeeded()) return ctx.fail(r.text());
  ctx.routes.send_rows_to(target.get());
  ctx.buffer.output = std::move(target);
  return closed;
}

result run_go(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd) {
  const std::wstring statement = statement_to_run(ctx);
  if (statement.empty()) return ctx.fail(str(string_id::nothing_to_run));
  clear_held(ctx);
  std::optional<output_target> once;
  if (!cmd.rest.empty()) {
    once.emplace();
    if (const result r = once->open(command_argument(cmd.rest)); !r.succeeded()) return ctx.fail(r.text());
  }
  result r;
  {
    diverted_rows diverted(ctx, once ? &*once : nullptr, cmd.keyword == L"\\gx" ? find_format(L"vertical") : nullptr);
    r = host.run_statement(statement);
  }
  if (once)
    if (const result closed = once->close(); !closed.succeeded()) return ctx.fail(closed.text());
  return r;
}

result run_gset(terminal_context& ctx, command_host&, const TOdbcHndlrCmd& cmd) {
  const std::wstring statement = statement_to_run(ctx);
  if (statement.empty()) return ctx.fail(str(string_id::nothing_to_run));
  clear_held(ctx);
  if (!ctx.connection.hdbc()) return ctx.fail(str(string_id::not_connected));
  ctx.buffer.last = statement;
  odbc::query q(&ctx.connection, std::wstring());
  result r;
  {
    running_statement cancellable(q);
    r = q.execute(statement, true, false);
  }
  track_transaction(ctx, statement, r);
  if (!r.succeeded()) {
    ctx.routes.failure_line(r.text(), ctx.place);
    ctx.note(r);
    return r;
  }
  std::vector<std::optional<std::wstring>> values;
  {
    running_statement fetching(q, false);
    r = one_row(ctx, q.rows(), values);
  }
  (void)q.drain_results();  // further results are not printed
  if (!r.succeeded()) return r;
  const std::wstring prefix = command_argument(cmd.rest);
  for (size_t i = 0; i < values.size(); ++i) {
    const std::wstring name = prefix + q.rows().at(i).name();
    if (values[i]) ctx.variables.set(name, *values[i]);
    else (void)ctx.variables.unset(name);
  }
  return result();
}

result run_watch(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd) {
  double seconds = 2;
  if (!cmd.rest.empty()) {
    wchar_t* end = nullptr;
    seconds = std::wcstod(cmd.rest.c_str(), &end);
    if (end == cmd.rest.c_str() || *end != 0 || !(seconds > 0) || seconds > 1e6)
      return ctx.fail(message(string_id::watch_bad_interval, cmd.rest.c_str()));
  }
  const std::wstring statement = statement_to_run(ctx);
  if (statement.empty()) return ctx.fail(str(string_id::nothing_to_run));
  clear_held(ctx);
  const std::wstring every = cmd.rest.empty() ? std::wstring(L"2") : cmd.rest;
  result r;
  for (bool first = true;; first = false) {
    if (!first) ctx.routes.statement_break();
    ctx.report_info(message(string_id::watch_header, now_text().c_str(), every.c_str()));
    r = host.run_statement(statement);
    if (!r.succeeded() || ctx.stopped || !wait_or_interrupt(seconds)) break;
  }
  // Ctrl-C ends the watch; at the prompt the session goes on.
  if (!interrupted()) return r;
  if (cmd.at_prompt()) clear_interrupt();
  return result();
}

result run_edit(terminal_context& ctx, command_host&, const TOdbcHndlrCmd& cmd) {
  edit_file temporary;
  std::wstring path = command_argument(cmd.rest);
  if (path.empty()) {
    if (const uint32_t code = temporary.create(statement_to_run(ctx)))
      return ctx.fail(message(string_id::edit_file_failed, temporary.path().c_str(), sys::system_message(code).c_str()));
    path = temporary.path();
  }
  const std::wstring editor = editor_command();
  console().flush();
  if (const int status = sys::run_program(editor, path); status != 0)
    return ctx.fail(message(string_id::editor_failed, editor.c_str(), status));
  std::wstring text;
  if (const uint32_t code = read_text_file(path, text))
    return ctx.fail(message(string_id::edit_file_failed, path.c_str(), sys::system_message(code).c_str()));
  trim(text, L" \t\r\n");
  ctx.buffer.run_replacement = !text.empty() && text.back() == L';';
  ctx.buffer.replacement = std::move(text);
  return result();
}

result run_reset(terminal_context& ctx, command_host&, const TOdbcHndlrCmd&) {
  clear_held(ctx);
  ctx.report_info(str(string_id::buffer_reset));
  return result();
}

result run_print(terminal_context& ctx, command_host&, const TOdbcHndlrCmd&) {
  const std::wstring& text = statement_to_run(ctx);
  if (text.empty()) {
    ctx.report_info(str(string_id::buffer_empty));
    return result();
  }
  console().write(text);
  console().line_break();
  return result();
}

} // namespace vela::terminal
