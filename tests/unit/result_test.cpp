#include "vela/result.h"

#include <gtest/gtest.h>

#include "os/os.h"
#include "vela/b_time.h"

using namespace vela;

TEST(Result, DefaultAndZeroCodeAreSuccess) {
  result r;
  EXPECT_EQ(r.code(), 0u);
  EXPECT_EQ(r.severity(), 0);
  EXPECT_TRUE(r.succeeded());
  result z(0, L"text", 3);
  EXPECT_EQ(z.severity(), 0);
  EXPECT_TRUE(z.succeeded());
  EXPECT_EQ(z.text(), L"text");
}

TEST(Result, FormatDefaultAndCustomTemplates) {
  result r(5, L"abc", 3);
  EXPECT_FALSE(r.succeeded());
  EXPECT_EQ(r.format(), L"abc " + GetErrorText(5) + L" [5(00000005)]");
  EXPECT_EQ(r.format(L"%c [%cd]"), L"abc [5]");
  EXPECT_EQ(r.format(L"no placeholders"), L"no placeholders");
  EXPECT_EQ(r.format(L"%d\n"), GetErrorText(5) + L"\n");
}

TEST(Result, FormatReplacesTwoLetterTokensFirstAndSkipsInsertedText) {
  // The text brings "%cd" and "%d": "%cd" is not touched again by the code step,
  // the "%d" it brings is replaced by the description step.
  result r(2, L"x%cd%d", 3);
  EXPECT_EQ(r.format(L"%c|%cd"), L"x%cd" + GetErrorText(2) + L"|2");
  // A replacement whose text contains the token does not loop.
  result t(7, L"%c%c", 3);
  EXPECT_EQ(t.format(L"%c"), L"%c%c");
}

TEST(Result, HighBitsAreNotPartOfTheCode) {
  result r(0xC0000005u, L"", 3);
  EXPECT_EQ(r.code(), 5u);
  EXPECT_NE(r.format().find(L"[5(00000005)]"), std::wstring::npos);
  EXPECT_EQ(r.description(), GetErrorText(0xC0000005u));
}

TEST(Result, MergeKeepsFirstCodeAndHighestSeverity) {
  result r;
  r.merge(result(87, L"a", 3));
  EXPECT_EQ(r.code(), 87u);
  EXPECT_EQ(r.severity(), 3);
  EXPECT_EQ(r.description(), GetErrorText(87));
  EXPECT_EQ(r.text(), L"a");
  r.merge(result(2, L"b", 3));
  EXPECT_EQ(r.code(), 87u);
  EXPECT_EQ(r.severity(), 3);
  EXPECT_EQ(r.text(), L"ab");
  result w(5, L"", 2);
  EXPECT_TRUE(w.succeeded());
  w.merge(result(0, L"", 0));
  EXPECT_EQ(w.severity(), 2);
  EXPECT_TRUE(result(1, L"", 1).succeeded());
}

TEST(Result, FailureIsAnErrorAndZeroStaysSuccess) {
  const result f = failure(87, L"bad");
  EXPECT_FALSE(f.succeeded());
  EXPECT_EQ(f.severity(), severity::error);
  EXPECT_EQ(f.code(), 87u);
  EXPECT_EQ(f.text(), L"bad");
  // Code 0 is success whatever severity is asked for.
  EXPECT_TRUE(failure(0).succeeded());
  EXPECT_EQ(failure(0).severity(), severity::success);
  // Only the error severity fails.
  EXPECT_TRUE(result(5, L"", severity::warning).succeeded());
  EXPECT_EQ(severity::error, 3);  // stored and compared as numbers
}

TEST(Result, DateCodesAreRegisteredBeforeMain) {
  result r(0x20000105u, L"", 3);
  // In the language of the run's environment, registered before main read it.
  EXPECT_EQ(r.description(), os::russian_ui() ? L"Ошибка в числе дней." : L"Wrong number of days.");
  EXPECT_NE(r.format().find(L"536871173(20000105)"), std::wstring::npos);
}

TEST(Registry, RejectsSystemCodesAndDuplicates) {
  EXPECT_FALSE(RegisterError(0x00000101u, L"x"));
  EXPECT_EQ(GetErrorText(0x00000101u), GetErrorText(0x101u));
  EXPECT_TRUE(RegisterError(0x20000301u, L""));
  EXPECT_FALSE(RegisterError(0x20000301u, L"other"));
  EXPECT_EQ(GetErrorText(0x20000301u), L"");
  EXPECT_EQ(GetErrorText(0x20000999u), L"");  // nobody registered it
}

TEST(Registry, TextRegistrationAssignsCodesAboveTheLargest) {
  // 0x20000301 is registered by the previous test in this process or here.
  RegisterError(0x20000301u, L"");
  const uint32_t a = RegisterErrorText(L"database access error (test)");
  EXPECT_EQ(a, 0x20000302u);
  EXPECT_EQ(RegisterErrorText(L"database access error (test)"), a);
  const uint32_t b = RegisterErrorText(L"no data (test)");
  EXPECT_EQ(b, a + 1);
  EXPECT_EQ(GetErrorText(b), L"no data (test)");
}

TEST(Exceptions, WindowsErrorMessages) {
  windows_error e(L"open", 2);
  EXPECT_EQ(e.code(), 2);
  EXPECT_EQ(e.what(), L"open (" + GetErrorText(2) + L")");
  windows_error f(result(0xC0000057u, L"t", 3));
  EXPECT_EQ(f.code(), 87);
  EXPECT_EQ(f.what(), L"t (" + GetErrorText(0xC0000057u) + L")");
}

TEST(CmpRes, SignOfAnyInteger) {
  EXPECT_EQ(TCmpRes(-42).value(), -1);
  EXPECT_EQ(TCmpRes(0).value(), 0);
  EXPECT_EQ(TCmpRes(7L).value(), 1);
  EXPECT_EQ(TCmpRes().value(), 0);
}
