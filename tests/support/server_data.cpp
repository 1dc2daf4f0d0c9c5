#include "support/server_data.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/process.h"

namespace fs = std::filesystem;

namespace vela::testing {

namespace {

// Held while the kept folder of a kind is read or made: the test programs run side by side.
class folder_lock {
 public:
  explicit folder_lock(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~folder_lock() {
    if (fd_ >= 0) close(fd_);  // and the lock with it
  }
  folder_lock(const folder_lock&) = delete;
  folder_lock& operator=(const folder_lock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_;
};

// A copy that keeps owners, modes and holes.
bool copy_folder(const std::string& from, const std::string& to) {
  return run_process({"cp", "-a", "--sparse=always", from, to}).status == 0;
}

} // namespace

std::string provide_data(const std::string& name, const std::string& key, const std::string& data,
                         const std::function<std::string(const std::string& data)>& init) {
#ifdef VELA_SERVER_DATA_DIR
  const std::string store = VELA_SERVER_DATA_DIR;
  std::error_code ec;
  fs::create_directories(store, ec);
  const folder_lock lock(store + "/" + name + ".lock");
  if (!lock.held()) return init(data);
  const std::string kept = store + "/" + name;
  std::ifstream in(kept + "/key");
  const std::string kept_key{std::istreambuf_iterator<char>(in), {}};
  if (kept_key == key && copy_folder(kept + "/data", data)) return "";
  fs::remove_all(data, ec);
  const std::string failed = init(data);
  if (!failed.empty()) return failed;
  // Kept only once whole: the key is written last.
  fs::remove_all(kept, ec);
  fs::create_directories(kept, ec);
  if (copy_folder(data, kept + "/data")) std::ofstream(kept + "/key") << key;
  return "";
#else
  (void)name;
  (void)key;
  return init(data);
#endif
}

} // namespace vela::testing
