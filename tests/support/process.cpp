#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <cstdlib>
#include <cstring>

namespace vela::testing {

namespace {
long last_peak = 0;

std::string proc_file(int pid, const char* name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The fields of /proc/<pid>/stat after the command name (which may hold blanks): the state first.
std::vector<std::string> stat_fields(int pid) {
  const std::string stat = proc_file(pid, "stat");
  const size_t close = stat.rfind(')');
  std::vector<std::string> fields;
  if (close == std::string::npos) return fields;
  std::istringstream in(stat.substr(close + 1));
  for (std::string f; in >> f;) fields.push_back(f);
  return fields;
}
} // namespace

char process_state(int pid) {
  const std::vector<std::string> f = stat_fields(pid);
  return f.empty() ? 0 : f[0][0];
}

long process_cpu_ms(int pid) {
  const std::vector<std::string> f = stat_fields(pid);
  if (f.size() < 13) return 0;
  // utime and stime, the 14th and 15th fields of the whole line.
  return (std::atol(f[11].c_str()) + std::atol(f[12].c_str())) * 1000 / sysconf(_SC_CLK_TCK);
}

long long process_bytes_read(int pid) {
  const std::string io = proc_file(pid, "io");
  const size_t at = io.find("rchar: ");
  return at == std::string::npos ? 0 : std::atoll(io.c_str() + at + 7);
}

int process_threads(int pid) {
  const std::string status = proc_file(pid, "status");
  const size_t at = status.find("Threads:");
  return at == std::string::npos ? 0 : std::atoi(status.c_str() + at + 8);
}

bool process_waits_for_input(int pid) {
  if (process_state(pid) != 'S') return false;
  const long call = std::atol(proc_file(pid, "syscall").c_str());
  static const long waiting[] = {SYS_read, SYS_readv, SYS_pread64, SYS_ppoll, SYS_pselect6, SYS_epoll_pwait,
#ifdef SYS_poll
                                 SYS_poll, SYS_select, SYS_epoll_wait,
#endif
  };
  for (const long w : waiting)
    if (call == w) return true;
  return false;
}

long last_child_peak_rss_kib() { return last_peak; }

run_result run_process(const std::vector<std::string>& argv, const std::string& input,
                       const std::map<std::string, std::string>& env, const std::string& cwd,
                       const output_watch& watch) {
  run_result res;
  int in[2], out[2], err[2];
  // Close-on-exec: a child started from another thread at the same time must not hold these
  // pipes open (its copy of a write end would keep this read waiting until it ends).
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return res;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    setsid();  // no controlling terminal
    for (const auto& [k, v] : env) {
      if (v == "\x01") unsetenv(k.c_str());
      else setenv(k.c_str(), v.c_str(), 1);
    }
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  size_t written = 0;
  if (input.empty()) {
    close(in[1]);
    in[1] = -1;
  }
  if (in[1] >= 0) fcntl(in[1], F_SETFL, O_NONBLOCK);
  bool out_open = true, err_open = true;
  char buf[65536];
  while (out_open || err_open || in[1] >= 0) {
    pollfd fds[3];
    int n = 0;
    if (out_open) fds[n++] = {out[0], POLLIN, 0};
    if (err_open) fds[n++] = {err[0], POLLIN, 0};
    if (in[1] >= 0) fds[n++] = {in[1], POLLOUT, 0};
    if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < n; ++i) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == in[1]) {
        const ssize_t w = write(in[1], input.data() + written, input.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if (w < 0 || written == input.size()) {
          close(in[1]);
          in[1] = -1;
        }
        continue;
      }
      const ssize_t r = read(fds[i].fd, buf, sizeof buf);
      if (r <= 0) {
        if (fds[i].fd == out[0]) out_open = false;
        else err_open = false;
        continue;
      }
      (fds[i].fd == out[0] ? res.out : res.err).append(buf, static_cast<size_t>(r));
      if (watch) watch(res, pid);
    }
  }
  close(out[0]);
  close(err[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  last_peak = usage.ru_maxrss;
  res.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return res;
}

int start_process(const std::vector<std::string>& argv, const std::string& folder) {
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    if (chdir(folder.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return child;
}

int signal_when_file_grows(int child, const std::string& folder, const std::string& prefix, long min_bytes, int sig) {
  namespace fs = std::filesystem;
  int status = 0;
  for (bool sent = false; waitpid(child, &status, WNOHANG) == 0;) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
      if (!sent && e.path().filename().string().rfind(prefix, 0) == 0 &&
          static_cast<long>(e.file_size(ec)) >= min_bytes && !ec) {
        kill(child, sig);
        sent = true;
      }
    std::this_thread::sleep_for(std::chrono::microseconds(500));  // polling, not waiting for a time
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

} // namespace vela::testing
