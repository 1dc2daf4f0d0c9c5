// Password masking as a property: whatever surrounds a PWD or PASSWORD keyword whose value is
// the marker, neither the masked string nor a diagnostic of the driver manager shows the marker.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <unistd.h>

#include "fuzz_input.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/environment.h"

using namespace vela;

namespace {
constexpr wchar_t marker[] = L"Mq7x9Secret";
std::unique_ptr<odbc::environment> env;  // held for the whole run

void check(const std::wstring& text, const char* what) {
  if (text.find(marker) == std::wstring::npos) return;
  std::fprintf(stderr, "marker shown by %s: %s\n", what, wide_to_utf8(text).c_str());
  std::abort();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // No registered drivers or data sources: the driver manager only reports what it cannot find.
  char tmpl[] = "/tmp/vela-fuzz-XXXXXX";
  if (!mkdtemp(tmpl) || chdir(tmpl) != 0) std::abort();
  setenv("ODBCSYSINI", tmpl, 1);
  setenv("ODBCINSTINI", "odbcinst.ini", 1);
  setenv("ODBCINI", (std::string(tmpl) + "/odbc.ini").c_str(), 1);
  setenv("HOME", tmpl, 1);
  env = std::make_unique<odbc::environment>();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::input in(data, size);
  const uint8_t shape = in.byte();
  const std::wstring before = in.wide();
  const std::wstring after = in.wide();
  static const wchar_t* const keys[] = {L"PWD", L"pwd", L"Pwd", L"PASSWORD", L"password", L"PassWord", L" PWD ",
                                        L"pwd\t"};
  std::wstring value = marker;
  switch (shape / 8 % 4) {
    case 1: value = L"{" + value + L"}"; break;
    case 2: value = L" {" + value + L"}} }"; break;
    case 3: value = L"{" + value; break;
    default: break;
  }
  // The keyword starts the string or follows a ";"; the value ends at a ";" or the end.
  std::wstring cs = before.empty() ? std::wstring() : before + L";";
  cs += keys[shape % 8];
  cs += L"=" + value;
  if (!after.empty()) cs += L";" + after;
  // Names of files and libraries could reach anything on the machine.
  if (cs.find(L'/') != std::wstring::npos) return 0;
  // The marker elsewhere is not a password.
  if (before.find(marker) != std::wstring::npos || after.find(marker) != std::wstring::npos) return 0;

  check(odbc::mask_password(cs), "mask_password");
  if (shape & 0x80) {
    odbc::connection c;
    std::wstring completed;
    const result r = c.connect(nullptr, cs, &completed, odbc::completion::no_prompt);
    check(r.text(), "the connect diagnostic");
    check(r.format(), "the formatted connect result");
    check(completed, "the completed string");
  }
  return 0;
}
