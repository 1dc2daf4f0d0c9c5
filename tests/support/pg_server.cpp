#include "support/pg_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "support/server_data.h"

namespace fs = std::filesystem;

namespace vela::testing {

namespace {

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string find_bin_dir() {
  std::string best;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    const fs::path bin = e.path() / "bin";
    if (fs::exists(bin / "initdb") && bin.string() > best) best = bin.string();
  }
  return best;
}

} // namespace

int pg_server::free_port() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(s);
  return port;
}

std::string pg_server::run_as_owner(const std::string& command) const {
  return as_root_ ? "runuser -u postgres -- sh -c " + quote(command) : command;
}

pg_server::pg_server() {
  bin_ = find_bin_dir();
  if (bin_.empty()) {
    error_ = "no PostgreSQL server binaries under /usr/lib/postgresql";
    return;
  }
  as_root_ = geteuid() == 0;
  if (!make_folder("vela-pg-")) return;
  std::ofstream(dir_ + "/pw") << password() << "\n";
  if (as_root_) std::system(("chown postgres " + quote(dir_ + "/pw")).c_str());
  const std::string options = std::string(" -U ") + user() + " -A scram-sha-256 --auth-local=trust -E UTF8 --no-locale";
  std::error_code ec;
  const std::string key = bin_ + options + " " + password() + (as_root_ ? " as postgres " : " ") +
                          std::to_string(fs::last_write_time(bin_ + "/postgres", ec).time_since_epoch().count());
  error_ = provide_data("pg", key, dir_ + "/data",
                        [&](const std::string& data) -> std::string {
                          const std::string init = bin_ + "/initdb -D " + quote(data) + options + " --pwfile=" +
                                                   quote(dir_ + "/pw") + " > " + quote(dir_ + "/initdb.log") + " 2>&1";
                          if (std::system(run_as_owner(init).c_str()) != 0)
                            return "initdb failed, see " + dir_ + "/initdb.log";
                          return "";
                        });
  if (!error_.empty()) return;
  start();
}

