// The run log's bound: a log past 1 MiB keeps its newer half, from a block
// start, and the newest block whole; blocks split back as they were written.
// A run of many lines writes them out on the way, each once and in order.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/support/test_support.h"
#include "util/run_log.h"

namespace {

const std::regex LineTime(R"(\[\d\d:\d\d:\d\d\.\d\d\d\] )");

std::string WithoutTimes(const std::string &text) {
  return std::regex_replace(text, LineTime, "");
}

TEST(RunLog, PastOneMebibyteTheNewerHalfIsKeptFromABlockStart) {
  testing_support::TTempFolder dir;
  const std::string path = dir / "ZRKUPD.LOG";
  std::string old;
  for (int i = 0; old.size() < runlog::RunLogLimit - 100; ++i)
    old += std::string(runlog::BlockMark) + "old run " + std::to_string(i) + "\r\n" +
           std::string(1000, 'x') + "\r\n";
  ASSERT_TRUE(testing_support::WriteWholeFile(path, old));

  runlog::BeginRun(dir.Path(), {"C:\\Daten", "0"});
  runlog::Note(std::string(300, 'n'));
  runlog::EndRun(-2, "Fehler!");
  const std::string text = testing_support::ReadWholeText(path);

  EXPECT_LE(text.size(), static_cast<std::size_t>(runlog::RunLogLimit));
  EXPECT_GE(text.size(), static_cast<std::size_t>(runlog::RunLogLimit) / 2 - 2000);
  EXPECT_EQ(text.rfind(std::string(runlog::BlockMark) + "old run ", 0), 0u);
  auto blocks = runlog::SplitBlocks(text);
  ASSERT_GE(blocks.size(), 2u);
  EXPECT_NE(blocks.back().find("Parameters: \"C:\\Daten\" \"0\"\r\n"), std::string::npos);
  EXPECT_NE(WithoutTimes(blocks.back()).find("\r\nResult -2: Fehler!\r\n"), std::string::npos);
  std::string joined;
  for (const auto &b : blocks)
    joined += b;
  EXPECT_EQ(joined, text);
  EXPECT_EQ(old.substr(old.size() - blocks[blocks.size() - 2].size()), blocks[blocks.size() - 2]);
}

TEST(RunLog, ManyLinesAreWrittenOnTheWayOnceAndInOrder) {
  testing_support::TTempFolder dir;
  const std::string path = dir / "ZRKUPD.LOG";
  runlog::BeginRun(dir.Path(), {});
  std::string expected;
  for (int i = 0; i < 4000; ++i) {
    const std::string line = "Placed C:\\Ziel\\file" + std::to_string(i) + ".dat";
    runlog::Note(line);
    expected += line + "\r\n";
  }
  // Most of the lines are on disk before the run ends.
  EXPECT_GT(testing_support::ReadWholeText(path).size(), expected.size() / 2);
  runlog::EndRun(0, "");
  const std::string text = WithoutTimes(testing_support::ReadWholeText(path));
  const std::size_t first = text.find("Placed ");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(text.substr(first, expected.size()), expected);
  EXPECT_EQ(text.substr(first + expected.size()), "Result 0\r\n");
}

// The trim reads the log in pieces: a block start split between two pieces is
// still where the kept half begins, and new lines longer than half the bound
// are cut at a line of their own.
TEST(RunLog, TrimFindsSplitBlockStartsAndCutsLongNewLinesAtALine) {
  testing_support::TTempFolder dir;
  const std::string path = dir / "ZRKUPD.LOG";
  const std::string line = std::string(98, 'x') + "\r\n";
  // The block start lies across the first 64 KiB after the middle; plain
  // line ends come before it.
  const std::size_t size = runlog::RunLogLimit - 50, split = size / 2 + 64 * 1024 - 3;
  std::string old = std::string(runlog::BlockMark) + "old 0\r\n";
  while (old.size() + line.size() < split)
    old += line;
  old +=
      std::string(split - old.size(), 'y') + "\r\n" + std::string(runlog::BlockMark) + "old 1\r\n";
  while (old.size() + line.size() < size)
    old += line;
  old += std::string(size - old.size() - 2, 'z') + "\r\n";
  ASSERT_TRUE(testing_support::WriteWholeFile(path, old));

  runlog::BeginRun(dir.Path(), {});
  std::string text = testing_support::ReadWholeText(path);
  EXPECT_EQ(text.rfind(std::string(runlog::BlockMark) + "old 1\r\n", 0), 0u);

  std::string lines;
  for (int i = 0; i < 11000; ++i)
    lines += (i == 0 ? "" : "\r\n") + ("new " + std::to_string(i % 10) + std::string(94, 'n'));
  runlog::Note(lines);
  runlog::EndRun(0, "");
  text = testing_support::ReadWholeText(path);
  EXPECT_LE(text.size(), static_cast<std::size_t>(runlog::RunLogLimit));
  EXPECT_GE(text.size(), static_cast<std::size_t>(runlog::RunLogLimit) / 4);
  EXPECT_EQ(text.rfind("new ", 0), 0u);
  const std::string tail = WithoutTimes(text.substr(text.size() - 40));
  EXPECT_EQ(tail.substr(tail.size() - 10), "Result 0\r\n");
}

// A log whose last line a failed write left unfinished: the next run's block
// still starts on a line of its own.
TEST(RunLog, ABlockStartsOnItsOwnLineAfterAnUnfinishedOne) {
  testing_support::TTempFolder dir;
  const std::string path = dir / "ZRKUPD.LOG";
  const std::string old = std::string(runlog::BlockMark) + "old\r\nhalf a li";
  ASSERT_TRUE(testing_support::WriteWholeFile(path, old));
  runlog::BeginRun(dir.Path(), {});
  runlog::EndRun(0, "");
  const auto blocks = runlog::SplitBlocks(testing_support::ReadWholeText(path));
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0], old + "\r\n");
  EXPECT_EQ(blocks[1].rfind(runlog::BlockMark, 0), 0u);
}

// Every line after the block's first, which carries the date, starts with
// its time of day to the millisecond.
TEST(RunLog, EveryLineCarriesItsTime) {
  testing_support::TTempFolder dir;
  runlog::BeginRun(dir.Path(), {"C:\\Daten"});
  runlog::Note("eins");
  runlog::NoteFailure("Opening", "C:\\X", 2);
  runlog::EndRun(0, "");
  const std::string text = testing_support::ReadWholeText(dir / "ZRKUPD.LOG");
  std::size_t lines = 0;
  for (std::size_t at = 0; at < text.size(); ++lines) {
    const std::size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << text;
    const std::string line = text.substr(at, end - at);
    if (at == 0)
      EXPECT_TRUE(std::regex_search(line, std::regex(R"(^==== \d{4}-\d\d-\d\d \d\d:\d\d:\d\d )")))
          << line;
    else
      EXPECT_TRUE(std::regex_search(line, LineTime, std::regex_constants::match_continuous))
          << line;
    at = end + 2;
  }
  EXPECT_EQ(lines, 5u) << text;
}

} // namespace
