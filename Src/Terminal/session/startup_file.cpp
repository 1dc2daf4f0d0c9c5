#include "Terminal/session/startup_file.h"

#include "Terminal/session/context.h"
#include "Terminal/strings.h"
#include "vela/async_log.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/os_error.h"
#include "vela/system.h"
#include "vela/utf.h"

namespace vela::terminal {

std::wstring user_startup_file() {
  const std::wstring folder = user_config_folder();
  return folder.empty() ? folder : folder + L"sqltermrc";
}

std::wstring startup_file_of(const terminal_options& options, bool stdin_terminal) {
  if (options.no_rc) return {};
  if (!options.rc_file.empty()) return options.rc_file;
  if (!options.scripts.empty() || options.query_from_stdin || !stdin_terminal || !options.copy_from.empty()) return {};
  return user_startup_file();
}

void run_startup_file(terminal_context& ctx, const std::wstring& path,
                      const std::function<bool(const std::wstring&)>& run_script) {
  if (path.empty() || (path != ctx.options.rc_file && !sys::path_exists(path))) return;
  if (sys::path_exists(path) && !sys::trusted_config_file(path)) {
    console().flush();
    error_console().write(message(string_id::startup_file_not_trusted, path.c_str())).flush();
    return;
  }
  // Failures go to standard error with their file:line, and none stops the run.
  ctx.routes.set_startup(true);
  try {
    (void)run_script(path);
  } catch (const windows_error& e) {
    console().flush();
    error_console().write(message(string_id::startup_file_unreadable, path.c_str(), e.what().c_str())).flush();
  }
  ctx.routes.set_startup(false);
  ctx.place.clear();
}

result write_startup_file(const terminal_options& options) {
  const std::wstring path = options.rc_file.empty() ? user_startup_file() : options.rc_file;
  const auto refused = [&path](uint32_t code) {
    const result r = failure(code);
    error_console().write(message(string_id::startup_file_not_written, path.c_str(), r.description().c_str())).flush();
    return r;
  };
  if (path.empty()) return refused(os::err_path_not_found);
  if (options.rc_file.empty()) {
    // The user's folder is made for the user alone, as the trust rule asks of it.
    if (const uint32_t code = sys::private_folder(path.substr(0, path.rfind(L'/')))) return refused(code);
  }
  file out;
  const uint32_t opened = out.open_code(path, file_access::write, 0, nullptr, file_access::create_new,
                                        file_access::normal_attributes, 0);
  if (opened == os::err_file_exists) {
    error_console().write(message(string_id::startup_file_exists, path.c_str())).flush();
    return failure(opened);
  }
  if (opened) return refused(opened);
  const std::string text = wide_to_utf8(str(string_id::startup_file_template));
  if (const uint32_t code = out.write(text.data(), text.size())) return refused(code);
  if (const result closed = out.close_result(); !closed.succeeded()) return refused(closed.code());
  console().write(message(string_id::startup_file_written, path.c_str())).flush();
  // A mask that lets the group write makes a file that would not be read: said at once.
  if (!sys::trusted_config_file(path))
    error_console().write(message(string_id::startup_file_not_trusted, path.c_str())).flush();
  return result();
}

} // namespace vela::terminal
