// Whole update runs in-process: data folders, settings, administration file
// and package files made here, the real unzip library, and the recording view
// standing in for the dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_file.h"
#include "admin/settings.h"
#include "packages/placement_journal.h"
#include "platform/fault.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/window.h"
#include "tests/support/recording_view.h"
#include "tests/support/result_texts.h"
#include "tests/support/test_support.h"
#include "tests/support/update_scenario.h"
#include "update/copy_form.h"
#include "util/text.h"

namespace update {
namespace {

using testing_support::FailureBody;
using testing_support::FileNames;
using testing_support::FirstPackage;
using testing_support::FoldersInvalidReason;
using testing_support::RecoveryFailedReason;
using testing_support::SecondPackage;
using testing_support::SuccessBody;
using testing_support::TextBytes;
using testing_support::ThirdPackage;
using testing_support::Time1;
using testing_support::TPackage;
using testing_support::TPackageItem;
using TKind = TRecordingView::TEventKind;

constexpr std::int32_t Seed = 1234567;
std::vector<std::uint8_t> FilePathId(const std::vector<std::pair<std::string, int>> &entries) {
  return testing_support::FilePathId(entries, 0xEE);
}

// One data folder tree with settings, administration file, download record
// and package files, as the host leaves it before starting the program.
class TScenario : public testing_support::TUpdateScenario {
public:
  TRecordingView View;

  TScenario() : TUpdateScenario(Seed) {}

  void Write() override {
    ASSERT_NO_FATAL_FAILURE(TUpdateScenario::Write());
    // What SetUp has to find for itself.
    testing_support::ForgetSettings();
  }

  void Run() { RunUpdate(View, {Data, "4711", "3"}, 0x4711); }

  // Changes the stored header the way a damaged or mistaken one would be.
  void EditHeader(const std::function<void(admin::TAdminHeader &)> &edit) {
    admin::TAdminHeader header = Header();
    edit(header);
    ASSERT_TRUE(admin::WriteAdminHeader(AdminPath, header, Seed));
  }

  std::string Text(const std::string &path) const { return testing_support::ReadWholeText(path); }

  // The run's one message box; a blank one, and a failure, unless there was one.
  TRecordingView::TMessage OnlyBox() const {
    const auto boxes = View.Messages();
    EXPECT_EQ(boxes.size(), 1u);
    return boxes.size() == 1 ? boxes[0] : TRecordingView::TMessage{};
  }

  // The run's one box is the failure box with this body.
  void ExpectFailureBox(const std::string &body) const {
    const auto box = OnlyBox();
    EXPECT_EQ(box.Caption, "Fehler!");
    EXPECT_EQ(box.Text, body);
    EXPECT_EQ(box.Style, platform::MbIconHand);
  }

