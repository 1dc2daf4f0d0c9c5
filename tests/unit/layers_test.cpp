// The library's layers and the programs' rooms, each using only those below it: every #include
// under Src and include is checked against this order, so an include that runs upward fails
// here, and so does a circle of includes between files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A layer: paths under the source tree (the longest path that starts a file's name decides)
// and the layers right below it; a layer uses those and what they use in turn. A public header
// belongs to the layer that implements it. The programs (program = true) reach the library
// through its public headers only.
struct layer {
  const char* name;
  std::vector<std::string> paths;
  std::vector<std::string> below;
  bool program = false;
};
const std::vector<layer> layers = {
    {"UTF conversions", {"Src/utf/", "include/vela/utf.h"}, {}},
    {"platform seam", {"Src/os/", "include/vela/os_error.h", "include/vela/platform.h"}, {"UTF conversions"}},
    {"core",
     {"Src/gen/", "include/vela/log.h", "include/vela/code_page.h", "include/vela/base.h", "include/vela/result.h",
      "include/vela/wstr.h", "include/vela/bstr.h", "include/vela/format.h", "include/vela/containers.h",
      "include/vela/b_time.h", "include/vela/task.h", "include/vela/cmdline.h"},
     {"platform seam"}},
    {"files, text and console",
     {"Src/win/", "include/vela/file.h", "include/vela/textfile.h", "include/vela/console.h",
      "include/vela/system.h", "include/vela/private_file.h"},
     {"core"}},
    {"log", {"Src/Log/", "include/vela/async_log.h", "include/vela/ini.h"}, {"files, text and console"}},
    {"odbc", {"Src/odbc/", "include/vela/odbc/"}, {"log"}},
    {"library", {"include/vela/vela.h"}, {"odbc"}},
    {"blobfile", {"Src/File/"}, {"library"}, true},
    // The terminal program: its rooms (session, input, output, load) use one another's
    // headers; the command table sits above them all and the handler above it, so nothing in
    // a room reaches the commands or the handler.
    {"terminal strings", {"Src/Terminal/strings."}, {"library"}, true},
    {"terminal rooms",
     {"Src/Terminal/session/", "Src/Terminal/input/", "Src/Terminal/output/", "Src/Terminal/load/"},
     {"terminal strings"},
     true},
    {"terminal commands", {"Src/Terminal/commands/"}, {"terminal rooms"}, true},
    {"terminal handler", {"Src/Terminal/"}, {"terminal commands"}, true},
};

// Includes let through against the order (none today; an entry names the including file
// and the included one).
const std::set<std::pair<std::string, std::string>> known_upward = {};

int layer_of(const std::string& path) {
  int found = -1;
  size_t longest = 0;
  for (size_t i = 0; i < layers.size(); ++i)
    for (const std::string& p : layers[i].paths)
      if (p.size() > longest && path.compare(0, p.size(), p) == 0) {
        found = static_cast<int>(i);
        longest = p.size();
      }
  return found;
}

int layer_named(const std::string& name) {
  for (size_t i = 0; i < layers.size(); ++i)
    if (name == layers[i].name) return static_cast<int>(i);
  ADD_FAILURE() << "no layer " << name;
  return 0;
}

// Whether layer `from` may use layer `to`: itself, or a layer below it, however far down.
bool uses(int from, int to) {
  if (from == to) return true;
  for (const std::string& b : layers[static_cast<size_t>(from)].below)
    if (uses(layer_named(b), to)) return true;
  return false;
}

struct include_line {
  std::string file, target;
  int line;
};

// A quoted include is found beside its file, then under Src, then under include; one in angle
// brackets under Src or include (the rest are the system's).
std::string resolve(const fs::path& root, const std::string& from, const std::string& name, bool quoted) {
  std::vector<fs::path> bases = {fs::path("Src"), fs::path("include")};
  if (quoted) bases.insert(bases.begin(), fs::path(from).parent_path());
  for (const fs::path& base : bases) {
    const fs::path candidate = (base / name).lexically_normal();
    if (fs::exists(root / candidate)) return candidate.generic_string();
  }
  return {};
}

struct source_tree {
  std::vector<std::string> files;
  std::vector<include_line> includes;
};

