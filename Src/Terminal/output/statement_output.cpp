// One statement executed and printed: echo, rows, summary line and execution time.
#include <algorithm>
#include <cwchar>
#include <optional>
#include <thread>
#include <vector>

#include "Terminal/output/statement_output.h"
#include "Terminal/session/transaction.h"

#include "Terminal/input/prompt.h"
#include "Terminal/output/formats.h"
#include "Terminal/output/output_target.h"
#include "Terminal/output/row_writer.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/format.h"
#include "vela/odbc/environment.h"
#include "vela/odbc/retry.h"
#include "vela/utf.h"
#include "vela/system.h"

namespace vela::terminal {

namespace {

void write_line(console_writer& to, const std::wstring& text) {
  to.write(text);
  to.line_break();
}

} // namespace

namespace {

// n in decimal, at least digits places (zeros in front).
void append_decimal(std::wstring& to, uint32_t n, size_t digits = 1) {
  wchar_t text[10];
  size_t at = sizeof text / sizeof *text;
  do {
    text[--at] = static_cast<wchar_t>(L'0' + n % 10);
    n /= 10;
  } while (n || sizeof text / sizeof *text - at < digits);
  to.append(text + at, sizeof text / sizeof *text - at);
}

} // namespace

// [days:][hours:][minutes:]seconds.milliseconds, the parts beyond the seconds shown from
// the first that is reached.
void append_elapsed(std::wstring& to, uint32_t ms) {
  const uint32_t s = ms / 1000 % 60, m = ms / 60000 % 60, h = ms / 3600000 % 24;
  if (ms < 60000) {
    append_decimal(to, ms / 1000);
  } else {
    if (ms >= 86400000) {
      append_decimal(to, ms / 86400000);
      to += L':';
    }
    if (ms >= 3600000) {
      append_decimal(to, h, 2);
      to += L':';
    }
    append_decimal(to, m, 2);
    to += L':';
    append_decimal(to, s, 2);
  }
  to += L'.';
  append_decimal(to, ms % 1000, 3);
}

std::wstring format_elapsed(uint32_t ms) {
  std::wstring text;
  append_elapsed(text, ms);
  return text;
}

// The summary's texts are the same for every statement (the language is chosen once a run):
// looked up once, the numbers put in by hand.
void statement_output::summary_texts::learn() {
  if (known) return;
  const auto split = [](uint32_t id, const wchar_t* mark, std::wstring& before, std::wstring& after) {
    const std::wstring text = str(id);
    const size_t at = text.find(mark);
    before = text.substr(0, at);
    after = at == std::wstring::npos ? std::wstring() : text.substr(at + 2);
  };
  split(string_id::rows_affected, L"%u", affected_before, affected_after);
  split(string_id::rows_selected, L"%u", selected_before, selected_after);
  split(string_id::execution_time, L"%s", time_before, time_after);
  no_rows_affected = str(string_id::no_rows_affected);
  no_rows_selected = str(string_id::no_rows_selected);
  known = true;
}

void statement_output::summary_texts::append_counts(std::wstring& line, uint32_t affected, uint32_t selected) {
  learn();
  if (affected) {
    line += affected_before;
    append_decimal(line, affected);
    line += affected_after;
  } else {
    line += no_rows_affected;
  }
  line += L' ';
  if (selected) {
    line += selected_before;
    append_decimal(line, selected);
    line += selected_after;
  } else {
    line += no_rows_selected;
  }
}

void statement_output::summary_texts::append_time(std::wstring& line, uint32_t ms) {
  learn();
  line += time_before;
  append_elapsed(line, ms);
  line += time_after;
}

result statement_output::run_sql(const std::wstring& statement, const std::wstring* sent) {
  console_writer& out = ctx_.routes.rows();
  console_writer* const summary = ctx_.routes.summary();
  cell_path_ = cell_text_path();  // asked before the statement runs: it may run a probe
  const uint32_t t0 = tick_count();
  ctx_.buffer.last = statement;  // what \g and \watch run again
  result r;
  std::wstring& summary_line = summary_line_;  // kept from statement to statement: no allocation
  summary_line.clear();
  // At a prompt with "-pager", output taller than the screen goes through $PAGER; its end (q)
  // ends the output, not the session.
  std::optional<sys::piped_program> pager;  // made only for a pager
  const size_t screen = ctx_.options.pager && ctx_.options.scripts.empty() && sys::stdin_is_terminal() && out.is_terminal()
                            ? sys::terminal_lines(1) : 0;
  paging_ = screen > 1;
  if (screen > 1) {
    pager.emplace();
    out.hold(ctx_.options.pager_always ? 0 : screen - 1, [&pager] {
      std::wstring command = sys::environment("PAGER");
      if (command.empty()) command = L"less -SRFX";
      return pager->start(command) ? pager->fd() : -1;
    });
  }
  {
    odbc::query& q = ctx_.statement;  // one handle for them all; the statement is not copied
    {
      // Ctrl-C cancels the execution; rows already there are only no longer printed.
      running_statement cancellable(q);
      r = execute_retrying(q, sent ? *sent : statement, statement);
    }
    const uint32_t elapsed = elapsed_ms(t0);
    track_transaction(ctx_, statement, r);
    if (ctx_.routes.echo()) {
      console().write(statement);  // on the console also when the rows go elsewhere (\o)
      console().line_break();
    }
    if (r.succeeded()) {
      {
        // The rows end at the next Ctrl-C; a fetch that the driver never returns from ends the run.
        running_statement fetching(q, false);
        print_result_set(q, summary != nullptr, summary_line);
        r = print_further_results(q, summary, summary_line);
      }
      if (summary) {
        // After a failure among further results the statement has no execution time; "\timing
        // off" leaves it out.
        if (r.succeeded() && ctx_.options.timing) {
          summary_line += L' ';
          texts_.append_time(summary_line, elapsed);
        }
        write_summary(*summary, summary_line);
      }
    } else {
      ctx_.routes.failure_line(r.text(), ctx_.place);
    }
    if (summary && retried_) write_summary(*summary, retry_line());
    q.close();  // rows left unread hold no cursor open beside the next statement
  }
  out.flush();  // every statement's output is complete on the console
  if (const output_target* target = ctx_.routes.rows_target()) {
    const result written = target->written();  // a full disk or a closed pipe is never silent
    if (!written.succeeded()) ctx_.report_failure(written.text());
    if (r.succeeded()) r = written;
  }
  if (screen > 1) {
    out.release();
    pager->finish();
  }
  if (summary && summary != &out) {
    // A summary of its own stream comes once the rows are out, also those the pager held.
    for (const std::wstring& line : held_summaries_) write_line(*summary, line);
    held_summaries_.clear();
    summary->flush();
  }
  return r;
}

// With "-retry:N", a statement that runs on its own (autocommit, no transaction begun by the
// user, not itself a transaction statement) and meets a conflict runs again after a growing,
// jittered pause. The database took the failed attempt back itself. A lost connection is not
// run again: the connection is gone.
result statement_output::execute_retrying(odbc::query& q, const std::wstring& text, const std::wstring& statement) {
  retried_ = 0;
  result r = q.execute(text, ctx_.commits_statements, true);
  const uint32_t most = ctx_.options.statement_retries();
  if (r.succeeded() || most == 0 || !ctx_.connection.autocommit() || ctx_.transaction.open ||
      transaction_effect(statement).step != transaction_step::none)
    return r;
  for (odbc::conflict why = odbc::conflict_of(r);
       retried_ < most && why != odbc::conflict::none && why != odbc::conflict::lost_connection;
       why = odbc::conflict_of(r)) {
    if (!pause_before_retry(retried_)) break;
    retry_reason_ = why;
    ++retried_;
    q.close();
    r = q.execute(text, ctx_.commits_statements, true);
  }
  return r;
}

// Waits before attempt runs again; false when Ctrl-C or a stop came meanwhile.
bool statement_output::pause_before_retry(uint32_t attempt) {
  constexpr uint32_t slice = 10;
  for (uint32_t left = odbc::retry_delay_ms(attempt); left > 0 && !interrupted() && !ctx_.stopped;) {
    const uint32_t now = std::min(left, slice);
    std::this_thread::sleep_for(std::chrono::milliseconds(now));
    left -= now;
  }
  return !interrupted() && !ctx_.stopped;
}

// "Retried 2 times: deadlock.", for the last conflict met.
std::wstring statement_output::retry_line() const {
  uint32_t why = string_id::conflict_lost_connection;
  switch (retry_reason_) {
    case odbc::conflict::serialization: why = string_id::conflict_serialization; break;
    case odbc::conflict::deadlock: why = string_id::conflict_deadlock; break;
    case odbc::conflict::certification: why = string_id::conflict_certification; break;
    case odbc::conflict::not_prepared: why = string_id::conflict_not_prepared; break;
    case odbc::conflict::none:
    case odbc::conflict::lost_connection: break;
  }
  return retried_ == 1 ? message(string_id::retried_once, str(why).c_str())
                       : message(string_id::retried_times, retried_, str(why).c_str());
}

void statement_output::print_result_set(odbc::query& q, bool summary, std::wstring& line) {
  uint32_t rows = 0;
  if (q.rows().count() > 0) rows = print_rows(q.rows());
  if (summary) texts_.append_counts(line, q.rows().row_count(), rows);
}

// The statement's further results (a procedure's result sets, a batch's counts), each
// printed as the first; the first failure among them is the statement's. The last result's
// summary is left in line, for the execution time.
result statement_output::print_further_results(odbc::query& q, console_writer* summary, std::wstring& line) {
  result failed;
  for (;;) {
    // After Ctrl-C or a stop the rest is passed over unprinted (what failed there is no
    // longer asked for): the connection stays usable.
    const bool passed_over = interrupted() || ctx_.stopped;
    const result more = passed_over ? q.drain_results() : q.more_results();
    if (passed_over || more.code() == odbc::no_data_error()) return failed;
    if (summary) write_summary(*summary, line);  // the summary before is complete
    line.clear();
    if (!more.succeeded()) {
      ctx_.routes.failure_line(more.text(), ctx_.place);
      ctx_.note(more);
      if (failed.succeeded()) failed = more;
      continue;
    }
    print_result_set(q, summary != nullptr, line);
  }
}

// A result's summary line, after its rows: at once where the rows and it share a stream or
// nothing holds the rows; after the pager's rows where it has a stream of its own.
void statement_output::write_summary(console_writer& summary, const std::wstring& line) {
  if (line.empty()) return;
  console_writer& out = ctx_.routes.rows();
  if (&summary != &out) {
    if (paging_) {
      held_summaries_.push_back(line);
      return;
    }
    out.flush();  // the rows come first
  }
  write_line(summary, line);
}

std::unique_ptr<row_writer> make_writer(const terminal_options& options, console_writer& out, const output_format* format) {
  writer_settings s;
  s.column_delimiter = options.column_delimiter;
  s.null_text = options.null_text;
  s.null_given = options.null_text_given;
  s.names = !options.data_only;
  s.long_columns = options.long_columns;
  s.long_column_width = options.long_column_width;
  s.border = options.border;
  // "\x": the table layouts one column a line, unless the rows are printed without names; a
  // layout asked for this result alone ("\gx") is taken as it is.
  const output_format& chosen = format ? *format : *options.format;
  using mode = terminal_options::expanded_mode;
  if (format || options.expanded == mode::off || !chosen.table_layout || !s.names) return chosen.make(out, s);
  return make_expanded_writer(out, s, chosen, options.expanded == mode::automatic);
}

uint32_t statement_output::print_rows(odbc::resultset& rows) {
  console_writer& out = ctx_.routes.rows();
  const output_format* layout = ctx_.buffer.layout ? ctx_.buffer.layout : ctx_.options.format;
  const std::unique_ptr<row_writer> writer = make_writer(ctx_.options, out, ctx_.buffer.layout);
  cell_source cells(rows, *writer, cell_path_, ctx_.connection.profile().floats_come_as_text());
  // The formats of "-format" and "-csv" print every column; only the padded and "-cd" layouts
  // leave long columns out without "-lc".
  const bool whole = layout->whole_columns;
  std::wstring left_out;
  for (size_t i = 0; i < rows.count(); ++i)
    cells.add_column(i, whole || ctx_.options.long_columns, ctx_.options.long_column_width);
  const size_t rowset = rowset_rows(rows, cells);
  // A driver that refuses a rowset is read one row at a time.
  if (rowset > 1) (void)rows.set_rowset(rowset);  // rowset_size() tells what the driver took
  for (size_t i = 0; i < rows.count(); ++i) {
    const result bound = cells.bind_column(i);
    if (!bound.succeeded()) {  // the column would read as NULL in every row
      ctx_.report_failure(bound.text());
      ctx_.note(bound);
    }
    if (cells.layout(i).left_out)
      left_out += wformat(str(string_id::column_left_out).c_str(), rows.at(i).name().c_str());
  }
  if (!left_out.empty()) ctx_.report_warning(left_out);  // a value is never left out in silence
  if (whole || !ctx_.options.data_only) writer->header(cells.layouts());

  uint32_t count = 0;
  result fetched;
  // Rows go straight from the bound buffers to the console: nothing is allocated per row.
  while (!interrupted() && rows.fetch_row(fetched)) {
    cells.write_row([this](const result& failed) {
      ctx_.report_failure(failed.text());
      ctx_.note(failed);
    });
    ++count;
    if (ctx_.stopped || out.error()) break;  // out fails only when the pager has ended
  }
  writer->end_rows();
  hint_big_result();
  if (interrupted()) fetched = failure(os::err_cancelled, sys::system_message(os::err_cancelled));
  if (fetched.code() != odbc::no_data_error()) {
    ctx_.routes.failure_line(fetched.text(), ctx_.place);
    ctx_.note(fetched);
  }
  return count;
}

// Rows a fetch asks for: the driver's rowset where every value comes from its bound buffer,
// or where a value read again whole can be read in a rowset. VELA_ROWSET_ROWS=n sets the size
// (1: one row at a time, to compare). Results that stream are read one row at a time: a fetch
// from the server that fails there fails its whole rowset (psqlODBC hands over none of its
// rows), and the rows before the failure would go unprinted.
size_t statement_output::rowset_rows(const odbc::resultset& result, const cell_source& cells) {
  const odbc::driver_profile& driver = ctx_.connection.profile();
  size_t rows = driver.rowset_rows();
  const std::wstring asked = sys::environment("VELA_ROWSET_ROWS");
  if (!asked.empty()) rows = static_cast<size_t>(std::wcstoul(asked.c_str(), nullptr, 10));
  if (rows <= 1 || driver.streams_results() || !cells.all_bound()) return 1;
  if (cells.may_read_again() && !result.reads_in_rowsets()) return 1;
  // Wide columns take fewer rows: the buffers stay within their budget.
  const size_t fit = rowset_bytes / (cells.row_bytes() + sizeof(int64_t) * result.count() + 1);
  return std::max<size_t>(1, std::min({rows, fit, max_rowset_rows}));
}

text_path statement_output::cell_text_path() {
  // UTF-8 straight from the driver where it is known and confirmed to give it. VELA_WIDE_CELLS=1
  // keeps the wide path (to compare the two), unless the driver's wide text loses characters.
  static const bool wide_asked = sys::environment("VELA_WIDE_CELLS") == L"1";  // read once a run
  const bool sound_wide = ctx_.connection.profile().sound_wide_lengths();
  if (ctx_.connection.utf8_narrow_text() && (!sound_wide || !wide_asked))
    return text_path::utf8;
  return sound_wide ? text_path::wide : text_path::wide_unbound;
}

void statement_output::hint_big_result() {
  constexpr uint64_t limit = uint64_t{1} << 30;
  const odbc::driver_profile& driver = ctx_.connection.profile();
  if (big_result_hinted_ || !*driver.streaming_setting() || !driver.knows_streaming_setting() ||
      driver.streams_results())
    return;
  const uint64_t peak = sys::peak_memory_bytes();
  if (peak <= limit) return;
  big_result_hinted_ = true;
  ctx_.report_warning(message(string_id::big_result_hint, static_cast<uint32_t>(peak >> 20), driver.streaming_setting()));
}

} // namespace vela::terminal
