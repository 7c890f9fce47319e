// The unzip component: the string holder, the command record as the library
// sees it, the callback entries, the load failures, and a real extraction
// through the library built beside the tests.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "packages/unzip_file.h"
#include "platform/files.h"
#include "platform/window.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"
#include "util/byte_order.h"

namespace {

using packages::TLPStr;
using packages::TUnzipFile;
using testing_support::FileExists;
using testing_support::ReadWholeText;
using testing_support::TTempFolder;
using testing_support::WriteWholeFile;
using Bytes = std::vector<std::uint8_t>;

using TBox = testing_support::TBoxRecorder::TBox;

// Records message boxes and exit requests for the length of a test.
class UnzipComponent : public ::testing::Test {
protected:
  testing_support::TBoxRecorder Recorder;
  std::vector<TBox> &Boxes = Recorder.Boxes;
  std::vector<int> Exits;

  void SetUp() override {
    packages::SetUnzipExitHook([this](int code) { Exits.push_back(code); });
  }
  void TearDown() override { packages::SetUnzipExitHook(nullptr); }
};

TEST(LPStr, HolderKeepsOrFitsItsBuffer) {
  TLPStr s; // capacity 0: fitted to each text, released by Clear
  s.SetText("0123456789");
  EXPECT_STREQ(s.GetText(), "0123456789");
  EXPECT_EQ(s.Capacity(), 11);
  s.Clear();
  EXPECT_EQ(s.GetText(), nullptr);
  std::string copy = "stale";
  s.CopyTextTo(copy);
  EXPECT_EQ(copy, "");

  TLPStr f(5); // fixed: keeps its buffer, cuts long texts
  const char *buffer = f.GetText();
  f.SetText("abcdefgh");
  EXPECT_STREQ(f.GetText(), "abcd");
  f.Clear();
  EXPECT_EQ(f.GetText(), buffer);
  EXPECT_STREQ(f.GetText(), "");

  s.SetText("abcdef");
  s.SetCapacity(7); // the current capacity only marks it fixed
  EXPECT_TRUE(s.Fixed());
  s.SetCapacity(3);
  EXPECT_STREQ(s.GetText(), "ab");
  s.SetCapacity(0);
  EXPECT_FALSE(s.Fixed());
  s.Clear();
  EXPECT_EQ(s.GetText(), nullptr);
}

TEST(LPStr, StreamsAndStoredProperty) {
  struct {
    const char *name;
    std::uint16_t capacity;
    std::string input;
    bool ok;
    const char *text; // null: nothing held
  } cases[] = {
      {"fixed, fits", 4, "abc", true, "abc"},
      {"fixed, reaches the limit", 4, "abcd", false, "old"},
      {"unfixed, 32768 bytes", 0, std::string(32768, 'x'), false, "old"},
      {"unfixed, 32767 bytes", 0, std::string(32767, 'x'), true, nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TLPStr s(c.capacity);
    s.SetText("old");
    std::istringstream in(c.input);
    EXPECT_EQ(s.LoadFromStream(in), c.ok);
    std::string expected = c.text ? c.text : c.input;
    EXPECT_EQ(std::string(s.GetText() ? s.GetText() : ""), expected);
  }
  TLPStr s;
  std::ostringstream out;
  s.SaveToStream(out);
  std::string stored;
  EXPECT_FALSE(s.StoredProperty(stored));
  s.SetText("C:\\HELP");
  s.SaveToStream(out);
  EXPECT_EQ(out.str(), "C:\\HELP");
  ASSERT_TRUE(s.StoredProperty(stored));
  EXPECT_EQ(stored, std::string("C:\\HELP\0", 8));
  TLPStr back;
  back.ReadProperty(stored);
  EXPECT_STREQ(back.GetText(), "C:\\HELP");
}

TEST(UnzipItemInfo, DecodedFromTheBufferAtItsOffsets) {
  packages::TItemInfoBuffer buffer{};
  for (std::size_t i = 0; i < buffer.size(); ++i)
    buffer[i] = static_cast<std::uint8_t>(i * 7 + 1);
  buffer[4] = 0xFE; // -2, widened to 16 bits
  std::memset(buffer.data() + 38, 'n', 32);
  std::memcpy(buffer.data() + 70, "short.txt", 10);
  packages::TItemInfo info = packages::DecodeItemInfo(buffer);
  EXPECT_EQ(info[0], 0xFE);
  EXPECT_EQ(info[1], 0xFF);
  struct {
    std::size_t to, from, width;
  } copies[] = {{2, 8, 4},   {6, 16, 4},   {10, 32, 2},    {12, 34, 2},   {14, 36, 2},
                {16, 28, 4}, {298, 24, 4}, {302, 2118, 4}, {306, 2122, 4}};
  for (const auto &c : copies) {
    SCOPED_TRACE(c.to);
    EXPECT_EQ(0, std::memcmp(info.data() + c.to, buffer.data() + c.from, c.width));
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(info.data() + 20)), std::string(17, 'n'));
  EXPECT_EQ(info[37], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(info.data() + 38)), "short.txt");
  for (std::size_t i = 38 + 9; i < 298; ++i)
    ASSERT_EQ(info[i], 0) << i;
}