const source_tree& tree() {
  static const source_tree t = [] {
    source_tree t;
    const fs::path root = VELA_SOURCE_DIR;
    const std::regex include_re(R"re(^\s*#\s*include\s*(["<])([^">]+)[">])re");
    for (const char* top : {"Src", "include"}) {
      for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
        if (!entry.is_regular_file()) continue;
        const std::string ext = entry.path().extension().string();
        if (ext != ".h" && ext != ".cpp") continue;
        const std::string file = fs::relative(entry.path(), root).generic_string();
        t.files.push_back(file);
        std::ifstream in(entry.path());
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
          std::smatch m;
          if (!std::regex_search(line, m, include_re)) continue;
          const std::string target = resolve(root, file, m[2], m[1] == "\"");
          if (!target.empty()) t.includes.push_back({file, target, number});  // else the system's or generated
        }
      }
    }
    std::sort(t.files.begin(), t.files.end());
    return t;
  }();
  return t;
}

std::string layer_name(int i) { return i < 0 ? "no layer" : layers[static_cast<size_t>(i)].name; }

// A header and its source in one folder are one node of the include graph.
std::string node_of(const std::string& file) { return (fs::path(file).parent_path() / fs::path(file).stem()).generic_string(); }

} // namespace

TEST(Layers, EveryFileHasALayer) {
  for (const std::string& file : tree().files) EXPECT_GE(layer_of(file), 0) << file << " belongs to no layer";
  EXPECT_GT(tree().files.size(), 50u);
}

TEST(Layers, NoIncludeRunsUpward) {
  std::set<std::pair<std::string, std::string>> seen;
  for (const include_line& inc : tree().includes) {
    const int own = layer_of(inc.file), used = layer_of(inc.target);
    if (own < 0) continue;
    if (known_upward.count({inc.file, inc.target})) {
      seen.insert({inc.file, inc.target});
      continue;
    }
    EXPECT_TRUE(used >= 0 && uses(own, used))
        << inc.file << ":" << inc.line << " (" << layer_name(own) << ") includes " << inc.target << " ("
        << layer_name(used) << "), which is not below it";
  }
  for (const auto& [file, target] : known_upward)
    if (!seen.count({file, target})) std::cout << "no longer needed in known_upward: " << file << " -> " << target << "\n";
}

// The seam's own headers (os/) and the library's other private headers are the library's: a
// program that needs something of the system gets it through a public header (vela/system.h).
TEST(Layers, ProgramsIncludePublicHeadersOnly) {
  for (const include_line& inc : tree().includes) {
    const int own = layer_of(inc.file), used = layer_of(inc.target);
    if (own < 0 || !layers[static_cast<size_t>(own)].program) continue;
    const bool public_header = inc.target.compare(0, 8, "include/") == 0;
    EXPECT_TRUE(public_header || (used >= 0 && layers[static_cast<size_t>(used)].program))
        << inc.file << ":" << inc.line << " includes the library's private " << inc.target;
  }
}

TEST(Layers, NoIncludeCircle) {
  std::map<std::string, std::set<std::string>> edges;  // node -> nodes it includes
  std::map<std::pair<std::string, std::string>, std::string> through;  // an include behind each edge
  for (const include_line& inc : tree().includes) {
    if (known_upward.count({inc.file, inc.target})) continue;
    const std::string from = node_of(inc.file), to = node_of(inc.target);
    if (from == to) continue;
    edges[from].insert(to);
    through.emplace(std::make_pair(from, to), inc.file + ":" + std::to_string(inc.line) + " -> " + inc.target);
  }
  // Depth first: a node met again while still on the path closes a circle.
  std::map<std::string, int> state;  // 1 on the path, 2 done
  std::vector<std::string> path;
  std::function<void(const std::string&)> visit = [&](const std::string& node) {
    state[node] = 1;
    path.push_back(node);
    for (const std::string& next : edges[node]) {
      if (state[next] == 1) {
        std::string text;
        auto at = std::find(path.begin(), path.end(), next);
        for (auto it = at; it != path.end(); ++it)
          text += "\n  " + through[{*it, it + 1 == path.end() ? next : *(it + 1)}];
        ADD_FAILURE() << "include circle:" << text;
      } else if (state[next] == 0) {
        visit(next);
      }
    }
    path.pop_back();
    state[node] = 2;
  };
  for (const std::string& file : tree().files)
    if (state[node_of(file)] == 0) visit(node_of(file));
}
