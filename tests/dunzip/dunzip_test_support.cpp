// Command records, callback recorders and the test entry point, which takes
// the archive folder from the command line (a POSIX path under Wine becomes a
// Z: path).
#include "tests/dunzip/dunzip_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "dunzip/dunzip_command.h"
#include "platform/files.h"
#include "tests/support/test_support.h"

namespace dunzip_test {

namespace {

std::string Archives;

std::int32_t DUNZIP_CALL StatusEntry(const char *szItem, std::int32_t Percent, void *userData) {
  auto *log = static_cast<TStatusLog *>(userData);
  log->Items.emplace_back(szItem == nullptr ? "<null>" : szItem);
  log->Percents.push_back(Percent);
  return static_cast<std::int32_t>(log->Percents.size()) - 1 == log->CancelAt ? 1 : 0;
}

std::int32_t DUNZIP_CALL MessageEntry(std::uint16_t MsgID, std::uint16_t, std::uint32_t,
                                      std::uint32_t, const char *lpsz1, const char *,
                                      void *userData) {
  auto *log = static_cast<TMessageLog *>(userData);
  log->Ids.push_back(MsgID);
  log->Texts.emplace_back(lpsz1 == nullptr ? "<null>" : lpsz1);
  return log->Answer;
}

} // namespace

const std::string &ArchiveFolder() {
  return Archives;
}

TCommand::TCommand(std::string zipFile, std::string destination)
    : ZipFile(std::move(zipFile)), Destination(std::move(destination)) {
}

std::vector<std::uint8_t> &TCommand::Record() {
  using namespace dunzip;
  Bytes.assign(CommandSize, 0);
  std::uint8_t *r = Bytes.data();
  PutU32(r, Cmd.RecordSize, static_cast<std::uint32_t>(CommandSize));
  PutI32(r, Cmd.FunctionCode, FunctionCode);
  PutPointer(r, Cmd.ZipFile, ZipFile.c_str());
  PutPointer(r, Cmd.FileSpec, FileSpec.c_str());
  PutI32(r, Cmd.IndexofItem, IndexofItem);
  PutPointer(r, Cmd.Destination, Destination.c_str());
  PutI32(r, Cmd.OverWriteFlag, OverWrite ? CommandTrue : 0);
  PutI32(r, Cmd.NoDirectoryNamesFlag, NoDirectoryNames ? CommandTrue : 0);
  PutI32(r, Cmd.NoDirectoryItemsFlag, NoDirectoryItems ? CommandTrue : 0);
  PutU16(r, Cmd.SubOptions, SubOptions);
  PutPointer(r, Cmd.MinorStatusEntry, reinterpret_cast<void *>(&StatusEntry));
  PutPointer(r, Cmd.MinorUserData, &Minor);
  PutPointer(r, Cmd.MajorStatusEntry, reinterpret_cast<void *>(&StatusEntry));
  PutPointer(r, Cmd.MajorUserData, &Major);
  PutPointer(r, Cmd.MessageEntry, reinterpret_cast<void *>(&MessageEntry));
  PutPointer(r, Cmd.MessageUserData, &Messages);
  return Bytes;
}

std::vector<std::string> ListFolder(const std::string &folder) {
  auto names = testing_support::FileNames(folder, platform::faDirectory | platform::faHidden |
                                                      platform::faSysFile);
  std::sort(names.begin(), names.end());
  return names;
}

} // namespace dunzip_test

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  const std::string prefix = "--archives=";
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.compare(0, prefix.size(), prefix) != 0)
      continue;
    std::string folder = arg.substr(prefix.size());
    if (testing_support::RunningOnWindows() && !folder.empty() && folder[0] == '/') {
      std::replace(folder.begin(), folder.end(), '/', '\\');
      folder = "Z:" + folder;
    }
    dunzip_test::Archives = folder;
  }
  testing_support::TTempFolder drives;
  if (!testing_support::RunningOnWindows())
    platform::SetDriveRoot(drives.Path());
  return RUN_ALL_TESTS();
}
