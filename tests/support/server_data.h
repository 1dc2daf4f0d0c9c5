// The data folder of a test server, made once for every test program of a build: the first
// server of a kind initializes its folder and leaves a copy behind; the servers after it start
// from copies of that.
#pragma once

#include <functional>
#include <string>

namespace vela::testing {

// Fills the folder data (which does not exist yet) with an initialized database: a copy of the
// one kept for name when it was made with the same key, else through init(data), which
// returns "" or why it failed and is then kept for the next server. Returns "" or why not.
std::string provide_data(const std::string& name, const std::string& key, const std::string& data,
                         const std::function<std::string(const std::string& data)>& init);

} // namespace vela::testing