TEST_F(UnzipComponent, MissingLibraryWarnsAndExitsWithOne) {
  TUnzipFile unzip("NOSUCHLIB.DLL");
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Text, "Could not load DUNZIP32.DLL!");
  EXPECT_EQ(Boxes[0].Style, platform::MbIconExclamation | platform::MbOk);
  EXPECT_EQ(Exits, std::vector<int>{1});
  EXPECT_FALSE(unzip.LibraryLoaded());
  // A hook that returns leaves a component that fails every call.
  unzip.lpszZipFile().SetText("x.zip");
  unzip.lpszDestination().SetText("y");
  EXPECT_FALSE(unzip.Execute(8));
  EXPECT_NE(unzip.ErrorCode, 0);
}

TEST_F(UnzipComponent, MissingEntryWarnsAndExitsWithOne) {
  TUnzipFile unzip(dunzip::DunzipLibraryName, "no_such_entry");
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Text, "Could not load dunzip function!");
  EXPECT_EQ(Boxes[0].Style, platform::MbIconExclamation | platform::MbOk);
  EXPECT_EQ(Exits, std::vector<int>{1});
}

TEST_F(UnzipComponent, FunctionCodeZeroDoesNothing) {
  TUnzipFile unzip("NOSUCHLIB.DLL");
  unzip.ErrorCode = 1234;
  EXPECT_FALSE(unzip.Execute(0));
  EXPECT_EQ(unzip.ErrorCode, 1234);
}

TEST_F(UnzipComponent, DirectAssignmentShowsTheBoxAndChangesNothing) {
  TUnzipFile unzip;
  ASSERT_TRUE(unzip.LibraryLoaded());
  ASSERT_TRUE(Boxes.empty());
  TLPStr other;
  other.SetText("other");
  using TSetter = void (TUnzipFile::*)(const TLPStr &);
  using TGetter = TLPStr &(TUnzipFile::*)();
  std::pair<TSetter, TGetter> properties[] = {
      {&TUnzipFile::SetlpszZipFile, &TUnzipFile::lpszZipFile},
      {&TUnzipFile::SetlpszFileSpec, &TUnzipFile::lpszFileSpec},
      {&TUnzipFile::SetlpszDestination, &TUnzipFile::lpszDestination},
      {&TUnzipFile::SetlpszDecryptCode, &TUnzipFile::lpszDecryptCode},
      {&TUnzipFile::SetlpszExtProgTitle, &TUnzipFile::lpszExtProgTitle},
      {&TUnzipFile::SetlpszReturnString, &TUnzipFile::lpszReturnString},
  };
  for (auto [set, get] : properties) {
    (unzip.*get)().SetText("mine");
    const char *before = (unzip.*get)().GetText();
    (unzip.*set)(other);
    EXPECT_EQ((unzip.*get)().GetText(), before);
    EXPECT_STREQ((unzip.*get)().GetText(), "mine");
  }
  ASSERT_EQ(Boxes.size(), 6u);
  for (const TBox &box : Boxes) {
    EXPECT_EQ(box.Text, "Cannot Directly assign a value to type LPSTR.  Use SetText");
    EXPECT_EQ(box.Style, platform::MbIconInformation | platform::MbOk);
  }
}

std::uint32_t U32(const std::uint8_t *r, std::size_t at) {
  return util::GetU32(r, at);
}
const void *Ptr(const std::uint8_t *r, std::size_t at) {
  return reinterpret_cast<const void *>(
      static_cast<std::uintptr_t>(util::GetLE(r, at, sizeof(void *))));
}
template <typename F> const void *Code(F f) {
  return reinterpret_cast<const void *>(f);
}

