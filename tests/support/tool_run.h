// zrktool driven in-process, as the tool tests and the end-to-end runs drive
// it, and the settings and update descriptions they hand it.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"
#include "tests/support/update_scenario.h"
#include "tools/zrktool.h"

namespace testing_support {

struct TToolRun {
  int Code;
  std::string Out;
  std::string Err;
};

// `input` is what the tool reads as its standard input.
inline TToolRun RunTool(const std::vector<std::string> &args, const std::string &input = {}) {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int code = tools::RunZrkTool(args, in, out, err);
  return {code, out.str(), err.str()};
}

// A run that has to succeed; what it said when it did not.
inline ::testing::AssertionResult ToolOk(const std::vector<std::string> &args) {
  const TToolRun r = RunTool(args);
  if (r.Code == tools::ExitOk)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "exit " << r.Code << "\n" << r.Out << r.Err;
}

// The output of a run that has to succeed, parsed.
inline nlohmann::json RunToolJson(const std::vector<std::string> &args) {
  const TToolRun r = RunTool(args);
  EXPECT_EQ(r.Code, tools::ExitOk) << r.Err;
  nlohmann::json j = nlohmann::json::parse(r.Out, nullptr, false);
  EXPECT_FALSE(j.is_discarded()) << r.Out;
  return j;
}

// A complete settings source for the scenario's folders and destinations.
inline nlohmann::json SettingsSource(const TScenarioFolders &f, std::int32_t seed) {
  nlohmann::json dests = nlohmann::json::array();
  for (std::size_t i = 1; i < f.Dest.size() && !f.Dest[i].empty(); ++i)
    dests.push_back(f.Dest[i]);
  return {{"AdminFileName", f.AdminPath},
          {"DownloadFileName", f.DownloadRecordPath},
          {"DownloadFolder", f.Download},
          {"StagingFolder", f.Staging},
          {"AdminSeed", seed},
          {"UpdateTitle", "Update"},
          {"DialogCaption", "Update"},
          {"BrandText", ""},
          {"ExtraText1", ""},
          {"ExtraText2", ""},
          {"ExtraText3", ""},
          {"OptionFlag1", 1},
          {"OptionFlag2", 1},
          {"OptionByte", 1},
          {"ExtraNumber1", 0},
          {"ExtraNumber2", 0},
          {"ExtraNumber3", 0},
          {"DestFolders", dests}};
}

// An update description for `update build`: package PROG.PKG for destination
// 1 from a.txt, b.txt and c.txt, which this writes to Root/files (named
// `folder` in the description); b.txt alone goes to destination 3.
inline nlohmann::json ThreeFileUpdate(const TScenarioFolders &f, const std::string &folder,
                                      const nlohmann::json &header) {
  const std::string files = f.Root / "files";
  EXPECT_TRUE(MakeFolder(files));
  for (const char *name : {"a.txt", "b.txt", "c.txt"})
    EXPECT_TRUE(WriteWholeFile(JoinPath(files, name), name));
  return {{"Settings", SettingsSource(f, f.AdminSeed)},
          {"Header", header},
          {"Packages",
           {{{"PackageFileName", "PROG.PKG"},
             {"DestIndex", 1},
             {"Folder", folder},
             {"FilePaths", {{"b.txt", 3}}}}}}};
}

} // namespace testing_support
