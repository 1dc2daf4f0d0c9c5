// write_formatted throughput with logging off (no parameter file beside the program), side
// by side with a baseline that builds every line and record as a log without the off path does.
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "vela/async_log.h"

namespace {

// Takes every line: formats it and builds the record the writer would get, then drops it.
class building_log final : public vela::Log {
 public:
  Log& apply(void*) override { return *this; }
  uint32_t start() override { return 0; }
  uint32_t stop(uint32_t) override { return 0; }
  uint32_t write(const std::wstring& tag, const std::wstring& text) override {
    auto rec = std::make_unique<vela::log_record>();
    rec->tag = tag;
    rec->text = text;
    kept += rec->text.size();
    return 0;
  }
  size_t kept = 0;
};

double run(vela::Log& log, long calls) {
  const auto t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < calls; ++i) vela::write_formatted(log, L"TOQ", L"select %ld from t runtm=%ums", i, 3u);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv) {
  const long calls = argc > 1 ? std::atol(argv[1]) : 2000000;
  vela::Log& log = vela::install_async_process_log();
  log.start();
  // The writer reads its parameters first; until then every line is kept for it.
  for (int i = 0; i < 200 && log.enabled(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (log.enabled()) std::printf("note: a parameter file switches logging on; the figures include writing\n");
  const double off = run(log, calls);
  log.stop(vela::Log::no_limit);
  building_log baseline;
  const double built = run(baseline, calls);
  std::printf("%ld write_formatted calls, logging off: %.3f s (%.0f calls/s)\n", calls, off, calls / off);
  std::printf("%ld write_formatted calls, baseline building every line: %.3f s (%.0f calls/s), ratio %.2f\n", calls,
              built, calls / built, built / off);
  return 0;
}
