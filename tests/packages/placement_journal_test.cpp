// The placement journal: a part that is not whole and unchanged is never
// believed, one size bound holds for writing and reading, and recovery puts
// a half-placed package back by what the files hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packages/package_format.h"
#include "packages/placement_journal.h"
#include "platform/files.h"
#include "tests/support/test_support.h"

namespace {

using packages::TPlacementJournal;
using packages::TRecovery;
using packages::TSideNames;
using testing_support::FileExists;
using testing_support::ReadWholeText;
using testing_support::TTempFolder;
using testing_support::WriteWholeFile;

constexpr std::uint32_t Id = 0xA1B2C3D4;

TPlacementJournal Sample() {
  TPlacementJournal journal;
  journal.State = TPlacementJournal::TState::Placing;
  journal.PackagesTaken = true;
  journal.Id = Id;
  journal.Record.PackageName = "PROGRAMM.PKG";
  journal.Record.Offset = 5809 + 294;
  journal.Record.Before.fill(0x11);
  journal.Cleaning.push_back({packages::TCleanFile::TFolder::Download, "P.PKG", 77, 0x5A5A1234});
  journal.AddFile("C:\\P\\a.dll", Id, 1, TSideNames::Long, true, {5, 0xAAAA}, {6, 0xBBBB});
  journal.AddFile("C:\\P\\b.txt", Id, 2, TSideNames::Short, false, {7, 0xCCCC});
  journal.Leftovers.push_back({journal.AddPath("C:\\P\\~zrk00000001_7.bak"), {8, 0xDDDD}});
  return journal;
}

TEST(PlacementJournal, OnlyWholeUnchangedPartsAreBelieved) {
  const TPlacementJournal sample = Sample();
  const std::vector<std::uint8_t> main = packages::EncodeJournal(sample);
  const std::vector<std::uint8_t> part = packages::EncodePart(sample, 0);
  TPlacementJournal read;
  ASSERT_TRUE(packages::DecodeJournal(main, read));
  EXPECT_EQ(packages::EncodeJournal(read), main);
  ASSERT_TRUE(packages::DecodePart(part, "C:\\P\\", read));
  EXPECT_EQ(packages::EncodePart(read, 0), part);
  ASSERT_EQ(read.Files.size(), 2u);
  EXPECT_EQ(read.BackupOf(read.Files[0]), "C:\\P\\~zrkA1B2C3D4_1.bak");
  EXPECT_EQ(read.TempOf(read.Files[0]), "C:\\P\\~zrkA1B2C3D4_1.tmp");
  EXPECT_EQ(read.BackupOf(read.Files[1]), "C:\\P\\~A1B2C3D42b");
  EXPECT_EQ(read.TempOf(read.Files[1]), "C:\\P\\~A1B2C3D42");
  // Neither kind is taken for the other.
  EXPECT_FALSE(packages::DecodeJournal(part, read));
  EXPECT_FALSE(packages::DecodePart(main, "C:\\P\\", read));

  for (const auto *bytes : {&main, &part}) {
    for (std::size_t size = 0; size < bytes->size(); ++size) {
      SCOPED_TRACE("cut to " + std::to_string(size));
      const std::vector<std::uint8_t> cut(bytes->begin(), bytes->begin() + size);
      EXPECT_FALSE(packages::DecodeJournal(cut, read) || packages::DecodePart(cut, "C:\\", read));
    }
    for (std::size_t i = 0; i < bytes->size(); ++i) {
      SCOPED_TRACE("byte " + std::to_string(i) + " changed");
      std::vector<std::uint8_t> changed = *bytes;
      changed[i] ^= 0x01;
      EXPECT_FALSE(packages::DecodeJournal(changed, read) ||
                   packages::DecodePart(changed, "C:\\", read));
    }
  }
}

// One bound of the whole file for writing and reading: a part of exactly the
// bound is written and obeyed; one a byte over it is never written, and the
// part before it stands.
TEST(PlacementJournal, APartOfExactlyTheBoundIsWrittenAndReadAndOneByteMoreIsNot) {
  TTempFolder root;
  const std::string folder = root / "";
  TPlacementJournal journal;
  journal.Path = root / "ZRKUPD.JNL";
  journal.Id = Id;
  // A new file takes 36 bytes and its name: long names grow the part to
  // the bound, the last one sets the byte.
  constexpr std::uint64_t Entry = 36;
  const std::string name(60000, 'n');
  const std::uint64_t base = packages::JournalSize(journal);
  const std::uint64_t files = (packages::MaxJournalSize - base - Entry - 1) / (Entry + 60001);
  for (std::uint32_t i = 0; i < files; ++i)
    journal.AddFile(folder + name + std::to_string(i % 10), Id, i + 2, TSideNames::Long, false);
  const std::uint64_t missing = packages::MaxJournalSize - packages::JournalSize(journal);
  ASSERT_GT(missing, Entry);
  journal.AddFile(folder + std::string(missing - Entry, 'z'), Id, 1, TSideNames::Long, false);
  ASSERT_EQ(packages::JournalSize(journal), packages::MaxJournalSize);
  ASSERT_TRUE(packages::WriteJournal(journal));
  const std::string part = packages::JournalPartIn(folder);
  EXPECT_EQ(ReadWholeText(part).size(), packages::MaxJournalSize);

  TPlacementJournal read;
  packages::TJournalTrust trust;
  trust.AdminPath = root / "UPDADMIN.VAB";
  trust.Folders = {folder};
  ASSERT_EQ(packages::RecoverPlacement(trust, read), TRecovery::Done);
  EXPECT_FALSE(FileExists(packages::RefusedPath(part, 1)));

  ASSERT_TRUE(packages::WriteJournal(journal));
  const std::string written = ReadWholeText(part);
  journal.Names += "z";
  journal.Files.back().Destination.Length += 1;
  EXPECT_EQ(packages::JournalSize(journal), packages::MaxJournalSize + 1ull);
  EXPECT_FALSE(packages::WriteJournal(journal));
  EXPECT_TRUE(ReadWholeText(part) == written);

  // Read, a whole part one byte over is refused before anything of it is
  // done: the last name grown by a byte, the header's length and CRC-32 set
  // to match. The body ends with that name's 34 bytes of numbers and the
  // count of leftovers.
  std::vector<std::uint8_t> over(written.begin(), written.end());
  const std::size_t length = missing - Entry;
  const std::size_t at = over.size() - 4 - 34 - length - 2;
  ASSERT_EQ(over[at] | over[at + 1] << 8, static_cast<int>(length));
  over[at] = static_cast<std::uint8_t>((length + 1) & 0xFF);
  over[at + 1] = static_cast<std::uint8_t>((length + 1) >> 8);
  over.insert(over.begin() + static_cast<std::ptrdiff_t>(at + 2), 'z');
  const std::uint32_t body = static_cast<std::uint32_t>(over.size() - packages::JournalHeaderSize);
  const std::uint32_t crc =
      ~packages::UpdateCrc32(over.data() + packages::JournalHeaderSize,
                             static_cast<std::int32_t>(body), packages::Crc32Start);
  for (int i = 0; i < 4; ++i) {
    over[4 + i] = static_cast<std::uint8_t>(body >> (8 * i));
    over[8 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
  }
  ASSERT_TRUE(packages::DecodePart(over, folder, read));
  ASSERT_TRUE(WriteWholeFile(part, over));
  EXPECT_EQ(packages::RecoverPlacement(trust, read), TRecovery::SetAside);
  EXPECT_NE(read.Problem.find("its size is not that of a journal"), std::string::npos)
      << read.Problem;
  EXPECT_TRUE(FileExists(packages::RefusedPath(part, 1)));
}

TEST(PlacementJournal, RecoveryPutsBackWhatTheFilesProveAndLeavesTheRest) {
  TTempFolder root;
  const std::string folder = root / "";
  const auto proof = [](const std::string &path) {
    packages::TProof p;
    EXPECT_TRUE(packages::ProofOf(path, p));
    return p;
  };
  TPlacementJournal journal;
  journal.Path = root / "ZRKUPD.JNL";
  journal.State = TPlacementJournal::TState::Placing;
  journal.PackagesTaken = true;
  journal.Id = Id;
  ASSERT_TRUE(WriteWholeFile(root / "old", "old a"));
  ASSERT_TRUE(WriteWholeFile(root / "new", "new a"));
  // a.dll: moved aside, new copy in place; b.txt: created; c.txt: not yet
  // moved aside; d.txt: its copy was under way; e.txt: the host's, of other
  // content than the run would have placed.
  journal.AddFile(folder + "a.dll", Id, 1, TSideNames::Long, true, proof(root / "new"),
                  proof(root / "old"));
  journal.AddFile(folder + "b.txt", Id, 2, TSideNames::Long, false, proof(root / "new"));
  journal.AddFile(folder + "c.txt", Id, 3, TSideNames::Long, true, proof(root / "new"),
                  proof(root / "old"));
  journal.AddFile(folder + "d.txt", Id, 4, TSideNames::Short, false, proof(root / "new"));
  journal.AddFile(folder + "e.txt", Id, 5, TSideNames::Long, false, proof(root / "new"));
  ASSERT_TRUE(packages::WriteJournal(journal));
  ASSERT_TRUE(platform::MoveFileReplacing(root / "old", journal.BackupOf(journal.Files[0])));
  ASSERT_TRUE(platform::SetAttributes(journal.BackupOf(journal.Files[0]), platform::faReadOnly));
  ASSERT_TRUE(platform::MoveFileReplacing(root / "new", root / "a.dll"));
  ASSERT_TRUE(WriteWholeFile(root / "b.txt", "new a"));
  ASSERT_TRUE(WriteWholeFile(root / "c.txt", "old c"));
  ASSERT_TRUE(WriteWholeFile(journal.TempOf(journal.Files[3]), "part"));
  ASSERT_TRUE(WriteWholeFile(root / "e.txt", "host's"));
  ASSERT_TRUE(WriteWholeFile(root / "ZRKUPD.JN~", "ZRJ3")); // being written when the run ended

  TPlacementJournal recovered;
  packages::TJournalTrust trust;
  trust.AdminPath = root / "UPDADMIN.VAB";
  trust.Folders = {folder};
  ASSERT_EQ(packages::RecoverPlacement(trust, recovered), TRecovery::Done);
  EXPECT_TRUE(recovered.PackagesTaken);
  EXPECT_EQ(ReadWholeText(root / "a.dll"), "old a");
  std::uint32_t attributes = 0;
  EXPECT_TRUE(platform::GetAttributes(root / "a.dll", attributes) &&
              (attributes & platform::faReadOnly) != 0);
  EXPECT_TRUE(platform::SetAttributes(root / "a.dll", platform::faArchive));
  EXPECT_EQ(ReadWholeText(root / "c.txt"), "old c");
  EXPECT_EQ(ReadWholeText(root / "e.txt"), "host's");
  for (const std::string &gone : {root / "b.txt", journal.BackupOf(journal.Files[0]),
                                  journal.TempOf(journal.Files[3]), root / "ZRKUPD.JN~"})
    EXPECT_FALSE(FileExists(gone)) << gone;

  // The end of the run removes both parts.
  packages::CloseJournal(recovered);
  EXPECT_FALSE(FileExists(journal.Path));
  EXPECT_FALSE(FileExists(packages::JournalPartIn(folder)));
}

} // namespace