bool pg_server::make_folder(const char* prefix) {
  std::string tmpl = (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
  if (!mkdtemp(tmpl.data())) {
    error_ = "mkdtemp failed";
    return false;
  }
  dir_ = tmpl;
  if (as_root_) {
    const passwd* pw = getpwnam("postgres");
    if (!pw || chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
      error_ = "cannot hand the folder to the postgres user";
      return false;
    }
  }
  return true;
}

void pg_server::start() {
  for (int attempt = 0; attempt < 3 && !running_; ++attempt) {
    port_ = free_port();
    const std::string opts = "-p " + std::to_string(port_) + " -k " + dir_ +
                             " -c listen_addresses=127.0.0.1 -c fsync=off -c full_page_writes=off -c max_connections=30";
    const std::string start = bin_ + "/pg_ctl -D " + quote(dir_ + "/data") + " -o " + quote(opts) + " -l " +
                              quote(dir_ + "/server.log") + " -w -t 60 start > /dev/null 2>&1";
    running_ = std::system(run_as_owner(start).c_str()) == 0;
  }
  if (!running_) error_ = "pg_ctl start failed, see " + dir_ + "/server.log";
}

pg_server::pg_server(standby_of from) {
  const pg_server& primary = from.primary;
  if (!primary.running()) {
    error_ = "the primary is not running: " + primary.error();
    return;
  }
  bin_ = primary.bin_;
  as_root_ = primary.as_root_;
  if (!fs::exists(bin_ + "/pg_basebackup")) {
    error_ = "no pg_basebackup in " + bin_;
    return;
  }
  if (!make_folder("vela-pg-standby-")) return;
  // -R writes the primary's connection, password included, for the standby to follow.
  const std::string backup = "PGPASSWORD=" + std::string(password()) + " " + bin_ + "/pg_basebackup -h 127.0.0.1 -p " +
                             std::to_string(primary.port_) + " -U " + user() + " -D " + quote(dir_ + "/data") +
                             " -R -X stream -c fast > " + quote(dir_ + "/basebackup.log") + " 2>&1";
  if (std::system(run_as_owner(backup).c_str()) != 0) {
    error_ = "pg_basebackup failed, see " + dir_ + "/basebackup.log";
    return;
  }
  start();
}

int pg_server::promote() {
  return std::system(run_as_owner(bin_ + "/pg_ctl -D " + quote(dir_ + "/data") + " -w -t 60 promote > /dev/null 2>&1").c_str());
}

bool pg_server::in_recovery() const {
  return client("psql", "postgres", {"-At", "-c", "select pg_is_in_recovery()"}).out.rfind("t", 0) == 0;
}

pg_server::~pg_server() {
  if (running_) {
    const std::string stop = bin_ + "/pg_ctl -D " + quote(dir_ + "/data") + " -m immediate -w stop > /dev/null 2>&1";
    std::system(run_as_owner(stop).c_str());
  }
  if (!dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

int pg_server::kill_now() {
  const std::string stop = bin_ + "/pg_ctl -D " + quote(dir_ + "/data") + " -m immediate -w stop > /dev/null 2>&1";
  const int status = std::system(run_as_owner(stop).c_str());
  running_ = false;
  return status;
}

std::string pg_server::connection_string() const {
  return "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(port_) +
         ";Database=postgres;UID=" + user() + ";PWD=" + password() + ";";
}

int pg_server::psql(const std::string& sql) const {
  const std::string cmd = "PGPASSWORD=" + std::string(password()) + " " + bin_ + "/psql -q -h 127.0.0.1 -p " +
                          std::to_string(port_) + " -U " + user() + " -d postgres -v ON_ERROR_STOP=1 -c " +
                          quote(sql) + " > /dev/null";
  return std::system(cmd.c_str());
}

run_result pg_server::client(const std::string& program, const std::string& db, std::vector<std::string> args,
                             const std::string& input) const {
  std::vector<std::string> argv{bin_ + "/" + program, "-h", "127.0.0.1", "-p", std::to_string(port_), "-U", user(), "-d", db};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv, input, {{"PGPASSWORD", password()}});
}

std::vector<int> pg_server::active_backends(const std::string& text) const {
  std::string literal = "'";
  for (char c : text) literal += c == '\'' ? std::string("''") : std::string(1, c);
  literal += "'";
  const run_result r = client("psql", "postgres",
                              {"-At", "-c", "select pid from pg_stat_activity where state = 'active' and "
                                            "pid <> pg_backend_pid() and starts_with(query, " + literal + ")"});
  std::vector<int> pids;
  std::istringstream lines(r.out);
  for (int pid; lines >> pid;) pids.push_back(pid);
  return pids;
}

std::vector<std::string> pg_server::process_titles() const {
  std::vector<std::string> titles;
  int postmaster = 0;
  std::ifstream(dir_ + "/data/postmaster.pid") >> postmaster;
  if (postmaster <= 0) return titles;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc", ec)) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string stat;
    std::getline(std::ifstream(e.path() / "stat"), stat);
    const size_t close = stat.rfind(')');
    if (close == std::string::npos || std::atoi(stat.c_str() + stat.find(' ', close + 2)) != postmaster) continue;
    std::string title;
    std::getline(std::ifstream(e.path() / "cmdline"), title, '\0');
    titles.push_back(title.substr(0, title.find_last_not_of(' ') + 1));
  }
  return titles;
}

pg_server& shared_pg_server() {
  static std::unique_ptr<pg_server> server(new pg_server());
  return *server;
}

pg_pair& shared_pg_pair() {
  static pg_pair pair = [] {
    pg_pair p;
    p.primary = std::make_unique<pg_server>();
    if (!p.primary->running()) {
      (p.primary->error().rfind("no PostgreSQL", 0) == 0 ? p.missing : p.error) = p.primary->error();
      return p;
    }
    p.standby = std::make_unique<pg_server>(pg_server::standby_of{*p.primary});
    if (!p.standby->running())
      (p.standby->error().rfind("no pg_basebackup", 0) == 0 ? p.missing : p.error) = p.standby->error();
    return p;
  }();
  return pair;
}

} // namespace vela::testing
