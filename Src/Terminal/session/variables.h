// The variables of a run: set by \set, -v and \gset, read back as :NAME in statements and by
// the settings that are variables too (PROMPT1).
#pragma once

#include <map>
#include <string>

namespace vela::terminal {

class variable_table {
 public:
  void set(const std::wstring& name, std::wstring value) { values_[name] = std::move(value); }
  // False when the name was not set.
  bool unset(const std::wstring& name) { return values_.erase(name) != 0; }
  // The value; null when the name is not set.
  const std::wstring* find(const std::wstring& name) const {
    const auto it = values_.find(name);
    return it == values_.end() ? nullptr : &it->second;
  }
  // By name, in code-unit order.
  const std::map<std::wstring, std::wstring>& all() const { return values_; }

 private:
  std::map<std::wstring, std::wstring> values_;
};

} // namespace vela::terminal
