// Entry names: code page 437 and UTF-8 to Windows-1252, and the cleaning that
// keeps every entry inside the destination folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dunzip/cp437.h"
#include "dunzip/entry_name.h"

namespace {

using dunzip::TCleanName;

// Every case (Raw, Ok, Expected) through `convert(case, out)`: it succeeds
// exactly where Ok says, and then gives Expected.
template <typename TCase, std::size_t N, typename TConvert>
void ExpectConversions(const TCase (&cases)[N], TConvert convert) {
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Raw);
    std::string out;
    EXPECT_EQ(convert(c, out), c.Ok);
    if (c.Ok) {
      EXPECT_EQ(out, c.Expected);
    }
  }
}

TEST(EntryNames, Cp437ConvertsUmlautsAndRefusesBoxDrawing) {
  struct TCase {
    const char *Raw;
    bool Ok;
    const char *Expected;
  } cases[] = {
      {"plain.txt", true, "plain.txt"},
      {"\x81"
       "ber \x84\x94\x8E\x99\x9A\xE1.txt",
       true,
       "\xFC"
       "ber \xE4\xF6\xC4\xD6\xDC\xDF.txt"},
      {"\x9F", true, "\x83"},  // florin sits at 0x83 in Windows-1252
      {"\xFF", true, "\xA0"},  // no-break space
      {"\xC4\xC4", false, ""}, // box drawing
      {"\xE0", false, ""},     // Greek alpha
  };
  ExpectConversions(cases, [](const auto &c, std::string &out) {
    return dunzip::Cp437ToWindows1252(c.Raw, out);
  });
}

TEST(EntryNames, Utf8ConvertsLatinAndEuroAndRefusesOthers) {
  struct TCase {
    const char *Raw;
    bool Ok;
    const char *Expected;
  } cases[] = {
      {"Gr\xC3\xBC\xC3\x9F"
       "e.txt",
       true,
       "Gr\xFC\xDF"
       "e.txt"},
      {"\xE2\x82\xAC"
       "uro",
       true,
       "\x80"
       "uro"},
      {"\xE2\x80\x9Equote\xE2\x80\x9C", true, "\x84quote\x93"},
      {"\xE6\x97\xA5.txt", false, ""}, // CJK
      {"\xC3", false, ""},             // cut off
      {"\xC0\xAF", false, ""},         // overlong "/"
      {"\xED\xA0\x80", false, ""},     // surrogate
      {"\xF4\x90\x80\x80", false, ""}, // beyond U+10FFFF
      {"\xBF", false, ""},             // stray continuation byte
      {"\xC3\xC0", false, ""},         // lead byte for a continuation byte
      {"\xC3\xFF", false, ""},         // the last lead byte likewise
      {"\xC2\x81", false, ""},         // unassigned in Windows-1252
  };
  ExpectConversions(
      cases, [](const auto &c, std::string &out) { return dunzip::Utf8ToWindows1252(c.Raw, out); });
}

