// The printf-style formatter: patterns built from the input, each conversion given an
// argument of the type it takes.
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "vela/format.h"

using namespace vela;

namespace {

enum kind { k_int, k_long, k_double, k_wide, k_narrow };

struct args {
  int i;
  long long ll;
  double d;
  std::wstring w;
  std::string n;
};

template <int N, typename... A>
void call(const std::wstring& pattern, const std::vector<kind>& kinds, const args& a, A... given) {
  if constexpr (N == 3) {
    (void)wformat(pattern.c_str(), given...);
  } else {
    if (static_cast<size_t>(N) == kinds.size()) {
      (void)wformat(pattern.c_str(), given...);
      return;
    }
    switch (kinds[N]) {
      case k_int: return call<N + 1>(pattern, kinds, a, given..., a.i);
      case k_long: return call<N + 1>(pattern, kinds, a, given..., a.ll);
      case k_double: return call<N + 1>(pattern, kinds, a, given..., a.d);
      case k_wide: return call<N + 1>(pattern, kinds, a, given..., a.w.c_str());
      case k_narrow: return call<N + 1>(pattern, kinds, a, given..., a.n.c_str());
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::input in(data, size);
  args a;
  a.i = static_cast<int>(in.number(0x10000)) - 0x8000;
  a.ll = static_cast<long long>(in.number(0)) << 40 | in.number(0x10000);
  a.d = static_cast<double>(a.i) / 7.0 * (in.byte() % 2 ? 1e300 : 1e-3);
  a.w = in.wide();
  a.n = in.bytes();
  std::wstring pattern;
  std::vector<kind> kinds;
  while (in.left() > 0 && kinds.size() < 3) {
    const uint8_t op = in.byte();
    if (op < 128) {
      // Plain text, "%" only as "%%".
      const wchar_t c = op == '%' ? L'%' : static_cast<wchar_t>(op ? op : L'\u00e9');
      pattern += c;
      if (c == L'%') pattern += L'%';
      continue;
    }
    pattern += L'%';
    for (const wchar_t* f = L"-+ #0"; *f; ++f)
      if (in.byte() % 4 == 0) pattern += *f;
    if (in.byte() % 2) pattern += std::to_wstring(in.byte() % 40);
    if (in.byte() % 2) pattern += L'.' + std::to_wstring(in.byte() % 40);
    static const std::pair<const wchar_t*, kind> conversions[] = {
        {L"d", k_int},    {L"i", k_int},     {L"u", k_int},    {L"x", k_int},    {L"X", k_int},
        {L"o", k_int},    {L"c", k_int},     {L"lld", k_long}, {L"llx", k_long}, {L"f", k_double},
        {L"e", k_double}, {L"g", k_double},  {L"s", k_wide},   {L"ls", k_wide},  {L"ws", k_wide},
        {L"S", k_narrow}, {L"hs", k_narrow}, {L"C", k_int},
    };
    const auto& c = conversions[op % std::size(conversions)];
    // A character conversion takes a character code, not any number.
    if (c.second == k_int && (c.first[0] == L'c' || c.first[0] == L'C')) a.i &= 0x7F;
    pattern += c.first;
    kinds.push_back(c.second);
  }
  call<0>(pattern, kinds, a);
  return 0;
}
