// A small program that logs through the process log: "Started", one invalid-handle close,
// then N lines from each of T threads, and stops the log.
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "vela/file.h"
#include "vela/async_log.h"

int main(int argc, char** argv) {
  const int threads = argc > 1 ? std::atoi(argv[1]) : 1;
  const int lines = argc > 2 ? std::atoi(argv[2]) : 1;
  vela::Log& log = vela::install_async_process_log();
  log.start();
  vela::write_formatted(log, "AMP", "Started");
  vela::THandle h;
  h.close();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&log, t, lines] {
      for (int i = 0; i < lines; ++i) vela::write_formatted(log, L"TST", L"t%d line %d", t, i);
    });
  for (auto& w : workers) w.join();
  vela::write_formatted(log, L"AMP", L"Prg end(%u,%s).", 0u, L"done");
  return static_cast<int>(log.stop(vela::Log::no_limit));
}
