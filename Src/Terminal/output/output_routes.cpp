#include "Terminal/output/output_routes.h"

#include "Terminal/output/output_target.h"
#include "vela/console.h"

namespace vela::terminal {

console_writer& output_routes::rows() const { return target_ ? target_->writer() : console(); }

console_writer* output_routes::summary() const {
  if (options_.data_only) return nullptr;
  return options_.data_apart() ? &error_console() : &console();
}

void output_routes::statement_break() const {
  if (!options_.data_apart()) console().line_break();
}

void output_routes::failure(const std::wstring& text, const std::wstring& place) const {
  if (!failures_apart()) {
    console().write(text);
    return;
  }
  if (text.empty()) return;
  console().flush();  // data printed so far comes first
  console_writer& err = error_console();
  err.write(place);
  err.write(text);
  if (text.back() != L'\n') err.write(L'\n');
  err.flush();
}

void output_routes::failure_line(const std::wstring& text, const std::wstring& place) const {
  if (failures_apart()) {
    failure(text, place);
    return;
  }
  console().write(text);
  console().line_break();
}

void output_routes::info(const std::wstring& text) const {
  if (options_.data_only) return;
  if (!options_.data_apart()) {
    console().write(text);
    return;
  }
  console_writer& err = error_console();
  err.write(text);
  if (!text.empty() && text.back() != L'\n') err.write(L'\n');
  err.flush();
}

void output_routes::info_line(const std::wstring& text) const {
  if (options_.data_apart()) {
    info(text);
  } else if (!options_.data_only) {
    console().write(text);
    console().line_break();
  }
}

console_writer& output_routes::startup_failures() const {
  if (!options_.on_error && !options_.data_apart()) return console();
  console().flush();
  return error_console();
}

void output_routes::warning(const std::wstring& text) const {
  console().flush();
  error_console().write(text).flush();
}

} // namespace vela::terminal
