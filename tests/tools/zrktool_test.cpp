// zrktool's commands run in-process: round trips through the program's own
// readers (what add-package/set/store write is what show and the program read),
// uninterpreted bytes surviving edits, package pack/verify/extract, and the
// error exits for bad input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "admin/admin_file.h"
#include "admin/admin_records.h"
#include "admin/run_result.h"
#include "admin/scramble.h"
#include "admin/settings.h"
#include "packages/package_check.h"
#include "packages/placement.h"
#include "platform/files.h"
#include "tests/support/test_support.h"
#include "tests/support/tool_run.h"
#include "tools/zrktool.h"

namespace {

using nlohmann::json;
using namespace testing_support;
using Bytes = std::vector<std::uint8_t>;
using TRun = TToolRun;

constexpr std::int32_t Seed = 1234567;
const std::string SeedArg = std::to_string(Seed);

// The host's file from plain bytes, through the program's writer.
Bytes AdminFileBytes(const Bytes &header, const std::vector<Bytes> &records, std::int32_t seed) {
  admin::TAdminHeader h;
  std::copy(header.begin(), header.end(), h.Bytes);
  std::vector<admin::TPackageRecord> plain(records.size());
  for (std::size_t i = 0; i < records.size(); ++i)
    std::copy(records[i].begin(), records[i].end(), plain[i].Bytes);
  return admin::AdminFileBytes(h, plain, seed);
}

Bytes Plain(const Bytes &file, std::size_t offset, std::size_t size, std::int32_t seed) {
  Bytes b(file.begin() + static_cast<std::ptrdiff_t>(offset),
          file.begin() + static_cast<std::ptrdiff_t>(offset + size));
  admin::ScrambleBuffer(b.data(), static_cast<std::int32_t>(b.size()), seed);
  return b;
}

TEST(ZrkToolAdmin, WhatInitAddAndSetWriteIsWhatShowAndTheProgramRead) {
  TTempFolder dir;
  std::string file = dir / "UPDADMIN.VAB";
  ASSERT_TRUE(ToolOk({"admin", "init", file, "--seed", SeedArg, "VersionText=3.83.0",
                      "DestFolders[2]=C:\\Gr\xC3\xBC"
                      "n",
                      "UpdatePending=1", "OfferedVersionDate=17.05.2024"}));
  for (const char *name : {"eins.pkg", "zwei.pkg", "drei.pkg"})
    ASSERT_TRUE(ToolOk({"admin", "add-package", file, "--seed", SeedArg,
                        std::string("PackageFileName=") + name, "OfferedInfo[3]=42"}));
  ASSERT_TRUE(ToolOk({"admin", "set", file, "--seed", SeedArg, "LastResult=-4",
                      "LastRunTime=23:59:58", "LastRunDate=2024-02-29"}));
  ASSERT_TRUE(ToolOk({"admin", "set", file, "--seed", SeedArg, "--package", "1", "DestIndex=7",
                      "PackageReady=0"}));

  json j = RunToolJson({"admin", "show", file, "--seed", SeedArg});
  const json &h = j["Header"];
  EXPECT_EQ(h["DestFolders"].size(), 20u);
  EXPECT_EQ(h["DestFolders"][1], "C:\\Gr\xC3\xBCn");
  EXPECT_EQ(h["VersionText"], "3.83.0");
  EXPECT_EQ(h["UpdatePending"], 1);
  EXPECT_EQ(h["OfferedVersionDateCalendar"], "2024-05-17");
  EXPECT_EQ(h["LastResult"], -4);
  EXPECT_EQ(h["LastResultMeaning"], "destination folder does not exist");
  EXPECT_EQ(h["LastRunTime"], 86398);
  EXPECT_EQ(h["LastRunTimeClock"], "23:59:58");
  EXPECT_EQ(h["LastRunDateCalendar"], "2024-02-29");
  ASSERT_EQ(j["Packages"].size(), 3u);
  EXPECT_EQ(j["Packages"][0]["PackageFileName"], "eins.pkg");
  EXPECT_EQ(j["Packages"][2]["PackageFileName"], "drei.pkg");
  EXPECT_EQ(j["Packages"][1]["DestIndex"], 7);
  EXPECT_EQ(j["Packages"][1]["PackageReady"], 0);
  EXPECT_EQ(j["Packages"][0]["DestIndex"], 1);
  EXPECT_EQ(j["Packages"][0]["InstallPending"], 1);
  EXPECT_EQ(j["Packages"][2]["OfferedInfo"], json::array({0, 0, 42}));

  // The program's own readers agree, texts in Windows-1252.
  admin::TAdminHeader header;
  ASSERT_TRUE(admin::ReadAdminHeader(file, header, Seed));
  EXPECT_EQ(header.DestFolder(2), "C:\\Gr\xFCn");
  EXPECT_EQ(header.LastResult(), -4);
  platform::TFile f;
  bool first = true;
  admin::TPackageRecord record;
  std::vector<std::string> names;
  while (admin::ReadNextPackage(f, file, record, Seed, first))
    names.push_back(record.PackageFileName().Str());
  EXPECT_EQ(names, (std::vector<std::string>{"eins.pkg", "zwei.pkg", "drei.pkg"}));

  // Codes that only later runs set are shown with their meaning too.
  ASSERT_TRUE(ToolOk({"admin", "set", file, "--seed", SeedArg, "LastResult=-8"}));
  EXPECT_EQ(RunToolJson({"admin", "show", file, "--seed", SeedArg})["Header"]["LastResultMeaning"],
            admin::RunResultMeaning(admin::RunFoldersInvalid));
}

TEST(ZrkToolAdmin, EditsKeepEveryByteTheyWereNotAskedToChange) {
  TTempFolder dir;
  std::string file = dir / "admin.vab";
  Bytes header = PatternBytes(admin::AdminHeaderSize, 1);
  Bytes r0 = PatternBytes(admin::PackageRecordSize, 2);
  Bytes r1 = PatternBytes(admin::PackageRecordSize, 3);
  Bytes r2 = PatternBytes(admin::PackageRecordSize, 4);
  Bytes before = AdminFileBytes(header, {r0, r1, r2}, Seed);
  ASSERT_TRUE(WriteWholeFile(file, before));

  ASSERT_TRUE(ToolOk(
      {"admin", "set", file, "--seed", SeedArg, "--force", "VersionText=9.1", "LastResult=-2"}));
  // The pattern header is no plausible header: --force.
  ASSERT_TRUE(ToolOk({"admin", "set", file, "--seed", SeedArg, "--force", "--package", "1",
                      "DestIndex=5", "OfferedInfo[3]=9"}));

  Bytes after = ReadWholeFile(file);
  ASSERT_EQ(after.size(), before.size());
  Bytes h = Plain(after, 0, admin::AdminHeaderSize, Seed);
  Bytes wantHeader = header;
  admin::fields::SetText(wantHeader.data(), admin::VersionTextOffset, admin::VersionTextCapacity,
                         "9.1");
  util::PutI32(wantHeader.data(), admin::LastResultOffset, -2);
  EXPECT_EQ(h, wantHeader);
  Bytes wantR1 = r1;
  wantR1[admin::DestIndexOffset] = 5;
  util::PutI32(wantR1.data(), admin::OfferedInfoOffset + 8, 9);
  EXPECT_EQ(Plain(after, admin::AdminHeaderSize + admin::PackageRecordSize,
                  admin::PackageRecordSize, Seed),
            wantR1);
  // The other records are not rewritten at all.
  EXPECT_TRUE(std::equal(before.begin() + admin::AdminHeaderSize,
                         before.begin() + admin::AdminHeaderSize + admin::PackageRecordSize,
                         after.begin() + admin::AdminHeaderSize));
  EXPECT_TRUE(std::equal(before.end() - admin::PackageRecordSize, before.end(),
                         after.end() - admin::PackageRecordSize));
}

TEST(ZrkToolAdmin, RefusesBadFilesAndFieldsWithoutTouchingTheFile) {
  TTempFolder dir;
  std::string file = dir / "admin.vab";
  Bytes good = AdminFileBytes(PatternBytes(admin::AdminHeaderSize, 5),
                              {PatternBytes(admin::PackageRecordSize, 6)}, Seed);
  Bytes cut = good;
  cut.resize(good.size() + 100, 0xAB); // a record cut short at the end
  Bytes shortHeader(good.begin(), good.begin() + 5000);

  struct TCase {
    const char *Name;
    Bytes File;
    std::vector<std::string> Args;
  } cases[] = {
      {"unknown field", good, {"admin", "set", file, "Colour=red"}},
      {"index out of range", good, {"admin", "set", file, "DestFolders[21]=C:\\X"}},
      {"index zero", good, {"admin", "set", file, "DestFolders[0]=C:\\X"}},
      {"list without index", good, {"admin", "set", file, "DestFolders=C:\\X"}},
      {"index on a plain field", good, {"admin", "set", file, "LastResult[1]=0"}},
      {"text too long", good, {"admin", "set", file, "VersionText=123456789012345678901"}},
      {"not Windows-1252", good, {"admin", "set", file, "VersionText=\xE6\x97\xA5"}},
      {"byte out of range", good, {"admin", "set", file, "UpdatePending=256"}},
      {"no date", good, {"admin", "set", file, "VersionDate=yesterday"}},
      {"no time", good, {"admin", "set", file, "LastRunTime=25:00:00"}},
      {"not an assignment", good, {"admin", "set", file, "VersionText"}},
      {"good then bad field", good, {"admin", "set", file, "VersionText=1", "Nope=1"}},
      {"no package record 1", good, {"admin", "set", file, "--package", "1", "DestIndex=2"}},
      {"negative package", good, {"admin", "set", file, "--package", "-1", "DestIndex=2"}},
      {"append behind a cut record", cut, {"admin", "add-package", file, "PackageFileName=a"}},
      {"package without a name", good, {"admin", "add-package", file, "DestIndex=2"}},
      {"header cut short", shortHeader, {"admin", "show", file}},
      {"init over an existing file", good, {"admin", "init", file}},
      {"seed and data folder", good, {"admin", "show", file, "--seed", "5", "--data-folder", "x"}},
      {"seed not a number", good, {"admin", "show", file, "--seed", "many"}},
      {"no file and no data folder", good, {"admin", "show"}},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_TRUE(WriteWholeFile(file, c.File));
    TRun r = RunTool(c.Args);
    EXPECT_EQ(r.Code, tools::ExitBadInput) << r.Out;
    EXPECT_FALSE(r.Err.empty());
    EXPECT_EQ(ReadWholeFile(file), c.File);
  }
  TRun missing = RunTool({"admin", "show", dir / "missing.vab"});
  EXPECT_EQ(missing.Code, tools::ExitBadInput);
  EXPECT_NE(missing.Err.find("missing.vab"), std::string::npos);
}

TEST(ZrkToolAdmin, ShowReportsTrailingBytesOfACutRecord) {
  TTempFolder dir;
  std::string file = dir / "admin.vab";
  Bytes bytes = AdminFileBytes(Bytes(admin::AdminHeaderSize), {Bytes(admin::PackageRecordSize)},
                               admin::DefaultAdminSeed);
  bytes.resize(bytes.size() + 17);
  ASSERT_TRUE(WriteWholeFile(file, bytes));
  TRun r = RunTool({"admin", "show", file});
  ASSERT_EQ(r.Code, tools::ExitOk) << r.Err;
  json j = json::parse(r.Out);
  EXPECT_EQ(j["Packages"].size(), 1u);
  EXPECT_EQ(j["TrailingBytes"], 17);
  EXPECT_NE(r.Err.find("17 bytes"), std::string::npos);
}

// The scenario's folders, and a source that tries the edges of every field;
// destination 2 stays blank.
struct TSettingsScene : TScenarioFolders {
  const std::string Source = Root / "source.json";
  const std::string SettingsFile = JoinPath(Data, "ZRKUPD.DAT");

