// End-to-end runs of zrkupd.exe under Wine (Windows build only): each test
// builds a data folder as the host leaves it, lets the test host start the
// program around its own host windows, and checks the files, the records,
// the message boxes and the dialog the host saw.
#include <gtest/gtest.h>

#include <process.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "admin/settings.h"
#include "packages/package_check.h"
#include "platform/files.h"
#include "tests/support/result_texts.h"
#include "tests/support/test_support.h"
#include "tests/support/tool_run.h"
#include "tests/support/update_scenario.h"
#include "tests/support/zip_builder.h"
#include "zrk_version.h"

namespace {

using testing_support::FileNames;
using testing_support::FilePathId;
using testing_support::SuccessBody;
using testing_support::TextBytes;
using testing_support::TPackageItem;

constexpr std::int32_t Seed = 7654321;
const std::string &SuccessCaption = testing_support::SuccessTitle;
const std::uint32_t DateA = testing_support::DosDateTime(2019, 3, 14, 9, 26, 52);
const std::uint32_t DateB = testing_support::DosDateTime(2020, 12, 31, 23, 59, 58);
const std::uint32_t DateC = testing_support::DosDateTime(2015, 7, 1, 6, 0, 0);

std::string Folder(const std::string &path) {
  return path.substr(0, path.find_last_of('\\'));
}

const std::string &BinFolder() {
  static const std::string folder = Folder(platform::ExecutablePath());
  return folder;
}

std::string Unescape(const std::string &text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    if (c == 'r')
      out += '\r';
    else if (c == 'n')
      out += '\n';
    else if (c == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else
      out += c;
  }
  return out;
}

// What the test host wrote down, by key.
class THostResult {
public:
  std::map<std::string, std::string> Values;
  int HostExit = -1;

  bool Has(const std::string &key) const { return Values.count(key) != 0; }
  std::string Text(const std::string &key) const {
    auto it = Values.find(key);
    return it == Values.end() ? std::string("<missing " + key + ">") : Unescape(it->second);
  }
  long Number(const std::string &key) const {
    auto it = Values.find(key);
    return it == Values.end() ? -99999 : std::atol(it->second.c_str());
  }
};

std::string Quote(const std::string &arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
    return arg;
  return "\"" + arg + "\"";
}

// Runs the test host with `hostArgs`; `exe` (if not empty) with `programArgs`.
THostResult RunHost(const std::vector<std::string> &hostArgs, const std::string &exe,
                    const std::vector<std::string> &programArgs) {
  testing_support::TTempFolder scratch;
  std::string resultPath = scratch / "result.txt";
  std::vector<std::string> args = {Quote(BinFolder() + "\\test_host.exe"), "--result",
                                   Quote(resultPath)};
  if (!exe.empty()) {
    args.push_back("--exe");
    args.push_back(Quote(exe));
  }
  for (const std::string &a : hostArgs)
    args.push_back(Quote(a));
  args.push_back("--");
  for (const std::string &a : programArgs)
    args.push_back(Quote(a));
  std::vector<const char *> argv;
  for (const std::string &a : args)
    argv.push_back(a.c_str());
  argv.push_back(nullptr);

  THostResult result;
  std::string host = BinFolder() + "\\test_host.exe";
  result.HostExit = static_cast<int>(_spawnv(_P_WAIT, host.c_str(), argv.data()));
  std::string text = testing_support::ReadWholeText(resultPath);
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(at, end - at);
    std::size_t eq = line.find('=');
    if (eq != std::string::npos)
      result.Values[line.substr(0, eq)] = line.substr(eq + 1);
    at = end + 1;
  }
  return result;
}

struct TPackage {
  std::string FileName;
  std::uint8_t DestIndex = 1;
  std::vector<TPackageItem> Items;
  bool Corrupt = false;
};

// A data folder tree as the host leaves it before it starts the program,
// plus a current folder holding the host's status file.
class TScenario : public testing_support::TScenarioFolders {
public:
  std::string Work;
  std::vector<admin::TPackageRecord> Records;
  bool BlankDest1 = false;
  bool WriteAdmin = true;
  std::uint8_t UpdatePending = 1;

  TScenario() : TScenarioFolders(Seed, 3) {
    Work = Root / "work";
    testing_support::MakeFolder(Work);
  }

