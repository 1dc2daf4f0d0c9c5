// Text-file decoding: detection and every code page a script file may be read in.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_input.h"
#include "os/os.h"
#include "vela/textfile.h"

using namespace vela;

namespace {
std::string path;
constexpr int32_t pages[] = {auto_code_page, 0, 1, 1200, 1201, 65001, 65000, 1250, 1251, 1252, 866,
                             437, 20127, 28591, 28595, 932, 936, 949, 950, 20866, 21866, 54936};
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/vela-fuzz-XXXXXX";
  if (!mkdtemp(tmpl)) std::abort();
  path = std::string(tmpl) + "/script.sql";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::input in(data, size);
  const uint8_t choice = in.byte();
  const uint32_t any_page = in.number(70000);
  const std::string bytes = in.rest();
  const int32_t page = choice < std::size(pages) ? pages[choice] : static_cast<int32_t>(any_page);
  const auto* u = reinterpret_cast<const unsigned char*>(bytes.data());
  try {
    // Empty input is refused with an exception.
    (void)detect_code_page(u, bytes.size());
    (void)is_utf8(u, bytes.size());
    bool mark = false;
    (void)is_text_unicode(u, bytes.size(), &mark);
  } catch (const wexception&) {
  }
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  std::wstring text;
  try {
    textfile(utf8_to_wide(path), text_file_code_page{page, false}).read_all(text);
  } catch (...) {
    // Undecodable bytes in a strict code page are reported by an exception.
  }
  // Back again, in the same code page.
  std::string back;
  if (page >= 0) (void)os::from_wide(static_cast<unsigned>(page), text, back, false);
  return 0;
}
