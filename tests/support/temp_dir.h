// A temporary folder for one test, removed with everything in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vela::testing {

class temp_dir {
 public:
  temp_dir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vela-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
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