  void AddPackage(const TPackage &package) {
    const auto n = static_cast<int>(Records.size());
    Records.push_back(testing_support::PendingRecord(
        static_cast<std::uint32_t>(n), package.FileName, package.DestIndex, 10, 20 + n * 10));
    auto bytes = testing_support::PackageFile(package.Items, 1000);
    if (package.Corrupt)
      bytes[packages::PackageHeaderSize + packages::ChunkHeaderSize + 3] ^= 0x01;
    ASSERT_TRUE(testing_support::WriteWholeFile(Download + "\\" + package.FileName, bytes));
  }

  void Write() {
    if (WriteAdmin) {
      ASSERT_TRUE(WriteHeader(5, UpdatePending));
    }
    const std::int32_t stored = StoreSettings("Dateien einarbeiten", BlankDest1);
    if (WriteAdmin) {
      ASSERT_EQ(stored, admin::StoreOk);
      ASSERT_TRUE(AppendRecords(Records));
    }
    ASSERT_TRUE(testing_support::WriteWholeFile(Download + "\\stray.tmp", "x"));
    ASSERT_TRUE(testing_support::WriteWholeFile(Staging + "\\stray.tmp", "x"));
    ASSERT_TRUE(testing_support::WriteWholeFile(Work + "\\ZRK_STAT.DAT", "status"));
    ASSERT_TRUE(testing_support::WriteWholeFile(Data + "\\ZRK_STAT.DAT", "status"));
  }

  THostResult Run(std::vector<std::string> hostArgs, const std::string &exe = "") {
    hostArgs.insert(hostArgs.end(), {"--cwd", Work});
    return RunHost(hostArgs, exe.empty() ? BinFolder() + "\\zrkupd.exe" : exe, {Data, "4711", "3"});
  }

  // The program started with `line` behind its name, exactly as written.
  THostResult RunLine(const std::string &line) {
    const std::string file = Root / "command_line.txt";
    EXPECT_TRUE(testing_support::WriteWholeFile(file, line));
    return RunHost({"--cwd", Work, "--line-file", file}, BinFolder() + "\\zrkupd.exe", {});
  }

  static std::uint32_t DosTime(const std::string &path) {
    std::uint32_t time = 0;
    EXPECT_TRUE(platform::GetDosTime(path, time)) << path;
    return time;
  }
};

// A.PAK: a.txt for destination 1.
TPackage OneFilePackage() {
  return {"A.PAK", 1, {{"a.txt", TextBytes("a"), DateA, false}}};
}

bool Applied(const admin::TPackageRecord &record) {
  for (int k = 1; k <= admin::PackageInfoCount; ++k) {
    if (record.InstalledInfo(k) != record.OfferedInfo(k))
      return false;
  }
  return record.InstallPending() == 0;
}

// Three packages, the way a real update comes: one run shared by the checks
// below (each run costs seconds under Wine).
class ThreePackageRun : public testing::Test {
protected:
  static TScenario *Scenario;
  static THostResult *Result;
  static std::string ShotPath;

  static void SetUpTestSuite() {
    Scenario = new TScenario;
    Scenario->AddPackage({"PAKET1.PAK",
                          1,
                          {{"prog.exe", TextBytes("program one"), DateA, true},
                           {"sub/readme.txt", TextBytes("liesmich"), DateB, false}}});
    Scenario->AddPackage({"PAKET2.PAK",
                          2,
                          {{"FILEPATH.ID", FilePathId({{"HILFE.CHM", 3}}), DateA, false},
                           {"daten.dat", testing_support::PatternBytes(70000, 3), DateC, true},
                           {"hilfe.chm", TextBytes("hilfe"), DateB, false}}});
    Scenario->AddPackage({"PAKET3.PAK", 3, {{"ende.txt", TextBytes("ende"), DateC, false}}});
    Scenario->Write();
    std::string artifacts = BinFolder() + "\\..\\e2e-artifacts";
    testing_support::MakeFolder(artifacts);
    ShotPath = artifacts + "\\dialog_during_run.bmp";
    // The host's main window holds the run back for a while, so that the host
    // sees the dialog before the run has shown anything.
    Result = new THostResult(
        Scenario->Run({"--timer", "--decoy", "--main-ms", "1500", "--shot", ShotPath}));
  }

  static void TearDownTestSuite() {
    delete Result;
    delete Scenario;
  }
};

TScenario *ThreePackageRun::Scenario = nullptr;
THostResult *ThreePackageRun::Result = nullptr;
std::string ThreePackageRun::ShotPath;