// The record as the dialog's settings build it, read back at the offsets the
// library uses (the plain 32-bit numbers in the Windows build).
TEST_F(UnzipComponent, CommandRecordCarriesEveryFieldAtItsOffset) {
  TUnzipFile unzip;
  ASSERT_TRUE(unzip.LibraryLoaded());
  packages::ApplyDialogDesignValues(unzip);
  unzip.lpszZipFile().SetText("C:\\DL\\UPD.zip");
  unzip.lpszDestination().SetText("C:\\HELP");
  unzip.FurtherValues = {11, 22, 33, 44, 55};
  unzip.ReturnCount = 77;
  constexpr std::int32_t unsupported = 99;
  EXPECT_FALSE(unzip.Execute(unsupported));
  EXPECT_EQ(unzip.ErrorCode, dunzip::dzNotSupported);
  EXPECT_EQ(unzip.ReturnCount, 77);

  const std::uint8_t *r = unzip.CommandRecord();
  const bool is32 = sizeof(void *) == 4;
  const auto &L = dunzip::Cmd;
  auto at = [&](std::size_t offset32, std::size_t layout) { return is32 ? offset32 : layout; };
  if (is32) {
    static_assert(sizeof(void *) != 4 || dunzip::CommandSize == 170);
    EXPECT_EQ(U32(r, 0), 170u);
  }
  struct {
    const char *field;
    std::size_t offset;
    std::uint32_t value;
  } numbers[] = {
      {"size", at(0, L.RecordSize), static_cast<std::uint32_t>(dunzip::CommandSize)},
      {"function", at(4, L.FunctionCode), 99},
      {"reserved 12", at(12, L.Reserved12), 0},
      {"index", at(20, L.IndexofItem), 0xFFFFFFFFu},
      {"freshen", at(28, L.FreshenFlag), 0},
      {"update", at(32, L.UpdateFlag), 0},
      {"overwrite", at(36, L.OverWriteFlag), 0xFFFFFFFFu},
      {"quiet", at(40, L.QuietFlag), 0},
      {"test", at(44, L.TestFlag), 0},
      {"no directory names", at(48, L.NoDirectoryNamesFlag), 0xFFFFFFFFu},
      {"recurse", at(52, L.RecurseFlag), 0},
      {"no directory items", at(56, L.NoDirectoryItemsFlag), 0xFFFFFFFFu},
      {"return count", at(76, L.ReturnCount), 77},
      {"diagnostic", at(84, L.bDiagnostic), 0},
      {"lf2crlf", at(88, L.bLF2CRLFFlag), 0},
      {"decrypt", at(92, L.DecryptFlag), 0},
      {"reserved 114", at(114, L.Reserved114), 0},
      {"further 1", at(130, L.FurtherValue1), 11},
      {"further 2", at(134, L.FurtherValue2), 22},
      {"further 4", at(138, L.FurtherValue4), 44},
      {"sub-options 2", at(146, L.SubOptions2), 0},
      {"further 3", at(150, L.FurtherValue3), 33},
      {"further 5", at(154, L.FurtherValue5), 55},
      {"reserved 162", at(162, L.Reserved162), 0},
      {"reserved 166", at(166, L.Reserved166), 0},
  };
  for (const auto &n : numbers) {
    SCOPED_TRACE(n.field);
    EXPECT_EQ(U32(r, n.offset), n.value);
  }
  EXPECT_EQ(r[at(108, L.SubOptions)], 0x03);
  EXPECT_EQ(r[at(108, L.SubOptions) + 1], 0x00);

  const void *self = &unzip;
  struct {
    const char *field;
    std::size_t offset;
    const void *value;
  } pointers[] = {
      {"zip file", at(8, L.ZipFile), unzip.lpszZipFile().GetText()},
      {"file spec", at(16, L.FileSpec), unzip.lpszFileSpec().GetText()},
      {"destination", at(24, L.Destination), unzip.lpszDestination().GetText()},
      {"minor entry", at(60, L.MinorStatusEntry), Code(&TUnzipFile::MinorStatusEntry)},
      {"minor data", at(64, L.MinorUserData), self},
      {"major entry", at(68, L.MajorStatusEntry), Code(&TUnzipFile::MajorStatusEntry)},
      {"major data", at(72, L.MajorUserData), self},
      {"return string", at(80, L.ReturnString), nullptr},
      {"decrypt code", at(96, L.DecryptCode), nullptr},
      {"message entry", at(100, L.MessageEntry), Code(&TUnzipFile::MessageEntry)},
      {"message data", at(104, L.MessageUserData), self},
      {"memory record", at(110, L.MemoryRecord), unzip.MemoryRecord()},
      {"rename entry", at(118, L.RenameEntry), Code(&TUnzipFile::RenameEntry)},
      {"rename data", at(122, L.RenameUserData), self},
      {"ext prog title", at(126, L.ExtProgTitle), nullptr},
      {"item buffer", at(142, L.ItemInfoBuffer), unzip.ItemInfoBuffer()},
      {"ext rename entry", at(158, L.RenameEntryEx), nullptr},
  };
  for (const auto &p : pointers) {
    SCOPED_TRACE(p.field);
    EXPECT_EQ(Ptr(r, p.offset), p.value);
  }
  EXPECT_STREQ(static_cast<const char *>(Ptr(r, at(8, L.ZipFile))), "C:\\DL\\UPD.zip");
  EXPECT_STREQ(static_cast<const char *>(Ptr(r, at(16, L.FileSpec))), "*.*");

  EXPECT_EQ(U32(unzip.ItemInfoBuffer(), 0), 2150u);
  const std::uint8_t *m = unzip.MemoryRecord();
  EXPECT_EQ(U32(m, 0), 28u);
  EXPECT_EQ(Ptr(m, 4), Code(&TUnzipFile::MemoryEntry));
  EXPECT_EQ(Ptr(m, 4 + sizeof(void *)), self);
  for (std::size_t i = 4 + 2 * sizeof(void *); i < 28; ++i)
    EXPECT_EQ(m[i], 0) << i;

  // The extended rename entry replaces the plain one.
  unzip.lUnzipSubOptions2 = {packages::TUnzipSubOption2::USO2_EXTRENAME};
  unzip.Options.Include(packages::TUnzipFlag::DecryptFlag);
  unzip.lpszDecryptCode().SetText("pw");
  EXPECT_FALSE(unzip.Execute(unsupported));
  EXPECT_EQ(Ptr(r, at(118, L.RenameEntry)), nullptr);
  EXPECT_EQ(Ptr(r, at(158, L.RenameEntryEx)), Code(&TUnzipFile::RenameEntryEx));
  EXPECT_EQ(U32(r, at(146, L.SubOptions2)), 2u);
  EXPECT_EQ(U32(r, at(92, L.DecryptFlag)), 0xFFFFFFFFu);
  EXPECT_EQ(Ptr(r, at(96, L.DecryptCode)), unzip.lpszDecryptCode().GetText());
}

