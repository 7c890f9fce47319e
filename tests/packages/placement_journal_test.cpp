// The placement journal: a journal that is not whole and unchanged is never
// believed, and recovery puts a half-placed package back, record included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packages/placement_journal.h"
#include "platform/files.h"
#include "tests/support/test_support.h"

namespace {

using packages::TPlacementJournal;
using packages::TRecovery;
using testing_support::FileExists;
using testing_support::ReadWholeText;
using testing_support::TTempFolder;
using testing_support::WriteWholeFile;

TPlacementJournal Sample() {
  TPlacementJournal journal;
  journal.State = TPlacementJournal::TState::Placing;
  journal.PackagesTaken = true;
  journal.Record.AdminPath = "C:\\KASSE\\UPDADMIN.VAB";
  journal.Record.Offset = 5809 + 294;
  journal.Record.Before.fill(0x11);
  journal.Record.After.fill(0x22);
  journal.AddFile("C:\\P\\a.dll", "C:\\P\\~zrk1.tmp", "C:\\P\\~zrk1.bak", true);
  journal.AddFile("C:\\P\\b.txt", "C:\\P\\~zrk2.tmp", "C:\\P\\~zrk2.bak", false);
  // Names other than the numbered ones beside the file are kept as they are.
  journal.AddFile("C:\\P\\c.txt", "C:\\T\\~zrk3.tmp", "C:\\P\\~zrk03.bak", true);
  journal.AddFile("C:\\P\\d.txt", "C:\\P\\~4", "C:\\P\\~4b", true);
  journal.Leftovers = {journal.AddPath("C:\\Q\\~zrk7.bak")};
  return journal;
}

TEST(PlacementJournal, OnlyAWholeUnchangedJournalIsBelieved) {
  const std::vector<std::uint8_t> bytes = packages::EncodeJournal(Sample());
  TPlacementJournal read;
  ASSERT_TRUE(packages::DecodeJournal(bytes, read));
  EXPECT_EQ(packages::EncodeJournal(read), bytes);
  ASSERT_EQ(read.Files.size(), 4u);
  EXPECT_EQ(read.BackupOf(read.Files[0]), "C:\\P\\~zrk1.bak");
  EXPECT_EQ(read.TempOf(read.Files[2]), "C:\\T\\~zrk3.tmp");
  EXPECT_EQ(read.BackupOf(read.Files[2]), "C:\\P\\~zrk03.bak");
  EXPECT_EQ(read.BackupOf(read.Files[3]), "C:\\P\\~4b");
  EXPECT_EQ(read.Record.Offset, 5809 + 294);

  for (std::size_t size = 0; size < bytes.size(); ++size) {
    SCOPED_TRACE("cut to " + std::to_string(size));
    EXPECT_FALSE(packages::DecodeJournal({bytes.begin(), bytes.begin() + size}, read));
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    SCOPED_TRACE("byte " + std::to_string(i) + " changed");
    std::vector<std::uint8_t> changed = bytes;
    changed[i] ^= 0x01;
    EXPECT_FALSE(packages::DecodeJournal(changed, read));
  }
}

// The journal is written in pieces with its header last: a journal of many
// pieces must come out as one encoding and read back the same.
TEST(PlacementJournal, AJournalWrittenInPiecesIsTheWholeEncoding) {
  TTempFolder root;
  TPlacementJournal journal = Sample();
  journal.Path = root / "ZRKUPD.JNL";
  for (int i = 0; i < 3000; ++i) {
    const std::string n = std::to_string(i);
    journal.AddFile("D:\\Kasse\\Programm\\file" + n + ".dat",
                    "D:\\Kasse\\Programm\\~zrk" + n + ".tmp",
                    "D:\\Kasse\\Programm\\~zrk" + n + ".bak", i % 2 == 0);
  }
  const std::vector<std::uint8_t> bytes = packages::EncodeJournal(journal);
  ASSERT_GT(bytes.size(), 3u * 64 * 1024);
  ASSERT_TRUE(packages::WriteJournal(journal));
  const std::string written = ReadWholeText(journal.Path);
  EXPECT_TRUE(written == std::string(bytes.begin(), bytes.end()));
  TPlacementJournal read;
  ASSERT_TRUE(packages::DecodeJournal(bytes, read));
  ASSERT_EQ(read.Files.size(), journal.Files.size());
  EXPECT_EQ(read.TempOf(read.Files.back()), "D:\\Kasse\\Programm\\~zrk2999.tmp");
  EXPECT_EQ(read.PathOf(read.Leftovers[0]), "C:\\Q\\~zrk7.bak");

  // A path longer than its length field is refused, not cut; the journal before stands.
  journal.Record.AdminPath.assign(70000, 'x');
  EXPECT_FALSE(packages::WriteJournal(journal));
  EXPECT_TRUE(ReadWholeText(journal.Path) == written);
}

TEST(PlacementJournal, RecoveryPutsTheHalfPlacedPackageBackAndKeepsTheTakenFlag) {
  TTempFolder root;
  const std::string admin = root / "UPDADMIN.VAB";
  TPlacementJournal journal;
  journal.Path = root / "ZRKUPD.JNL";
  journal.State = TPlacementJournal::TState::Placing;
  journal.PackagesTaken = true;
  journal.Record.AdminPath = admin;
  journal.Record.Offset = 4;
  journal.Record.Before.fill('o');
  journal.Record.After.fill('n');
  // a.dll: moved aside, new copy in place; b.txt: created; c.txt: not yet
  // moved aside; d.txt: its copy was under way.
  journal.AddFile(root / "a.dll", root / "~zrk1.tmp", root / "~zrk1.bak", true);
  journal.AddFile(root / "b.txt", root / "~zrk2.tmp", root / "~zrk2.bak", false);
  journal.AddFile(root / "c.txt", root / "~zrk3.tmp", root / "~zrk3.bak", true);
  journal.AddFile(root / "d.txt", root / "~zrk4.tmp", root / "~zrk4.bak", false);
  ASSERT_TRUE(packages::WriteJournal(journal));
  ASSERT_TRUE(WriteWholeFile(root / "~zrk1.bak", "old a"));
  ASSERT_TRUE(platform::SetAttributes(root / "~zrk1.bak", platform::faReadOnly));
  ASSERT_TRUE(WriteWholeFile(root / "a.dll", "new a"));
  ASSERT_TRUE(WriteWholeFile(root / "b.txt", "new b"));
  ASSERT_TRUE(WriteWholeFile(root / "c.txt", "old c"));
  ASSERT_TRUE(WriteWholeFile(root / "~zrk4.tmp", "part"));
  ASSERT_TRUE(WriteWholeFile(admin, "HEAD" + std::string(294, 'n') + "NEXT"));
  // A journal that was being written when the run ended.
  ASSERT_TRUE(WriteWholeFile(root / "ZRKUPD.JN~", "ZRKJ"));

  TPlacementJournal recovered;
  const std::string folder = root / "";
  packages::TJournalTrust trust{{folder}, admin};
  ASSERT_EQ(packages::RecoverPlacement(journal.Path, trust, recovered), TRecovery::Done);
  EXPECT_TRUE(recovered.PackagesTaken);
  EXPECT_EQ(ReadWholeText(root / "a.dll"), "old a");
  std::uint32_t attributes = 0;
  EXPECT_TRUE(platform::GetAttributes(root / "a.dll", attributes) &&
              (attributes & platform::faReadOnly) != 0);
  EXPECT_EQ(ReadWholeText(root / "c.txt"), "old c");
  for (const char *gone : {"b.txt", "d.txt", "~zrk1.bak", "~zrk4.tmp", "ZRKUPD.JN~"})
    EXPECT_FALSE(FileExists(root / gone)) << gone;
  EXPECT_EQ(ReadWholeText(admin), "HEAD" + std::string(294, 'o') + "NEXT");
  EXPECT_TRUE(platform::SetAttributes(root / "a.dll", platform::faArchive));

  // The end of the run removes the journal; a damaged one is not believed
  // but put aside.
  packages::CloseJournal(recovered);
  EXPECT_FALSE(FileExists(journal.Path));
  ASSERT_TRUE(WriteWholeFile(journal.Path, "ZRKJ damaged"));
  EXPECT_EQ(packages::RecoverPlacement(journal.Path, trust, recovered), TRecovery::SetAside);
  EXPECT_FALSE(recovered.PackagesTaken);
  EXPECT_FALSE(FileExists(journal.Path));
  EXPECT_EQ(ReadWholeText(root / "ZRKUPD.JNL.REFUSED"), "ZRKJ damaged");

  // A record whose administration file has gone does not block every later run.
  journal.Record.AdminPath = trust.AdminPath = root / "GONE.VAB";
  journal.Files.clear();
  ASSERT_TRUE(packages::WriteJournal(journal));
  EXPECT_EQ(packages::RecoverPlacement(journal.Path, trust, recovered), TRecovery::Done);
}

} // namespace