TEST_F(ThreePackageRun, EndsByItselfWithExitCode0AndDeletesTheStatusFileOfTheCurrentFolder) {
  const THostResult &r = *Result;
  EXPECT_EQ(r.HostExit, 0);
  EXPECT_EQ(r.Number("timed_out"), 0);
  EXPECT_EQ(r.Number("exit_code"), 0);
  EXPECT_FALSE(testing_support::FileExists(Scenario->Work + "\\ZRK_STAT.DAT"));
  EXPECT_TRUE(testing_support::FileExists(Scenario->Data + "\\ZRK_STAT.DAT"));
}

TEST_F(ThreePackageRun, AsksOnlyTheHostTimerWindowToClose) {
  EXPECT_EQ(Result->Number("timer_close"), 1);
  EXPECT_EQ(Result->Number("decoy_close"), 0);
}

TEST_F(ThreePackageRun, PlacesEveryFileWithItsDateInItsFolder) {
  struct {
    std::string Path;
    std::uint32_t Date;
    std::string Content;
  } expected[] = {
      {Scenario->Dest[1] + "\\prog.exe", DateA, "program one"},
      {Scenario->Dest[1] + "\\readme.txt", DateB, "liesmich"},
      {Scenario->Dest[2] + "\\daten.dat", DateC, ""},
      {Scenario->Dest[3] + "\\hilfe.chm", DateB, "hilfe"}, // FILEPATH.ID sends it to 3
      {Scenario->Dest[3] + "\\ende.txt", DateC, "ende"},
  };
  for (const auto &e : expected) {
    SCOPED_TRACE(e.Path);
    ASSERT_TRUE(testing_support::FileExists(e.Path));
    EXPECT_EQ(TScenario::DosTime(e.Path), e.Date);
    if (!e.Content.empty()) {
      EXPECT_EQ(testing_support::ReadWholeText(e.Path), e.Content);
    }
  }
  EXPECT_EQ(testing_support::ReadWholeFile(Scenario->Dest[2] + "\\daten.dat"),
            testing_support::PatternBytes(70000, 3));
  EXPECT_FALSE(testing_support::FileExists(Scenario->Dest[2] + "\\hilfe.chm"));
  EXPECT_FALSE(testing_support::FileExists(Scenario->Dest[2] + "\\FILEPATH.ID"));
}

TEST_F(ThreePackageRun, RewritesTheRecordsAndStoresTheOutcome) {
  auto records = Scenario->StoredRecords();
  ASSERT_EQ(records.size(), 3u);
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(Applied(records[i]));
    // Bytes the program does not interpret come back unchanged.
    auto host =
        testing_support::PatternBytes(admin::PackageRecordSize, static_cast<std::uint32_t>(i));
    EXPECT_EQ(std::memcmp(records[i].Bytes + admin::PackageReserved3Offset,
                          host.data() + admin::PackageReserved3Offset, 100),
              0);
  }
  admin::TAdminHeader header = Scenario->Header();
  EXPECT_EQ(header.LastResult(), 0);
  EXPECT_EQ(header.UpdatePending(), 0);
  EXPECT_EQ(header.VersionText().Str(), "4.01.7");
  EXPECT_EQ(header.VersionDate(), 151000);
  EXPECT_GT(header.LastRunDate(), 150000);
}

TEST_F(ThreePackageRun, EmptiesStagingAndDownloadFolders) {
  EXPECT_TRUE(FileNames(Scenario->Staging).empty());
  EXPECT_TRUE(FileNames(Scenario->Download).empty());
}

TEST_F(ThreePackageRun, ShowsTheSuccessMessageOwnedByTheDialog) {
  const THostResult &r = *Result;
  ASSERT_EQ(r.Number("box.count"), 1);
  EXPECT_EQ(r.Text("box.1.caption"), SuccessCaption);
  EXPECT_EQ(r.Text("box.1.text"), SuccessBody);
  EXPECT_EQ(r.Number("box.1.owner_is_dialog"), 1);
  EXPECT_EQ(r.Number("box.1.dialog_visible"), 1);
  // The run drove the dialog: caption from the settings, the last package's
  // file and full meters, however fast its progress came.
  EXPECT_EQ(r.Text("box.1.dialog_caption"), "Dateien einarbeiten");
  EXPECT_NE(r.Text("box.1.package_text"), "");
  EXPECT_EQ(r.Text("box.1.file_text"), "ende.txt");
  EXPECT_EQ(r.Text("box.1.meters"), "100,100");
}

