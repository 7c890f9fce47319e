// The folder and name rules of an update run: every way a folder can be
// spelled that Windows takes for the same one, roots, relative and damaged
// paths, and package names that would lead out of their folder.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/files.h"
#include "tests/support/test_support.h"
#include "util/path_rules.h"

namespace {

util::TUpdateFolders Base() {
  util::TUpdateFolders f;
  f.StagingFolder = "C:\\UPD\\STAGE";
  f.DownloadFolder = "C:\\UPD\\DOWN";
  f.DestFolders[1] = "C:\\PROG";
  f.DestFolders[4] = "  C:\\PROG\\HILFE\\ ";
  f.SharedFiles = {{"the settings file", "C:\\DATA\\ZRKUPD.DAT"},
                   {"the administration file", "\\\\SRV\\KASSE\\ADMIN\\UPDADMIN.VAB"}};
  return f;
}

TEST(UpdateFolders, EachRuleAndEverySpellingOfTheSameFolder) {
  using TEdit = std::function<void(util::TUpdateFolders &)>;
  struct {
    const char *Name;
    TEdit Edit;
    const char *Reason; // nullptr: the folders pass
  } const cases[] = {
      {"as the host sets them up", [](auto &) {}, nullptr},
      {"a share as download folder", [](auto &f) { f.DownloadFolder = "\\\\SRV\\KASSE\\DOWN"; },
       nullptr},
      {"blank destinations are not used", [](auto &f) { f.DestFolders[7] = "   "; }, nullptr},
      {"a longer name is another folder", [](auto &f) { f.DownloadFolder = "C:\\UPD\\STAGE2"; },
       nullptr},
      {"staging is destination 1 in other case with a backslash",
       [](auto &f) { f.StagingFolder = "c:\\prog\\"; }, "same folder as destination folder 1"},
      {"staging is a trimmed destination", [](auto &f) { f.StagingFolder = "C:/PROG/HILFE"; },
       "same folder as destination folder 4"},
      {"download reaches staging through . and ..",
       [](auto &f) { f.DownloadFolder = "C:\\UPD\\DOWN\\..\\.\\STAGE"; },
       "same folder as the download folder"},
      {"trailing dots and blanks are dropped",
       [](auto &f) { f.DownloadFolder = "C:\\\\UPD\\STAGE. "; }, "same folder as the download"},
      {"umlauts compare without case",
       [](auto &f) {
         f.StagingFolder = "C:\\M\xDCLL";
         f.DownloadFolder = "c:\\m\xFCll";
       },
       "same folder as the download folder"},
      {"staging holds the settings file", [](auto &f) { f.StagingFolder = "C:\\Data"; },
       "same folder as the folder of the settings file"},
      {"download holds the administration file",
       [](auto &f) { f.DownloadFolder = "\\\\srv\\kasse\\admin\\"; },
       "same folder as the folder of the administration file"},
      {"download is the current folder, which holds a relative settings file",
       [](auto &f) {
         f.SharedFiles[0].Path = "ZRKUPD.DAT";
         f.DownloadFolder = platform::GetCurrentFolder();
       },
       "same folder as the folder of the settings file"},
      {"a relative destination is the staging folder from the current folder",
       [](auto &f) {
         f.StagingFolder = platform::GetCurrentFolder() + "\\Kast";
         f.DestFolders[5] = "kast\\";
       },
       "same folder as destination folder 5"},
      {"staging is a drive root", [](auto &f) { f.StagingFolder = "C:\\UPD\\.."; },
       "root of a drive or share"},
      {"download is a share root", [](auto &f) { f.DownloadFolder = "\\\\SRV\\KASSE\\"; },
       "root of a drive or share"},
      {"relative staging", [](auto &f) { f.StagingFolder = "UPD\\STAGE"; }, "not an absolute"},
      {"drive-relative download", [](auto &f) { f.DownloadFolder = "C:UPD"; }, "not an absolute"},
      {"a share without share name", [](auto &f) { f.DownloadFolder = "\\\\SRV"; },
       "not an absolute"},
      {"a device path", [](auto &f) { f.StagingFolder = "\\\\.\\C:\\UPD"; }, "not an absolute"},
      // Destinations that are neither of the emptied folders are used as named.
      {"a forbidden character in a destination", [](auto &f) { f.DestFolders[20] = "C:\\A|B"; },
       nullptr},
      {"relative destinations", [](auto &f) { f.DestFolders[5] = "Kast\\Hilfe"; }, nullptr},
      {"a drive-relative destination", [](auto &f) { f.DestFolders[6] = "C:Kast"; }, nullptr},
      {"a destination that is a drive root", [](auto &f) { f.DestFolders[7] = "D:\\"; }, nullptr},
      {"a colon inside a path", [](auto &f) { f.StagingFolder = "C:\\UPD\\A:B"; },
       "does not allow"},
      {"binary bytes", [](auto &f) { f.DownloadFolder = std::string("C:\\\x01\x7F", 5); },
       "does not allow"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    util::TUpdateFolders folders = Base();
    c.Edit(folders);
    std::string reason = "stale";
    const bool ok = util::CheckUpdateFolders(folders, reason);
    EXPECT_EQ(ok, c.Reason == nullptr) << reason;
    if (c.Reason != nullptr)
      EXPECT_NE(reason.find(c.Reason), std::string::npos) << reason;
    else
      EXPECT_EQ(reason, "");
  }
}

TEST(UpdateFolders, ExistingFoldersCompareByIdentity) {
  // Two names of one file or folder that no text rule joins: a hard link.
  testing_support::TTempFolder root;
  ASSERT_TRUE(testing_support::WriteWholeFile(root / "a.txt", "a"));
  ASSERT_TRUE(testing_support::WriteWholeFile(root / "b.txt", "b"));
  ASSERT_TRUE(testing_support::MakeHardLink(root / "a.txt", root / "alias.bin"));
  EXPECT_TRUE(util::SamePath(root / "a.txt", root / "alias.bin"));
  EXPECT_TRUE(util::SamePath(root / "A.TXT", root / "sub\\..\\a.txt"));
  EXPECT_FALSE(util::SamePath(root / "a.txt", root / "b.txt"));
  EXPECT_FALSE(util::SamePath(root / "a.txt", root / "missing.txt"));
  // By spelling alone: the link is another file, a missing name can match.
  EXPECT_FALSE(util::SameSpelledPath(root / "a.txt", root / "alias.bin"));
  EXPECT_TRUE(util::SameSpelledPath(root / "MISSING.txt", root / "sub\\..\\missing.txt"));
}

// A relative path counts from the current folder, also for a name that does
// not exist yet (only the texts can join those).
TEST(UpdateFolders, RelativePathsCompareFromTheCurrentFolder) {
  testing_support::TTempFolder root;
  const std::string before = platform::GetCurrentFolder();
  ASSERT_TRUE(platform::SetCurrentFolder(root.Path()));
  EXPECT_TRUE(util::SamePath("missing.txt", root / "MISSING.TXT"));
  EXPECT_TRUE(util::SamePath(root / "sub\\..\\missing.txt", "missing.txt"));
  EXPECT_FALSE(util::SamePath("missing.txt", root / "other.txt"));
  ASSERT_TRUE(platform::SetCurrentFolder(before));
}

TEST(PackageNames, OnlyAPlainNameStaysInItsFolder) {
  for (const char *name : {"PAKET1.PKG", "a", "M\xFCll.pkg", " lead.pkg", "CONSOLE.PKG", "COM10",
                           "LPT", "NULL.zip", "x.NUL", "a..b"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(util::IsPlainFileName(name));
  }
  for (const char *name :
       {"",          ".",       "..",        "...",    " . ",     "..\\OUTSIDE\\VICTIM.PKG",
        "sub/x.pkg", "C:x.pkg", "\\x.pkg",   "*.pkg",  "a?.pkg",  "a<b",
        "a\"b",      "a|b",     "tab\tname", "NUL",    "nul.pkg", "NUL .pkg",
        "Com1.zip",  "LPT9",    "COM\xB9",   "CONIN$", "aux",     "prn.txt.x",
        "CON."}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(util::IsPlainFileName(name));
  }
}

} // namespace
