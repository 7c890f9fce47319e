// End-to-end runs of zrkupd.exe under Wine (Windows build only): each test
// builds a data folder as the host leaves it, lets the test host start the
// program around its own host windows, and checks the files, the records,
// the message boxes and the dialog the host saw.
#include <gtest/gtest.h>

#include <process.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/files.h"
#include "tests/support/result_texts.h"
#include "tests/support/test_support.h"
#include "tests/support/tool_run.h"
#include "tests/support/update_scenario.h"
#include "tests/support/zip_builder.h"
#include "zrk_version.h"

namespace {

using testing_support::FileNames;
using testing_support::SuccessBody;
using testing_support::TextBytes;
using testing_support::TRunCase;

constexpr std::int32_t Seed = 7654321;
const std::string &SuccessCaption = testing_support::SuccessTitle;
const std::uint32_t DateA = testing_support::DosDateTime(2019, 3, 14, 9, 26, 52);

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

// A data folder tree as the host leaves it before it starts the program,
// plus a current folder holding the host's status file.
class TScenario : public testing_support::TUpdateScenario {
public:
  std::string Work;
  std::vector<std::uint8_t> AdminBefore;

  TScenario() : TUpdateScenario(Seed) {
    Work = Root / "work";
    testing_support::MakeFolder(Work);
  }

  void Write() override {
    ASSERT_NO_FATAL_FAILURE(TUpdateScenario::Write());
    ASSERT_TRUE(testing_support::WriteWholeFile(Work + "\\ZRK_STAT.DAT", "status"));
    ASSERT_TRUE(testing_support::WriteWholeFile(Data + "\\ZRK_STAT.DAT", "status"));
  }

  // The shared case `c`, set up and run.
  THostResult RunCase(const TRunCase &c, std::vector<std::string> hostArgs = {}) {
    AdminBefore = Prepare(c);
    if (c.Setup == c.HostDest1)
      hostArgs.insert(hostArgs.end(), {"--progpath", Dest[1]});
    THostResult r = Run(std::move(hostArgs));
    if (c.Setup == c.HostDest1) {
      EXPECT_EQ(r.Number("progpath_status"), 0);
      RunHost({"--progpath-delete"}, "", {});
    }
    return r;
  }

  // What the run of `c` left, with the boxes the host saw.
  void ExpectLeft(const TRunCase &c, const THostResult &r) const {
    std::vector<std::pair<std::string, std::string>> boxes;
    for (long i = 1; i <= r.Number("box.count"); ++i) {
      const std::string key = "box." + std::to_string(i);
      boxes.emplace_back(r.Text(key + ".caption"), r.Text(key + ".text"));
    }
    testing_support::ExpectRunLeft(c, *this, boxes, AdminBefore);
    EXPECT_EQ(r.Number("timed_out"), 0);
    EXPECT_EQ(r.Number("exit_code"), 0);
    EXPECT_FALSE(testing_support::FileExists(Work + "\\ZRK_STAT.DAT"));
    EXPECT_TRUE(testing_support::FileExists(Data + "\\ZRK_STAT.DAT"));
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
};

// A.PAK: a.txt for destination 1.
testing_support::TPackage OneFilePackage() {
  return {"A.PAK", 1, {{"a.txt", TextBytes("a"), DateA, false}}};
}

// Three packages, the way a real update comes: one run shared by the checks
// below (each run costs seconds under Wine).
class ThreePackageRun : public testing::Test {
protected:
  static TScenario *Scenario;
  static THostResult *Result;
  static std::string ShotPath;

  static const TRunCase &Case() { return testing_support::RunCases().front(); }

  static void SetUpTestSuite() {
    Scenario = new TScenario;
    std::string artifacts = BinFolder() + "\\..\\e2e-artifacts";
    testing_support::MakeFolder(artifacts);
    ShotPath = artifacts + "\\dialog_during_run.bmp";
    // The host's main window holds the run back for a while, so that the host
    // sees the dialog before the run has shown anything.
    Result = new THostResult(
        Scenario->RunCase(Case(), {"--timer", "--decoy", "--main-ms", "1500", "--shot", ShotPath}));
  }