TEST_F(ThreePackageRun, DialogIsLaidOutAsDesigned) {
  const THostResult &r = *Result;
  ASSERT_EQ(r.Number("dialog_seen"), 1);
  EXPECT_EQ(r.Text("dialog.client"), "342x174");
  EXPECT_EQ(r.Number("dialog.sysmenu"), 0);
  EXPECT_EQ(r.Number("dialog.caption_bar"), 1);
  EXPECT_EQ(r.Number("dialog.sizable"), 0);
  EXPECT_EQ(r.Number("dialog.minmax"), 0);
  EXPECT_EQ(r.Number("dialog.topmost"), 1);
  EXPECT_EQ(r.Number("dialog.background_is_btnface"), 1);
  // The manifest's visual styles: the process runs on Common Controls 6.
  // Wine's comctl32 answers DllGetVersion with 5.81 in either form; there the
  // side-by-side assembly it was loaded from tells.
  bool version6 =
      r.Number("dialog.comctl32_major") >= 6 ||
      r.Text("dialog.comctl32_path")
              .find("microsoft.windows.common-controls_6595b64144ccf1df_6.") != std::string::npos;
  EXPECT_TRUE(version6) << r.Text("dialog.comctl32_path");

  // Centred on the screen.
  int x = 0, y = 0, w = 0, h = 0, sw = 0, sh = 0;
  ASSERT_EQ(std::sscanf(r.Text("dialog.window").c_str(), "%d,%d,%d,%d", &x, &y, &w, &h), 4);
  ASSERT_EQ(std::sscanf(r.Text("screen").c_str(), "%dx%d", &sw, &sh), 2);
  EXPECT_LE(std::abs(2 * x + w - sw), 2);
  EXPECT_LE(std::abs(2 * y + h - sh), 2);

  struct {
    int Id;
    const char *Class;
    const char *Rect; // in the dialog's client area
    const char *InGroup;
    std::string Text;
  } controls[] = {
      {100, "Button", "8,8,329,157", "0,0", "Dekomprimieren der Dateien"},
      {101, "Static", "16,28,313,13", "8,20",
       "Die Pakete werden entpackt und gepr\xFC"
       "ft."},
      {102, "Static", "16,48,41,13", "8,40", "Paket:"},
      {103, "Static", "16,64,41,13", "8,56", "Datei:"},
      {104, "Static", "56,48,269,13", "48,40", ""},
      {105, "Static", "56,64,273,13", "48,56", ""},
      {106, "msctls_progress32", "16,92,313,24", "8,84", ""},
      {107, "msctls_progress32", "16,128,313,24", "8,120", ""},
  };
  for (const auto &c : controls) {
    std::string key = "control." + std::to_string(c.Id);
    SCOPED_TRACE(key);
    EXPECT_EQ(r.Text(key + ".class"), c.Class);
    EXPECT_EQ(r.Text(key + ".rect"), c.Rect);
    EXPECT_EQ(r.Text(key + ".in_group"), c.InGroup);
    EXPECT_EQ(r.Text(key + ".text"), c.Text);
    EXPECT_EQ(r.Number(key + ".visible"), 1);
  }
  for (const char *meter : {"control.106", "control.107"}) {
    SCOPED_TRACE(meter);
    EXPECT_EQ(r.Text(std::string(meter) + ".range"), "0,100");
    EXPECT_EQ(r.Number(std::string(meter) + ".pos"), 0);
  }
}

