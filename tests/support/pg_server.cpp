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
  std::string tmpl = (fs::temp_directory_path() / "vela-pg-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) {
    error_ = "mkdtemp failed";
    return;
  }
  dir_ = tmpl;
  if (as_root_) {
    const passwd* pw = getpwnam("postgres");
    if (!pw || chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
      error_ = "cannot hand the folder to the postgres user";
      return;
    }
  }
  std::ofstream(dir_ + "/pw") << password() << "\n";
  if (as_root_) std::system(("chown postgres " + quote(dir_ + "/pw")).c_str());
  const std::string init = bin_ + "/initdb -D " + quote(dir_ + "/data") + " -U " + user() + " --pwfile=" +
                           quote(dir_ + "/pw") + " -A scram-sha-256 --auth-local=trust -E UTF8 --no-locale" +
                           " > " + quote(dir_ + "/initdb.log") + " 2>&1";
  if (std::system(run_as_owner(init).c_str()) != 0) {
    error_ = "initdb failed, see " + dir_ + "/initdb.log";
    return;
  }
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

pg_server& shared_pg_server() {
  static std::unique_ptr<pg_server> server(new pg_server());
  return *server;
}

} // namespace vela::testing
