// The ZIP reader over memory: the archives of the setup step read back, and
// hostile input (every truncation, every single-byte change of a small
// archive) either refused or read back exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>

#include "dunzip/zip_reader.h"
#include "tests/dunzip/dunzip_test_support.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

namespace {

using dunzip::TZipEntry;
using dunzip::TZipError;
using dunzip_test::TMemorySink;
using dunzip_test::TOpened;
using testing_support::BuildZip;
using testing_support::TTestEntry;

constexpr auto Text = testing_support::TextBytes;

// Reads every entry; true when all of them came out as `expected` (by index).
bool ReadsBackExactly(const std::vector<std::uint8_t> &zip,
                      const std::vector<std::vector<std::uint8_t>> &expected, bool &refused) {
  TOpened zipped(zip);
  refused = true;
  if (zipped.Error != TZipError::None)
    return true;
  if (zipped.Entries.size() != expected.size())
    return false;
  for (std::size_t i = 0; i < zipped.Entries.size(); ++i) {
    TMemorySink sink;
    if (zipped.Reader.ExtractEntry(zipped.Entries[i], sink) != TZipError::None)
      return true;
    if (sink.Bytes != expected[i])
      return false;
  }
  refused = false;
  return true;
}

std::vector<TTestEntry> SmallEntries() {
  const TTestEntry deflated("two.txt", Text("deflated deflated deflated text"));
  TTestEntry described = deflated;
  described.Name = "three.txt";
  described.Flags = 0x0008;
  return {TTestEntry("one.txt", Text("stored text"), 0), deflated, described};
}

TEST(ZipReader, EveryTruncationAndByteChangeIsRefusedOrReadExactly) {
  auto entries = SmallEntries();
  std::vector<std::vector<std::uint8_t>> expected;
  for (const auto &e : entries)
    expected.push_back(e.Data);
  const auto zip = BuildZip(entries);
  bool refused = false;
  ASSERT_TRUE(ReadsBackExactly(zip, expected, refused));
  ASSERT_FALSE(refused);

  int accepted = 0;
  for (std::size_t length = 0; length < zip.size(); ++length) {
    SCOPED_TRACE("truncated to " + std::to_string(length));
    std::vector<std::uint8_t> cut(zip.begin(), zip.begin() + static_cast<long>(length));
    ASSERT_TRUE(ReadsBackExactly(cut, expected, refused));
    EXPECT_TRUE(refused);
  }
  for (std::size_t at = 0; at < zip.size(); ++at) {
    for (int value = 0; value < 256; ++value) {
      if (value == zip[at])
        continue;
      auto changed = zip;
      changed[at] = static_cast<std::uint8_t>(value);
      ASSERT_TRUE(ReadsBackExactly(changed, expected, refused))
          << "byte " << at << " set to " << value;
      accepted += refused ? 0 : 1;
    }
  }
  // Dates, attributes and the like may change freely; data never does.
  EXPECT_GT(accepted, 0);
}

TEST(ZipReader, BrokenEntriesGiveTheMatchingError) {
  struct TCase {
    const char *Name;
    void (*Break)(TTestEntry &);
    TZipError Expected;
  } cases[] = {
      {"crc", [](TTestEntry &e) { e.OverrideCrc = true, e.Crc = 0x12345678; }, TZipError::Crc},
      {"crc, stored", [](TTestEntry &e) { e.Method = 0, e.OverrideCrc = true, e.Crc = 0x12345678; },
       TZipError::Crc},
      {"size too large",
       [](TTestEntry &e) {
         e.OverrideSize = true, e.UncompressedSize = std::uint32_t(e.Data.size() + 1);
       },
       TZipError::Crc},
      {"size too small",
       [](TTestEntry &e) {
         e.OverrideSize = true, e.UncompressedSize = std::uint32_t(e.Data.size() - 1);
       },
       TZipError::Crc},
      {"stored size mismatch",
       [](TTestEntry &e) {
         e.Method = 0, e.OverrideSize = true, e.UncompressedSize = std::uint32_t(e.Data.size() - 1);
       },
       TZipError::BadArchive},
      {"encrypted", [](TTestEntry &e) { e.Flags = 0x0001; }, TZipError::Unsupported},
      {"bzip2", [](TTestEntry &e) { e.Method = 12; }, TZipError::Unsupported},
      {"deflate64", [](TTestEntry &e) { e.Method = 9; }, TZipError::Unsupported},
  };
  // Small entries are inflated inline, large ones on a second thread.
  for (const std::size_t size : {std::size_t(5000), std::size_t(700000)}) {
    for (const auto &c : cases) {
      SCOPED_TRACE(std::string(c.Name) + ", " + std::to_string(size) + " bytes");
      TTestEntry e("x.bin", testing_support::PatternBytes(size, 7));
      c.Break(e);
      const auto zip = BuildZip({e});
      TOpened zipped(zip);
      ASSERT_EQ(zipped.Error, TZipError::None);
      ASSERT_EQ(zipped.Entries.size(), 1u);
      TMemorySink sink;
      EXPECT_EQ(zipped.Reader.ExtractEntry(zipped.Entries[0], sink), c.Expected);
      EXPECT_LE(sink.Bytes.size(), e.Data.size());
    }
  }
}

// A read or a write that fails in the middle of a large entry ends it with
// that error, after exactly the bytes before it; the next one still reads.
TEST(ZipReader, FailuresInTheMiddleOfALargeEntryEndItThere) {
  struct TFailingSource : dunzip::TByteSource {
    dunzip::TMemorySource Inner;
    std::uint64_t FailAt; // a read of this byte fails
    TFailingSource(const std::vector<std::uint8_t> &zip, std::uint64_t failAt)
        : Inner(zip.data(), zip.size()), FailAt(failAt) {}
    std::uint64_t Size() const override { return Inner.Size(); }
    bool ReadAt(std::uint64_t offset, void *buffer, std::size_t count) override {
      return !(offset <= FailAt && FailAt - offset < count) && Inner.ReadAt(offset, buffer, count);
    }
  };
  struct TRefusingSink : TMemorySink {
    std::size_t Limit;
    explicit TRefusingSink(std::size_t limit) : Limit(limit) {}
    bool Write(const std::uint8_t *data, std::size_t count) override {
      return Bytes.size() + count <= Limit && TMemorySink::Write(data, count);
    }
  };
  // Half text, half noise: several output blocks per input block and back.
  std::vector<std::uint8_t> data = testing_support::PatternBytes(400000, 3);
  for (std::size_t i = 0; i < 400000; ++i)
    data.push_back(static_cast<std::uint8_t>("entry text "[i % 11]));
  const auto zip = BuildZip({TTestEntry("big.bin", data), TTestEntry("again.bin", data)});
  const std::size_t middle = zip.size() / 3;
  struct TCase {
    const char *What;
    std::uint64_t FailAt;
    std::size_t SinkLimit;
    TZipError Expected;
  } cases[] = {{"read", middle, SIZE_MAX, TZipError::Read},
               {"write", UINT64_MAX, 500000, TZipError::SinkFailed}};
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.What);
    TFailingSource source(zip, c.FailAt);
    dunzip::TZipReader reader(source);
    std::vector<TZipEntry> entries;
    ASSERT_EQ(reader.ReadCentralDirectory(entries), TZipError::None);
    TRefusingSink sink(c.SinkLimit);
    EXPECT_EQ(reader.ExtractEntry(entries.at(0), sink), c.Expected);
    ASSERT_GT(sink.Bytes.size(), 0u);
    EXPECT_TRUE(std::equal(sink.Bytes.begin(), sink.Bytes.end(), data.begin()));
    if (c.FailAt == UINT64_MAX) {
      TMemorySink next;
      EXPECT_EQ(reader.ExtractEntry(entries.at(1), next), TZipError::None);
      EXPECT_TRUE(next.Bytes == data);
    }
  }
}

