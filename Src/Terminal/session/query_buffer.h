// The prompt's query buffer: the statement typed so far and not run, the last statement run,
// and what a command (\g, \r, \e, \gx, \o) leaves for the reader of lines and the output.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Terminal/output/output_target.h"
#include "vela/result.h"

namespace vela::terminal {

struct output_format;
class terminal_context;

struct query_buffer {
  // Set by the reader of typed lines before a command runs; empty in scripts.
  std::wstring held;
  std::wstring last;
  // Set by a command: the text the buffer holds after it (empty: cleared), run at once when
  // run_replacement is set.
  std::optional<std::wstring> replacement;
  bool run_replacement = false;
  // The rows of the statement running now in this layout (\gx); null: the run's format.
  const output_format* layout = nullptr;
  // Where \o sends the rows of the statements after it; null: standard output.
  std::unique_ptr<output_target> output;
};

// Ends what \o began (rows on standard output again): a failed write or a command that
// failed is reported and noted.
result close_output(terminal_context& ctx);

} // namespace vela::terminal
