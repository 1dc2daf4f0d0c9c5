// Date-time pictures over any date and time.
#include <string>

#include "fuzz_input.h"
#include "vela/b_time.h"

using namespace vela;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  init_date_time();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::input in(data, size);
  const int year = static_cast<int>(in.number(12000)) - 1000;
  const int month = in.byte() % 15;
  const int day = in.byte() % 34;
  const int hour = in.byte() % 26;
  const int minute = in.byte() % 62;
  const int second = in.byte() % 62;
  const int ms = static_cast<int>(in.number(1100));
  const uint32_t locale = in.byte() % 2 ? b_time::default_locale : 0x0419;
  const std::wstring picture = in.wide_rest();
  b_time t;
  (void)t.format(picture, locale);  // an unset time
  t.set(year, month, day, hour, minute, second, ms);
  (void)t.format(picture, locale);
  (void)t.to_text();
  return 0;
}
