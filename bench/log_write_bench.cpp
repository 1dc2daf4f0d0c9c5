// write_formatted throughput with logging off (no parameter file beside the program).
#include <chrono>
#include <cstdio>

#include "vela/log.h"

int main(int argc, char** argv) {
  const long calls = argc > 1 ? std::atol(argv[1]) : 2000000;
  vela::Log& log = vela::process_log();
  log.start();
  const auto t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < calls; ++i)
    vela::write_formatted(log, L"TOQ", L"select %ld from t runtm=%ums", i, 3u);
  const auto t1 = std::chrono::steady_clock::now();
  log.stop(vela::Log::no_limit);
  const auto t2 = std::chrono::steady_clock::now();
  const double s = std::chrono::duration<double>(t1 - t0).count();
  const double all = std::chrono::duration<double>(t2 - t0).count();
  std::printf("%ld write_formatted calls: %.3f s, %.0f calls/s (writer drained after %.3f s)\n", calls, s,
              calls / s, all);
  return 0;
}
