// The escapes of a column delimiter value (\t, \n, \xNN, \uNNNN ...).
#include <string>

#include "fuzz_input.h"
#include "vela/cmdline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vela::fuzzing::input in(data, size);
  const std::wstring out = vela::unescape(in.wide_rest());
  (void)out;
  return 0;
}
