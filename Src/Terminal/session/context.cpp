#include "Terminal/session/context.h"

#include "vela/console.h"
#include "vela/os_error.h"

namespace vela::terminal {

terminal_context::terminal_context(terminal_options& options)
    : options(options),
      routes(options),
      named{options.connection_string, options.driver, options.driver_parameters, options.datasource, options.user} {}

void terminal_context::note(const result& r) {
  if (!options.on_error || routes.in_startup() || stopped || r.succeeded() || r.code() == os::err_cancelled) return;
  stopped = true;
  // The exit status is the failure's code, and never 0.
  first_failure = r.code() ? r : failure(os::err_invalid_function, r.text());
}

result terminal_context::fail(const std::wstring& text) {
  report_failure(text);
  console().flush();
  note(failure(os::err_invalid_data, text));
  return failure(os::err_invalid_data);
}

} // namespace vela::terminal
