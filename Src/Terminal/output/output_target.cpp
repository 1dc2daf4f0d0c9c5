#include "Terminal/output/output_target.h"

#include "Terminal/strings.h"
#include "vela/wstr.h"

namespace vela::terminal {

result output_target::open(const std::wstring& where) {
  (void)close();
  told_ = false;
  name_ = where;
  trim(name_, L" \t");
  command_ = !name_.empty() && name_.front() == L'|';
  if (command_) {
    name_.erase(0, 1);
    trim(name_, L" \t");
    if (name_.empty() || !program_.start(name_))
      return failure(os::err_invalid_function, message(string_id::output_not_started, name_.c_str()));
    writer_ = std::make_unique<console_writer>(program_.fd());
    return result();
  }
  using namespace file_access;
  if (const uint32_t code = file_.open_code(name_, write, share_read, nullptr, create_always, normal_attributes, 0))
    return failure(code, message(string_id::output_not_opened, name_.c_str(), sys::system_message(code).c_str()));
  writer_ = console_writer::for_file(file_.handle());
  return result();
}

result output_target::written() const {
  if (!writer_ || writer_->error() == 0) return result();
  const uint32_t code = writer_->error();
  told_ = true;
  return failure(code, message(string_id::output_write_failed, name_.c_str(), sys::system_message(code).c_str()));
}

result output_target::close() {
  if (!writer_) return result();
  writer_->flush();
  const bool told = told_ && writer_->error() != 0;
  result r = told ? result() : written();
  writer_.reset();
  if (command_) {
    const int status = program_.finish();
    if (status != 0 && r.succeeded())
      r = failure(os::err_invalid_function, message(string_id::output_command_failed, name_.c_str(), status));
  } else if (const result closed = file_.close_result(); !closed.succeeded() && r.succeeded()) {
    r = failure(closed.code(), message(string_id::output_write_failed, name_.c_str(), sys::system_message(closed.code()).c_str()));
  }
  return r;
}

} // namespace vela::terminal
