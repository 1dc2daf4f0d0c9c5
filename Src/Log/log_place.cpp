#include "Log/log_place.h"

#include "os/os.h"
#include "vela/async_log.h"
#include "vela/system.h"

namespace vela::log_place {

namespace {

std::wstring folder_of(const std::wstring& path) {
  const size_t slash = path.rfind(L'/');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// An XDG base folder: the variable when it holds an absolute path, else the fallback
// below $HOME; empty when neither is known.
std::wstring xdg_folder(const char* variable, const wchar_t* below_home) {
  std::wstring v = os::environment(variable);
  if (!v.empty() && v[0] == L'/') return v;
  const std::wstring home = os::environment("HOME");
  if (home.empty()) return {};
  return home + below_home;
}

std::wstring vela_folder(const std::wstring& base) {
  if (base.empty()) return {};
  return base.back() == L'/' ? base + L"vela/" : base + L"/vela/";
}

} // namespace

std::wstring config_folder() { return vela_folder(xdg_folder("XDG_CONFIG_HOME", L"/.config")); }

std::vector<std::wstring> wli_candidates(const std::wstring& base_path) {
  const size_t slash = base_path.rfind(L'/');
  const std::wstring name = (slash == std::wstring::npos ? base_path : base_path.substr(slash + 1)) + L".wli";
  std::vector<std::wstring> out{base_path + L".wli"};
  const std::wstring config = config_folder();
  if (!config.empty()) out.push_back(config + name);
  out.push_back(L"/etc/vela/" + name);
  return out;
}

std::wstring find_wli(const std::wstring& base_path, int64_t& seconds, long& nanoseconds) {
  for (const std::wstring& path : wli_candidates(base_path)) {
    if (os::last_write_time(path, seconds, nanoseconds) != 0) continue;
    // One that others could have planted or changed is passed over, with a word why.
    if (os::trusted_config_file(path)) return path;
    const std::wstring notice = os::russian_ui()
                                    ? L"Файл параметров журнала '" + path +
                                          L"' пропущен: это должен быть обычный файл владельца или root, который "
                                          L"группа и остальные не могут изменить, в такой же папке.\n"
                                    : L"The log parameter file '" + path +
                                          L"' is ignored: it must be a regular file of its user or root that group "
                                          L"and others cannot change, in a folder of the same kind.\n";
    sys::write_error_output(notice);
  }
  return {};
}

std::wstring state_folder(bool create) {
  const std::wstring state = vela_folder(xdg_folder("XDG_STATE_HOME", L"/.local/state"));
  if (create && !state.empty()) os::create_folders(state.substr(0, state.size() - 1));
  return state;
}

std::wstring log_folder(const std::wstring& wli_path, bool create) {
  const std::wstring own = folder_of(wli_path);
  if (os::folder_writable(own.empty() ? L"." : own)) return own;
  const std::wstring state = state_folder(create);
  return state.empty() ? own : state;
}

} // namespace vela::log_place

namespace vela {

std::wstring user_state_folder(bool create) { return log_place::state_folder(create); }

std::wstring user_config_folder() { return log_place::config_folder(); }

} // namespace vela
