// Command lines matched against option parsers: switches, values, escaped values,
// sub-value lists and file names with a code page. Each argument of the argument vector is
// matched on its own; a value ends where its argument ends.
#pragma once

#include <list>
#include <optional>
#include <string>
#include <vector>

#include "vela/code_page.h"
#include "vela/containers.h"
#include "vela/result.h"
#include "vela/task.h"

namespace vela {

// Registered (with an empty text) by the first argument parser of the process.
constexpr uint32_t commandline_error = 0x20000301;

using string_list = std::vector<std::wstring>;

class argument_parser {
 public:
  // name: a regular-expression fragment; empty for a positional argument.
  argument_parser(std::wstring name, std::wstring* target);
  virtual ~argument_parser() = default;
  argument_parser(const argument_parser&) = delete;
  argument_parser& operator=(const argument_parser&) = delete;

  // Offers one whole argument; rest is the command line from this argument on, as
  // messages quote it.
  virtual result parse(const std::wstring& arg, const std::wstring& rest);
  // Offers an option word already split into its name and value.
  virtual result parse_word(const std::wstring& name, const std::wstring& value, const string_list& subvalues);
  virtual bool repeatable() const { return false; }

  int32_t uses = 0;
  const std::wstring& name() const { return name_; }

 protected:
  // The value form "-name:": where the value begins in arg, or npos.
  size_t match_value_form(const std::wstring& arg) const;
  // The whole argument is the switch form "-name".
  bool match_switch_form(const std::wstring& arg) const;
  result second_use(const std::wstring& text);

  std::wstring name_;
  std::wstring* target_;

 private:
  std::optional<bool> is_word(std::wstring_view word) const;

  std::vector<std::wstring> words_;  // the name's words, when it is only a choice of words
};

class commandline_bool_argument_parser : public argument_parser {
 public:
  commandline_bool_argument_parser(std::wstring name, bool* target);
  result parse(const std::wstring& arg, const std::wstring& rest) override;
  result parse_word(const std::wstring& name, const std::wstring& value, const string_list& subvalues) override;

 private:
  bool* flag_;
  std::wstring value_;
};

class commandline_argument_escape_parser : public argument_parser {
 public:
  using argument_parser::argument_parser;
  result parse(const std::wstring& arg, const std::wstring& rest) override;
};

class commandline_argument_subvalues_parser : public argument_parser {
 public:
  commandline_argument_subvalues_parser(std::wstring name, string_list* target);
  result parse(const std::wstring& arg, const std::wstring& rest) override;
  result parse_word(const std::wstring& name, const std::wstring& value, const string_list& subvalues) override;

 protected:
  std::wstring value_;
  string_list* list_;
};

class commandline_filename_parser : public commandline_argument_subvalues_parser {
 public:
  commandline_filename_parser(std::wstring name, std::wstring* file_name, text_file_code_page* code_page);
  result parse(const std::wstring& arg, const std::wstring& rest) override;
  result parse_word(const std::wstring& name, const std::wstring& value, const string_list& subvalues) override;

 private:
  result take_file_name(const std::wstring& consumed);

  std::wstring* file_name_;
  text_file_code_page* code_page_;
  string_list parts_;
};

// Replaces \\ \' \" \t \r \n \uXXXX \xXX; other backslashes stay.
std::wstring unescape(const std::wstring& s);
// A value that begins and ends with a double quote loses that one pair.
std::wstring unquote_value(std::wstring value);

class commandline_parser : public task {
 public:
  // Takes the process's argument vector (the program name first).
  commandline_parser();
  explicit commandline_parser(string_list args);
  ~commandline_parser() override = default;

  // Owned from now on.
  void add(argument_parser* p) { parsers_.add(p); }
  // The word parse: each argument split into a name and a value and offered to every parser.
  void do_run() override;
  const string_list& args() const { return args_; }
  // The arguments joined into one line, as the log and messages quote them.
  const std::wstring& command_line() const { return command_line_; }

 protected:
  void reset_uses();
  Queue<argument_parser> parsers_;
  string_list args_;
  std::wstring command_line_;
};

class commandline_customized_parser : public commandline_parser {
 public:
  using commandline_parser::commandline_parser;
  // Each argument in turn is offered to the parsers in order until one takes it.
  void do_run() override;
};

} // namespace vela
