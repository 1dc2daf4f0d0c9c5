// The library's layers, each using only those below it: every quoted #include under Src and
// include is checked against this order, so an include that runs upward fails here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The order, lowest first, as paths under the source tree; a path is looked up from the first
// layer on, so a file named on its own counts before its folder. A public header belongs to
// the layer that implements it.
struct layer {
  const char* name;
  std::vector<std::string> paths;
};
const std::vector<layer> layers = {
    {"UTF conversions", {"Src/gen/utf.cpp", "include/vela/utf.h"}},
    {"platform seam", {"Src/os/", "include/vela/os_error.h", "include/vela/platform.h"}},
    {"core",
     {"Src/gen/", "Src/Log/log_interface.cpp", "include/vela/log.h", "include/vela/code_page.h", "include/vela/base.h", "include/vela/result.h", "include/vela/utf.h", "include/vela/wstr.h",
      "include/vela/bstr.h", "include/vela/format.h", "include/vela/containers.h", "include/vela/b_time.h",
      "include/vela/task.h", "include/vela/cmdline.h"}},
    {"files, text and console",
     {"Src/win/", "include/vela/file.h", "include/vela/textfile.h", "include/vela/console.h",
      "include/vela/system.h", "include/vela/private_file.h"}},
    {"log", {"Src/Log/", "include/vela/async_log.h", "include/vela/ini.h"}},
    {"odbc", {"Src/odbc/", "include/vela/odbc/"}},
    {"programs", {"Src/Terminal/", "Src/File/", "include/vela/vela.h"}},
};

int layer_of(const std::string& path) {
  for (size_t i = 0; i < layers.size(); ++i)
    for (const std::string& p : layers[i].paths)
      if (path.compare(0, p.size(), p) == 0) return static_cast<int>(i);
  return -1;
}

// A quoted include is found beside its file, then under Src, then under include.
std::string resolve(const fs::path& root, const std::string& from, const std::string& name) {
  for (const fs::path& base : {fs::path(from).parent_path(), fs::path("Src"), fs::path("include")}) {
    const fs::path candidate = (base / name).lexically_normal();
    if (fs::exists(root / candidate)) return candidate.generic_string();
  }
  return {};
}

} // namespace

TEST(Layers, NoIncludeRunsUpward) {
  const fs::path root = VELA_SOURCE_DIR;
  const std::regex include_line(R"re(^\s*#\s*include\s*"([^"]+)")re");
  size_t files = 0;
  for (const char* top : {"Src", "include"}) {
    for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
      if (!entry.is_regular_file()) continue;
      const std::string ext = entry.path().extension().string();
      if (ext != ".h" && ext != ".cpp") continue;
      const std::string file = fs::relative(entry.path(), root).generic_string();
      const int own = layer_of(file);
      EXPECT_GE(own, 0) << file << " belongs to no layer";
      ++files;
      std::ifstream in(entry.path());
      std::string line;
      for (int number = 1; std::getline(in, line); ++number) {
        std::smatch m;
        if (!std::regex_search(line, m, include_line)) continue;
        const std::string target = resolve(root, file, m[1]);
        if (target.empty()) continue;  // a generated file
        const int used = layer_of(target);
        EXPECT_LE(used, own) << file << ":" << number << " (" << layers[static_cast<size_t>(own)].name
                             << ") includes " << target << " ("
                             << (used < 0 ? "no layer" : layers[static_cast<size_t>(used)].name) << ")";
      }
    }
  }
  EXPECT_GT(files, 50u);
}
