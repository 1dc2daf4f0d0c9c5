// Runs a program as a child process and collects what it prints.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vela::testing {

struct run_result {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// What the child printed so far, after each piece of its output, and its process id (to
// signal it once the output shows it has got so far).
using output_watch = std::function<void(const run_result& so_far, int pid)>;

// input is written to the child's standard input, which is then closed.
// env entries are set (a value of "\x01" unsets the variable) in the child only.
run_result run_process(const std::vector<std::string>& argv, const std::string& input = {},
                       const std::map<std::string, std::string>& env = {}, const std::string& cwd = {},
                       const output_watch& watch = {});

// Starts a program in folder without waiting for it, its output thrown away; the child's id.
int start_process(const std::vector<std::string>& argv, const std::string& folder);
// Waits for the child to end; when a file whose name starts with prefix appears in folder and
// holds at least min_bytes before that, sends it sig first. The exit status as run_result's.
int signal_when_file_grows(int child, const std::string& folder, const std::string& prefix, long min_bytes, int sig);

// What Linux tells of a running process (under /proc), for a test waiting for it to get so far.
// Its state letter (R running, S asleep, Z ended...), 0 once it is gone.
char process_state(int pid);
// Processor time used so far, user and system, in milliseconds.
long process_cpu_ms(int pid);
// Bytes read so far by every read call of the process (its "rchar").
long long process_bytes_read(int pid);
// The process sleeps in a read or a wait for input (read, poll, select and their kin).
bool process_waits_for_input(int pid);
// Its threads; 0 once it is gone.
int process_threads(int pid);

// Peak resident set size (KiB) of the last child that run_process waited for.
long last_child_peak_rss_kib();

} // namespace vela::testing
