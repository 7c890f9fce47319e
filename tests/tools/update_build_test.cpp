// update build: German file names as readers that are not ours read the
// archive, and a build that fails at any file operation leaving every file
// as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/fault.h"
#include "platform/files.h"
#include "tests/support/fault_walk.h"
#include "tests/support/test_support.h"
#include "tests/support/tool_run.h"
#include "tests/support/update_scenario.h"
#include "tools/zrktool.h"
#include "util/text.h"

namespace {

using namespace testing_support;

// The names as the files are called on disk (Windows-1252) and as a reader
// that honours the ZIP format must list them (UTF-8).
struct TGermanName {
  const char *Disk;
  const char *Utf8;
};
const TGermanName GermanNames[] = {
    {"Geb\xFChren.txt", "Geb\xC3\xBChren.txt"},
    {"T\xF6ne.txt", "T\xC3\xB6ne.txt"},
    {"Stra\xDF"
     "e.txt",
     "Stra\xC3\x9F"
     "e.txt"},
    {"\xC4nderung.txt", "\xC3\x84nderung.txt"},
    {"\xD6l.txt", "\xC3\x96l.txt"},
    {"\xDC"
     "bung.txt",
     "\xC3\x9C"
     "bung.txt"},
    {"Caf\xE9.txt", "Caf\xC3\xA9.txt"},
    {"plain.txt", "plain.txt"},
};

// One package DE.PKG of the German names (or of plain ones alone), for
// destination folder 1.
nlohmann::json GermanUpdate(const TScenarioFolders &f, bool german = true) {
  const std::string files = f.Root / "files";
  EXPECT_TRUE(MakeFolder(files));
  for (const TGermanName &n : GermanNames)
    if (german || std::string(n.Disk) == n.Utf8) {
      EXPECT_TRUE(WriteWholeFile(JoinPath(files, n.Disk), n.Utf8));
    }
  return {{"Settings", SettingsSource(f, f.AdminSeed)},
          {"Packages", {{{"PackageFileName", "DE.PKG"}, {"DestIndex", 1}, {"Folder", "files"}}}}};
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty())
      lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(ZrkToolUpdateBuild, GermanNamesReachReadersThatAreNotOursUnchanged) {
  if (RunningOnWindows())
    GTEST_SKIP() << "the other readers are Debian's; under Wine the end-to-end run applies it";
  TScenarioFolders f(1234567, 1);
  const std::string specPath = f.Root / "update.json";
  ASSERT_TRUE(WriteWholeFile(specPath, GermanUpdate(f).dump()));
  const TToolRun built = RunTool({"update", "build", specPath, f.Data});
  ASSERT_EQ(built.Code, tools::ExitOk) << built.Out << built.Err;
  const std::string zip = f.Root / "de.zip";
  ASSERT_TRUE(ToolOk({"package", "extract", JoinPath(f.Download, "DE.PKG"), zip}));

  std::vector<std::string> expected;
  for (const TGermanName &n : GermanNames)
    expected.push_back(n.Utf8);
  std::sort(expected.begin(), expected.end());
  const std::string native = platform::NativePath(zip);
  const std::string listing = platform::NativePath(f.Root / "listing.txt");
  struct TReader {
    const char *Name;
    std::string Test, List; // a test that must exit 0; a command that lists the names
  } readers[] = {
      {"Python zipfile",
       "python3 -c 'import sys,zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not "
       "None)' '" +
           native + "'",
       "python3 -c 'import sys,zipfile; print(\"\\n\".join(zipfile.ZipFile(sys.argv[1])."
       "namelist()))' '" +
           native + "'"},
      {"Info-ZIP unzip", "unzip -tq '" + native + "'", "unzip -Z1 '" + native + "'"},
      {"7-Zip", "7zz t '" + native + "'",
       "7zz l -ba -slt '" + native + "' | sed -n 's/^Path = //p'"},
      {"libarchive bsdtar", "bsdtar -xOf '" + native + "' > /dev/null",
       "bsdtar -tf '" + native + "'"},
  };
  for (const TReader &r : readers) {
    SCOPED_TRACE(r.Name);
    EXPECT_EQ(std::system(("LC_ALL=C.UTF-8 " + r.Test + " > /dev/null 2>&1").c_str()), 0);
    ASSERT_EQ(std::system(("LC_ALL=C.UTF-8 " + r.List + " > '" + listing + "'").c_str()), 0);
    EXPECT_EQ(Lines(ReadWholeText(f.Root / "listing.txt")), expected);
  }
}

TEST(ZrkToolUpdateBuild, MakesAMissingStagingFolderAndReadsFoldersOfAStdinSpecFromHere) {
  TScenarioFolders f(1234567, 1);
  const nlohmann::json spec = GermanUpdate(f, false);
  ASSERT_TRUE(platform::RemoveFolder(f.Staging));
  const std::string here = platform::GetCurrentFolder();
  ASSERT_TRUE(platform::SetCurrentFolder(f.Root.Path()));
  const TToolRun built = RunTool({"update", "build", "-", f.Data}, spec.dump());
  ASSERT_TRUE(platform::SetCurrentFolder(here));
  EXPECT_EQ(built.Code, tools::ExitOk) << built.Out << built.Err;
  EXPECT_TRUE(util::FolderExists(f.Staging));
  EXPECT_EQ(f.Header().StagingFolder().Str().rfind(f.Staging, 0), 0u)
      << f.Header().StagingFolder().Str();
  EXPECT_TRUE(FileExists(JoinPath(f.Download, "DE.PKG")));
}

TEST(ZrkToolUpdateBuild, DryRunRefusesWhatTheBuildWouldFailAt) {
  struct {
    const char *Name;
    void (*Break)(TScenarioFolders &, nlohmann::json &);
    const char *Says;
  } const cases[] = {
      {"a destination folder missing",
       [](TScenarioFolders &f, nlohmann::json &spec) {
         EXPECT_TRUE(platform::RemoveFolder(f.Dest[2]));
         spec["Settings"]["DestFolders"] = {f.Dest[1], f.Dest[2]};
       },
       "destination folder 2"},
      {"the administration file's folder missing",
       [](TScenarioFolders &f, nlohmann::json &spec) {
         spec["Settings"]["AdminFileName"] = JoinPath(f.Root / "nowhere", "UPDADMIN.VAB");
       },
       "AdminFileName"},
  };
  for (const auto &c : cases) {
    for (const char *dry : {"--dry-run", ""}) {
      SCOPED_TRACE(std::string(c.Name) + " " + dry);
      TScenarioFolders f(1234567, 2);
      nlohmann::json spec = GermanUpdate(f, false);
      c.Break(f, spec);
      const std::string specPath = f.Root / "update.json";
      ASSERT_TRUE(WriteWholeFile(specPath, spec.dump()));
      std::vector<std::string> args = {"update", "build", specPath, f.Data};
      if (*dry)
        args.push_back(dry);
      const TToolRun r = RunTool(args);
      EXPECT_EQ(r.Code, tools::ExitBadInput) << r.Out;
      EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
      EXPECT_FALSE(FileExists(f.AdminPath));
      EXPECT_FALSE(FileExists(JoinPath(f.Data, "ZRKUPD.DAT")));
    }
  }
}

// Every file below `root`, by path, with its bytes; folders as "/".
std::map<std::string, std::string> Tree(const std::string &root) {
  std::map<std::string, std::string> tree;
  for (const auto &e : std::filesystem::recursive_directory_iterator(platform::NativePath(root))) {
    const std::string path = e.path().string();
    tree[path] = e.is_directory() ? "/" : ReadWholeText(path);
  }
  return tree;
}

// A build over an earlier update (its administration file, settings and an
// old DE.PKG) that fails at any one file operation leaves all of it as it
// was; one that gets through has written all of it.
TEST(ZrkToolUpdateBuild, AFaultAtAnyFileOperationLeavesEveryFileAsItWas) {
  struct TScene {
    TScenarioFolders F{1234567, 1};
    std::string SpecPath;
    std::map<std::string, std::string> Before;
  };
  auto prepare = [](std::uint64_t) {
    auto s = std::make_unique<TScene>();
    nlohmann::json spec = GermanUpdate(s->F, false);
    s->SpecPath = s->F.Root / "update.json";
    EXPECT_TRUE(WriteWholeFile(s->SpecPath, spec.dump()));
    EXPECT_TRUE(ToolOk({"update", "build", s->SpecPath, s->F.Data}));
    // The new update differs in its version, its files and a staging folder
    // still to be made.
    spec["Header"] = {{"OfferedVersionText", "5.0"}};
    EXPECT_TRUE(WriteWholeFile(JoinPath(s->F.Root / "files", "neu.txt"), "neu"));
    spec["Settings"]["StagingFolder"] = s->F.Root / "staging2";
    EXPECT_TRUE(WriteWholeFile(s->SpecPath, spec.dump()));
    s->Before = Tree(s->F.Root.Path());
    return s;
  };
  auto run = [](TScene &s, std::uint64_t n) {
    platform::fault::Arm(n);
    TToolRun r = RunTool({"update", "build", s.SpecPath, s.F.Data});
    platform::fault::Disarm();
    return r;
  };
  std::uint64_t count = 0;
  {
    auto s = prepare(0);
    platform::fault::Arm(0);
    EXPECT_EQ(RunTool({"update", "build", s->SpecPath, s->F.Data}).Code, tools::ExitOk);
    count = platform::fault::Count();
    platform::fault::Disarm();
  }
  ASSERT_GT(count, 10u);
  // Every operation natively (a few seconds): a sample missed the one that
  // has to put a moved-aside old package back.
  ForEachFault(FaultNumbers(count, RunningOnWindows() ? 20 : 0), prepare, run,
               [](TScene &s, const TToolRun &r, std::uint64_t) {
                 if (r.Out.find("; checking:") != std::string::npos) {
                   EXPECT_EQ(s.F.Header().OfferedVersionText().Str(), "5.0");
                   EXPECT_TRUE(util::FolderExists(s.F.Root / "staging2"));
                   for (const std::string &name : FileNames(s.F.Download))
                     EXPECT_TRUE(name == "DE.PKG" || name == "DE.PKG.~old") << name;
                   return;
                 }
                 EXPECT_NE(r.Code, tools::ExitOk);
                 EXPECT_EQ(Tree(s.F.Root.Path()), s.Before) << r.Out << r.Err;
               });
}

} // namespace
