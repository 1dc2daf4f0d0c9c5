#include "vela/ini.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "vela/file.h"

using namespace vela;
using vela::testing::temp_dir;

namespace {

struct loaded {
  temp_dir dir;
  TIni ini;
  uint32_t rc;
  explicit loaded(const std::string& text) {
    dir.write("p.wli", text);
    rc = ini.Ld(dir.wpath("p.wli"), file_access::share_read);
  }
};

} // namespace

TEST(Ini, SectionsEntriesAndComments) {
  loaded l(
      "; comment\r\n"
      "[Prms]\r\n\r\n"
      "TmFrmt = HH:mm\n"
      "  ;not a comment\n"
      "[ Evts ]\n"
      "\"a=b\"=c\n"
      "AMP=\n"
      "list=1,\"x,y\",z,\n"
      "[Evts]\t\n"
      "[prms]\n"
      "PID=On\n"
      "[]\n"
      "dropped=1\n");
  ASSERT_EQ(l.rc, 0u);
  ASSERT_EQ(l.ini.count(), 3u);  // Prms, Evts, the duplicate prms
  const TIniSection* prms = l.ini.find("PRMS");
  ASSERT_NE(prms, nullptr);
  EXPECT_STREQ(prms->name().c_str(), "Prms");
  ASSERT_EQ(prms->count(), 3u);  // the entries under [prms] join the first section
  EXPECT_STREQ(prms->find("tmfrmt")->text().c_str(), " HH:mm");
  EXPECT_STREQ(prms->at(1)->name().c_str(), "");
  EXPECT_STREQ(prms->at(1)->text().c_str(), ";not a comment");
  EXPECT_STREQ(prms->find("PID")->text().c_str(), "On");
  EXPECT_EQ(l.ini.at(2)->count(), 0u);

  const TIniSection* evts = l.ini.find("evts");
  ASSERT_NE(evts, nullptr);
  EXPECT_STREQ(evts->name().c_str(), "Evts");
  ASSERT_EQ(evts->count(), 4u);  // "[Evts]\t" is an entry line
  EXPECT_STREQ(evts->at(0)->name().c_str(), "a=b");
  EXPECT_STREQ(evts->at(0)->text().c_str(), "c");
  EXPECT_STREQ(evts->find("AMP")->text().c_str(), "");
  const TIniVal* list = evts->find("list");
  ASSERT_EQ(list->item_count(), 3u);
  EXPECT_STREQ(list->item(0).c_str(), "1");
  EXPECT_STREQ(list->item(1).c_str(), "x,y");
  EXPECT_STREQ(list->item(2).c_str(), "z");
  EXPECT_STREQ(evts->at(3)->text().c_str(), "[Evts]");
}

TEST(Ini, ItemsMayBeEmptyBetweenCommas) {
  loaded l("[s]\nv=a,,b\n");
  const TIniVal* v = l.ini.find("s")->find("v");
  ASSERT_EQ(v->item_count(), 3u);
  EXPECT_STREQ(v->item(1).c_str(), "");
}

TEST(Ini, MarksZeroBytesAndFailures) {
  loaded bom("\xEF\xBB\xBF[Prms]\nPID=On\n[Evts]\nAMP=\n");
  EXPECT_EQ(bom.ini.find("Prms"), nullptr);
  EXPECT_NE(bom.ini.find("Evts"), nullptr);
  loaded utf16(std::string("[\0P\0]\0", 6));
  EXPECT_EQ(utf16.ini.count(), 0u);
  loaded empty("");
  EXPECT_EQ(empty.rc, 0u);
  EXPECT_EQ(empty.ini.count(), 0u);
  TIni ini;
  temp_dir dir;
  EXPECT_EQ(ini.Ld(dir.wpath("missing.wli"), file_access::share_read), 2u);
  EXPECT_EQ(ini.count(), 0u);
}