  // A run that ended before its work: no box, the dialog closed, the third
  // package and the left-overs still where they were.
  void ExpectNothingDone(bool boxShown = false) const {
    if (!boxShown) {
      EXPECT_TRUE(View.Messages().empty());
      ASSERT_FALSE(View.Events.empty());
      EXPECT_EQ(View.Events.back().Kind, TKind::Close);
    }
    EXPECT_EQ(FileNames(Download), (std::vector<std::string>{"Paket3.pkg", "stray.tmp"}));
    EXPECT_EQ(FileNames(Staging), std::vector<std::string>{"stray.tmp"});
    EXPECT_TRUE(FileNames(Dest[3]).empty());
  }
};

class UpdateRunTest : public ::testing::Test {
protected:
  void TearDown() override { platform::fault::Disarm(); }
  // Boxes shown past the view (the placement's "Error=" box) must never
  // reach a real screen.
  testing_support::TBoxRecorder PlatformBoxes;
};

// The runs that the program makes under Wine too (tests/app/e2e_test.cpp).
TEST_F(UpdateRunTest, SharedRunsLeaveWhatTheirCasesSay) {
  for (const auto &c : testing_support::RunCases()) {
    SCOPED_TRACE(c.Name);
    // The host's registration comes from the seam's registry file off Windows;
    // under Windows it names the test program's own folder, which gets nothing.
    if (c.Setup == c.HostDest1 && testing_support::RunningOnWindows())
      continue;
    TScenario s;
    const auto before = s.Prepare(c);
    const std::string registry = platform::RegistryFile();
    if (c.Setup == c.HostDest1) {
      ASSERT_TRUE(testing_support::WriteWholeFile(
          registry, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\KastTools.exe|"
                    "ProgPath|REG_SZ|" +
                        s.Dest[1] + "\\\r\n"));
    }
    s.Run();
    if (c.Setup == c.HostDest1) {
      EXPECT_TRUE(platform::DeleteFile(registry));
    }

    std::vector<std::pair<std::string, std::string>> boxes;
    for (const auto &box : s.View.Messages()) {
      boxes.emplace_back(box.Caption, box.Text);
      EXPECT_EQ(box.Style,
                box.Caption == "Fehler!" ? platform::MbIconHand : platform::MbIconInformation);
    }
    testing_support::ExpectRunLeft(c, s, boxes, before);
    EXPECT_TRUE(PlatformBoxes.Boxes.empty());
    // The dialog: its caption from the settings, one timer run, closed at the end.
    EXPECT_EQ(s.View.LastText(TKind::Caption), "Dateien einarbeiten");
    EXPECT_EQ(s.View.Values(TKind::ArmTimer), std::vector<std::uint32_t>{300});
    EXPECT_EQ(s.View.TimerFires, 1);
    ASSERT_FALSE(s.View.Events.empty());
    EXPECT_EQ(s.View.Events.back().Kind, TKind::Close);
    if (&c != &testing_support::RunCases().front())
      continue;
    // The archives in order, item names in lower case.
    EXPECT_EQ(s.View.Texts(TKind::PackageText),
              (std::vector<std::string>{"", "Paket1.zip", "Paket2.zip", "Paket3.zip"}));
    auto files = s.View.Texts(TKind::FileText);
    EXPECT_NE(std::find(files.begin(), files.end(), "liesmich.txt"), files.end());
    EXPECT_EQ(std::find(files.begin(), files.end(), "Liesmich.TXT"), files.end());
  }
}

// The archive beside a package without an extension in a folder with a dot.
// A staging folder of 254 or 255 characters leaves no room for a name: the
// folders are refused before anything is unpacked.
TEST_F(UpdateRunTest, FoldersAtTheEdgesOfThePathRulesAreUsedAsNamed) {
  const struct {
    const char *Name;
    std::vector<std::string> Download; // folder levels below Root
    std::size_t StagingLength;         // 0: the usual staging folder
    const char *PackageFileName;
    bool Placed;
  } cases[] = {
      {"no extension, a dot in the folder", {"V3.83", "Download"}, 0, "PAKET1", true},
      {"staging folder of 254 characters", {"download"}, 254, "Paket1.pkg", false},
      {"staging folder of 255 characters", {"download"}, 255, "Paket1.pkg", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    // The ANSI file functions take no such paths at all.
    if (c.StagingLength != 0 && testing_support::RunningOnWindows())
      continue;
    TScenario s;
    s.Download = s.Root.Path();
    for (const std::string &level : c.Download) {
      s.Download = s.Download + "/" + level;
      ASSERT_TRUE(testing_support::MakeFolder(s.Download));
    }
    if (c.StagingLength != 0) {
      s.Staging = s.Root / std::string(c.StagingLength - s.Root.Path().size() - 1, 's');
      ASSERT_EQ(s.Staging.size(), c.StagingLength);
      ASSERT_TRUE(testing_support::MakeFolder(s.Staging));
    }
    TPackage package = FirstPackage();
    package.FileName = c.PackageFileName;
    s.AddPackage(package);
    ASSERT_NO_FATAL_FAILURE(s.Write());
    s.Run();

    const auto box = s.OnlyBox();
    EXPECT_EQ(box.Text, c.Placed ? SuccessBody : FailureBody("-8", FoldersInvalidReason));
    if (!c.Placed) {
      EXPECT_EQ(FileNames(s.Staging), std::vector<std::string>{"stray.tmp"});
    }
    const std::vector<std::string> placed = {"core.dll", "Liesmich.TXT", "shared.txt"};
    EXPECT_EQ(FileNames(s.Dest[1]), c.Placed ? placed : std::vector<std::string>());
    // Nothing unpacked, and no archive, beside the folders named.
    for (const char *stray : {"Liesmich.TXT", "shared.txt", "V3.zip"})
      EXPECT_FALSE(testing_support::FileExists(s.Root / stray)) << stray;
  }
}

TEST_F(UpdateRunTest, FailedRewriteOfARecordIsReportedAsFailure) {
  // A first run counts file operations up to the group caption that follows
  // the first package; the rewrite's write is the last operation before it
  // that, made to fail, ends the run with -6 (the commit comes behind it).
  // The third and the first package, run with operation `op` failing (0: none).
  const auto run = [](TScenario &s, std::uint64_t op) {
    s.AddPackage(ThirdPackage());
    s.AddPackage(FirstPackage());
    ASSERT_NO_FATAL_FAILURE(s.Write());
    platform::fault::Arm(op);
    s.Run();
    platform::fault::Disarm();
  };
  std::uint64_t rewriteOp = 0;
  {
    TScenario counting;
    int unpackingCaptions = 0;
    counting.View.OnEvent = [&](const TRecordingView::TEvent &e) {
      if (e.Kind == TKind::GroupCaption && e.Text == GroupCaptionUnpacking &&
          ++unpackingCaptions == 3)
        rewriteOp = platform::fault::Count();
    };
    ASSERT_NO_FATAL_FAILURE(run(counting, 0));
    ASSERT_EQ(counting.View.Messages().size(), 1u);
    ASSERT_EQ(counting.View.Messages()[0].Text, SuccessBody);
    ASSERT_GT(rewriteOp, 0u);
  }

  for (;; --rewriteOp) {
    ASSERT_GT(rewriteOp, 0u) << "no operation fails the rewrite";
    TScenario probe;
    ASSERT_NO_FATAL_FAILURE(run(probe, rewriteOp));
    if (probe.Header().LastResult() == admin::RunRecordNotRewritten)
      break;
  }

  TScenario s;
  ASSERT_NO_FATAL_FAILURE(run(s, rewriteOp));

  s.ExpectFailureBox(FailureBody("-6"));

  // The package was taken back out, its record and the header keep it
  // pending, and the package after it was not touched.
  EXPECT_TRUE(FileNames(s.Dest[3]).empty());
  EXPECT_TRUE(FileNames(s.Dest[1]).empty());
  s.ExpectRecords("UU");
  auto header = s.Header();
  EXPECT_EQ(header.LastResult(), admin::RunRecordNotRewritten);
  EXPECT_EQ(header.UpdatePending(), 1);
  EXPECT_EQ(header.VersionText().Str(), "3.90.0");
  EXPECT_TRUE(FileNames(s.Download).empty());
}

TEST_F(UpdateRunTest, NoQualifyingRecordShowsSuccessAndLeavesTheHeaderAlone) {
  TScenario s;
  TPackage notReady = ThirdPackage();
  notReady.Ready = 0;
  TPackage applied = FirstPackage();
  applied.Pending = 0;
  s.AddPackage(notReady);
  s.AddPackage(applied);
  ASSERT_NO_FATAL_FAILURE(s.Write());
  auto before = testing_support::ReadWholeFile(s.AdminPath);
  // Activation reported again after the box must not start a second run.
  s.View.ReactivateAfterMessage = true;
  s.Run();

  const auto box = s.OnlyBox();
  EXPECT_EQ(box.Text, SuccessBody);
  EXPECT_EQ(s.View.ActivateCalls, 2);
  EXPECT_EQ(s.View.Values(TKind::ArmTimer).size(), 1u);
  EXPECT_EQ(testing_support::ReadWholeFile(s.AdminPath), before);
  EXPECT_TRUE(FileNames(s.Download).empty());
  EXPECT_TRUE(FileNames(s.Staging).empty());
  EXPECT_TRUE(FileNames(s.Dest[1]).empty());
  EXPECT_TRUE(FileNames(s.Dest[3]).empty());
}

TEST_F(UpdateRunTest, BlankDialogCaptionKeepsTheDefault) {
  TScenario s;
  s.Caption = "   ";
  s.UpdatePending = 0;
  ASSERT_NO_FATAL_FAILURE(s.Write());
  s.Run();
  EXPECT_EQ(s.View.Texts(TKind::Caption), std::vector<std::string>{CopyFormCaption});
}

// A run log that cannot be written changes nothing in the run (what each kind
// of run writes to it: SharedRunsLeaveWhatTheirCasesSay).
TEST_F(UpdateRunTest, RunLogThatCannotBeWrittenNeverStopsARun) {
  for (bool corruptSecond : {false, true}) {
    SCOPED_TRACE(corruptSecond);
    TScenario s;
    s.AddPackage(FirstPackage());
    s.AddPackage(SecondPackage(corruptSecond));
    ASSERT_NO_FATAL_FAILURE(s.Write());
    ASSERT_TRUE(testing_support::MakeFolder(s.Data + "/ZRKUPD.LOG"));
    s.Run();
    EXPECT_EQ(s.Header().LastResult(), corruptSecond ? -1 : 0);
    EXPECT_EQ(s.View.Messages().size(), 1u);
  }
}

TEST_F(UpdateRunTest, UnsafeFoldersStopTheRunBeforeAnythingIsTouched) {
  using THeader = admin::TAdminHeader;
  struct {
    const char *Name;
    std::function<void(TScenario &, THeader &)> Edit;
  } const cases[] = {
      {"staging is destination 1", [](TScenario &s, THeader &h) { h.SetStagingFolder(s.Dest[1]); }},
      {"staging is the data folder, spelled otherwise",
       [](TScenario &s, THeader &h) {
         h.SetStagingFolder(util::UpperCaseGerman(s.Data + "/./").View());
       }},
      {"download is destination 2 by way of ..",
       [](TScenario &s, THeader &h) { h.SetDownloadFolder(s.Dest[2] + "/../dest2"); }},
      {"staging holds the administration file",
       [](TScenario &s, THeader &h) { h.SetStagingFolder(s.Root.Path()); }},
      {"download is the staging folder",
       [](TScenario &s, THeader &h) { h.SetDownloadFolder(s.Staging + "/"); }},
      {"staging is a drive root", [](TScenario &, THeader &h) { h.SetStagingFolder("C:\\"); }},
      {"download is relative", [](TScenario &, THeader &h) { h.SetDownloadFolder("download"); }},
      {"a relative destination is the staging folder",
       [](TScenario &, THeader &h) { h.SetDestFolder(3, "STAGING"); }},
  };
  const std::string saved = platform::GetCurrentFolder();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TScenario s;
    // Relative folders count from here.
    ASSERT_TRUE(platform::SetCurrentFolder(s.Root.Path()));
    s.AddPackage(ThirdPackage());
    ASSERT_NO_FATAL_FAILURE(s.Write());
    const std::string unmade = s.Root / "new4";
    s.EditHeader([&](THeader &h) {
      h.SetDestFolder(4, unmade);
      c.Edit(s, h);
    });
    const THeader before = s.Header();
    s.Run();

    const auto box = s.OnlyBox();
    EXPECT_EQ(box.Text, FailureBody("-8", FoldersInvalidReason));
    // Only the outcome is stamped into the header.
    const THeader after = s.Header();
    const THeader expected = testing_support::Recorded(before, admin::RunFoldersInvalid, after);
    EXPECT_EQ(0, std::memcmp(expected.Bytes, after.Bytes, admin::AdminHeaderSize));
    EXPECT_EQ(after.UpdatePending(), 1);
    s.ExpectRecords("U");
    s.ExpectNothingDone(true);
    EXPECT_FALSE(testing_support::FileExists(unmade));
    ASSERT_TRUE(platform::SetCurrentFolder(saved));
  }
}

TEST_F(UpdateRunTest, PackageNameThatLeadsOutOfTheDownloadFolderStopsAtItsRecord) {
  for (const char *name :
       {"..\\OUTSIDE\\VICTIM.PKG", "sub/x.pkg", "NUL", "com1.pkg", "*.pkg", ""}) {
    SCOPED_TRACE(name);
    TScenario s;
    // A valid package beside a file of the same name that is not the run's.
    const std::string outside = s.Root / "OUTSIDE";
    ASSERT_TRUE(testing_support::MakeFolder(outside));
    const auto victim = testing_support::PackageFile(ThirdPackage().Items, 97);
    ASSERT_TRUE(testing_support::WriteWholeFile(outside + "/VICTIM.PKG", victim));
    ASSERT_TRUE(testing_support::WriteWholeFile(outside + "/VICTIM.zip", "precious"));
    s.AddPackage(ThirdPackage());
    s.AddPackage({name, 2, {}});
    s.AddPackage(FirstPackage());
    ASSERT_NO_FATAL_FAILURE(s.Write());
    s.Run();

    const auto box = s.OnlyBox();
    EXPECT_EQ(box.Text, FailureBody("-8", FoldersInvalidReason));
    EXPECT_EQ(FileNames(s.Dest[3]), std::vector<std::string>{"drei.txt"});
    EXPECT_TRUE(FileNames(s.Dest[1]).empty());
    EXPECT_TRUE(FileNames(s.Dest[2]).empty());
    s.ExpectRecords("AUU");
    EXPECT_EQ(s.Header().LastResult(), admin::RunFoldersInvalid);
    EXPECT_EQ(s.Header().UpdatePending(), 1);
    EXPECT_EQ(s.Text(outside + "/VICTIM.zip"), "precious");
    EXPECT_EQ(testing_support::ReadWholeFile(outside + "/VICTIM.PKG"), victim);
  }
}

TEST_F(UpdateRunTest, PackageThatWouldReplaceAFileOfTheRunIsNotPlacedAtAll) {
  // The second package goes to a folder that also holds a file that the run
  // holds open or owns; its first item, aaa.txt, is harmless.
  const auto evil = [](const char *name) { return TPackageItem{name, TextBytes("evil"), Time1}; };
  struct {
    const char *Name;
    bool ToData; // destination 3 is the data folder, else the folder of the administration file
    std::uint8_t DestIndex;
    std::vector<TPackageItem> Items;
  } const cases[] = {
      {"the administration file in other case", false, 3, {evil("updadmin.vab")}},
      {"the administration file, sent there by FILEPATH.ID",
       false,
       2,
       {{"FILEPATH.ID", FilePathId({{"UPDADMIN.VAB", 3}}), Time1}, evil("UPDADMIN.VAB")}},
      {"the run's own journal", true, 3, {evil("zrkupd.jnl")}},
      {"the run's own log", true, 3, {evil("ZRKUPD.LOG")}},
      {"the temporary settings file", true, 3, {evil("zrkupd.tmp")}},
      {"the journal's temporary file", true, 3, {evil("ZRKUPD.JN~")}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TScenario s;
    s.AddPackage(FirstPackage());
    std::vector<TPackageItem> items = {{"aaa.txt", TextBytes("a"), Time1}};
    items.insert(items.end(), c.Items.begin(), c.Items.end());
    s.AddPackage({"Boese.pkg", c.DestIndex, items});
    ASSERT_NO_FATAL_FAILURE(s.Write());
    const std::string target = c.ToData ? s.Data : s.Root.Path();
    s.EditHeader([&](admin::TAdminHeader &h) { h.SetDestFolder(3, target); });
    ASSERT_TRUE(testing_support::WriteWholeFile(s.DownloadRecordPath, "record"));
    const auto settings = testing_support::ReadWholeFile(s.Data + "/ZRKUPD.DAT");
    s.Run();

    const auto box = s.OnlyBox();
    EXPECT_EQ(box.Text, FailureBody("-8", FoldersInvalidReason));
    EXPECT_EQ(s.Text(s.Dest[1] + "/shared.txt"), "from package 1");
    EXPECT_FALSE(testing_support::FileExists(target + "/aaa.txt"));
    EXPECT_TRUE(FileNames(s.Dest[2]).empty());
    EXPECT_EQ(testing_support::ReadWholeFile(s.Data + "/ZRKUPD.DAT"), settings);
    EXPECT_EQ(s.Text(s.DownloadRecordPath), "record");
    EXPECT_EQ(s.Header().LastResult(), admin::RunFoldersInvalid);
    s.ExpectRecords("AU");
  }
}

// Layouts that the host may use and a careful rule must not refuse: each one
// is applied like any other update.
TEST_F(UpdateRunTest, LegitimateHostLayoutsAreApplied) {
  const std::string german = "Gr\xDF\xE4\xFC"
                             "e.txt"; // code page 437: E1 84 81
  struct {
    const char *Name;
    std::function<void(TScenario &)> Before; // after Write(), before the run
    std::vector<TPackageItem> Items;         // package 1, to destination 3
    std::function<void(TScenario &)> After;
  } const cases[] = {
      {"a settings file shorter than the record is read as it is",
       [](TScenario &s) {
         auto bytes = testing_support::ReadWholeFile(s.Data + "/ZRKUPD.DAT");
         bytes.resize(admin::DownloadFileNameOffset); // seed and administration file
         ASSERT_TRUE(testing_support::WriteWholeFile(s.Data + "/ZRKUPD.DAT", bytes));
       },
       {{"drei.txt", TextBytes("drei"), Time1}},
       [](TScenario &s) {
         EXPECT_EQ(testing_support::ReadWholeFile(s.Data + "/ZRKUPD.DAT").size(),
                   admin::DownloadFileNameOffset);
         EXPECT_EQ(FileNames(s.Dest[3]), std::vector<std::string>{"drei.txt"});
       }},
      {"the download record kept in the download folder",
       [](TScenario &s) {
         s.DownloadRecordPath = s.Download + "/UPDDOWNL.VAB";
         ASSERT_EQ(s.StoreSettings(s.Caption), admin::StoreOk);
         ASSERT_TRUE(testing_support::WriteWholeFile(s.DownloadRecordPath, "record"));
         testing_support::ForgetSettings();
       },
       {{"drei.txt", TextBytes("drei"), Time1}},
       [](TScenario &s) {
         EXPECT_EQ(FileNames(s.Dest[3]), std::vector<std::string>{"drei.txt"});
         EXPECT_FALSE(testing_support::FileExists(s.DownloadRecordPath));
       }},
      {"a package ships new settings and a new download record",
       [](TScenario &s) {
         s.EditHeader([&](admin::TAdminHeader &h) {
           h.SetDestFolder(2, s.Root.Path());
           h.SetDestFolder(3, s.Data);
         });
         ASSERT_TRUE(testing_support::WriteWholeFile(s.DownloadRecordPath, "record"));
       },
       {{"ZRKUPD.DAT", TextBytes("neue Einstellungen"), Time1},
        {"FILEPATH.ID", FilePathId({{"UPDDOWNL.VAB", 2}, {"ZRKUPD.DAT", 3}}), Time1},
        {"UPDDOWNL.VAB", TextBytes("neuer Download"), Time1}},
       [](TScenario &s) {
         EXPECT_EQ(s.Text(s.Data + "/ZRKUPD.DAT"), "neue Einstellungen");
         EXPECT_EQ(s.Text(s.DownloadRecordPath), "neuer Download");
       }},
      {"an unused relative destination is made and the run goes on",
       [](TScenario &s) {
         s.EditHeader([](admin::TAdminHeader &h) { h.SetDestFolder(5, "Kast\\Hilfe"); });
       },
       {{"drei.txt", TextBytes("drei"), Time1}},
       [](TScenario &s) {
         EXPECT_EQ(FileNames(s.Dest[3]), std::vector<std::string>{"drei.txt"});
         EXPECT_TRUE(util::FolderExists(s.Root / "current\\Kast\\Hilfe"));
       }},
      {"an archive of the current folder with its ./ item first",
       {},
       {{"./", {}, Time1}, {"./drei.txt", TextBytes("drei"), Time1}},
       [](TScenario &s) { EXPECT_EQ(FileNames(s.Dest[3]), std::vector<std::string>{"drei.txt"}); }},
      {"German names in code page 437 that are well-formed UTF-8 too",
       {},
       {{"Gr\xE1\x84\x81"
         "e.txt",
         TextBytes("gross"), Time1}},
       [&german](TScenario &s) {
         EXPECT_EQ(FileNames(s.Dest[3]), std::vector<std::string>{german});
       }},
  };
  const std::string saved = platform::GetCurrentFolder();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TScenario s;
    s.AddPackage({"Paket1.pkg", 3, c.Items});
    ASSERT_NO_FATAL_FAILURE(s.Write());
    if (c.Before) {
      ASSERT_NO_FATAL_FAILURE(c.Before(s));
    }
    // Relative folders count from here; no shared file is named from it.
    ASSERT_TRUE(testing_support::MakeFolder(s.Root / "current"));
    ASSERT_TRUE(platform::SetCurrentFolder(s.Root / "current"));
    s.Run();
    ASSERT_TRUE(platform::SetCurrentFolder(saved));

    const auto box = s.OnlyBox();
    EXPECT_EQ(box.Text, SuccessBody);
    EXPECT_TRUE(PlatformBoxes.Boxes.empty());
    s.ExpectRecords("A");
    EXPECT_EQ(s.Header().LastResult(), 0);
    EXPECT_EQ(s.Header().UpdatePending(), 0);
    c.After(s);
  }
}

// A case-sensitive file system may hold two names that Windows takes for one:
// replacing one would land on the other, so the package is not placed.
TEST_F(UpdateRunTest, PosixTwoSpellingsOfOneNameInADestinationStopThePackage) {
  if (testing_support::RunningOnWindows())
    GTEST_SKIP() << "Windows file systems hold one spelling of a name";
  TScenario s;
  s.AddPackage({"Paket1.pkg", 3, {{"A.TXT", TextBytes("neu"), Time1}}});
  ASSERT_NO_FATAL_FAILURE(s.Write());
  for (const char *name : {"A.TXT", "a.txt"}) {
    std::ofstream out(platform::NativePath(s.Dest[3]) + "/" + name, std::ios::binary);
    out << name;
  }
  s.Run();

  s.ExpectFailureBox(FailureBody("-8", FoldersInvalidReason));
  auto names = FileNames(s.Dest[3]);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"A.TXT", "a.txt"}));
  EXPECT_EQ(s.Text(platform::NativePath(s.Dest[3]) + "/A.TXT"), "A.TXT");
  EXPECT_EQ(s.Text(platform::NativePath(s.Dest[3]) + "/a.txt"), "a.txt");
  s.ExpectRecords("U");
}

