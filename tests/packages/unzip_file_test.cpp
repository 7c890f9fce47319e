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
  const void *self = &unzip;
  struct {
    const char *field;
    std::size_t offset;
    const void *value;
  } pointers[] = {
      {"zip file", 8, unzip.lpszZipFile().GetText()},
      {"file spec", 16, unzip.lpszFileSpec().GetText()},
      {"destination", 24, unzip.lpszDestination().GetText()},
      {"minor entry", 60, Code(&TUnzipFile::MinorStatusEntry)},
      {"minor data", 64, self},
      {"major entry", 68, Code(&TUnzipFile::MajorStatusEntry)},
      {"major data", 72, self},
      {"return string", 80, nullptr},
      {"decrypt code", 96, nullptr},
      {"message entry", 100, Code(&TUnzipFile::MessageEntry)},
      {"message data", 104, self},
      {"memory record", 110, unzip.MemoryRecord()},
      {"rename entry", 118, Code(&TUnzipFile::RenameEntry)},
      {"rename data", 122, self},
      {"ext prog title", 126, nullptr},
      {"item buffer", 142, unzip.ItemInfoBuffer()},
      {"ext rename entry", 158, nullptr},
  };
  // Natively the pointer fields are wider, in the same order: a field's 32-bit
  // offset moves by the extra bytes of the pointer fields before it.
  auto at = [&](std::size_t offset32) {
    std::size_t before = 0;
    for (const auto &p : pointers)
      before += p.offset < offset32 ? 1 : 0;
    return offset32 + before * (sizeof(void *) - 4);
  };
  for (const auto &p : pointers) {
    SCOPED_TRACE(p.field);
    EXPECT_EQ(Ptr(r, at(p.offset)), p.value);
  }
  struct {
    const char *field;
    std::size_t offset;
    std::uint32_t value;
  } numbers[] = {
      {"size", 0, static_cast<std::uint32_t>(at(170))},
      {"function", 4, 99},
      {"reserved 12", 12, 0},
      {"index", 20, 0xFFFFFFFFu},
      {"freshen", 28, 0},
      {"update", 32, 0},
      {"overwrite", 36, 0xFFFFFFFFu},
      {"quiet", 40, 0},
      {"test", 44, 0},
      {"no directory names", 48, 0xFFFFFFFFu},
      {"recurse", 52, 0},
      {"no directory items", 56, 0xFFFFFFFFu},
      {"return count", 76, 77},
      {"diagnostic", 84, 0},
      {"lf2crlf", 88, 0},
      {"decrypt", 92, 0},
      {"reserved 114", 114, 0},
      {"further 1", 130, 11},
      {"further 2", 134, 22},
      {"further 4", 138, 44},
      {"sub-options 2", 146, 0},
      {"further 3", 150, 33},
      {"further 5", 154, 55},
      {"reserved 162", 162, 0},
      {"reserved 166", 166, 0},
  };
  for (const auto &n : numbers) {
    SCOPED_TRACE(n.field);
    EXPECT_EQ(U32(r, at(n.offset)), n.value);
  }
  EXPECT_EQ(r[at(108)], 0x03);
  EXPECT_EQ(r[at(108) + 1], 0x00);

  EXPECT_STREQ(static_cast<const char *>(Ptr(r, at(8))), "C:\\DL\\UPD.zip");
  EXPECT_STREQ(static_cast<const char *>(Ptr(r, at(16))), "*.*");

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
  EXPECT_EQ(Ptr(r, at(118)), nullptr);
  EXPECT_EQ(Ptr(r, at(158)), Code(&TUnzipFile::RenameEntryEx));
  EXPECT_EQ(U32(r, at(146)), 2u);
  EXPECT_EQ(U32(r, at(92)), 0xFFFFFFFFu);
  EXPECT_EQ(Ptr(r, at(96)), unzip.lpszDecryptCode().GetText());
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
