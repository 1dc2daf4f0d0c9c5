// The log parameter file in both of its forms, then the filter and the line layout it sets up.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_input.h"
#include "vela/async_log.h"

using namespace vela;

namespace {
std::string base_path;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/vela-fuzz-XXXXXX";
  if (!mkdtemp(tmpl)) std::abort();
  base_path = std::string(tmpl) + "/prog";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::input in(data, size);
  const std::wstring tag = in.wide();
  const std::wstring text = in.wide();
  const std::string file = in.rest();
  if (FILE* f = std::fopen((base_path + ".wli").c_str(), "wb")) {
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
  }
  LogWliParams params(utf8_to_wide(base_path));
  try {
    params.reload();
  } catch (...) {
    return 0;
  }
  log_record rec;
  rec.tag = tag;
  rec.text = text;
  rec.seconds = 1700000000;
  try {
    (void)params.format_line(rec);
  } catch (...) {
  }
  return 0;
}