TEST_F(UnzipComponent, FunctionCodeSixSizesTheReturnString) {
  TUnzipFile unzip;
  unzip.ReturnCount = 40;
  unzip.Execute(6);
  EXPECT_EQ(unzip.lpszReturnString().Capacity(), 41);
  EXPECT_TRUE(unzip.lpszReturnString().Fixed());
  EXPECT_NE(unzip.lpszReturnString().GetText(), nullptr);
  unzip.ReturnCount = 70000;
  unzip.Execute(6);
  EXPECT_EQ(unzip.lpszReturnString().Capacity(), 0xFFFF);
}

TEST_F(UnzipComponent, CallbackEntriesForwardToTheEventsAndCatchEverything) {
  TUnzipFile unzip;
  void *self = &unzip;
  EXPECT_EQ(TUnzipFile::MajorStatusEntry("a", 5, self), 0) << "no handler: go on";
  EXPECT_EQ(TUnzipFile::MessageEntry(1, 4, 0, 0, "x", "y", self), 0);

  std::vector<std::string> seen;
  unzip.OnMajorCallback = [&](const char *item, std::int32_t percent, bool &cancel) {
    seen.push_back("major " + std::string(item) + " " + std::to_string(percent));
    EXPECT_FALSE(cancel);
    cancel = percent > 50;
  };
  unzip.OnMinorCallback = [&](const char *, std::int32_t, bool &) { throw 42; };
  unzip.OnMessageCallback = [&](std::uint16_t id, std::uint16_t type, std::uint32_t p1,
                                std::uint32_t p2, const char *s1, const char *s2,
                                std::int32_t &result) {
    EXPECT_EQ(result, 0);
    seen.push_back("message " + std::to_string(id) + " " + std::to_string(type) + " " +
                   std::to_string(p1) + " " + std::to_string(p2) + " " + s1 + " " + s2);
    result = 1;
  };
  EXPECT_EQ(TUnzipFile::MajorStatusEntry("a.txt", 10, self), 0);
  EXPECT_EQ(TUnzipFile::MajorStatusEntry("b.txt", 60, self), -1);
  EXPECT_EQ(TUnzipFile::MinorStatusEntry("c.txt", 1, self), -1) << "a throwing handler cancels";
  EXPECT_EQ(TUnzipFile::MessageEntry(2, 4, 7, 8, "p", "q", self), 1);
  unzip.OnMessageCallback = [](std::uint16_t, std::uint16_t, std::uint32_t, std::uint32_t,
                               const char *, const char *,
                               std::int32_t &) { throw std::runtime_error("boom"); };
  EXPECT_EQ(TUnzipFile::MessageEntry(2, 4, 7, 8, "p", "q", self), 0);
  EXPECT_EQ(seen,
            (std::vector<std::string>{"major a.txt 10", "major b.txt 60", "message 2 4 7 8 p q"}));

  std::uint32_t size = 123;
  std::int32_t ret = 0, sum = 0;
  unzip.OnMemToMem = [&](std::int32_t action, char *, std::uint32_t *pSize, std::uint32_t readL,
                         std::uint32_t, std::uint32_t, std::uint32_t writtenH, std::int32_t *pRet) {
    sum = action + static_cast<std::int32_t>(*pSize + readL + writtenH);
    *pRet = 9;
  };
  TUnzipFile::MemoryEntry(3, nullptr, &size, 4, 5, 6, 7, self, &ret);
  EXPECT_EQ(sum, 3 + 123 + 4 + 7);
  EXPECT_EQ(ret, 9);
  unzip.OnRenameCallbackEX = [&](packages::PDZRenameEX) { throw 1; };
  EXPECT_EQ(TUnzipFile::RenameEntryEx(nullptr, self), 0);
}

