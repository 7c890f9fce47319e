// Text, path and number helpers without the file system: trimming, backslash
// and folder arithmetic, extensions, casing, umlauts, number formatting and
// parsing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/text.h"

namespace {

using util::TShortString;

struct TTextCase {
  std::string Input;
  std::string Expected;
};

template <typename TResult>
void ExpectEach(const std::vector<TTextCase> &cases, TResult (*routine)(std::string_view)) {
  for (const auto &c : cases) {
    SCOPED_TRACE("input <" + c.Input + ">");
    EXPECT_EQ(std::string_view(routine(c.Input)), c.Expected);
  }
}

TEST(TrimText, DropsTrimCharactersAndEmptiesTextsStartingWithControls) {
  ExpectEach({{"", ""},
              {"   ", ""},
              {std::string(" \tabc"), ""},
              {std::string("\x01x", 2), ""},
              {"  abc \r\n", "abc"},
              {" \xA0x ", "\xA0x"},
              {"a", "a"},
              {std::string("a\0b\0", 4), std::string("a\0b", 3)},
              {"x\t\v\f", "x"}},
             util::TrimText);
}

TEST(TrimText, LongTextsCompareByLengthModulo256AndAreCut) {
  // 256 characters: the comparison text is empty, so a leading TAB no longer
  // empties the result.
  std::string t = "\t" + std::string(254, 'a') + "b";
  EXPECT_EQ(util::TrimText(t).Str(), std::string(254, 'a') + "b");
  EXPECT_EQ(util::TrimText(std::string(300, ' ')).Str(), "");
  EXPECT_EQ(util::TrimText(" " + std::string(300, 'q')).Length(), 255u);
}

TEST(AddBackslash, AppendsOnlyToNonBlankTextsWithoutOne) {
  ExpectEach({{"", ""},
              {"   ", "   "},
              {"C:\\X", "C:\\X\\"},
              {"C:\\X\\", "C:\\X\\"},
              {"C:\\X  ", "C:\\X  \\"},
              {"C:", "C:\\"}},
             util::AddBackslash);
  // A record's file name behind a long folder keeps the path whole.
  const std::string folder(255, 'f');
  EXPECT_EQ(util::AddBackslash(folder) + TShortString("PAKET1.PAK"), folder + "\\PAKET1.PAK");
}

TEST(RemoveBackslash, DropsOneBackslashFromTextsOfFourOrMore) {
  ExpectEach({{"C:\\", "C:\\"},
              {"AB\\", "AB\\"},
              {"C:\\X\\", "C:\\X"},
              {"C:\\X\\\\", "C:\\X\\"},
              {"C:\\X", "C:\\X"},
              {"", ""}},
             util::RemoveBackslash);
}

TEST(ExtractFolder, KeepsDriveRootsAndTreatsOnlyColonBackslashNulAsDelimiters) {
  ExpectEach({{"C:\\A\\B.TXT", "C:\\A"},
              {"C:\\B.TXT", "C:\\"},
              {"C:B.TXT", "C:"},
              {"B.TXT", ""},
              {"\\B.TXT", "\\"},
              {"C:\\A\\", "C:\\A"},
              {"C:/A/B", "C:"},
              {"A/B", ""},
              {"", ""},
              {std::string("AB\0C", 4), std::string("AB\0", 3)},
              {"\\\\SRV\\SHARE\\F", "\\\\SRV\\SHARE"}},
             util::ExtractFolder);
}

TEST(ChangeExtension, ReplacesAddsOrRemovesAtTheLastDot) {
  struct TCase {
    std::string Name, Extension, Expected;
  } cases[] = {
      {"C:\\UPD\\PAKET1", "zip", "C:\\UPD\\PAKET1.zip"},
      {"PAKET1.CRC", "zip", "PAKET1.zip"},
      {"PAKET1.CRC", "", "PAKET1"},
      {".CRC", "", ""},
      {"C:\\V1.0\\PAKET", "zip", "C:\\V1.zip"},
      {"PAKET1.CRC", "  zip ", "PAKET1.zip"},
      {"PAKET1", "", "PAKET1"},
      {"", "zip", ""},
      {"A.", "zip", "A.zip"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name + " / " + c.Extension);
    EXPECT_EQ(util::ChangeExtension(c.Name, c.Extension), c.Expected);
  }
}

TEST(UpperCaseGerman, UmlautsAndWindows1252Letters) {
  ExpectEach({{"gr\xF6\xDF"
               "e",
               "GR\xD6\xDF"
               "E"},
              {"\xE4\xF6\xFC", "\xC4\xD6\xDC"},
              {"az{}AZ09", "AZ{}AZ09"},
              {"\xE0\xF7\xFE\xFF", "\xC0\xF7\xDE\x9F"},
              {"\x9A\x9C\x9E\x9F", "\x8A\x8C\x8E\x9F"},
              {"\xB5\xAA\xDF", "\xB5\xAA\xDF"}},
             util::UpperCaseGerman);
}

TEST(LowerCaseAscii, OnlyAsciiLettersAndEndsAtNul) {
  ExpectEach({{"FILEPATH.ID", "filepath.id"},
              {"\xC4\xD6\xDC[Z]", "\xC4\xD6\xDC[z]"},
              {std::string("AB\0CD", 5), "ab"}},
             util::LowerCaseAscii);
}

TEST(ExpandUmlauts, AllThreeCodeFormsBecomeTwoLetters) {
  ExpectEach({{"M\xFCller", "Mueller"},
              {"C:\\A", "C:OeA"},
              {"[\\]{|}~", "AeOeUeaeoeuess"},
              {"\x8E\x99\x9A\x84\x94\x81\xE1", "AeOeUeaeoeuess"},
              {"\xC4\xD6\xDC\xE4\xF6\xFC\xDF", "AeOeUeaeoeuess"},
              {"Stra\xDF"
               "e",
               "Strasse"},
              {"", ""}},
             util::ExpandUmlauts);
}

TEST(ExpandUmlauts, StopsAfterPosition251AndCutsAt255) {
  // Position 251 is still expanded, 252 no longer.
  std::string t = std::string(250, 'a') + "\xFC\xFC";
  EXPECT_EQ(util::ExpandUmlauts(t).Str(), std::string(250, 'a') + "ue\xFC");
  // Growth beyond 255 characters drops the tail.
  std::string full(255, '~');
  TShortString r = util::ExpandUmlauts(full);
  ASSERT_EQ(r.Length(), 255u);
  EXPECT_EQ(r.View().substr(0, 252), std::string(252, 's'));
  EXPECT_EQ(r.View().substr(252), "~~~");
}

TEST(RepeatChar, CountsClampToShortString) {
  EXPECT_EQ(util::RepeatChar(0, 'x').Str(), "");
  EXPECT_EQ(util::RepeatChar(-3, 'x').Str(), "");
  EXPECT_EQ(util::RepeatChar(3, 'x').Str(), "xxx");
  EXPECT_EQ(util::RepeatChar(300, 'x').Length(), 255u);
  EXPECT_EQ(util::Spaces(4).Str(), "    ");
}

TEST(FormatNumber, RightAlignsGroupsAndOverflowsToDollars) {
  struct TCase {
    int Width, Decimals, Grouping;
    long double Value;
    std::string Expected;
  } cases[] = {
      {10, 0, 0, -5, "        -5"},
      {3, 0, 0, 12345, "$$$"},
      {12, 2, 1, 1234.5L, "    1.234,50"},
      {1, 0, 0, 7, "7"},
      {12, 0, 1, 1234567, "   1.234.567"},
      {12, 0, 1, -1234567, "  -1.234.567"},
      {8, 2, 0, 3.25L, "    3,25"},
      {6, 0, 1, 123, "   123"},
      {5, 0, 1, 123456, "$$$$$"},
      {30, 0, 1, 1e20L, "   100.000.000.000.000.000.000"},
      {0, 0, 0, 1, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Expected);
    EXPECT_EQ(util::FormatNumber(c.Width, c.Decimals, c.Grouping, c.Value).Str(), c.Expected);
  }
  EXPECT_EQ(util::FormatNumber(40, 0, 0, 1).Length(), 30u);
}

TEST(ParseInt64, DecimalAndHexadecimalWithZeroForAnyError) {
  struct TCase {
    std::string Text;
    std::int64_t Expected;
  } cases[] = {
      {" 42", 42},
      {"42 ", 0},
      {"$1F", 31},
      {"0x1f", 31},
      {"X1f", 31},
      {"0X1F", 31},
      {"-7", -7},
      {"+7", 7},
      {"", 0},
      {"1a", 0},
      {"-", 0},
      {"$", 0},
      {"0x", 0},
      {"0", 0},
      {"007", 7},
      {"-$10", -16},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", 0},
      {"-9223372036854775808", INT64_MIN},
      {"-9223372036854775809", 0},
      {"$FFFFFFFFFFFFFFFF", -1},
      {"$10000000000000000", 0},
      {std::string("4\0", 2), 0},
      {"\t4", 0},
      {std::string(78, ' ') + "12", 12},
      {std::string(78, ' ') + "123", 12},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE("<" + c.Text + ">");
    EXPECT_EQ(util::ParseInt64(c.Text), c.Expected);
  }
}

} // namespace
