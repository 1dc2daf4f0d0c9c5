#include "support/maria_server.h"

#include <fcntl.h>
#include <pwd.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "support/pg_server.h"
#include "support/process.h"
#include "support/server_data.h"
#include "support/wait.h"

namespace fs = std::filesystem;

namespace vela::testing {

namespace {

constexpr const char* owner = "mysql";

pid_t spawn_quietly(const std::vector<std::string>& argv) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

// Kills the server and removes its folder when the test program dies without doing so;
// a byte on the pipe says the program stopped the server itself.
int start_watchdog(pid_t server, const std::string& dir) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[1]);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    setsid();  // outlives a signal sent to the test's process group
    // The server is another's child: its end shows on a process descriptor.
    const int ends = static_cast<int>(syscall(SYS_pidfd_open, server, 0));
    char c = 0;
    ssize_t n;
    do n = read(fds[0], &c, 1);
    while (n < 0 && errno == EINTR);
    if (n == 1 && c == 's') _exit(0);
    kill(server, SIGKILL);
    // The folder goes once the server has ended.
    pollfd p{ends, POLLIN, 0};
    if (ends >= 0) poll(&p, 1, 5000);
    else sleep(1);
    execl("/bin/rm", "rm", "-rf", dir.c_str(), static_cast<char*>(nullptr));
    _exit(0);
  }
  close(fds[0]);
  if (pid < 0) {
    close(fds[1]);
    return -1;
  }
  return fds[1];
}

} // namespace

maria_server::maria_server(maria_settings settings) : settings_(std::move(settings)) {
  if (access("/usr/sbin/mariadbd", X_OK) != 0) {
    error_ = "no /usr/sbin/mariadbd (install mariadb-server)";
    return;
  }
  as_root_ = geteuid() == 0;
  std::string tmpl = (fs::temp_directory_path() / "vela-maria-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) {
    error_ = "mkdtemp failed";
    return;
  }
  dir_ = tmpl;
  if (as_root_) {
    const passwd* pw = getpwnam(owner);
    if (!pw || chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
      error_ = "cannot hand the folder to the mysql user";
      return;
    }
  }
  for (int attempt = 0; attempt < 3 && !running_; ++attempt) running_ = start();
}

bool maria_server::start() {
  port_ = pg_server::free_port();
  const std::string cnf = dir_ + "/my.cnf";
  {
    std::ofstream out(cnf);
    out << "[mariadbd]\n"
        << "datadir=" << dir_ << "/data\n"
        << "socket=" << dir_ << "/sock\n"
        << "port=" << port_ << "\n"
        << "bind-address=127.0.0.1\n"
        << "pid-file=" << dir_ << "/mariadbd.pid\n"
        << "log-error=" << dir_ << "/server.log\n"
        // No value may be larger than max_allowed_packet: the tests move up to 64 MiB.
        << "max_allowed_packet=1G\n"
        << "character-set-server=utf8mb4\n"
        << "collation-server=utf8mb4_general_ci\n"
        << "skip-name-resolve\n"
        << "skip-log-bin\n"
        << "innodb_flush_log_at_trx_commit=0\n"
        << "innodb_doublewrite=0\n"
        << "innodb_buffer_pool_size=64M\n";
    if (as_root_) out << "user=" << owner << "\n";
    for (const std::string& line : settings_.config) out << line << "\n";
  }
  if (as_root_) std::system(("chown " + std::string(owner) + " " + cnf).c_str());
  if (!fs::exists(dir_ + "/data")) {
    std::vector<std::string> install{"mariadb-install-db", "--defaults-file=" + cnf,
                                     "--auth-root-authentication-method=normal", "--skip-test-db"};
    if (as_root_) install.insert(install.begin(), {"runuser", "-u", owner, "--"});
    std::error_code ec;
    const std::string key = install[install.size() - 2] + " " + install.back() + (as_root_ ? " as mysql " : " ") +
                            std::to_string(fs::last_write_time("/usr/sbin/mariadbd", ec).time_since_epoch().count());
    error_ = provide_data("maria", key, dir_ + "/data", [&](const std::string&) -> std::string {
      const run_result r = run_process(install);
      if (r.status == 0) return "";
      std::ofstream(dir_ + "/install.log") << r.out << r.err;
      return "mariadb-install-db failed, see " + dir_ + "/install.log";
    });
    if (!error_.empty()) return false;
  }
  std::vector<std::string> argv{"/usr/sbin/mariadbd", "--defaults-file=" + cnf};
  argv.insert(argv.end(), settings_.args.begin(), settings_.args.end());
  pid_ = spawn_quietly(argv);
  if (pid_ < 0) {
    error_ = "cannot start mariadbd";
    return false;
  }
  watchdog_fd_ = start_watchdog(pid_, dir_);
  bool ended = false, answered = false;
  wait_until(
      [&] {
        int status = 0;
        ended = waitpid(pid_, &status, WNOHANG) == pid_;  // a port taken meanwhile, or worse
        answered = !ended && fs::exists(dir_ + "/sock") &&
                   sql(std::string("create user if not exists ") + user() + "@'%' identified by '" + password() +
                       "'; grant all on *.* to " + user() + "@'%'; create database if not exists " + database()) == 0;
        return ended || answered;
      },
      180s, 20ms);
  if (answered) return true;
  if (ended) pid_ = -1;
  stop();
  error_ = ended ? "mariadbd ended at start, see " + dir_ + "/server.log"
                 : "mariadbd did not answer within 180 s, see " + dir_ + "/server.log";
  return false;
}

void maria_server::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);  // the data is thrown away: no need to shut down cleanly
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  if (watchdog_fd_ >= 0) {
    (void)!write(watchdog_fd_, "s", 1);
    close(watchdog_fd_);
    watchdog_fd_ = -1;
  }
  running_ = false;
}

maria_server::~maria_server() {
  stop();
  if (!dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

std::string maria_server::connection_string() const {
  return "Driver={MariaDB Unicode};Server=127.0.0.1;Port=" + std::to_string(port_) + ";Database=" + database() +
         ";UID=" + user() + ";PWD=" + password() + ";";
}

int maria_server::sql(const std::string& statements) const { return client("mariadb", {"-e", statements}).status; }

run_result maria_server::client(const std::string& program, std::vector<std::string> args, const std::string& input) const {
  std::vector<std::string> argv{program, "--no-defaults", "-S", dir_ + "/sock", "-u", "root"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv, input);
}

maria_server& shared_maria_server() {
  static std::unique_ptr<maria_server> server(new maria_server());
  return *server;
}

} // namespace vela::testing