// A deflate stream that expands far beyond its declared size stops at the
// declared size.
TEST(ZipReader, OutputNeverExceedsTheDeclaredSize) {
  TTestEntry e("bomb.bin", std::vector<std::uint8_t>(4 * 1024 * 1024, 0));
  e.OverrideSize = true;
  e.UncompressedSize = 1000;
  const auto zip = BuildZip({e});
  TOpened zipped(zip);
  ASSERT_EQ(zipped.Error, TZipError::None);
  TMemorySink sink;
  EXPECT_NE(zipped.Reader.ExtractEntry(zipped.Entries.at(0), sink), TZipError::None);
  EXPECT_LE(sink.Bytes.size(), 1000u);
}

// Thousands of central records naming one entry would unpack into many times
// the archive's size; the directory itself is refused.
TEST(ZipReader, CentralRecordsSharingOneEntryAreRefused) {
  std::vector<TTestEntry> entries(3000,
                                  TTestEntry("large.bin", std::vector<std::uint8_t>(4096, 0)));
  for (std::size_t i = 1; i < entries.size(); ++i)
    entries[i].CentralOffset = 0;
  EXPECT_EQ(TOpened(BuildZip(entries)).Error, TZipError::BadArchive);
}

// The directory is read through a window of 64 KiB: records crossing its
// edge, and one longer than the window, read back whole and in order.
TEST(ZipReader, DirectoryLargerThanTheReadWindowReadsBackInOrder) {
  std::vector<TTestEntry> entries;
  std::vector<std::vector<std::uint8_t>> expected;
  for (int i = 0; i < 700; ++i) {
    TTestEntry e("folder/entry" + std::to_string(i) + std::string(i % 97, 'n') + ".txt",
                 Text(std::to_string(i)), 0);
    if (i == 350) {
      e.Extra = {0xFE, 0xCA, 0xF0, 0xFF}; // one block of 65,520 bytes
      e.Extra.resize(4 + 0xFFF0, 0x5A);
    }
    entries.push_back(e);
    expected.push_back(e.Data);
  }
  auto zip = BuildZip(entries);
  bool refused = true;
  EXPECT_TRUE(ReadsBackExactly(zip, expected, refused));
  EXPECT_FALSE(refused);
  TOpened zipped(zip);
  ASSERT_EQ(zipped.Error, TZipError::None);
  ASSERT_EQ(zipped.Entries.size(), entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i)
    EXPECT_EQ(zipped.Entries[i].RawName, entries[i].Name);
}

std::vector<std::uint8_t> ReadArchive(const std::string &name) {
  return testing_support::ReadWholeFile(
      testing_support::JoinPath(dunzip_test::ArchiveFolder(), name));
}

TEST(ZipReader, Zip64RecordsAndExtraFieldsOfInfoZipAreRead) {
  ASSERT_FALSE(dunzip_test::ArchiveFolder().empty()) << "run with --archives=<folder>";
  for (const char *name : {"infozip_zip64.zip", "infozip_stdout_zip64.zip", "infozip_stdin.zip"}) {
    SCOPED_TRACE(name);
    auto zip = ReadArchive(name);
    ASSERT_FALSE(zip.empty());
    TOpened zipped(zip);
    ASSERT_EQ(zipped.Error, TZipError::None);
    for (const auto &entry : zipped.Entries) {
      if (entry.IsFolder())
        continue;
      TMemorySink sink;
      EXPECT_EQ(zipped.Reader.ExtractEntry(entry, sink), TZipError::None) << entry.RawName;
      EXPECT_EQ(sink.Bytes.size(), entry.UncompressedSize);
    }
  }
}

} // namespace