  static void TearDownTestSuite() {
    delete Result;
    delete Scenario;
  }
};

TScenario *ThreePackageRun::Scenario = nullptr;
THostResult *ThreePackageRun::Result = nullptr;
std::string ThreePackageRun::ShotPath;

// Files, records, folders, the run log and the box, as in-process.
TEST_F(ThreePackageRun, LeavesWhatItsCaseSaysAndEndsByItself) {
  Scenario->ExpectLeft(Case(), *Result);
  EXPECT_EQ(Result->HostExit, 0);
}

TEST_F(ThreePackageRun, AsksOnlyTheHostTimerWindowToClose) {
  EXPECT_EQ(Result->Number("timer_close"), 1);
  EXPECT_EQ(Result->Number("decoy_close"), 0);
}

TEST_F(ThreePackageRun, ShowsTheSuccessMessageOwnedByTheDialog) {
  const THostResult &r = *Result;
  EXPECT_EQ(r.Number("box.1.owner_is_dialog"), 1);
  EXPECT_EQ(r.Number("box.1.dialog_visible"), 1);
  // The run drove the dialog: caption from the settings, the last package's
  // file and full meters, however fast its progress came.
  EXPECT_EQ(r.Text("box.1.dialog_caption"), "Dateien einarbeiten");
  EXPECT_NE(r.Text("box.1.package_text"), "");
  EXPECT_EQ(r.Text("box.1.file_text"), "drei.txt");
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

// A 24-bit bitmap of the whole screen, rows bottom up, in which the dialog
// stands out from the desktop and shows more than a blank face.
TEST_F(ThreePackageRun, LeavesAScreenshotOfTheDialog) {
  ASSERT_EQ(Result->Number("shot_saved"), 1);
  RecordProperty("screenshot", ShotPath);
  const auto bmp = testing_support::ReadWholeFile(ShotPath);
  int x = 0, y = 0, w = 0, h = 0, sw = 0, sh = 0, cw = 0, ch = 0;
  ASSERT_EQ(std::sscanf(Result->Text("dialog.window").c_str(), "%d,%d,%d,%d", &x, &y, &w, &h), 4);
  ASSERT_EQ(std::sscanf(Result->Text("screen").c_str(), "%dx%d", &sw, &sh), 2);
  ASSERT_EQ(std::sscanf(Result->Text("dialog.client").c_str(), "%dx%d", &cw, &ch), 2);
  const std::size_t header = 54, stride = (static_cast<std::size_t>(sw) * 3 + 3) / 4 * 4;
  ASSERT_EQ(bmp.size(), header + stride * static_cast<std::size_t>(sh));
  auto le = [&](std::size_t at, int bytes) {
    std::uint32_t value = 0;
    while (bytes-- > 0)
      value = value << 8 | bmp[at + static_cast<std::size_t>(bytes)];
    return value;
  };
  // "BM", the pixels behind the two headers, the screen's size, 24 bits.
  EXPECT_EQ((std::vector<std::uint32_t>{le(0, 2), le(10, 4), le(18, 4), le(22, 4), le(28, 2)}),
            (std::vector<std::uint32_t>{0x4D42, header, static_cast<std::uint32_t>(sw),
                                        static_cast<std::uint32_t>(sh), 24}));
  auto pixel = [&](int px, int py) {
    return le(header + stride * static_cast<std::size_t>(sh - 1 - py) + 3u * px, 3);
  };
  const std::uint32_t desktop = pixel(sw - 1, sh - 1);
  std::set<std::uint32_t> colours;
  long covered = 0;
  for (int py = y; py < y + h; ++py)
    for (int px = x; px < x + w; ++px) {
      colours.insert(pixel(px, py));
      covered += pixel(px, py) != desktop ? 1 : 0;
    }
  // Without a window manager Wine draws no frame: the client area shows.
  EXPECT_GT(covered, 9L * cw * ch / 10);
  EXPECT_GE(colours.size(), 3u);
}

TEST_F(ThreePackageRun, RunLogHoldsTheBlockOfTheRunInWindows1252WithCrLf) {
  const std::string log = testing_support::ReadWholeText(Scenario->Data + "\\ZRKUPD.LOG");
  for (const std::string &part :
       {std::string("zrkupd " ZRK_VERSION_TEXT " (commit " ZRK_COMMIT "), DUNZIP32.DLL ") +
            ZRK_VERSION,
        "Parameters: \"" + Scenario->Data + "\" \"4711\" \"3\"\r\n",
        "Placed " + Scenario->Dest[1] + "\\shared.txt\r\n"}) {
    SCOPED_TRACE(part);
    EXPECT_NE(log.find(part), std::string::npos) << log;
  }
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

// The runs made in-process too (tests/update/copy_form_test.cpp); the first
// one is ThreePackageRun's.
TEST(E2e, SharedRunsLeaveWhatTheirCasesSay) {
  for (const auto &c : testing_support::RunCases()) {
    if (&c == &testing_support::RunCases().front())
      continue;
    SCOPED_TRACE(c.Name);
    TScenario s;
    const THostResult r = s.RunCase(c);
    s.ExpectLeft(c, r);
  }
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