TEST_F(ThreePackageRun, LeavesAScreenshotOfTheDialog) {
  ASSERT_EQ(Result->Number("shot_saved"), 1);
  auto bmp = testing_support::ReadWholeFile(ShotPath);
  ASSERT_GT(bmp.size(), 54u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  RecordProperty("screenshot", ShotPath);
}

TEST_F(ThreePackageRun, RunLogHoldsTheBlockOfTheRunInWindows1252WithCrLf) {
  const std::string log = testing_support::ReadWholeText(Scenario->Data + "\\ZRKUPD.LOG");
  for (const std::string &part :
       {std::string("==== "),
        std::string("zrkupd " ZRK_VERSION_TEXT " (commit " ZRK_COMMIT "), DUNZIP32.DLL ") +
            ZRK_VERSION,
        "Parameters: \"" + Scenario->Data + "\" \"4711\" \"3\"\r\n",
        std::string("PAKET2.PAK: ok: "), "Placed " + Scenario->Dest[3] + "\\hilfe.chm\r\n",
        std::string("Result 0: ") + SuccessCaption + " | "}) {
    SCOPED_TRACE(part);
    EXPECT_NE(log.find(part), std::string::npos) << log;
  }
}

TEST(E2e, SecondOfThreePackagesCorruptStopsWithChecksumError) {
  TScenario s;
  s.AddPackage(OneFilePackage());
  s.AddPackage({"B.PAK", 1, {{"b.txt", TextBytes("b"), DateA, false}}, true});
  s.AddPackage({"C.PAK", 1, {{"c.txt", TextBytes("c"), DateA, false}}});
  s.Write();
  THostResult r = s.Run({});
  EXPECT_EQ(r.Number("exit_code"), 0);
  ASSERT_EQ(r.Number("box.count"), 1);
  EXPECT_EQ(r.Text("box.1.caption"), "Fehler!");
  EXPECT_EQ(r.Text("box.1.text"),
            testing_support::FailureBody("-1", testing_support::ChecksumReason));

  auto records = s.StoredRecords();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_TRUE(Applied(records[0]));
  EXPECT_FALSE(Applied(records[1]));
  EXPECT_FALSE(Applied(records[2]));
  admin::TAdminHeader header = s.Header();
  EXPECT_EQ(header.LastResult(), -1);
  EXPECT_EQ(header.UpdatePending(), 1);
  EXPECT_EQ(header.VersionText().Str(), "3.90.0");
  EXPECT_TRUE(testing_support::FileExists(s.Dest[1] + "\\a.txt"));
  EXPECT_FALSE(testing_support::FileExists(s.Dest[1] + "\\c.txt"));
  EXPECT_TRUE(FileNames(s.Download).empty());
  // The evidence that the emptied download folder no longer holds.
  const std::string log = testing_support::ReadWholeText(s.Data + "\\ZRKUPD.LOG");
  EXPECT_NE(log.find("B.PAK: chunk 0 at offset 12: "), std::string::npos) << log;
  EXPECT_NE(log.find("Result -1: Fehler! | "), std::string::npos) << log;
}

TEST(E2e, WhatUpdateBuildMakesIsApplied) {
  TScenario s;
  const nlohmann::json spec =
      testing_support::ThreeFileUpdate(s, s.Root / "files", {{"OfferedVersionText", "5.0"}});
  const std::string specPath = s.Root / "update.json";
  ASSERT_TRUE(testing_support::WriteWholeFile(specPath, spec.dump()));
  // German names arrive under their own names, not as code page 437 reads them.
  const std::string geb = "Geb\xFChren.txt", toene = "T\xF6ne.txt";
  for (const std::string &name : {geb, toene})
    ASSERT_TRUE(testing_support::WriteWholeFile(s.Root / "files" + "\\" + name, name));
  ASSERT_TRUE(testing_support::ToolOk({"update", "build", specPath, s.Data}));

  THostResult r = s.Run({});
  EXPECT_EQ(r.Text("box.1.caption"), SuccessCaption);
  EXPECT_EQ(s.Header().LastResult(), 0);
  EXPECT_EQ(s.Header().VersionText().Str(), "5.0");
  // b.txt alone goes elsewhere; the files after it keep the package's folder.
  std::vector<std::string> placed = FileNames(s.Dest[1]);
  std::sort(placed.begin(), placed.end());
  EXPECT_EQ(placed, (std::vector<std::string>{geb, toene, "a.txt", "c.txt"}));
  EXPECT_EQ(testing_support::ReadWholeText(s.Dest[1] + "\\" + toene), toene);
  EXPECT_EQ(FileNames(s.Dest[3]), std::vector<std::string>{"b.txt"});
}

TEST(E2e, RunLogHeldOpenByAnotherProgramChangesNothingInTheRun) {
  TScenario s;
  s.AddPackage(OneFilePackage());
  s.Write();
  platform::TFile holder;
  ASSERT_TRUE(holder.CreateUnshared(s.Data + "\\ZRKUPD.LOG"));
  THostResult r = s.Run({});
  holder.Close();
  EXPECT_EQ(r.Number("exit_code"), 0);
  EXPECT_EQ(r.Text("box.1.caption"), SuccessCaption);
  EXPECT_EQ(s.Header().LastResult(), 0);
  EXPECT_TRUE(testing_support::FileExists(s.Dest[1] + "\\a.txt"));
  EXPECT_EQ(testing_support::ReadWholeText(s.Data + "\\ZRKUPD.LOG"), "");
}

// Split by quotes alone, as the host's runtime splits: a quoted folder that
// ends in a backslash is the data folder, and quotes may sit inside a word.
TEST(E2e, RawCommandLinesReachTheDataFolderTheHostMeant) {
  const struct {
    const char *Name;
    std::string Line; // "<>" stands for the scenario folder
  } cases[] = {
      {"quoted, trailing backslash", R"("<>\Kast Daten\" 4711 3)"},
      {"quoted, trailing backslash, alone", R"("<>\Kast Daten\")"},
      {"quoted inside", R"(<>\"Kast Daten"\ 4711 3)"},
      {"quoted, no backslash", R"("<>\Kast Daten" 4711 3)"},
      {"unquoted, trailing backslash", R"(<>\data\ 4711 3)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TScenario s;
    s.AddPackage(OneFilePackage());
    s.Write();
    const std::string spaced = s.Root / "Kast Daten";
    ASSERT_TRUE(testing_support::MakeFolder(spaced));
    ASSERT_TRUE(testing_support::WriteWholeFile(
        spaced + "\\ZRKUPD.DAT", testing_support::ReadWholeFile(s.Data + "\\ZRKUPD.DAT")));
    std::string line = c.Line;
    line.replace(line.find("<>"), 2, s.Root.Path());
    THostResult r = s.RunLine(line);
    EXPECT_EQ(r.Number("exit_code"), 0);
    ASSERT_EQ(r.Number("box.count"), 1) << line;
    EXPECT_EQ(r.Text("box.1.text"), SuccessBody);
    EXPECT_EQ(testing_support::ReadWholeText(s.Dest[1] + "\\a.txt"), "a");
  }
}

TEST(E2e, NothingPendingEndsWithoutAMessage) {
  struct {
    const char *Name;
    bool WriteAdmin;
    std::uint8_t Pending;
  } cases[] = {{"no administration file", false, 1}, {"UpdatePending 0", true, 0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TScenario s;
    s.WriteAdmin = c.WriteAdmin;
    s.UpdatePending = c.Pending;
    s.AddPackage(OneFilePackage());
    s.Write();
    THostResult r = s.Run({});
    EXPECT_EQ(r.Number("timed_out"), 0);
    EXPECT_EQ(r.Number("exit_code"), 0);
    EXPECT_EQ(r.Number("box.count"), 0);
    EXPECT_FALSE(testing_support::FileExists(s.Dest[1] + "\\a.txt"));
    // Nothing emptied either.
    EXPECT_EQ(FileNames(s.Download).size(), 2u);
    EXPECT_EQ(FileNames(s.Staging).size(), 1u);
    EXPECT_FALSE(testing_support::FileExists(s.Work + "\\ZRK_STAT.DAT"));
  }
}

TEST(E2e, BlankFirstDestinationComesFromTheRegistry) {
  TScenario s;
  std::string progPath = s.Root / "KastTools";
  testing_support::MakeFolder(progPath);
  s.BlankDest1 = true;
  s.AddPackage({"A.PAK", 1, {{"kast.exe", TextBytes("kast"), DateB, false}}});
  s.Write();
  THostResult r = s.Run({"--progpath", progPath});
  RunHost({"--progpath-delete"}, "", {});
  EXPECT_EQ(r.Number("progpath_status"), 0);
  ASSERT_EQ(r.Number("box.count"), 1);
  EXPECT_EQ(r.Text("box.1.text"), SuccessBody);
  EXPECT_EQ(testing_support::ReadWholeText(progPath + "\\kast.exe"), "kast");
  EXPECT_EQ(TScenario::DosTime(progPath + "\\kast.exe"), DateB);
  EXPECT_EQ(s.Header().DestFolder(1).Str(), progPath);
}

// With a header pending but no qualifying record, the success message comes
// as soon as the run starts: its time, counted from the host's event `from`,
// tells when the wait for the host ended.
void ExpectRunStartsWithin(const std::string &mainMs, const std::string &from, long least,
                           long most) {
  TScenario s;
  s.Write();
  THostResult r = s.Run({"--main-ms", mainMs});
  ASSERT_EQ(r.Number("box.count"), 1);
  EXPECT_EQ(r.Text("box.1.caption"), SuccessCaption);
  const long waited = r.Number("box.1.ms") - r.Number(from);
  EXPECT_GE(waited, least);
  EXPECT_LE(waited, most);
  EXPECT_EQ(r.Number("exit_code"), 0);
}

TEST(E2e, RunStartsRightAfterTheHostMainWindowGoes) {
  ExpectRunStartsWithin("2000", "main_closed_ms", 0, 1500);
}

TEST(E2e, RunStartsAfterSevenSecondsWhenTheHostMainWindowStays) {
  ExpectRunStartsWithin("-1", "dialog_seen_ms", 7000, 10000);
}

TEST(E2e, MissingUnzipLibraryWarnsAndEndsWithExitCode1) {
  TScenario s;
  s.AddPackage(OneFilePackage());
  s.Write();
  testing_support::TTempFolder alone;
  std::string exe = alone / "zrkupd.exe";
  ASSERT_TRUE(testing_support::WriteWholeFile(
      exe, testing_support::ReadWholeFile(BinFolder() + "\\zrkupd.exe")));
  // A library of that name in the current folder is a stranger's, never taken.
  ASSERT_TRUE(testing_support::WriteWholeFile(
      s.Work + "\\DUNZIP32.DLL", testing_support::ReadWholeFile(BinFolder() + "\\DUNZIP32.DLL")));
  THostResult r = s.Run({"--timer"}, exe);
  EXPECT_EQ(r.Number("exit_code"), 1);
  ASSERT_EQ(r.Number("box.count"), 1);
  EXPECT_EQ(r.Text("box.1.text"), "Could not load DUNZIP32.DLL!");
  // The timer window was asked to close before the dialog was made.
  EXPECT_EQ(r.Number("timer_close"), 1);
  EXPECT_FALSE(testing_support::FileExists(s.Dest[1] + "\\a.txt"));
  EXPECT_TRUE(testing_support::FileExists(s.Work + "\\ZRK_STAT.DAT"));
  EXPECT_EQ(s.Header().UpdatePending(), 1);
  // The run log says why the program ended before its run.
  const std::string log = testing_support::ReadWholeText(s.Data + "\\ZRKUPD.LOG");
  EXPECT_NE(log.find("Loading the unzip library: "), std::string::npos) << log;
  EXPECT_NE(log.find("DUNZIP32.DLL: "), std::string::npos) << log;
  EXPECT_NE(log.find("(126)"), std::string::npos) << log;
  EXPECT_NE(log.find("Nothing done: "), std::string::npos) << log;
}

// SHFOLDER.DLL is not among the DLLs that Windows always takes from the system
// folder: a file of that name beside the program (where an update may write)
// comes first. This test's Wine prefers such a DLL as Windows does (shfolder
// is "n,b" in its WINEDLLOVERRIDES, tests/app/CMakeLists.txt). VERSION.DLL
// cannot be tried so: Wine's own advapi32 imports it, so preferring a planted
// one loads it into every process; that the program does not import it is
// checked on the binaries (release_package).
TEST(E2e, StrangersShfolderDllBesideTheProgramIsNeverLoaded) {
  TScenario s;
  s.AddPackage(OneFilePackage());
  s.Write();
  testing_support::TTempFolder folder;
  for (const char *name : {"zrkupd.exe", "DUNZIP32.DLL"})
    ASSERT_TRUE(testing_support::WriteWholeFile(
        folder / name, testing_support::ReadWholeFile(BinFolder() + "\\" + name)));
  ASSERT_TRUE(testing_support::WriteWholeFile(
      folder / "SHFOLDER.DLL", testing_support::ReadWholeFile(BinFolder() + "\\planted.dll")));
  THostResult r = s.Run({}, folder / "zrkupd.exe");
  EXPECT_EQ(r.Number("exit_code"), 0);
  ASSERT_EQ(r.Number("box.count"), 1);
  EXPECT_EQ(r.Text("box.1.text"), SuccessBody);
  EXPECT_EQ(testing_support::ReadWholeText(s.Dest[1] + "\\a.txt"), "a");
  // The planted DLL names its mark after the name it was loaded by.
  std::vector<std::string> names = FileNames(folder.Path());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"DUNZIP32.DLL", "SHFOLDER.DLL", "zrkupd.exe"}));
}

} // namespace