// A ZIP archive of stored entries; a name ending in "/" is a folder item.
Bytes StoredZip(const std::vector<std::pair<std::string, std::string>> &entries) {
  std::vector<testing_support::TTestEntry> items;
  for (const auto &[name, data] : entries) {
    testing_support::TTestEntry item(name, testing_support::TextBytes(data), 0);
    item.ExternalAttributes = name.back() == '/' ? 0x10 : 0x20;
    items.push_back(item);
  }
  return testing_support::BuildZip(items);
}

TEST_F(UnzipComponent, ExtractsFlatThroughTheLibraryWithTheDialogsSettings) {
  TTempFolder folder;
  std::string zip = folder / "PKG.zip";
  std::string staging = folder / "HELP";
  ASSERT_TRUE(testing_support::MakeFolder(staging));
  ASSERT_TRUE(WriteWholeFile(
      zip, StoredZip(
               {{"top.txt", "top"}, {"sub/", ""}, {"sub/inner.txt", "inner"}, {"ro.txt", "new"}})));
  ASSERT_TRUE(WriteWholeFile(staging + "\\ro.txt", "old"));
  ASSERT_TRUE(platform::SetAttributes(staging + "\\ro.txt", platform::faReadOnly));

  TUnzipFile unzip;
  ASSERT_TRUE(unzip.LibraryLoaded());
  packages::ApplyDialogDesignValues(unzip);
  std::vector<std::int32_t> major, minor;
  std::vector<std::string> items;
  int questions = 0;
  unzip.OnMajorCallback = [&](const char *, std::int32_t percent, bool &) {
    major.push_back(percent);
  };
  unzip.OnMinorCallback = [&](const char *item, std::int32_t percent, bool &) {
    minor.push_back(percent);
    if (item != nullptr && (items.empty() || items.back() != item))
      items.emplace_back(item);
  };
  unzip.OnMessageCallback = [&](std::uint16_t, std::uint16_t, std::uint32_t, std::uint32_t,
                                const char *, const char *, std::int32_t &result) {
    ++questions;
    result = 1;
  };
  unzip.lpszZipFile().SetText(zip);
  unzip.lpszDestination().SetText(staging);
  EXPECT_TRUE(unzip.Execute(8)) << "library result " << unzip.ErrorCode;
  EXPECT_EQ(unzip.ErrorCode, 0);
  EXPECT_EQ(ReadWholeText(staging + "\\top.txt"), "top");
  EXPECT_EQ(ReadWholeText(staging + "\\inner.txt"), "inner");
  EXPECT_EQ(ReadWholeText(staging + "\\ro.txt"), "new");
  EXPECT_FALSE(FileExists(staging + "\\sub"));
  EXPECT_EQ(unzip.ReturnCount, 3);
  ASSERT_FALSE(major.empty());
  ASSERT_FALSE(minor.empty());
  EXPECT_EQ(major.back(), 100);
  for (auto p : major)
    EXPECT_TRUE(p >= 0 && p <= 100) << p;
  for (auto p : minor)
    EXPECT_TRUE(p >= 0 && p <= 100) << p;
  EXPECT_EQ(items.size(), 3u);

  // A damaged archive: false, and the library's code stays.
  ASSERT_TRUE(WriteWholeFile(zip, "PK\x03\x04 not really"));
  EXPECT_FALSE(unzip.Execute(8));
  EXPECT_NE(unzip.ErrorCode, 0);
  EXPECT_EQ(unzip.ReturnCount, 3);
}

} // namespace