TEST(EntryNames, DecodeUsesUnicodeExtraThenFlagThenCp437) {
  constexpr std::uint16_t Dos = 0x0014, Ntfs = 0x0B14, Unix = 0x0314, MacOs = 0x1314;
  struct TCase {
    const char *Raw;
    std::uint16_t MadeBy;
    std::uint16_t Flags;
    const char *Unicode; // null: no Unicode path extra field
    bool Ok;
    const char *Expected;
  } cases[] = {
      {"\x81.txt", Dos, 0, nullptr, true, "\xFC.txt"},
      {"\x81.txt", Dos, dunzip::FlagUtf8Name, nullptr, false, ""},
      {"\xC3\xBC.txt", Dos, dunzip::FlagUtf8Name, nullptr, true, "\xFC.txt"},
      // Unflagged names from Unix or macOS: well-formed UTF-8 beyond ASCII is
      // read as UTF-8 where Windows-1252 holds it, the rest as code page 437.
      {"\xC3\xBC.txt", Unix, 0, nullptr, true, "\xFC.txt"},
      {"\xC3\xBC.txt", MacOs, 0, nullptr, true, "\xFC.txt"},
      {"\xC3\x9C"
       "bersicht \xC3\x9F.txt",
       Unix, 0, nullptr, true,
       "\xDC"
       "bersicht \xDF.txt"},
      {"\xE6\x97\xA5.txt", Unix, 0, nullptr, true, "\xB5\xF9\xD1.txt"},
      {"\xE1\x84\x81.txt", Unix, 0, nullptr, true, "\xDF\xE4\xFC.txt"},
      // A lead byte is no continuation byte: not UTF-8, so code page 437.
      {"\xE1\xE1\xE1", Unix, 0, nullptr, true, "\xDF\xDF\xDF"},
      // Unflagged names from DOS and Windows are code page 437, also where
      // their bytes are well-formed UTF-8.
      {"\xE1\x84\x81.txt", Dos, 0, nullptr, true, "\xDF\xE4\xFC.txt"},
      {"\xC3\xA4.txt", Ntfs, 0, nullptr, false, ""},
      {"\xE1\x81.txt", Dos, 0, nullptr, true, "\xDF\xFC.txt"},
      {"\x9A"
       "bersicht \xE1.txt",
       Dos, 0, nullptr, true,
       "\xDC"
       "bersicht \xDF.txt"},
      {"a.txt", Dos, 0, "\xC3\xA4.txt", true, "\xE4.txt"},
  };
  ExpectConversions(cases, [](const auto &c, std::string &out) {
    dunzip::TZipEntry e;
    e.RawName = c.Raw;
    e.VersionMadeBy = c.MadeBy;
    e.Flags = c.Flags;
    e.HasUnicodeName = c.Unicode != nullptr;
    e.UnicodeName = c.Unicode != nullptr ? c.Unicode : "";
    return dunzip::DecodeEntryName(e, out);
  });
}

TEST(EntryNames, OnlyTheArchivedFolderItselfIsACurrentFolderItem) {
  for (const char *name : {"./", ".", "./.", ".\\", "././"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(dunzip::IsCurrentFolderItem(name));
  }
  for (const char *name : {"", "/", "../", "..", ".a/", "a/./", "./a/", ". /"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(dunzip::IsCurrentFolderItem(name));
  }
}

TEST(EntryNames, CleaningKeepsNamesInsideTheDestination) {
  struct TCase {
    const char *Name;
    const char *Flat;
    int Folders;
  } cases[] = {
      {"a.txt", "a.txt", 0},
      {"sub/deeper/a.txt", "a.txt", 2},
      {"sub\\a.txt", "a.txt", 1},
      {"sub/", "sub", 0},
      {"sub/deeper//", "deeper", 1},
      {"./a.txt", "a.txt", 0},
      {"a//b.txt", "b.txt", 1},
      {"Mixed Case.TXT", "Mixed Case.TXT", 0},
      {"-", "-", 0},
      {"..a.txt", "..a.txt", 0},
      {"com10", "com10", 0},
      {"console", "console", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TCleanName clean;
    ASSERT_TRUE(dunzip::CleanEntryName(c.Name, clean));
    EXPECT_EQ(clean.Name, c.Flat);
    EXPECT_EQ(static_cast<int>(clean.Folders.size()), c.Folders);
  }
  // Paths that lead out of the destination, and names Windows refuses.
  std::vector<const char *> refused = {
      "",    ".",          "..",      "../a.txt",  "..\\a.txt", "sub/../../a.txt", "sub/..",
      "../", "/etc/a.txt", "\\a.txt", "C:\\a.txt", "C:a.txt",   "sub/C:/a.txt",    "a<b.txt",
      "a>b"};
  refused.insert(refused.end(),
                 {"a\"b", "a|b", "a?b", "a*b", "a\001b", "a\037b", "bad|dir/a.txt", "name.",
                  "name ", "nul", "NUL.txt", "con", "Com1.dat", "lpt9", "aux/a.txt"});
  for (const char *name : refused) {
    SCOPED_TRACE(name);
    TCleanName clean;
    EXPECT_FALSE(dunzip::CleanEntryName(name, clean));
  }
}

} // namespace
