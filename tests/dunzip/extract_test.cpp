// Function code 8 end to end on real files: the archives of the setup step
// unpacked flat and byte-identical with their dates and attributes, broken
// and hostile archives refused without a trace outside the destination,
// overwriting, questions, progress, cancelling and write failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "dunzip/dunzip_command.h"
#include "dunzip/extract.h"
#include "platform/files.h"
#include "tests/dunzip/dunzip_test_support.h"
#include "tests/support/fault_walk.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"
#include "util/byte_order.h"

namespace {

using dunzip_test::ListFolder;
using dunzip_test::TCommand;
using testing_support::BuildZip;
using testing_support::ReadWholeFile;
using testing_support::TTempFolder;
using testing_support::TTestEntry;
constexpr auto Join = testing_support::JoinPath;

std::int32_t Execute(TCommand &command) {
  return dunzip::RunCommand(command.Record().data());
}

std::string FromHex(const std::string &hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

struct TExpectedFile {
  std::string Name, Expected, DosTime, Attributes;
};

std::map<std::string, std::vector<TExpectedFile>> ReadManifest() {
  std::map<std::string, std::vector<TExpectedFile>> archives;
  std::istringstream in(
      testing_support::ReadWholeText(Join(dunzip_test::ArchiveFolder(), "manifest.txt")));
  std::string line, current;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind;
    fields >> kind;
    if (kind == "archive") {
      fields >> current;
      archives[current];
    } else if (kind == "file") {
      TExpectedFile f;
      std::string hex;
      fields >> hex >> f.Expected >> f.DosTime >> f.Attributes;
      f.Name = FromHex(hex);
      archives[current].push_back(f);
    }
  }
  return archives;
}

void ExpectProgressComplete(const dunzip_test::TStatusLog &major,
                            const dunzip_test::TStatusLog &minor, std::size_t files) {
  ASSERT_FALSE(major.Percents.empty());
  EXPECT_EQ(major.Percents.back(), 100);
  EXPECT_TRUE(std::is_sorted(major.Percents.begin(), major.Percents.end()));
  std::size_t finals = 0;
  for (std::size_t i = 0; i < minor.Percents.size(); ++i) {
    EXPECT_GE(minor.Percents[i], 0);
    EXPECT_LE(minor.Percents[i], 100);
    if (minor.Percents[i] == 100)
      ++finals;
    if (i > 0 && minor.Items[i] == minor.Items[i - 1] && minor.Percents[i - 1] != 100) {
      EXPECT_GE(minor.Percents[i], minor.Percents[i - 1]);
    }
  }
  EXPECT_EQ(finals, files);
}

TEST(Extract, ArchivesOfCommonToolsUnpackFlatAndIdentical) {
  ASSERT_FALSE(dunzip_test::ArchiveFolder().empty()) << "run with --archives=<folder>";
  auto archives = ReadManifest();
  // Archives of a missing maker are left out; Python's are always there.
  ASSERT_GE(archives.size(), 4u);
  for (const auto &[archive, files] : archives) {
    SCOPED_TRACE(archive);
    TTempFolder dest;
    TCommand command(Join(dunzip_test::ArchiveFolder(), archive), dest.Path());
    ASSERT_EQ(Execute(command), 0);
    std::vector<std::string> names;
    for (const auto &f : files)
      names.push_back(f.Name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(ListFolder(dest.Path()), names);
    for (const auto &f : files) {
      SCOPED_TRACE(f.Name);
      std::string path = Join(dest.Path(), f.Name);
      EXPECT_EQ(ReadWholeFile(path),
                ReadWholeFile(Join(Join(dunzip_test::ArchiveFolder(), "expected"), f.Expected)));
      std::uint32_t dosTime = 0;
      if (f.DosTime != "-") {
        ASSERT_TRUE(platform::GetDosTime(path, dosTime));
        EXPECT_EQ(dosTime, std::stoul(f.DosTime, nullptr, 16));
      }
      std::uint32_t attributes = 0;
      ASSERT_TRUE(platform::GetAttributes(path, attributes));
      std::uint32_t expected = f.Attributes == "-" ? 0 : std::stoul(f.Attributes, nullptr, 16);
      EXPECT_EQ(attributes & platform::faReadOnly, expected & platform::faReadOnly);
      if (testing_support::RunningOnWindows()) {
        std::uint32_t mask = platform::faHidden | platform::faSysFile;
        EXPECT_EQ(attributes & mask, expected & mask);
      }
    }
    ExpectProgressComplete(command.Major, command.Minor, files.size());
    EXPECT_TRUE(command.Messages.Ids.empty());
  }
}

// A scratch folder with the archive x.zip and the empty destination "out".
struct TArchiveRun {
  TTempFolder Folder;
  std::string Zip = Join(Folder.Path(), "x.zip");
  std::string Dest = Join(Folder.Path(), "out");

  explicit TArchiveRun(const std::vector<std::uint8_t> &zip) {
    EXPECT_TRUE(testing_support::WriteWholeFile(Zip, zip));
    EXPECT_TRUE(testing_support::MakeFolder(Dest));
  }
  TCommand Command() const { return TCommand(Zip, Dest); }
};

using TOriginals = std::map<std::string, std::vector<std::uint8_t>>;

// A run that may have failed leaves only complete originals, and all of them
// when it succeeded.
void ExpectOnlyOriginals(std::int32_t result, const std::string &out, const TOriginals &originals) {
  const auto names = ListFolder(out);
  if (result == 0) {
    EXPECT_EQ(names.size(), originals.size());
  }
  for (const auto &name : names) {
    ASSERT_EQ(originals.count(name), 1u) << name;
    EXPECT_EQ(ReadWholeFile(Join(out, name)), originals.at(name)) << name;
  }
}

struct TBrokenCase {
  const char *Label;
  std::vector<TTestEntry> Entries;
  std::size_t Cut = 0;                // archive cut to this many bytes when not 0
  std::vector<std::uint8_t> Zip = {}; // not empty: the archive, Entries unused
};

TTestEntry Entry(std::string name, std::size_t size = 3000, std::uint16_t method = 8) {
  return {std::move(name), testing_support::PatternBytes(size, static_cast<std::uint32_t>(size)),
          method};
}

template <typename TChange> TTestEntry Changed(TTestEntry e, TChange change) {
  change(e);
  return e;
}

// An entry that declares `size` bytes through a ZIP64 extra block.
TTestEntry Declaring(std::string name, std::uint64_t size) {
  return Changed(Entry(std::move(name), 10), [size](TTestEntry &e) {
    e.OverrideSize = true;
    e.UncompressedSize = 0xFFFFFFFF;
    e.Extra = {0x01, 0x00, 8, 0};
    util::AppendLE(e.Extra, 8, size);
  });
}

// Two stored entries, the second one's local header and data lying inside
// the first one's data.
std::vector<TTestEntry> NestedEntries() {
  auto inner = Entry("inner.txt", 100, 0);
  const auto innerZip = BuildZip({inner});
  auto outer = Entry("outer.txt", 0, 0);
  const std::size_t localHeader = 30;
  const auto innerRecord = static_cast<long>(localHeader + inner.Name.size() + inner.Data.size());
  outer.Data.assign(innerZip.begin(), innerZip.begin() + innerRecord);
  inner.CentralOffset = static_cast<std::int64_t>(localHeader + outer.Name.size());
  return {outer, inner};
}

// Two stored entries, the second one's local header one byte back, on the
// last byte of the first one's data (a 'P', as its signature begins).
std::vector<std::uint8_t> HeaderOnLastDataByte() {
  auto first = Entry("a.txt", 0, 0);
  first.Data = {'P'};
  auto zip = BuildZip({first, Entry("b.txt", 100, 0)});
  zip.erase(zip.begin() + 30 + 5 + 1);
  const std::uint32_t directory = util::GetU32(zip.data(), zip.size() - 6) - 1;
  util::PutU32(zip.data(), zip.size() - 6, directory);
  util::PutU32(zip.data(), directory + 46 + 5 + 42, 30 + 5);
  return zip;
}

// Nothing may appear beside the destination, and a refused archive leaves
// nothing in it either: names and methods are checked before writing, and
// data goes to a temporary file first.
TEST(Extract, BrokenAndHostileArchivesFailWithoutATrace) {
  auto good = Entry("good.txt");
  std::vector<TBrokenCase> cases = {
      {"crc mismatch", {Changed(Entry("a.txt"), [](TTestEntry &e) { e.OverrideCrc = true; })}},
      {"crc mismatch, stored",
       {Changed(Entry("a.txt", 3000, 0), [](TTestEntry &e) { e.OverrideCrc = true; })}},
      {"size larger than data",
       {Changed(Entry("a.txt"),
                [](TTestEntry &e) { e.OverrideSize = true, e.UncompressedSize = 3001; })}},
      {"size smaller than data",
       {Changed(Entry("a.txt"),
                [](TTestEntry &e) { e.OverrideSize = true, e.UncompressedSize = 2999; })}},
      {"stored size lies",
       {Changed(Entry("a.txt", 3000, 0),
                [](TTestEntry &e) { e.OverrideSize = true, e.UncompressedSize = 10; })}},
      {"truncated", {Entry("a.txt"), Entry("b.txt")}, 2000},
      {"parent folder", {Entry("../evil.txt")}},
      {"parent folder, backslash", {Entry("..\\evil.txt")}},
      {"parent folder behind a subfolder", {Entry("sub/../../evil.txt")}},
      {"drive path", {Entry("C:\\evil.txt")}},
      {"drive relative", {Entry("C:evil.txt")}},
      {"absolute", {Entry("/evil.txt")}},
      {"parent folder entry", {Entry("../", 0, 0)}},
      {"encrypted", {Changed(Entry("a.txt"), [](TTestEntry &e) { e.Flags = 0x0001; })}},
      {"bzip2", {Entry("a.txt", 3000, 12)}},
      {"forbidden character", {Entry("a<b>.txt")}},
      {"control character", {Entry("a\tb.txt")}},
      {"device name", {Entry("NUL.txt")}},
      {"dot name", {Entry("sub/.")}},
      {"empty name", {Entry("")}},
      {"not in Windows-1252",
       {Changed(Entry("\xE6\x97\xA5.txt"), [](TTestEntry &e) { e.Flags = 0x0800; })}},
      {"bad name after a good entry", {good, Entry("../evil.txt")}},
      {"entries sharing one local header",
       {good, Changed(good, [](TTestEntry &e) { e.CentralOffset = 0; })}},
      {"an entry inside another one's data", NestedEntries()},
      {"a local header on the last byte of the data before it", {}, 0, HeaderOnLastDataByte()},
      {"larger than the free space", {good, Declaring("huge.bin", std::uint64_t(1) << 62)}},
      {"sizes that wrap around past 2^64",
       {good, Declaring("half1.bin", std::uint64_t(1) << 63),
        Declaring("half2.bin", std::uint64_t(1) << 63)}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Label);
    auto zip = c.Zip.empty() ? BuildZip(c.Entries) : c.Zip;
    if (c.Cut != 0)
      zip.resize(c.Cut);
    TArchiveRun run(zip);
    TCommand command = run.Command();
    EXPECT_NE(Execute(command), 0);
    EXPECT_EQ(ListFolder(run.Folder.Path()), (std::vector<std::string>{"out", "x.zip"}));
    EXPECT_EQ(ListFolder(run.Dest), std::vector<std::string>{});
    std::uint32_t attributes = 0;
    EXPECT_FALSE(platform::GetAttributes("C:\\evil.txt", attributes));
  }
}

TEST(Extract, ExistingFilesAreReplacedReadOnlyIncluded) {
  auto a = Entry("a.txt"), b = Entry("b.txt");
  TArchiveRun run(BuildZip({a, b}));
  const std::string &dest = run.Dest;
  ASSERT_TRUE(testing_support::WriteWholeFile(Join(dest, "a.txt"), "old"));
  ASSERT_TRUE(testing_support::WriteWholeFile(Join(dest, "B.TXT"), "old, read-only"));
  ASSERT_TRUE(platform::SetAttributes(Join(dest, "B.TXT"), platform::faReadOnly));
  TCommand command = run.Command();
  ASSERT_EQ(Execute(command), 0);
  EXPECT_EQ(ReadWholeFile(Join(dest, "a.txt")), a.Data);
  EXPECT_EQ(ReadWholeFile(Join(dest, "b.txt")), b.Data);
  EXPECT_EQ(ListFolder(dest).size(), 2u);
  EXPECT_TRUE(command.Messages.Ids.empty());
}

// Without OverWriteFlag or USO_OVERWRITE_RO the library asks; a yes replaces,
// anything else keeps the old file.
TEST(Extract, ReplacingAsksWhenTheOptionsDoNotAllowIt) {
  struct TCase {
    const char *Label;
    bool OverWrite;
    std::uint16_t SubOptions;
    bool ReadOnly;
    std::int32_t Answer;
    std::vector<std::uint16_t> Asked;
    bool Replaced;
  } cases[] = {
      {"no overwrite, yes",
       false,
       0x0003,
       false,
       dunzip::IdYes,
       {dunzip::MsgOverwriteExisting},
       true},
      {"no overwrite, no", false, 0x0003, false, 7, {dunzip::MsgOverwriteExisting}, false},
      {"read-only, ok", true, 0x0002, true, dunzip::IdOk, {dunzip::MsgOverwriteReadOnly}, true},
      {"read-only, cancel", true, 0x0002, true, 2, {dunzip::MsgOverwriteReadOnly}, false},
      {"read-only allowed", true, 0x0003, true, 7, {}, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Label);
    auto a = Entry("a.txt");
    TArchiveRun run(BuildZip({a}));
    std::string target = Join(run.Dest, "a.txt");
    ASSERT_TRUE(testing_support::WriteWholeFile(target, "old"));
    if (c.ReadOnly) {
      ASSERT_TRUE(platform::SetAttributes(target, platform::faReadOnly));
    }
    TCommand command = run.Command();
    command.OverWrite = c.OverWrite;
    command.SubOptions = c.SubOptions;
    command.Messages.Answer = c.Answer;
    ASSERT_EQ(Execute(command), 0);
    EXPECT_EQ(command.Messages.Ids, c.Asked);
    if (!c.Asked.empty()) {
      EXPECT_NE(command.Messages.Texts[0].find("a.txt"), std::string::npos);
    }
    EXPECT_EQ(ReadWholeFile(target) == a.Data, c.Replaced);
  }
}

TEST(Extract, SelectionByFileSpecAndIndex) {
  struct TCase {
    const char *Spec;
    std::int32_t Index;
    std::vector<std::string> Expected;
  } cases[] = {
      {"*.*", -1, {"a.txt", "b.dat", "c.txt"}},
      {"*.txt", -1, {"a.txt", "c.txt"}},
      {"B.*", -1, {"b.dat"}},
      {"?.txt", 2, {"c.txt"}},
      {"*.*", 1, {"b.dat"}},
      {"*.txt", 1, {}},
      {"", -1, {"a.txt", "b.dat", "c.txt"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.Spec) + " " + std::to_string(c.Index));
    TArchiveRun run(BuildZip({Entry("a.txt"), Entry("dir/b.dat", 10, 0), Entry("c.txt", 0)}));
    TCommand command = run.Command();
    command.FileSpec = c.Spec;
    command.IndexofItem = c.Index;
    ASSERT_EQ(Execute(command), 0);
    EXPECT_EQ(ListFolder(run.Dest), c.Expected);
  }
}

// Info-ZIP's Unicode path field names the file when it belongs to this name
// (version 1, its CRC-32 matches the header name); otherwise the header name
// counts.
TEST(Extract, UnicodePathFieldNamesTheFileWhenItMatches) {
  struct TCase {
    const char *Label;
    std::uint32_t CrcChange;
    std::uint8_t Version;
    bool Used;
  } cases[] = {{"matching", 0, 1, true}, {"other name", 1, 1, false}, {"version 2", 0, 2, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Label);
    auto e = Entry("a.txt");
    const std::string unicode = "\xC3\xA4.txt";
    std::uint32_t crc = testing_support::Crc32({e.Name.begin(), e.Name.end()}) ^ c.CrcChange;
    auto size = static_cast<std::uint8_t>(5 + unicode.size());
    e.Extra = {0x75, 0x70, size, 0, c.Version};
    util::AppendU32(e.Extra, crc);
    e.Extra.insert(e.Extra.end(), unicode.begin(), unicode.end());
    TArchiveRun run(BuildZip({e}));
    TCommand command = run.Command();
    ASSERT_EQ(Execute(command), 0);
    EXPECT_EQ(ListFolder(run.Dest), std::vector<std::string>{c.Used ? "\xE4.txt" : "a.txt"});
  }
}

// With folder names kept, files land in their folders and folder entries
// become folders.
TEST(Extract, FolderNamesAreKeptWhenAsked) {
  auto a = Entry("sub/deeper/a.txt");
  TArchiveRun run(BuildZip({Entry("empty/", 0, 0), a, Entry("b.txt")}));
  TCommand command = run.Command();
  command.NoDirectoryNames = false;
  command.NoDirectoryItems = false;
  ASSERT_EQ(Execute(command), 0);
  EXPECT_EQ(ListFolder(run.Dest), (std::vector<std::string>{"b.txt", "empty", "sub"}));
  EXPECT_EQ(ReadWholeFile(Join(Join(Join(run.Dest, "sub"), "deeper"), "a.txt")), a.Data);
  EXPECT_EQ(command.Minor.Items.front(), "sub\\deeper\\a.txt");
}

TEST(Extract, StatusEntriesGetTheirUserDataAndCanCancel) {
  TArchiveRun run(BuildZip({Entry("a.txt", 400000), Entry("b.txt", 100)}));
  TCommand plain = run.Command();
  ASSERT_EQ(Execute(plain), 0);
  ExpectProgressComplete(plain.Major, plain.Minor, 2);
  EXPECT_EQ(plain.Minor.Items.front(), "a.txt");
  EXPECT_EQ(plain.Minor.Items.back(), "b.txt");
  EXPECT_EQ(plain.Minor.Percents.front(), 0);
  EXPECT_GT(plain.Minor.Percents.size(), 4u); // progress inside the large entry
  // A file in one piece: its name at 0, then 100 once it is in place.
  EXPECT_EQ(std::count(plain.Minor.Items.begin(), plain.Minor.Items.end(), "b.txt"), 2);
  EXPECT_EQ(plain.Minor.Percents.back(), 100);

  struct TCase {
    const char *Label;
    bool CancelMajor;
    std::uint16_t SubOptions;
    bool Cancelled;
  } cases[] = {
      {"major", true, 0x0003, true},
      {"minor with USO_MINORCANCEL", false, 0x0003, true},
      {"minor without USO_MINORCANCEL", false, 0x0001, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Label);
    TCommand command = run.Command();
    command.SubOptions = c.SubOptions;
    (c.CancelMajor ? command.Major : command.Minor).CancelAt = 1;
    std::int32_t result = Execute(command);
    EXPECT_EQ(result != 0, c.Cancelled);
    if (c.Cancelled) {
      EXPECT_EQ(result, dunzip::dzCancelled);
    }
  }
}

TEST(Extract, RecordsOtherThanExtractAreRefused) {
  TArchiveRun run(BuildZip({Entry("a.txt")}));
  for (std::int32_t code : {0, 1, 6, 7, 9, -1}) {
    SCOPED_TRACE(code);
    TCommand command = run.Command();
    command.FunctionCode = code;
    EXPECT_EQ(Execute(command), dunzip::dzNotSupported);
  }
  TCommand command = run.Command();
  auto &record = command.Record();
  dunzip::PutU32(record.data(), dunzip::Cmd.RecordSize, dunzip::CommandSize + 1);
  EXPECT_EQ(dunzip::RunCommand(record.data()), dunzip::dzBadCommand);
  EXPECT_EQ(dunzip::RunCommand(nullptr), dunzip::dzBadCommand);
  TCommand missing(Join(run.Folder.Path(), "missing.zip"), run.Dest);
  EXPECT_EQ(Execute(missing), dunzip::dzOpenFailed);
  EXPECT_TRUE(ListFolder(run.Dest).empty());
}

// Files already in the destination are complete originals after any single
// failing file operation (a full disk included); no temporary file stays.
TEST(Extract, AFailingFileOperationLeavesOnlyCompleteFiles) {
  auto a = Entry("a.txt", 200000), b = Entry("b.txt", 300000, 0);
  TArchiveRun archive(BuildZip({a, b}));
  const TOriginals originals = {{"a.txt", a.Data}, {"b.txt", b.Data}};

  TCommand counting = archive.Command();
  const auto count =
      testing_support::CountFaultOperations([&] { ASSERT_EQ(Execute(counting), 0); });
  ASSERT_GT(count, 4u);
  for (bool diskFull : {true, false}) {
    SCOPED_TRACE(diskFull ? "disk full" : "failure");
    testing_support::ForEachFault(
        testing_support::FaultNumbers(count), diskFull,
        [](std::uint64_t) { return std::make_unique<TTempFolder>(); },
        [&](TTempFolder &out, std::uint64_t) {
          TCommand command(archive.Zip, out.Path());
          return Execute(command);
        },
        [&](TTempFolder &out, std::int32_t result, std::uint64_t) {
          ExpectOnlyOriginals(result, out.Path(), originals);
        });
  }
}

// File-level hostile input: the archive cut at every length and every byte
// inverted. Each run either fails or yields exactly the original files, and
// nothing appears beside the destination.
TEST(Extract, EveryTruncationAndByteChangeOfASmallArchiveIsSafe) {
  auto a = Entry("a.txt", 40, 0), b = Entry("b.txt", 60);
  auto zip = BuildZip({a, b});
  const TOriginals originals = {{"a.txt", a.Data}, {"b.txt", b.Data}};
  std::vector<std::vector<std::uint8_t>> variants;
  for (std::size_t length = 0; length < zip.size(); ++length)
    variants.emplace_back(zip.begin(), zip.begin() + static_cast<long>(length));
  for (std::size_t at = 0; at < zip.size(); ++at) {
    variants.push_back(zip);
    variants.back()[at] ^= 0xFF;
  }
  TTempFolder parent;
  std::string archive = Join(parent.Path(), "x.zip");
  for (std::size_t i = 0; i < variants.size(); ++i) {
    SCOPED_TRACE(i < zip.size() ? "cut to " + std::to_string(i)
                                : "byte " + std::to_string(i - zip.size()) + " inverted");
    std::string out = Join(parent.Path(), "out" + std::to_string(i));
    ASSERT_TRUE(testing_support::MakeFolder(out));
    ASSERT_TRUE(testing_support::WriteWholeFile(archive, variants[i]));
    TCommand command(archive, out);
    ExpectOnlyOriginals(Execute(command), out, originals);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ListFolder(parent.Path()).size(), i + 2);
  }
}

} // namespace