  TSettingsScene() : TScenarioFolders(Seed, 3) {}

  json SourceJson() const {
    json j = SettingsSource(*this, Seed);
    j.update({{"UpdateTitle", "Online-Update f\xC3\xBCr Tarnelwerks"},
              {"DialogCaption", "Dateien einarbeiten"},
              {"DestFolders", {Dest[1], "", Dest[3]}},
              {"OptionFlag1", 7},
              {"OptionFlag2", 0},
              {"BrandText", "Quendraforge"},
              {"OptionByte", 0x1FF},
              {"ExtraText1", "\xE2\x82\xAC 1"},
              {"ExtraNumber1", -5},
              {"ExtraText2", "zwei"},
              {"ExtraText3", "drei"},
              {"ExtraNumber2", 2147483647},
              {"ExtraNumber3", -2147483647 - 1}});
    return j;
  }

  TRun Store(const std::string &jsonText) {
    EXPECT_TRUE(WriteWholeFile(Source, jsonText));
    return RunTool({"settings", "store", Data, Source});
  }
};

TEST(ZrkToolSettings, StoredSourceReadsBackAndTheHeaderShowsItsFolders) {
  TSettingsScene s;
  ASSERT_TRUE(ToolOk({"admin", "init", s.AdminPath, "--seed", SeedArg}));
  json source = s.SourceJson();
  TRun store = s.Store(source.dump());
  ASSERT_EQ(store.Code, tools::ExitOk) << store.Out << store.Err;
  EXPECT_NE(store.Out.find("StoreSettings 0"), std::string::npos);

  for (const std::string &target : {s.Data, s.SettingsFile}) {
    SCOPED_TRACE(target);
    json shown = RunToolJson({"settings", "show", target});
    for (const char *key : {"AdminFileName", "DownloadFileName", "AdminSeed", "UpdateTitle",
                            "DialogCaption", "BrandText", "ExtraText1", "ExtraNumber1",
                            "ExtraText2", "ExtraText3", "ExtraNumber2", "ExtraNumber3"}) {
      SCOPED_TRACE(key);
      EXPECT_EQ(shown[key], source[key]);
    }
    EXPECT_EQ(shown["OptionByte"], 0xFF);
  }

  json admin = RunToolJson({"admin", "show", "--data-folder", s.Data});
  EXPECT_EQ(admin["AdminSeed"], Seed);
  const json &h = admin["Header"];
  EXPECT_EQ(h["DownloadFolder"], s.Download);
  EXPECT_EQ(h["StagingFolder"], s.Staging);
  EXPECT_EQ(h["DestFolders"][0], s.Dest[1]);
  EXPECT_EQ(h["DestFolders"][1], "");
  EXPECT_EQ(h["DestFolders"][2], s.Dest[3]);
  EXPECT_EQ(h["OptionFlag1"], 1);
  EXPECT_EQ(h["OptionFlag2"], 0);
}

TEST(ZrkToolSettings, StoreReportsTheResultCodeAndRefusesBadSources) {
  TSettingsScene s;
  ASSERT_TRUE(ToolOk({"admin", "init", s.AdminPath, "--seed", SeedArg}));

  json missingDest = s.SourceJson();
  missingDest["DestFolders"] = {s.Dest[1], s.Root / "nowhere"};
  TRun r = s.Store(missingDest.dump());
  EXPECT_EQ(r.Code, tools::ExitFailed);
  EXPECT_NE(r.Out.find("StoreSettings -102: Destination folder 2"), std::string::npos) << r.Out;

  json sameFolders = s.SourceJson();
  sameFolders["StagingFolder"] = s.Download;
  r = s.Store(sameFolders.dump());
  EXPECT_EQ(r.Code, tools::ExitBadInput);
  EXPECT_NE(r.Err.find("is the same folder as the download folder"), std::string::npos) << r.Err;

  struct TCase {
    const char *Name;
    std::string Json;
  } bad[] = {
      {"not JSON", "{\"AdminSeed\": "},
      {"not an object", "[1, 2]"},
      {"unknown key", R"({"AdminSeed": 1, "Colour": "red"})"},
      {"text as number", R"({"AdminFileName": 5})"},
      {"number as text", R"({"AdminSeed": "5"})"},
      {"fraction", R"({"AdminSeed": 1.5})"},
      {"beyond 32 bits", R"({"AdminSeed": 4294967296})"},
      {"too many folders",
       "{\"DestFolders\": [" + std::string(20, ' ') +
           "\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\","
           "\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\",\"a\"]}"},
      {"caption too long", "{\"DialogCaption\": \"" + std::string(151, 'x') + "\"}"},
      {"not Windows-1252", "{\"BrandText\": \"\xE6\x97\xA5\"}"},
      {"NUL inside", R"({"BrandText": "a\u0000b"})"},
  };
  Bytes settingsBefore = ReadWholeFile(s.SettingsFile);
  for (const auto &c : bad) {
    SCOPED_TRACE(c.Name);
    TRun b = s.Store(c.Json);
    EXPECT_EQ(b.Code, tools::ExitBadInput) << b.Out;
    EXPECT_FALSE(b.Err.empty());
  }
  EXPECT_EQ(ReadWholeFile(s.SettingsFile), settingsBefore);
  EXPECT_EQ(RunTool({"settings", "store", s.Root / "no-such-folder", s.Source}).Code,
            tools::ExitBadInput);
}

TEST(ZrkToolPackage, PackedPackagePassesTheProgramsCheckAndExtractsByteForByte) {
  TTempFolder dir;
  std::string zip = dir / "payload.zip";
  std::string package = dir / "payload.pkg";
  std::string back = dir / "back.zip";
  Bytes payload = PatternBytes(150001, 9);
  ASSERT_TRUE(WriteWholeFile(zip, payload));
  for (const char *chunk : {"1000", "65000", "150001"}) {
    SCOPED_TRACE(chunk);
    std::vector<std::string> args = {"package", "pack", zip, package, "--chunk-size", chunk};
    TRun r = RunTool(args);
    if (std::string(chunk) == "150001") {
      EXPECT_EQ(r.Code, tools::ExitBadInput);
      continue;
    }
    ASSERT_EQ(r.Code, tools::ExitOk) << r.Err;
    EXPECT_TRUE(packages::CheckPackageFile(package));
    EXPECT_TRUE(ToolOk({"package", "verify", package}));
    ASSERT_TRUE(ToolOk({"package", "extract", package, back}));
    EXPECT_EQ(ReadWholeFile(back), payload);
  }
  EXPECT_EQ(RunTool({"package", "pack", zip, zip}).Code, tools::ExitBadInput);
  EXPECT_EQ(ReadWholeFile(zip), payload);
  EXPECT_EQ(RunTool({"package", "extract", package, package}).Code, tools::ExitBadInput);
  EXPECT_TRUE(packages::CheckPackageFile(package));
}

TEST(ZrkToolPackage, VerifySaysWhichChunkOrTotalIsWrong) {
  TTempFolder dir;
  std::string zip = dir / "payload.zip";
  std::string good = dir / "good.pkg";
  ASSERT_TRUE(WriteWholeFile(zip, PatternBytes(5000, 3)));
  ASSERT_TRUE(ToolOk({"package", "pack", zip, good, "--chunk-size", "1000"}));
  Bytes bytes = ReadWholeFile(good);
  const std::size_t chunk = 12 + 1000; // header + payload of one chunk

  struct TCase {
    const char *Name;
    std::size_t Offset; // byte to flip; past the end: cut the file to Offset - size
    const char *Says;
  } cases[] = {
      {"payload of chunk 3", 12 + 3 * chunk + 12 + 500, "chunk 3 at offset"},
      {"length of chunk 2", 12 + 2 * chunk + 1, "chunk 2"},
      {"totalLength", 0, "totalLength"},
      {"crcSum", 4, "crcSum"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes bad = bytes;
    bad[c.Offset] ^= 0x01;
    std::string path = dir / "bad.pkg";
    std::string out = dir / "bad.zip";
    ASSERT_TRUE(WriteWholeFile(path, bad));
    TRun v = RunTool({"package", "verify", path});
    EXPECT_EQ(v.Code, tools::ExitFailed);
    EXPECT_NE(v.Out.find(c.Says), std::string::npos) << v.Out;
    TRun x = RunTool({"package", "extract", path, out});
    EXPECT_EQ(x.Code, tools::ExitFailed);
    EXPECT_FALSE(FileExists(out));
  }
  Bytes cut(bytes.begin(), bytes.end() - 300);
  ASSERT_TRUE(WriteWholeFile(dir / "cut.pkg", cut));
  TRun v = RunTool({"package", "verify", dir / "cut.pkg"});
  EXPECT_EQ(v.Code, tools::ExitFailed);
  EXPECT_NE(v.Out.find("chunk 4"), std::string::npos) << v.Out;
  EXPECT_EQ(RunTool({"package", "verify", dir / "missing.pkg"}).Code, tools::ExitBadInput);
}

TEST(ZrkToolPackage, FilePathIdIsReadByThePlacementsLookup) {
  TTempFolder dir;
  std::string marker = dir / "FILEPATH.ID";
  ASSERT_TRUE(ToolOk({"package", "filepath-id", marker, "FORM2.TXT=3", "m\xC3\xBCll.dat=20",
                      "form2.txt=5", "zero.txt=0"}));
  EXPECT_EQ(ReadWholeFile(marker).size(), 4 * packages::FilePathEntrySize);
  EXPECT_EQ(packages::FindIndivFilePath(dir.Path(), "Form2.txt"), 3);
  EXPECT_EQ(packages::FindIndivFilePath(dir.Path(), "m\xFCll.dat"), 20);
  EXPECT_EQ(packages::FindIndivFilePath(dir.Path(), "zero.txt"), 0);
  EXPECT_EQ(packages::FindIndivFilePath(dir.Path(), "other.txt"), 0);
  for (const char *bad : {"noindex", "=3", "a.txt=256", "a.txt=x", "\xE6\x97\xA5.txt=1"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(RunTool({"package", "filepath-id", dir / "other.id", bad}).Code, tools::ExitBadInput);
  }
}

TEST(ZrkToolDownload, ShowsTheRecordAndFlagsAShortFile) {
  TTempFolder dir;
  std::string file = dir / "UPDDOWNL.VAB";
  Bytes plain = PatternBytes(admin::DownloadRecordSize, 8);
  plain[0] = 0xAB;
  plain[1] = 0x01;
  Bytes scrambled = plain;
  admin::ScrambleBuffer(scrambled.data(), admin::DownloadRecordSize, Seed);
  ASSERT_TRUE(WriteWholeFile(file, scrambled));
  json j = RunToolJson({"download", "show", file, "--seed", SeedArg});
  EXPECT_EQ(j["Complete"], true);
  EXPECT_EQ(j["FileSize"], admin::DownloadRecordSize);
  EXPECT_EQ(j["Bytes"].size(), (admin::DownloadRecordSize + 31) / 32);
  EXPECT_EQ(j["Bytes"][0].get<std::string>().substr(0, 11), "0000: ab 01");

  scrambled.resize(1000);
  ASSERT_TRUE(WriteWholeFile(file, scrambled));
  TRun r = RunTool({"download", "show", file, "--seed", SeedArg});
  EXPECT_EQ(r.Code, tools::ExitOk);
  EXPECT_EQ(json::parse(r.Out)["Complete"], false);
  EXPECT_NE(r.Err.find("1000 bytes"), std::string::npos);
}

TEST(ZrkToolCommandLine, HelpEverywhereAndNonZeroExitsOnBadCommands) {
  const std::vector<std::vector<std::string>> commands = {
      {},
      {"settings"},
      {"settings", "show"},
      {"settings", "store"},
      {"admin"},
      {"admin", "show"},
      {"admin", "init"},
      {"admin", "add-package"},
      {"admin", "set"},
      {"package"},
      {"package", "pack"},
      {"package", "verify"},
      {"package", "extract"},
      {"package", "filepath-id"},
      {"download"},
      {"download", "show"},
  };
  for (auto args : commands) {
    std::string name;
    for (const auto &a : args)
      name += a + " ";
    SCOPED_TRACE(name);
    args.push_back("--help");
    TRun help = RunTool(args);
    EXPECT_EQ(help.Code, tools::ExitOk);
    EXPECT_NE(help.Out.find("Usage"), std::string::npos);
    args.pop_back();
    // Every command without its arguments (or subcommand) is an error, but
    // zrktool alone lists its commands.
    TRun bare = RunTool(args);
    if (args.empty()) {
      EXPECT_EQ(bare.Code, tools::ExitOk);
      for (const char *command : {"settings", "admin", "package", "update", "check", "log"})
        EXPECT_NE(bare.Out.find(std::string("  ") + command), std::string::npos) << bare.Out;
      continue;
    }
    EXPECT_EQ(bare.Code, tools::ExitBadInput);
    EXPECT_FALSE(bare.Err.empty());
  }
  EXPECT_EQ(RunTool({"frobnicate"}).Code, tools::ExitBadInput);
  EXPECT_EQ(RunTool({"package", "verify", "a", "b"}).Code, tools::ExitBadInput);
}

} // namespace
