// zrktool's refusals of slips that would spoil the host's files later: a
// wrong seed, a destination index out of range, folders against the
// program's rules, incomplete or failing settings stores, oversized
// archives; and its command-line conveniences.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/files.h"
#include "tests/support/test_support.h"
#include "tests/support/tool_run.h"
#include "tools/zrktool.h"
#include "zrk_version.h"

namespace {

using nlohmann::json;
using namespace testing_support;
using TRun = TToolRun;

constexpr const char *Seed = "1234567";

// An administration file made by the tool, with one package record, and the
// folders it names.
struct TScene : TScenarioFolders {
  const std::string &Admin = AdminPath;
  const std::string Settings = JoinPath(Data, "ZRKUPD.DAT");

  TScene() : TScenarioFolders(1234567, 1) {
    EXPECT_TRUE(ToolOk({"admin", "init", Admin, "--seed", Seed, "DownloadFolder=" + Download,
                        "StagingFolder=" + Staging, "DestFolders[1]=" + Dest[1],
                        "LastRunDate=2024-01-02"}));
    EXPECT_TRUE(ToolOk({"admin", "add-package", Admin, "--seed", Seed, "PackageFileName=a.pkg"}));
  }

  json Source(std::int32_t seed) const { return SettingsSource(*this, seed); }
};

TEST(ZrkToolSafeEditing, RefusedEditsLeaveTheAdministrationFileAsItWas) {
  TScene s;
  const auto before = ReadWholeFile(s.Admin);
  struct TCase {
    const char *Name;
    std::vector<std::string> Args;
    const char *Says;
  } cases[] = {
      {"set under a wrong seed", {"admin", "set", s.Admin, "--seed", "99", "LastResult=0"}, "seed"},
      {"add under a wrong seed",
       {"admin", "add-package", s.Admin, "--seed", "99", "PackageFileName=b.pkg"},
       "seed"},
      {"DestIndex 21 added",
       {"admin", "add-package", s.Admin, "--seed", Seed, "PackageFileName=b.pkg", "DestIndex=21"},
       "DestIndex must be 1 to 20"},
      {"DestIndex 0 set",
       {"admin", "set", s.Admin, "--seed", Seed, "--package", "0", "DestIndex=0"},
       "DestIndex must be 1 to 20"},
      {"staging equals download",
       {"admin", "set", s.Admin, "--seed", Seed, "StagingFolder=" + s.Download},
       "same folder"},
      {"destination equals staging",
       {"admin", "set", s.Admin, "--seed", Seed, "DestFolders[4]=" + s.Staging + "\\"},
       "same folder"},
      {"download blank",
       {"admin", "set", s.Admin, "--seed", Seed, "DownloadFolder= "},
       "not an absolute path"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TRun r = RunTool(c.Args);
    EXPECT_EQ(r.Code, tools::ExitBadInput);
    EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
    EXPECT_EQ(ReadWholeFile(s.Admin), before);
  }
  // A show shows, warns, and leaves failing to check.
  TRun shown = RunTool({"admin", "show", s.Admin, "--seed", "99"});
  EXPECT_EQ(shown.Code, tools::ExitOk);
  EXPECT_NE(shown.Err.find("wrong --seed"), std::string::npos);
  EXPECT_TRUE(ToolOk({"admin", "set", s.Admin, "--seed", "99", "--force", "LastResult=0"}));
  EXPECT_NE(ReadWholeFile(s.Admin), before);
}

TEST(ZrkToolSafeEditing, SettingsStoreWritesAllOrNothing) {
  TScene s;
  auto store = [&](const json &source, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"settings", "store", s.Data, "-"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTool(args, source.dump());
  };
  json partial = {{"AdminSeed", 1234567}};
  TRun r = store(partial);
  EXPECT_EQ(r.Code, tools::ExitBadInput);
  EXPECT_NE(r.Err.find("lacks AdminFileName"), std::string::npos) << r.Err;
  EXPECT_FALSE(FileExists(s.Settings));

  ASSERT_EQ(store(s.Source(1234567)).Code, tools::ExitOk);
  const auto settings = ReadWholeFile(s.Settings);
  const auto admin = ReadWholeFile(s.Admin);

  struct TCase {
    const char *Name;
    json Source;
    int Code;
    const char *Says;
  } cases[] = {
      {"a seed that does not decode the header", s.Source(99), tools::ExitBadInput, "AdminSeed 99"},
      {"a missing destination", s.Source(1234567), tools::ExitFailed, "-102"},
  };
  cases[1].Source["DestFolders"] = {s.Dest[1], s.Root / "nowhere"};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TRun bad = store(c.Source);
    EXPECT_EQ(bad.Code, c.Code);
    EXPECT_NE((bad.Out + bad.Err).find(c.Says), std::string::npos) << bad.Out << bad.Err;
    EXPECT_EQ(ReadWholeFile(s.Settings), settings);
    EXPECT_EQ(ReadWholeFile(s.Admin), admin);
  }

  // The missing fields come from the current files.
  TRun kept = store({{"BrandText", "Neu"}}, {"--take-missing"});
  ASSERT_EQ(kept.Code, tools::ExitOk) << kept.Err;
  json shown = json::parse(RunTool({"settings", "show", s.Data}).Out);
  EXPECT_EQ(shown["BrandText"], "Neu");
  EXPECT_EQ(shown["AdminSeed"], 1234567);
  EXPECT_EQ(shown["UpdateTitle"], "Update");
  json header = json::parse(RunTool({"admin", "show", "--data-folder", s.Data}).Out)["Header"];
  EXPECT_EQ(header["StagingFolder"], s.Staging);
  EXPECT_EQ(header["DestFolders"][0], s.Dest[1]);
}

TEST(ZrkToolSafeEditing, ArchiveOf2GiBIsRefusedWithoutAPartialPackage) {
  TTempFolder dir;
  std::string zip = dir / "big.zip";
  std::string package = dir / "big.pkg";
  {
    // Sparse where the file system allows it.
    platform::TFile file;
    std::uint32_t written = 0;
    ASSERT_TRUE(file.Create(zip));
    ASSERT_TRUE(file.Seek(std::int64_t{1} << 31));
    ASSERT_TRUE(file.Write("x", 1, written));
  }
  TRun r = RunTool({"package", "pack", zip, package});
  EXPECT_EQ(r.Code, tools::ExitBadInput);
  EXPECT_NE(r.Err.find("less than 2 GiB"), std::string::npos) << r.Err;
  EXPECT_FALSE(FileExists(package));
  EXPECT_TRUE(platform::DeleteFile(zip));
}

TEST(ZrkToolCommandLine, DashIsStandardInputAndOutput) {
  const auto payload = PatternBytes(150000, 9);
  const std::string bytes(payload.begin(), payload.end());
  TRun packed = RunTool({"package", "pack", "-", "-", "--chunk-size", "4000"}, bytes);
  ASSERT_EQ(packed.Code, tools::ExitOk) << packed.Err;
  EXPECT_NE(packed.Err.find("packed"), std::string::npos);
  TRun verified = RunTool({"package", "verify", "-"}, packed.Out);
  EXPECT_EQ(verified.Code, tools::ExitOk) << verified.Out;
  TRun back = RunTool({"package", "extract", "-", "-"}, packed.Out);
  ASSERT_EQ(back.Code, tools::ExitOk) << back.Err;
  EXPECT_EQ(back.Out, bytes);
  std::string damaged = packed.Out;
  damaged[5000] ^= 1;
  TRun refused = RunTool({"package", "extract", "-", "-"}, damaged);
  EXPECT_EQ(refused.Code, tools::ExitFailed);
  EXPECT_TRUE(refused.Out.empty());
}

TEST(ZrkToolCommandLine, VersionUnknownCommandsAndOsErrorTexts) {
  TRun version = RunTool({"--version"});
  EXPECT_EQ(version.Code, tools::ExitOk);
  EXPECT_NE(version.Out.find("zrktool " ZRK_VERSION_TEXT " (commit " ZRK_COMMIT ")"),
            std::string::npos);
  struct TCase {
    std::vector<std::string> Args;
    const char *Says;
  } cases[] = {
      {{"frobnicate"}, "unknown command \"frobnicate\" for zrktool; commands: settings, admin"},
      {{"package", "unpack", "x"}, "unknown command \"unpack\" for zrktool package; commands:"},
      // The system's words (they differ between systems) and the number.
      {{"package", "verify", "no-such.pkg"}, ". (2)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Says);
    TRun r = RunTool(c.Args);
    EXPECT_EQ(r.Code, tools::ExitBadInput);
    EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
  }
}

} // namespace