TEST_F(UpdateRunTest, AdministrationFileThatIsAFifoEndsTheRunQuietly) {
  TScenario s;
  s.AddPackage(ThirdPackage());
  ASSERT_NO_FATAL_FAILURE(s.Write());
  ASSERT_TRUE(platform::DeleteFile(s.AdminPath));
  ASSERT_TRUE(testing_support::MakeFifo(s.AdminPath));
  s.Run();

  s.ExpectNothingDone();
  EXPECT_TRUE(testing_support::RemoveFifo(s.AdminPath));
}

// Whatever can be known before a file moves stops the package with nothing
// of it placed, the cause in the log; the next run, with the blocker gone and
// the update downloaded again, applies it.
TEST_F(UpdateRunTest, FailuresKnownInAdvancePlaceNothingAndNameTheirCause) {
  const std::string longFolder(240, 'f');
  struct TCase {
    const char *Name;
    std::string Blocker;    // a folder made below the root; "" none
    std::string LongFolder; // destination 2 moved to a folder of this name
    const char *Cause;
  } const cases[] = {
      {"a folder where the first file goes", "dest2/extra.bin", "", "a folder of that name"},
      {"a folder where the last file goes", "dest1/shared.txt", "", "a folder of that name"},
      {"a path too long for the copy", "", longFolder, "too long"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    if (!c.LongFolder.empty() && testing_support::RunningOnWindows())
      continue; // the ANSI functions cannot make the folder
    TScenario s;
    s.AddPackage(FirstPackage());
    s.AddPackage(SecondPackage());
    ASSERT_NO_FATAL_FAILURE(s.Write());
    if (!c.Blocker.empty()) {
      ASSERT_TRUE(testing_support::MakeFolder(s.Root / c.Blocker));
    }
    if (!c.LongFolder.empty()) {
      const std::string folder = s.Root / c.LongFolder;
      ASSERT_TRUE(testing_support::MakeFolder(folder));
      s.EditHeader([&](admin::TAdminHeader &h) { h.SetDestFolder(2, folder); });
    }
    const auto second = testing_support::ReadWholeFile(s.Download + "/Paket2.PKG");
    {
      testing_support::TBoxRecorder errors;
      s.Run();
      ASSERT_EQ(errors.Boxes.size(), 1u);
      EXPECT_EQ(errors.Boxes[0].Text, "Error=         2");
    }
    EXPECT_EQ(s.OnlyBox().Text, FailureBody("-5"));
    EXPECT_EQ(s.Header().LastResult(), -5);
    EXPECT_FALSE(testing_support::FileExists(s.Data + "/ZRKUPD.JNL"));
    const bool firstApplied = c.Blocker != "dest1/shared.txt";
    s.ExpectRecords(firstApplied ? "AU" : "UU");
    EXPECT_EQ(s.Text(s.Dest[1] + "/Liesmich.TXT"), firstApplied ? "eins" : "");
    if (firstApplied) {
      EXPECT_EQ(s.Text(s.Dest[1] + "/shared.txt"), "from package 1");
      EXPECT_TRUE(FileNames(s.Dest[2]).empty() || c.Blocker == "dest2/extra.bin");
    }
    const std::string log = s.Text(s.Data + "/ZRKUPD.LOG");
    EXPECT_NE(log.find(c.Cause), std::string::npos) << log;
    EXPECT_EQ(log.find("Rolling back"), std::string::npos) << log;

    if (c.Blocker.empty())
      continue;
    ASSERT_TRUE(platform::RemoveFolder(s.Root / c.Blocker));
    if (!firstApplied) {
      ASSERT_TRUE(testing_support::WriteWholeFile(
          s.Download + "/Paket1.pkg", testing_support::PackageFile(FirstPackage().Items, 97)));
    }
    ASSERT_TRUE(testing_support::WriteWholeFile(s.Download + "/Paket2.PKG", second));
    s.View = TRecordingView();
    s.Run();
    EXPECT_EQ(s.OnlyBox().Text, SuccessBody);
    s.ExpectRecords("AA");
    EXPECT_EQ(s.Text(s.Dest[1] + "/shared.txt"), "from package 2");
  }
}

// A package file named like a side file of the run is the package's: it is
// placed, and no side file of the run takes its name.
TEST_F(UpdateRunTest, PackageFilesNamedLikeSideFilesArePlacedAsTheyAre) {
  TScenario s;
  s.AddPackage({"Paket1.pkg",
                1,
                {{"A.TXT", TextBytes("new a"), Time1},
                 {"~zrk1.bak", TextBytes("mine 1"), Time1},
                 {"~zrk1.tmp", TextBytes("mine 2"), Time1}}});
  ASSERT_NO_FATAL_FAILURE(s.Write());
  ASSERT_TRUE(testing_support::WriteWholeFile(s.Dest[1] + "/A.TXT", "old a"));
  s.Run();

  EXPECT_EQ(s.OnlyBox().Text, SuccessBody);
  EXPECT_EQ(FileNames(s.Dest[1]), (std::vector<std::string>{"A.TXT", "~zrk1.bak", "~zrk1.tmp"}));
  EXPECT_EQ(s.Text(s.Dest[1] + "/A.TXT"), "new a");
  EXPECT_EQ(s.Text(s.Dest[1] + "/~zrk1.bak"), "mine 1");
  EXPECT_EQ(s.Text(s.Dest[1] + "/~zrk1.tmp"), "mine 2");
}

// A journal of a killed run whose package cannot be put back yet (a folder,
// or under Windows an open file, where the old version must go) fails the
// run with -9 and touches nothing else; once the blocker is gone the next run
// puts the package back and applies the update.
TEST_F(UpdateRunTest, RecoveryThatCannotFinishIsReportedAndFinishedByTheNextRun) {
  TScenario s;
  s.AddPackage(FirstPackage());
  ASSERT_NO_FATAL_FAILURE(s.Write());
  const std::string target = s.Dest[1] + "/shared.txt";
  packages::TPlacementJournal journal;
  journal.Path = packages::JournalPathIn(s.Data);
  journal.State = packages::TPlacementJournal::TState::Placing;
  journal.PackagesTaken = true;
  journal.AddFile(util::AddBackslash(s.Dest[1]) + "shared.txt", 1, packages::TSideNames::Long,
                  true);
  ASSERT_TRUE(packages::WriteJournal(journal));
  ASSERT_TRUE(testing_support::WriteWholeFile(s.Dest[1] + "/~zrk1.bak", "old shared"));
  platform::TFile holder;
  if (testing_support::RunningOnWindows()) {
    ASSERT_TRUE(testing_support::WriteWholeFile(target, "half placed"));
    ASSERT_TRUE(holder.OpenShared(target));
  } else {
    ASSERT_TRUE(testing_support::MakeFolder(target));
  }
  s.Run();

  EXPECT_EQ(s.OnlyBox().Text, FailureBody("-9", RecoveryFailedReason));
  EXPECT_EQ(s.Header().LastResult(), admin::RunRecoveryFailed);
  EXPECT_EQ(s.Header().UpdatePending(), 1);
  s.ExpectRecords("U");
  EXPECT_EQ(FileNames(s.Download), (std::vector<std::string>{"Paket1.pkg", "stray.tmp"}));
  const std::string log = s.Text(s.Data + "/ZRKUPD.LOG");
  EXPECT_NE(log.find("Putting back " + util::AddBackslash(s.Dest[1]) + "shared.txt failed: "),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("(0)"), std::string::npos) << log;

  holder.Close();
  if (!testing_support::RunningOnWindows()) {
    ASSERT_TRUE(platform::RemoveFolder(target));
  }
  s.View = TRecordingView();
  s.Run();
  EXPECT_EQ(s.OnlyBox().Text, SuccessBody);
  s.ExpectRecords("A");
  EXPECT_EQ(s.Text(target), "from package 1");
  EXPECT_EQ(FileNames(s.Dest[1]),
            (std::vector<std::string>{"core.dll", "Liesmich.TXT", "shared.txt"}));
  EXPECT_FALSE(testing_support::FileExists(journal.Path));
}

// The log names why unpacking failed: the library's result by name, the
// entry, and the system's error of the call that failed (the staging folder
// taken away under the first entry), which the library keeps through its
// clean-up for the caller to read.
TEST_F(UpdateRunTest, UnpackingFailureLogsTheCodeTheEntryAndTheSystemsError) {
  TScenario s;
  s.AddPackage(FirstPackage());
  ASSERT_NO_FATAL_FAILURE(s.Write());
  bool removed = false;
  s.View.OnEvent = [&](const TRecordingView::TEvent &e) {
    if (e.Kind == TKind::FileText && !removed)
      removed = platform::RemoveFolder(s.Staging);
  };
  s.Run();
  ASSERT_TRUE(removed);
  EXPECT_EQ(s.Header().LastResult(), admin::RunUnpackFailed);
  const std::string log = s.Text(s.Data + "/ZRKUPD.LOG");
  EXPECT_TRUE(std::regex_search(log, std::regex("Paket1\\.zip failed: unzip error 8 dzWriteFailed "
                                                "\\([^)]+\\), entry \"Liesmich\\.TXT\": [^\r]+ "
                                                "\\(3\\)\r\n")))
      << log;
}

// Putting back what a stopped run left half placed is logged: the package,
// how many files went back and were removed, and the record.
TEST_F(UpdateRunTest, RollingBackAStoppedRunIsLogged) {
  TScenario s;
  s.AddPackage(FirstPackage());
  ASSERT_NO_FATAL_FAILURE(s.Write());
  packages::TPlacementJournal journal;
  journal.Path = packages::JournalPathIn(s.Data);
  journal.State = packages::TPlacementJournal::TState::Placing;
  journal.PackagesTaken = true;
  const std::string dest = util::AddBackslash(s.Dest[1]);
  journal.AddFile(dest + "shared.txt", 1, packages::TSideNames::Long, true);
  journal.AddFile(dest + "neu.txt", 2, packages::TSideNames::Long, false);
  journal.Record = admin::RecordUndoOf(s.AdminPath, admin::AdminHeaderSize, s.Records[0], Seed);
  ASSERT_TRUE(packages::WriteJournal(journal));
  ASSERT_TRUE(testing_support::WriteWholeFile(s.Dest[1] + "/~zrk1.bak", "old shared"));
  ASSERT_TRUE(testing_support::WriteWholeFile(s.Dest[1] + "/shared.txt", "half placed"));
  ASSERT_TRUE(testing_support::WriteWholeFile(s.Dest[1] + "/neu.txt", "new"));
  platform::TFile admin;
  ASSERT_TRUE(admin.OpenShared(s.AdminPath) && admin.Seek(journal.Record.Offset) &&
              admin.WriteAll(journal.Record.After.data(), admin::PackageRecordSize));
  admin.Close();
  s.Run();
  EXPECT_EQ(s.OnlyBox().Text, SuccessBody);
  const std::string log = s.Text(s.Data + "/ZRKUPD.LOG");
  EXPECT_NE(log.find("Putting back package Paket1.pkg (record 1 of " + s.AdminPath +
                     "), which a stopped run left half placed: 1 previous versions put back, 1 "
                     "new files removed, the record restored\r\n"),
            std::string::npos)
      << log;
}

// A journal is obeyed only where the run itself would have written: one that
// names anything else, or is no journal file at all, is put aside unread and
// the update goes on.
TEST_F(UpdateRunTest, HostileJournalsAreSetAsideWithNothingTouched) {
  enum TKind { Outside, Settings, ForeignAdmin, Folder, Fifo, Oversized };
  const struct {
    const char *Name;
    TKind Kind;
  } cases[] = {{"a target outside every destination", Outside},
               {"the settings file as a target", Settings},
               {"a foreign administration file", ForeignAdmin},
               {"a folder", Folder},
               {"a FIFO", Fifo},
               {"an oversized file", Oversized}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.Kind == Fifo && testing_support::RunningOnWindows())
      continue; // the FIFO helper cannot remove it there again
    TScenario s;
    s.AddPackage(FirstPackage());
    ASSERT_NO_FATAL_FAILURE(s.Write());
    const std::string victim = s.Root / "victim.txt";
    ASSERT_TRUE(testing_support::WriteWholeFile(victim, std::string(20000, 'v')));
    const auto settings = testing_support::ReadWholeFile(s.Data + "/ZRKUPD.DAT");
    packages::TPlacementJournal journal;
    journal.Path = packages::JournalPathIn(s.Data);
    journal.State = packages::TPlacementJournal::TState::Placing;
    switch (c.Kind) {
    case Outside:
      journal.AddFile(victim, 1, packages::TSideNames::Long, false);
      break;
    case Settings:
      journal.AddFile(util::AddBackslash(s.Data) + "ZRKUPD.DAT", 1, packages::TSideNames::Long,
                      false);
      break;
    case ForeignAdmin:
      journal.Record.AdminPath = victim;
      journal.Record.Offset = static_cast<std::int64_t>(admin::AdminHeaderSize);
      journal.Record.After.fill('v');
      journal.Record.Before.fill('o');
      break;
    default:
      break;
    }
    if (c.Kind == Folder) {
      ASSERT_TRUE(testing_support::MakeFolder(journal.Path));
    } else if (c.Kind == Fifo) {
      ASSERT_TRUE(testing_support::MakeFifo(journal.Path));
    } else if (c.Kind == Oversized) {
      platform::TFile big;
      std::uint32_t written = 0;
      ASSERT_TRUE(big.Create(journal.Path) && big.Seek(packages::MaxJournalSize) &&
                  big.Write("Z", 1, written));
      big.Close();
    } else {
      ASSERT_TRUE(packages::WriteJournal(journal));
    }
    s.Run();

    EXPECT_EQ(s.OnlyBox().Text, SuccessBody);
    s.ExpectRecords("A");
    EXPECT_EQ(s.Text(victim), std::string(20000, 'v'));
    EXPECT_EQ(testing_support::ReadWholeFile(s.Data + "/ZRKUPD.DAT"), settings);
    EXPECT_FALSE(testing_support::FileExists(journal.Path));
    const std::string aside = s.Data + "/ZRKUPD.JNL.REFUSED";
    EXPECT_TRUE(testing_support::FileExists(aside) || util::FolderExists(aside))
        << s.Text(s.Data + "/ZRKUPD.LOG");
    EXPECT_NE(s.Text(s.Data + "/ZRKUPD.LOG").find("is not obeyed"), std::string::npos)
        << s.Text(s.Data + "/ZRKUPD.LOG");
    if (c.Kind == Fifo) {
      EXPECT_TRUE(testing_support::RemoveFifo(aside));
    }
  }
}

// A data folder where the journal cannot be written is no reason to refuse
// the update: it is placed with its undo held in memory, and the log says so.
TEST_F(UpdateRunTest, UnwritableJournalPlacesThePackageWithItsUndoInMemory) {
  TScenario s;
  s.AddPackage(FirstPackage());
  ASSERT_NO_FATAL_FAILURE(s.Write());
  ASSERT_TRUE(testing_support::MakeFolder(s.Data + "/ZRKUPD.JN~"));
  s.Run();

  EXPECT_EQ(s.OnlyBox().Text, SuccessBody);
  s.ExpectRecords("A");
  EXPECT_EQ(s.Text(s.Dest[1] + "/shared.txt"), "from package 1");
  const std::string log = s.Text(s.Data + "/ZRKUPD.LOG");
  EXPECT_NE(log.find("a crash now could not be undone"), std::string::npos) << log;
}

} // namespace
} // namespace update
