// Result messages: the exact texts of both messages, how a record becomes a
// message box body, placeholder expansion and the box styles.
#include <gtest/gtest.h>

#include <string>

#include "platform/window.h"
#include "tests/support/recording_view.h"
#include "tests/support/result_texts.h"
#include "tests/support/test_support.h"
#include "update/messages.h"

namespace update {
namespace {

using testing_support::FailureBody;
using testing_support::SuccessBody;
using testing_support::SuccessTitle;

// Substitution texts are program-wide; every test leaves them empty.
class MessagesTest : public ::testing::Test {
protected:
  void TearDown() override {
    for (int n = 1; n <= SubstitutionCount; ++n)
      SetSubstitutionText(n, "");
  }
};

TEST_F(MessagesTest, SuccessMessageHasExactTitleAndThreeLines) {
  TMessageRecord record;
  record.SetLine(9, "left over from before");
  BuildSuccessMessage(record);
  EXPECT_EQ(record.Title.Str(), SuccessTitle);
  EXPECT_EQ(BuildMessageBody(record), SuccessBody);
}

TEST_F(MessagesTest, FailureMessagesCarryCodeAndReasonByteForByte) {
  const std::string unpacking = "Das entpacken der Dateien ist fehlgeschlagen.";
  struct TCase {
    std::int32_t Result;
    std::string Body;
  } cases[] = {
      {-1, FailureBody("-1", testing_support::ChecksumReason)},
      {-2, FailureBody("-2", unpacking)},
      {-3, FailureBody("-3")},
      {-4, FailureBody("-4")},
      {-5, FailureBody("-5")},
      {-6, FailureBody("-6")},
      {-7, FailureBody("-7")},
      {-8, FailureBody("-8", testing_support::FoldersInvalidReason)},
      {7, FailureBody("7")},
      {-2147483647 - 1, FailureBody("$$$$$$$$$$")},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Result);
    TMessageRecord record;
    record.SetTitle("old");
    record.SetLine(20, "old");
    BuildFailureMessage(record, c.Result);
    EXPECT_EQ(record.Title.Str(), "Fehler!");
    EXPECT_EQ(BuildMessageBody(record), c.Body);
  }
}

TEST_F(MessagesTest, BodyJoinsNonEmptyLinesButAlwaysStartsWithLineOne) {
  struct TCase {
    const char *Name;
    std::vector<std::pair<int, std::string>> Lines;
    std::string Body;
  } cases[] = {
      {"empty record", {}, ""},
      {"empty line 1", {{2, "x"}}, "\r\nx"},
      {"gaps skipped", {{1, "a"}, {5, "b"}, {20, "c"}}, "a\r\nb\r\nc"},
      {"blank line kept", {{1, "a"}, {2, " "}, {3, "b"}}, "a\r\n \r\nb"},
      {"line only placeholder vanishes", {{1, "a"}, {2, "/&4&\\"}, {3, "b"}}, "a\r\nb"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TMessageRecord record;
    for (const auto &[n, text] : c.Lines)
      record.SetLine(n, text);
    EXPECT_EQ(BuildMessageBody(record), c.Body);
  }
}

TEST_F(MessagesTest, TitleAndLinesAreCutToOneHundred) {
  TMessageRecord record;
  record.SetTitle(std::string(150, 't'));
  record.SetLine(1, std::string(101, 'a'));
  record.SetLine(20, std::string(100, 'z'));
  record.SetLine(0, "ignored");
  record.SetLine(21, "ignored");
  EXPECT_EQ(record.Title.Length(), 100u);
  EXPECT_EQ(BuildMessageBody(record), std::string(100, 'a') + "\r\n" + std::string(100, 'z'));
}

TEST_F(MessagesTest, PlaceholdersVanishAndTheLineClosesUp) {
  struct TCase {
    std::string In, Out;
  } cases[] = {
      {"ab/&3&\\cd", "abcd"},
      {"/&1&\\/&1&\\x/&9&\\", "x"},
      // Removing the inner placeholder forms an outer one, which the next pass removes.
      {"a/&/&2&\\1&\\b", "ab"},
      {"/&0&\\ and /&a&\\ and /&1&/ stay", "/&0&\\ and /&a&\\ and /&1&/ stay"},
      {"", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.In);
    util::TShortString line(c.In);
    ExpandPlaceholders(line);
    EXPECT_EQ(line.Str(), c.Out);
  }
}

TEST_F(MessagesTest, SubstitutionTextsAreInsertedAndLimited) {
  SetSubstitutionText(2, "zwei");
  util::TShortString line("[/&2&\\|/&2&\\]");
  ExpandPlaceholders(line);
  EXPECT_EQ(line.Str(), "[zwei|zwei]");

  SetSubstitutionText(3, std::string(200, 's'));
  EXPECT_EQ(SubstitutionTexts[2].Length(), SubstitutionCapacity);
  line = util::TShortString("/&3&\\/&3&\\/&3&\\");
  ExpandPlaceholders(line);
  EXPECT_EQ(line.Str(), std::string(255, 's'));

  // A text that brings its own placeholder back must not expand for ever.
  SetSubstitutionText(1, "/&1&\\");
  line = util::TShortString("x/&1&\\");
  ExpandPlaceholders(line);
  EXPECT_EQ(line.Str(), "x/&1&\\");
}

TEST_F(MessagesTest, OverlongBodyIsCutToFitTheBuffer) {
  for (int n = 1; n <= SubstitutionCount; ++n)
    SetSubstitutionText(n, std::string(128, static_cast<char>('0' + n)));
  TMessageRecord record;
  for (int i = 1; i <= MessageLineCount; ++i)
    record.SetLine(i, "/&1&\\/&2&\\");
  std::string body = BuildMessageBody(record);
  ASSERT_EQ(body.size(), MessageBodyBufferSize - 1);
  std::string line = std::string(128, '1') + std::string(127, '2');
  EXPECT_EQ(body.substr(0, line.size() + 2), line + "\r\n");
}

TEST_F(MessagesTest, StyleFollowsIconAndButtonKind) {
  struct TCase {
    int Icon, Button;
    std::uint32_t Style;
  } cases[] = {
      {1, 0, 0x30}, {2, 0, 0x40},  {3, 0, 0x24},  {4, 0, 0x10},  {7, 0, 0x00},
      {0, 0, 0x00}, {3, 2, 0x124}, {1, 2, 0x130}, {7, 2, 0x100}, {2, 1, 0x40},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.Icon) + "/" + std::to_string(c.Button));
    EXPECT_EQ(MessageStyle(static_cast<std::uint8_t>(c.Icon), static_cast<std::uint8_t>(c.Button)),
              c.Style);
  }
}

TEST_F(MessagesTest, ShowMessageRecordHandsBodyTitleAndStyleToTheBox) {
  TMessageRecord record;
  BuildSuccessMessage(record);

  TRecordingView view;
  view.MessageAnswer = 6;
  EXPECT_EQ(ShowMessageRecord(view, 3, 2, record), 6);
  auto boxes = view.Messages();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, SuccessBody);
  EXPECT_EQ(boxes[0].Caption, SuccessTitle);
  EXPECT_EQ(boxes[0].Style, 0x124u);

  testing_support::TBoxRecorder recorder;
  BuildFailureMessage(record, -4);
  EXPECT_EQ(ShowMessageRecord(platform::THandle(0x1234), 4, 0, record), platform::IdOk);
  ASSERT_EQ(recorder.Boxes.size(), 1u);
  EXPECT_EQ(recorder.Boxes[0].Owner, platform::THandle(0x1234));
  EXPECT_EQ(recorder.Boxes[0].Text, FailureBody("-4"));
  EXPECT_EQ(recorder.Boxes[0].Caption, "Fehler!");
  EXPECT_EQ(recorder.Boxes[0].Style, 0x10u);
}

} // namespace
} // namespace update
