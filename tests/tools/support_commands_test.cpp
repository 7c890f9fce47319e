// The commands for support: the run log as zrkupd left it, `check` of a data
// folder (a good one, and each kind of broken one with its cause named), and
// `update build` from folders of files to an update that check passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "admin/admin_file.h"
#include "admin/settings.h"
#include "packages/package_check.h"
#include "packages/placement_journal.h"
#include "platform/files.h"
#include "platform/path_parts.h"
#include "tests/support/test_support.h"
#include "tests/support/tool_run.h"
#include "tests/support/update_scenario.h"
#include "tools/zrktool.h"

namespace {

using namespace testing_support;
using TRun = TToolRun;

TEST(ZrkToolLog, ShowPrintsTheLastBlocksInUtf8) {
  TTempFolder dir;
  ASSERT_TRUE(WriteWholeFile(dir / "ZRKUPD.LOG", "==== eins\r\nResult 0\r\n"
                                                 "==== zwei\r\nPaket f\xFCr\r\n"
                                                 "==== drei\r\nResult -1\r\n"));
  TRun last = RunTool({"log", "show", dir.Path()});
  EXPECT_EQ(last.Code, tools::ExitOk);
  EXPECT_EQ(last.Out, "==== drei\nResult -1\n");
  TRun two = RunTool({"log", "show", dir.Path(), "--last", "2"});
  EXPECT_EQ(two.Out, "==== zwei\nPaket f\xC3\xBCr\n==== drei\nResult -1\n");
  const nlohmann::json runs = RunToolJson({"log", "show", dir.Path(), "--last", "2", "--json"});
  EXPECT_EQ(runs["Runs"], nlohmann::json::parse(R"([["==== zwei", "Paket f\u00fcr"],
                                                     ["==== drei", "Result -1"]])"));
  TTempFolder empty;
  EXPECT_EQ(RunTool({"log", "show", empty.Path()}).Code, tools::ExitFailed);
}

// A data folder with one pending package as the host leaves it; `items`
// make the package's archive.
struct TCheckScene : TScenarioFolders {
  explicit TCheckScene(const std::vector<TPackageItem> &items) : TScenarioFolders(1234567, 2) {
    EXPECT_TRUE(WriteHeader(3, 1));
    EXPECT_EQ(StoreSettings("Dateien einarbeiten"), admin::StoreOk);
    // A host writes real dates where the scenario leaves host bytes.
    admin::TAdminHeader header = Header();
    header.SetLastRunDate(150500);
    header.SetLastRunTime(3600);
    EXPECT_TRUE(admin::WriteAdminHeader(AdminPath, header, AdminSeed));
    EXPECT_TRUE(AppendRecords({PendingRecord(1, "P.PKG", 1, 1, 2)}));
    EXPECT_TRUE(WriteWholeFile(Package(), PackageFile(items, 500)));
  }
  std::string Package() const { return JoinPath(Download, "P.PKG"); }
};

std::vector<TPackageItem> GoodItems() {
  return {{"a/eins.txt", PatternBytes(3000, 1), 0, true},
          {"zwei.txt", PatternBytes(100, 2), 0, false},
          {"FILEPATH.ID", FilePathId({{"zwei.txt", 2}}), 0, false}};
}

void FileInTheWay(const std::string &folder) {
  EXPECT_TRUE(platform::RemoveFolder(folder));
  EXPECT_TRUE(WriteWholeFile(folder, "a file where a folder goes"));
}

std::size_t Occurrences(const std::string &text, const std::string &what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

TEST(ZrkToolPackage, VerifyAndTestTakeSeveralPackagesAndFailIfAnyFails) {
  TCheckScene s(GoodItems());
  const std::string good = s.Package();
  const std::string bad = s.Root / "bad.pkg";
  auto bytes = ReadWholeFile(good);
  bytes.back() ^= 1;
  ASSERT_TRUE(WriteWholeFile(bad, bytes));
  for (const char *command : {"verify", "test"}) {
    SCOPED_TRACE(command);
    TRun one = RunTool({"package", command, good});
    EXPECT_EQ(one.Code, tools::ExitOk) << one.Out;
    TRun both = RunTool({"package", command, good, bad});
    EXPECT_EQ(both.Code, tools::ExitFailed);
    EXPECT_NE(both.Out.find(good + ": ok: "), std::string::npos) << both.Out;
    EXPECT_NE(both.Out.find(bad + ": chunk "), std::string::npos) << both.Out;
  }
  EXPECT_NE(RunTool({"package", "test", good}).Out.find("archive unpacks: 3 files"),
            std::string::npos);
  // A one-chunk package's checksums are 32-bit values: 8 hex digits, not a
  // sign-extended 16.
  const std::string single = s.Root / "single.pkg";
  ASSERT_TRUE(WriteWholeFile(single, PackageFile(GoodItems(), 65000)));
  TRun one = RunTool({"package", "verify", single});
  EXPECT_TRUE(std::regex_search(one.Out, std::regex("bytes, crcSum 0x[0-9A-F]{8}\n"))) << one.Out;
  EXPECT_TRUE(std::regex_search(one.Out, std::regex("header: totalLength [0-9]+, crcSum "
                                                    "0x[0-9A-F]{8}\n")))
      << one.Out;
}

TEST(ZrkToolCheck, AGoodFolderPassesAndEachBrokenOneFailsWithItsCause) {
  {
    TCheckScene good(GoodItems());
    TRun r = RunTool({"check", good.Data});
    EXPECT_EQ(r.Code, tools::ExitOk) << r.Out << r.Err;
    EXPECT_NE(r.Out.find("ok    package P.PKG: verified, 3 files"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("Nothing found"), std::string::npos);
  }
  // What a run copes with passes, and says so.
  struct TFine {
    const char *Name;
    void (*Change)(TCheckScene &);
    const char *Says;
  } fine[] = {
      {"destination folder not made yet",
       [](TCheckScene &s) { EXPECT_TRUE(platform::RemoveFolder(s.Dest[2])); },
       "does not exist yet; zrkupd makes it before the first package"},
      {"no run yet",
       [](TCheckScene &s) {
         admin::TAdminHeader h = s.Header();
         h.SetLastRunDate(0);
         h.SetLastRunTime(0);
         EXPECT_TRUE(admin::WriteAdminHeader(s.AdminPath, h, s.AdminSeed));
       },
       "last run: none recorded"},
  };
  for (const auto &c : fine) {
    SCOPED_TRACE(c.Name);
    TCheckScene s(GoodItems());
    c.Change(s);
    TRun r = RunTool({"check", s.Data});
    EXPECT_EQ(r.Code, tools::ExitOk) << r.Out;
    EXPECT_EQ(Occurrences(r.Out, c.Says), 1u) << r.Out;
    EXPECT_EQ(r.Out.find("1600-01-01"), std::string::npos) << r.Out;
    // Paths as the platform writes them.
    EXPECT_EQ(r.Out.find(RunningOnWindows() ? '/' : '\\'), std::string::npos) << r.Out;
  }
  auto collide = GoodItems();
  // Two files for one folder: its failure is still one line.
  auto twoToFolder2 = GoodItems();
  twoToFolder2.back().Data = FilePathId({{"eins.txt", 2}, {"zwei.txt", 2}});
  collide.push_back({"b/EINS.TXT", {}, 0, false});
  struct TCase {
    const char *Name;
    std::vector<TPackageItem> Items;
    void (*Break)(TCheckScene &);
    const char *Cause;
  } cases[] = {
      {"package missing", GoodItems(),
       [](TCheckScene &s) { EXPECT_TRUE(platform::DeleteFile(s.Package())); }, "P.PKG is missing"},
      {"package damaged", GoodItems(),
       [](TCheckScene &s) {
         auto bytes = ReadWholeFile(s.Package());
         bytes[packages::PackageHeaderSize + packages::ChunkHeaderSize + 7] ^= 1;
         WriteWholeFile(s.Package(), bytes);
       },
       "verification fails: chunk 0"},
      {"names collide once flattened", collide, [](TCheckScene &) {},
       "land on the same file once folders are dropped"},
      {"FILEPATH.ID names a folder that cannot be made", twoToFolder2,
       [](TCheckScene &s) { FileInTheWay(s.Dest[2]); },
       "FILEPATH.ID sends files to destination folder 2"},
      {"a one-record FILEPATH.ID names a folder that cannot be made", GoodItems(),
       [](TCheckScene &s) { FileInTheWay(s.Dest[2]); },
       "FILEPATH.ID sends files to destination folder 2"},
      {"destination folder cannot be made", GoodItems(),
       [](TCheckScene &s) { FileInTheWay(s.Dest[1]); }, "its destination folder 1"},
      {"staging folder is the download folder", GoodItems(),
       [](TCheckScene &s) {
         admin::TAdminHeader h = s.Header();
         h.SetStagingFolder(h.DownloadFolder().View());
         EXPECT_TRUE(admin::WriteAdminHeader(s.AdminPath, h, s.AdminSeed));
       },
       "FAIL  folder rules: The staging folder"},
      {"wrong seed in the settings", GoodItems(),
       [](TCheckScene &s) {
         admin::DataFolder = util::TShortString(s.Data);
         EXPECT_TRUE(admin::ReadSettings());
         admin::Settings.SetAdminSeed(1500000);
         EXPECT_TRUE(admin::WriteSettingsFile());
       },
       "FAIL  seed: the header does not decode under AdminSeed 1500000"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TCheckScene s(c.Items);
    c.Break(s);
    TRun r = RunTool({"check", s.Data});
    EXPECT_EQ(r.Code, tools::ExitFailed);
    EXPECT_EQ(Occurrences(r.Out, c.Cause), 1u) << r.Out;
    EXPECT_NE(r.Out.find("The update would fail"), std::string::npos);
    TRun j = RunTool({"check", s.Data, "--json"});
    EXPECT_EQ(j.Code, tools::ExitFailed);
    EXPECT_NE(j.Out.find("\"WouldFail\": true"), std::string::npos) << j.Out;
  }
}

// What stands where a file goes fails its copy with -5: check names the file
// and the cause (the held file under Windows, where share modes exist).
TEST(ZrkToolCheck, WhatStandsWhereAFileGoesPredictsMinus5AndNamesTheFile) {
  auto longName = GoodItems();
  longName.push_back({std::string(250, 'l') + ".txt", PatternBytes(10, 3), 0, false});
  platform::TFile holder;
  struct TCase {
    const char *Name;
    std::vector<TPackageItem> Items;
    std::function<void(TCheckScene &, const std::string &)> Block;
    std::string Says;
  } cases[] = {
      {"a folder in the way", GoodItems(),
       [](TCheckScene &, const std::string &eins) { EXPECT_TRUE(MakeFolder(eins)); },
       ": a folder of that name is in the way (result -5)"},
      {"a read-only file", GoodItems(),
       [](TCheckScene &, const std::string &eins) {
         EXPECT_TRUE(WriteWholeFile(eins, "old"));
         EXPECT_TRUE(platform::SetAttributes(eins, platform::faReadOnly));
       },
       ": the file there is read-only (result -5)"},
      {"a path too long", longName, [](TCheckScene &, const std::string &) {},
       " characters, at most 255) (result -5)"},
  };
  std::vector<TCase> all(std::begin(cases), std::end(cases));
  if (RunningOnWindows())
    all.push_back({"a file held open", GoodItems(),
                   [&holder](TCheckScene &, const std::string &eins) {
                     EXPECT_TRUE(WriteWholeFile(eins, "old"));
                     EXPECT_TRUE(holder.OpenShared(eins));
                   },
                   ": it cannot be opened for writing unshared: "});
  for (const auto &c : all) {
    SCOPED_TRACE(c.Name);
    TCheckScene s(c.Items);
    const std::string eins = JoinPath(s.Dest[1], "eins.txt");
    c.Block(s, eins);
    TRun r = RunTool({"check", s.Data});
    holder.Close();
    EXPECT_EQ(r.Code, tools::ExitFailed) << r.Out;
    EXPECT_EQ(Occurrences(r.Out, c.Says), 1u) << r.Out;
    EXPECT_EQ(Occurrences(r.Out, "FAIL  package P.PKG: "), 1u) << r.Out;
    if (c.Items.size() == GoodItems().size()) {
      EXPECT_NE(r.Out.find("eins.txt cannot be placed: " + eins + ": "), std::string::npos)
          << r.Out;
    }
    EXPECT_NE(r.Out.find("The update would fail: 1 problem."), std::string::npos) << r.Out;
  }
}

// zrkupd loads its library from its own folder: check looks there, in the
// folder named or the one the host registered, and always says which.
TEST(ZrkToolCheck, TheUnzipLibraryIsLookedForBesideTheProgramAndTheFolderNamed) {
  TCheckScene s(GoodItems());
  // The program's own folder, where the build puts zrkupd and its library.
  std::string bin(platform::FolderPart(platform::ExecutablePath(), "\\"));
  bin.pop_back();
  if (!RunningOnWindows())
    std::replace(bin.begin(), bin.end(), '\\', '/');
  const std::string program = RunningOnWindows() ? "zrkupd.exe" : "zrkupd";
  const std::string library = RunningOnWindows() ? "DUNZIP32.DLL" : "libdunzip32.so";
  TTempFolder empty, programAlone;
  ASSERT_TRUE(WriteWholeFile(programAlone / program, "a program"));
  struct {
    std::string Folder;
    int Code;
    std::string Says;
  } const cases[] = {
      {empty.Path(), tools::ExitOk,
       "note  unzip library: not checked: " + empty.Path() + " holds no zrkupd"},
      {programAlone.Path(), tools::ExitFailed,
       "FAIL  unzip library: " + JoinPath(programAlone.Path(), library) + " is missing beside "},
      {bin, tools::ExitOk, "ok    unzip library: " + JoinPath(bin, library) + " loads beside "},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Folder);
    TRun r = RunTool({"check", s.Data, "--program-folder", c.Folder});
    EXPECT_EQ(r.Code, c.Code) << r.Out;
    EXPECT_NE(r.Out.find("ok    program folder: " + c.Folder + " (--program-folder)\n"),
              std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find(c.Says), std::string::npos) << r.Out;
  }
  // Without it, the host's registration names the folder (off Windows the
  // seam's registry file; the Windows prefix is shared and stays untouched).
  if (RunningOnWindows())
    return;
  const std::string registry = s.Root / "registry.txt";
  ASSERT_TRUE(WriteWholeFile(registry, "Software\\Microsoft\\Windows\\CurrentVersion\\App "
                                       "Paths\\KastTools.exe|ProgPath|REG_SZ|" +
                                           programAlone.Path() + "\r\n"));
  // putenv keeps the text itself; an empty value counts as none.
  static std::string set, unset = "ZRK_REGISTRY=";
  set = "ZRK_REGISTRY=" + registry;
  ASSERT_EQ(putenv(set.data()), 0);
  TRun r = RunTool({"check", s.Data});
  ASSERT_EQ(putenv(unset.data()), 0);
  EXPECT_NE(r.Out.find("ok    program folder: " + programAlone.Path() +
                       " (the host's program folder in the registry)\n"),
            std::string::npos)
      << r.Out;
  EXPECT_NE(r.Out.find(" is missing beside "), std::string::npos) << r.Out;
}

// A long list (a journal of thousands of files) shows its first lines and
// how many more there are, all of them with --verbose.
TEST(ZrkToolCheck, LongListsAreCutShortUnlessVerbose) {
  TCheckScene s(GoodItems());
  packages::TPlacementJournal j;
  j.Path = packages::JournalPathIn(s.Data);
  j.State = packages::TPlacementJournal::TState::Placing;
  for (int i = 0; i < 30; ++i)
    j.AddFile(JoinPath(s.Dest[1], "f" + std::to_string(i) + ".txt"),
              static_cast<std::uint32_t>(i + 1), packages::TSideNames::Long, false);
  ASSERT_TRUE(packages::WriteJournal(j));
  const TRun cut = RunTool({"check", s.Data});
  EXPECT_EQ(Occurrences(cut.Out, "(new: removed)"), 19u) << cut.Out;
  EXPECT_NE(cut.Out.find("... and 11 more (--verbose shows them all)\n"), std::string::npos)
      << cut.Out;
  const TRun all = RunTool({"check", s.Data, "--verbose"});
  EXPECT_EQ(Occurrences(all.Out, "(new: removed)"), 30u) << all.Out;
  EXPECT_EQ(all.Out.find("more (--verbose"), std::string::npos) << all.Out;
}

TEST(ZrkToolCheck, AJournalLeftBehindShowsItsPackageFilesAndWhatBlocksIt) {
  TCheckScene s(GoodItems());
  packages::TPlacementJournal j;
  j.Path = packages::JournalPathIn(s.Data);
  j.State = packages::TPlacementJournal::TState::Placing;
  j.Record.AdminPath = s.AdminPath;
  j.Record.Offset = static_cast<std::int64_t>(admin::AdminHeaderSize);
  const std::string added = JoinPath(s.Dest[1], "neu.txt");
  const std::string replaced = JoinPath(s.Dest[1], "alt.txt");
  ASSERT_TRUE(WriteWholeFile(added, "new"));
  ASSERT_TRUE(WriteWholeFile(replaced, "new version"));
  j.AddFile(added, 1, packages::TSideNames::Long, false);
  j.AddFile(replaced, 2, packages::TSideNames::Long, true);
  ASSERT_TRUE(WriteWholeFile(j.BackupOf(j.Files.back()), "old version"));
  ASSERT_TRUE(packages::WriteJournal(j));

  TRun r = RunTool({"check", s.Data});
  EXPECT_EQ(r.Code, tools::ExitOk) << r.Out;
  for (const char *said :
       {"note  journal: ", "package P.PKG, record 0, 2 files:", "neu.txt (new: removed)",
        "alt.txt (replaced: the previous version is put back)", "then goes on with the update"})
    EXPECT_NE(r.Out.find(said), std::string::npos) << said << "\n" << r.Out;

  // A folder where the new file is to be removed stops the next run.
  ASSERT_TRUE(platform::DeleteFile(added));
  ASSERT_TRUE(MakeFolder(added));
  r = RunTool({"check", s.Data});
  EXPECT_EQ(r.Code, tools::ExitFailed);
  EXPECT_NE(r.Out.find("FAIL  journal: "), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("in the way: "), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("neu.txt is a folder"), std::string::npos) << r.Out;
  const nlohmann::json shown = nlohmann::json::parse(RunTool({"check", s.Data, "--json"}).Out);
  EXPECT_EQ(shown["Journal"]["Package"], "P.PKG");
  EXPECT_EQ(shown["Journal"]["Files"].size(), 2u);
  EXPECT_EQ(shown["Journal"]["Blockers"].size(), 1u);
}

TEST(ZrkToolOutput, ShowAndTestCommandsSpeakJsonWithOneShapeOfProblem) {
  TCheckScene s(GoodItems());
  const std::string bad = s.Root / "bad.pkg", cut = s.Root / "cut.vab",
                    shortSettings = s.Root / "short.dat";
  auto bytes = ReadWholeFile(s.Package());
  bytes.back() ^= 1;
  ASSERT_TRUE(WriteWholeFile(bad, bytes));
  ASSERT_TRUE(WriteWholeFile(cut, ReadWholeText(s.AdminPath) + "cut"));
  ASSERT_TRUE(
      WriteWholeFile(shortSettings, ReadWholeText(JoinPath(s.Data, "ZRKUPD.DAT")).substr(0, 99)));
  TTempFolder empty;
  const std::string seed = std::to_string(s.AdminSeed);
  struct TCase {
    const char *Name;
    std::vector<std::string> Args;
    int Code;
    const char *Severity;
  } cases[] = {
      {"log show without a log",
       {"log", "show", empty.Path(), "--json"},
       tools::ExitFailed,
       "error"},
      {"package verify",
       {"package", "verify", s.Package(), bad, "--json"},
       tools::ExitFailed,
       "error"},
      {"package test", {"package", "test", s.Package(), bad, "--json"}, tools::ExitFailed, "error"},
      // Warnings never change a show's exit code.
      {"admin show of a cut record",
       {"admin", "show", cut, "--seed", seed, "--json"},
       tools::ExitOk,
       "warning"},
      {"admin show under a wrong seed",
       {"admin", "show", s.AdminPath, "--seed", "99", "--json"},
       tools::ExitOk,
       "warning"},
      {"settings show of a short file",
       {"settings", "show", shortSettings, "--json"},
       tools::ExitOk,
       "warning"},
      {"download show of a short file",
       {"download", "show", shortSettings, "--seed", seed, "--json"},
       tools::ExitOk,
       "warning"},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    const TRun r = RunTool(c.Args);
    EXPECT_EQ(r.Code, c.Code) << r.Out << r.Err;
    const nlohmann::json j = nlohmann::json::parse(r.Out, nullptr, false);
    ASSERT_TRUE(j.is_object()) << r.Out;
    ASSERT_TRUE(j.contains("Problems") && !j["Problems"].empty()) << r.Out;
    for (const auto &problem : j["Problems"]) {
      EXPECT_EQ(problem.size(), 3u) << problem.dump();
      EXPECT_TRUE(problem["Item"].is_string() && problem["Message"].is_string()) << problem.dump();
      EXPECT_EQ(problem["Severity"], c.Severity);
    }
  }

  TRun extracted = RunTool({"package", "extract", s.Package(), "-"});
  EXPECT_EQ(extracted.Out.substr(0, 2), "PK");
  EXPECT_NE(extracted.Err.find("archive written to standard output"), std::string::npos)
      << extracted.Err;
  // Paths come back in UTF-8, as they were typed, not in the code page the
  // file functions take.
  const TRun missing = RunTool({"log", "show",
                                JoinPath(empty.Path(), "Pr\xC3\xBC"
                                                       "fordner")});
  EXPECT_NE(missing.Err.find("Pr\xC3\xBC"
                             "fordner does not exist"),
            std::string::npos)
      << missing.Err;
  EXPECT_TRUE(ToolOk({"admin", "set", "--data-folder", s.Data, "LastResult=-2"}));
  EXPECT_EQ(s.Header().LastResult(), -2);
}

TEST(ZrkToolUpdateBuild, MakesAnUpdateThatCheckPassesAndDryRunWritesNothing) {
  TScenarioFolders f(1234567, 3);
  nlohmann::json spec = ThreeFileUpdate(
      f, "files", {{"OfferedVersionText", "4.0"}, {"OfferedVersionDate", "2024-05-01"}});
  const std::string specPath = f.Root / "update.json";
  ASSERT_TRUE(WriteWholeFile(specPath, spec.dump()));

  TRun dry = RunTool({"update", "build", specPath, f.Data, "--dry-run"});
  EXPECT_EQ(dry.Code, tools::ExitOk) << dry.Out << dry.Err;
  EXPECT_NE(dry.Out.find("would write PROG.PKG: 4 files"), std::string::npos) << dry.Out;
  EXPECT_FALSE(FileExists(f.AdminPath));
  EXPECT_FALSE(FileExists(f.Download + "/PROG.PKG"));

  // The records of an earlier, longer administration file do not survive.
  ASSERT_TRUE(f.WriteHeader(1, 0));
  ASSERT_TRUE(f.AppendRecords({testing_support::PendingRecord(2, "OLD1.PKG", 1, 0, 0),
                               testing_support::PendingRecord(3, "OLD2.PKG", 1, 0, 0)}));
  TRun built = RunTool({"update", "build", specPath, f.Data});
  EXPECT_EQ(built.Code, tools::ExitOk) << built.Out << built.Err;
  EXPECT_NE(built.Out.find("Nothing found that would stop the update"), std::string::npos)
      << built.Out;
  auto records = f.StoredRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].PackageFileName().Str(), "PROG.PKG");
  EXPECT_EQ(f.Header().UpdatePending(), 1);
  EXPECT_EQ(f.Header().OfferedVersionText().Str(), "4.0");

  spec["Packages"][0]["FilePaths"] = {{"missing.txt", 2}};
  ASSERT_TRUE(WriteWholeFile(specPath, spec.dump()));
  TRun bad = RunTool({"update", "build", specPath, f.Data});
  EXPECT_EQ(bad.Code, tools::ExitBadInput);
  EXPECT_NE(bad.Err.find("missing.txt"), std::string::npos);
}

} // namespace
