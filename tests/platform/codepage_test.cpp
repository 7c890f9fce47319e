// Windows-1252 <-> UTF-8: every range of the code page, and the two ways of
// treating its five unassigned bytes.
#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"

namespace {

using platform::TUnassigned;

TEST(Cp1252ToUtf8, ConvertsEveryRangeOfTheCodePage) {
  struct {
    const char *In;
    const char *Out;
  } cases[] = {
      {"Paket:", "Paket:"},
      {"gepr\xFC"
       "ft",
       "gepr\xC3\xBC"
       "ft"},
      {"\xC4\xD6\xDC\xDF", "\xC3\x84\xC3\x96\xC3\x9C\xC3\x9F"},
      {"\x80", "\xE2\x82\xAC"}, // euro sign
      {"\x85", "\xE2\x80\xA6"}, // ellipsis
      {"\x9F", "\xC5\xB8"},     // Y with diaeresis
      {"\x81\x8D\x8F\x90\x9D", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xA0", "\xC2\xA0"},
      {"\xFF", "\xC3\xBF"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.In);
    EXPECT_EQ(platform::Cp1252ToUtf8(c.In, TUnassigned::Excluded), c.Out);
  }
}

TEST(Cp1252ToUtf8, UnassignedBytesFollowTheChosenTreatmentBothWays) {
  const std::string unassigned = "\x81\x8D\x8F\x90\x9D";
  const std::string asControls = "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D";
  EXPECT_EQ(platform::Cp1252ToUtf8(unassigned, TUnassigned::AsC1Controls), asControls);
  std::string out = "unchanged";
  ASSERT_TRUE(platform::Utf8ToCp1252(asControls, out, TUnassigned::AsC1Controls));
  EXPECT_EQ(out, unassigned);
  for (std::size_t i = 0; i < asControls.size(); i += 2) {
    SCOPED_TRACE(i / 2);
    out = "unchanged";
    EXPECT_FALSE(platform::Utf8ToCp1252(asControls.substr(i, 2), out, TUnassigned::Excluded));
    EXPECT_EQ(out, "unchanged");
  }
}

TEST(Cp1252UpperCase, FoldsLettersAsWindowsFileSystemsDo) {
  const struct {
    unsigned char In;
    char32_t Out;
  } cases[] = {{'a', 'A'},    {'Z', 'Z'},    {'_', '_'},    {'^', '^'},
               {0xE4, 0xC4},  {0xFE, 0xDE},  {0xF7, 0xF7},  {0xDF, 0xDF},
               {0xFF, 0x178}, {0x9A, 0x160}, {0x9C, 0x152}, {0x9E, 0x17D},
               {0x83, 0x191}, {0xB5, 0x39C}, {0x8A, 0x160}, {0x81, 0x81}};
  for (const auto &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.In));
    EXPECT_EQ(platform::Cp1252UpperCase(c.In), c.Out);
  }
}

} // namespace
