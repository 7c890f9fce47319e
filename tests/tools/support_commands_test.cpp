// The commands for support: the run log as zrkupd left it, `check` of a data
// folder (a good one, and each kind of broken one with its cause named), and
// `update build` from folders of files to an update that check passes.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/zrktool.h"

namespace {

using testing_support::TTempFolder;
using testing_support::WriteWholeFile;

struct TRun {
  int Code;
  std::string Out;
  std::string Err;
};

TRun Tool(std::vector<std::string> args) {
  std::istringstream in;
  std::ostringstream out, err;
  int code = tools::RunZrkTool(args, in, out, err);
  return {code, out.str(), err.str()};
}

TEST(ZrkToolLog, ShowPrintsTheLastBlocksInUtf8) {
  TTempFolder dir;
  ASSERT_TRUE(WriteWholeFile(dir / "ZRKUPD.LOG", "==== eins\r\nResult 0\r\n"
                                                 "==== zwei\r\nPaket f\xFCr\r\n"
                                                 "==== drei\r\nResult -1\r\n"));
  TRun last = Tool({"log", "show", dir.Path()});
  EXPECT_EQ(last.Code, tools::ExitOk);
  EXPECT_EQ(last.Out, "==== drei\nResult -1\n");
  TRun two = Tool({"log", "show", dir.Path(), "--last", "2"});
  EXPECT_EQ(two.Out, "==== zwei\nPaket f\xC3\xBCr\n==== drei\nResult -1\n");
  TTempFolder empty;
  EXPECT_EQ(Tool({"log", "show", empty.Path()}).Code, tools::ExitFailed);
}

} // namespace
