// Reading and cutting a large script into statements, as "-qf" does.
// Usage: split_bench STATEMENTS [FILE]   (STATEMENTS < 0: one statement of -STATEMENTS bytes)
// Writes a script of STATEMENTS statements of about 100 bytes each (quoted text with ";",
// comments, a dollar-quoted function and a trigger body now and then) to FILE (default: a
// temporary file), then times reading and cutting it into statements as -qf does;
// prints the time, the statements found and the peak RSS.
#include <sys/resource.h>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Terminal/session/options.h"
#include "vela/textfile.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: split_bench STATEMENTS [FILE]\n");
    return 2;
  }
  const long count = std::atol(argv[1]);
  const std::string path = argc > 2 ? argv[2] : "/tmp/vela-split-bench.sql";
  {
    std::ofstream out(path, std::ios::binary);
    std::string s;
    // A negative count: one statement of that many bytes on one line.
    if (count < 0) out << "select length('" << std::string(static_cast<size_t>(-count) - 18, 'x') << "');\n";
    for (long i = 0; i < count; ++i) {
      s.clear();
      if (i % 1000 == 999) {
        s = "create trigger tr" + std::to_string(i) + " after insert on t begin insert into u values(1); end;";
      } else if (i % 1000 == 500) {
        s = "create function f" + std::to_string(i) + "() returns int as $$ begin return 1; end; $$ language plpgsql;";
      } else {
        if (i % 50 == 0) s = "-- row " + std::to_string(i) + "; a comment\n";
        s += "insert into t values(" + std::to_string(i) + ", 'text; with -- and /* inside', \"id;x\", 1.5);";
      }
      if (s.size() < 99) s.resize(99, ' ');
      s += '\n';
      out << s;
    }
  }
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  const double bytes = static_cast<double>(in.tellg());
  std::vector<std::wstring> statements;
  // CPU time: steadier than wall time on a shared machine.
  auto now = [] {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
  };
  const double t0 = now();
  // As -qf does it: read and cut a piece at a time.
  vela::terminal::read_script_file(std::wstring(path.begin(), path.end()), {vela::auto_code_page, false}, statements);
  const double t1 = now();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%ld statements (%zu found), %.1f MB: read and split %.3f s (CPU), peak RSS %.0f MiB\n", count,
              statements.size(), bytes / 1e6, t1 - t0, usage.ru_maxrss / 1024.0);
  if (argc <= 2) std::remove(path.c_str());
  return static_cast<long>(statements.size()) == (count < 0 ? 1 : count) ? 0 : 1;
}
