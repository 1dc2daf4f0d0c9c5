// Where rows go instead of standard output: a file (\o FILE, \g FILE) or the input of a
// command run by the shell (\o |command, \g |command).
#pragma once

#include <memory>
#include <string>

#include "vela/console.h"
#include "vela/file.h"
#include "vela/result.h"
#include "vela/system.h"

namespace vela::terminal {

class output_target {
 public:
  output_target() = default;
  ~output_target() { (void)close(); }
  output_target(const output_target&) = delete;
  output_target& operator=(const output_target&) = delete;

  // "FILE" (made anew, or a device written in place) or "|command"; a failure with its
  // message when the file cannot be made or the command cannot be started.
  result open(const std::wstring& where);
  console_writer& writer() { return *writer_; }
  // A failure with its message while a write to the target has failed (what was written
  // since is lost); a success otherwise.
  result written() const;
  // Flushes and closes: a failed write or close (not told by written() already), or a
  // command that ended with a status other than 0, is a failure with its message.
  result close();

 private:
  std::wstring name_;  // the file, or the command without its "|"
  bool command_ = false;
  mutable bool told_ = false;  // written() has told of the failed write
  file file_;
  sys::piped_program program_;
  std::unique_ptr<console_writer> writer_;
};

} // namespace vela::terminal
