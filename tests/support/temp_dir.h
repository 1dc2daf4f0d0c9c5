// A temporary folder for one test, removed with everything in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace vela::testing {

class temp_dir {
 public:
  temp_dir() {
    // A new folder of a random name (as mkdtemp makes, which not every platform has).
    std::random_device random;
    for (int tries = 0; tries < 100 && path_.empty(); ++tries) {
      const auto p = std::filesystem::temp_directory_path() / ("vela-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(p)) path_ = p.generic_string();
    }
  }
  ~temp_dir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  std::string path(const std::string& name = {}) const { return name.empty() ? path_ : path_ + "/" + name; }
  std::wstring wpath(const std::string& name = {}) const {
    const std::string p = path(name);
    return std::wstring(p.begin(), p.end());  // test names are ASCII
  }

  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string path_;
};

} // namespace vela::testing
