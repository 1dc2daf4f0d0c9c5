// Where the log parameter file is looked for and where the log it switches on is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vela::log_place {

// The parameter files looked for, in this order: beside the executable (base_path + ".wli"),
// in the user's configuration folder ($XDG_CONFIG_HOME/vela/, default ~/.config/vela/),
// in /etc/vela/. The last two bear the executable's base name.
std::vector<std::wstring> wli_candidates(const std::wstring& base_path);

// The first candidate whose last-write time can be read, with that time; empty when none.
std::wstring find_wli(const std::wstring& base_path, int64_t& seconds, long& nanoseconds);

// The folder, ending in "/", for the log of a parameter file: the file's own folder when the
// user may write there, otherwise the user's state folder ($XDG_STATE_HOME/vela/, default
// ~/.local/state/vela/), created when create is set.
std::wstring log_folder(const std::wstring& wli_path, bool create);

// The user's state folder, ending in "/": $XDG_STATE_HOME/vela/ (default ~/.local/state/vela/),
// created when create is set; empty when neither variable is known.
std::wstring state_folder(bool create);

// The user's configuration folder, ending in "/": $XDG_CONFIG_HOME/vela/ (default
// ~/.config/vela/); empty when neither variable is known.
std::wstring config_folder();

} // namespace vela::log_place
