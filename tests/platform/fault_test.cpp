// Tests of fault injection: the Nth file operation fails with a plausible
// error, a full disk cuts a write short, and disarmed runs are untouched.
#include <gtest/gtest.h>

#include <functional>

#include "platform/fault.h"
#include "platform/files.h"
#include "tests/support/test_support.h"

using namespace platform;
using testing_support::PatternBytes;
using testing_support::ReadWholeFile;
using testing_support::TTempFolder;
using testing_support::WriteWholeFile;

namespace {

struct TDisarmOnExit {
  ~TDisarmOnExit() { fault::Disarm(); }
};

} // namespace

TEST(Fault, EveryFileOperationCountsOnce) {
  TTempFolder dir;
  TDisarmOnExit guard;
  fault::Arm(0);
  TFile file;
  ASSERT_TRUE(file.Create(dir / "count.dat"));
  std::uint32_t done = 0;
  std::uint8_t byte = 1;
  ASSERT_TRUE(file.Write(&byte, 1, done));
  ASSERT_TRUE(file.Seek(0));
  ASSERT_TRUE(file.Read(&byte, 1, done));
  std::int64_t size = 0;
  ASSERT_TRUE(file.Size(size)); // a query, not counted
  file.Close();
  EXPECT_EQ(fault::Count(), 4u);
  ASSERT_TRUE(MoveFileReplacing(dir / "count.dat", dir / "moved.dat"));
  ASSERT_TRUE(SetAttributes(dir / "moved.dat", faArchive));
  ASSERT_TRUE(CreateFolder(dir / "sub"));
  ASSERT_TRUE(DeleteFile(dir / "moved.dat"));
  EXPECT_EQ(fault::Count(), 8u);
  fault::Disarm();
  ASSERT_TRUE(CreateFolder(dir / "sub2"));
  EXPECT_EQ(fault::Count(), 8u);
}

TEST(Fault, TheNthOperationFailsWithItsError) {
  const struct {
    int failAt;
    int error;
  } cases[] = {{1, ErrorSharingViolation}, {2, ErrorWriteFault}, {3, 25}, {4, 30}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.failAt);
    TTempFolder dir;
    TDisarmOnExit guard;
    fault::Arm(static_cast<std::uint64_t>(c.failAt));
    TFile file;
    std::uint32_t done = 0;
    std::uint8_t bytes[4] = {1, 2, 3, 4};
    const std::function<bool()> steps[] = {
        [&] { return file.Create(dir / "f.dat"); },
        [&] { return file.Write(bytes, 4, done); },
        [&] { return file.Seek(0); },
        [&] { return file.Read(bytes, 4, done); },
    };
    int failedAt = 0;
    for (int i = 0; i < 4 && failedAt == 0; ++i)
      if (!steps[i]())
        failedAt = i + 1;
    EXPECT_EQ(failedAt, c.failAt);
    EXPECT_EQ(LastError(), c.error);
  }
}

TEST(Fault, OnlyTheArmedOperationFails) {
  TTempFolder dir;
  TDisarmOnExit guard;
  ASSERT_TRUE(WriteWholeFile(dir / "keep.dat", "previous"));
  fault::Arm(1);
  EXPECT_FALSE(DeleteFile(dir / "keep.dat"));
  EXPECT_EQ(LastError(), ErrorAccessDenied);
  EXPECT_EQ(testing_support::ReadWholeText(dir / "keep.dat"), "previous");
  EXPECT_TRUE(CreateFolder(dir / "a")); // the second operation goes through
  fault::Arm(1);
  EXPECT_FALSE(CreateFolder(dir / "b"));
  // A folder that could not be made must not look made or "already there".
  EXPECT_NE(LastError(), ErrorAlreadyExists);
  EXPECT_NE(LastError(), ErrorAccessDenied);
  EXPECT_TRUE(CreateFolder(dir / "b"));
}

TEST(Fault, FullDiskCutsTheWriteShort) {
  TTempFolder dir;
  TDisarmOnExit guard;
  const auto data = PatternBytes(4096, 3);
  TFile file;
  ASSERT_TRUE(file.Create(dir / "full.dat"));
  fault::Arm(2, true);
  std::uint32_t written = 0;
  ASSERT_TRUE(file.Write(data.data(), 4096, written));
  EXPECT_EQ(written, 4096u);
  EXPECT_FALSE(file.Write(data.data(), 4096, written));
  EXPECT_EQ(LastError(), ErrorDiskFull);
  EXPECT_LT(written, 4096u);
  const std::uint32_t partial = written;
  ASSERT_TRUE(file.Write(data.data(), 10, written)); // the fault is spent
  file.Close();
  EXPECT_EQ(ReadWholeFile(dir / "full.dat").size(), 4096u + partial + 10u);
}
