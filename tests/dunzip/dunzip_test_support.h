// Shared pieces of the unzip library tests: the folder of archives made by the
// setup step, command records as the program fills them, callback recorders
// folder listings and a sink that keeps what the ZIP reader extracts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dunzip/dunzip_api.h"
#include "dunzip/zip_reader.h"

namespace dunzip_test {

// The folder given with --archives= (in the program's path form).
const std::string &ArchiveFolder();

struct TStatusLog {
  std::vector<std::string> Items;
  std::vector<std::int32_t> Percents;
  std::int32_t CancelAt = -1; // answer non-zero on this call
};

struct TMessageLog {
  std::vector<std::uint16_t> Ids;
  std::vector<std::string> Texts;
  std::int32_t Answer = 1;
};

// A command record as the program sets it up (OverWrite, NoDirectoryNames,
// NoDirectoryItems, sub-options 0x0003, item -1, "*.*"), with recorders bound
// as the entries and each recorder as its own user data.
class TCommand {
public:
  TCommand(std::string zipFile, std::string destination);
  std::vector<std::uint8_t> &Record();

  std::string ZipFile, Destination, FileSpec = "*.*";
  std::int32_t FunctionCode = 8;
  std::int32_t IndexofItem = -1;
  bool OverWrite = true;
  bool NoDirectoryNames = true;
  bool NoDirectoryItems = true;
  std::uint16_t SubOptions = 0x0003;
  TStatusLog Major, Minor;
  TMessageLog Messages;

private:
  std::vector<std::uint8_t> Bytes;
};

// An entry's bytes as the reader hands them out.
class TMemorySink : public dunzip::TByteSink {
public:
  bool Write(const std::uint8_t *data, std::size_t count) override {
    Bytes.insert(Bytes.end(), data, data + count);
    return true;
  }
  std::vector<std::uint8_t> Bytes;
};

// A reader over `zip`, which outlives it, and the central directory it read.
struct TOpened {
  explicit TOpened(const std::vector<std::uint8_t> &zip)
      : Source(zip.data(), zip.size()), Reader(Source),
        Error(Reader.ReadCentralDirectory(Entries)) {}
  dunzip::TMemorySource Source;
  dunzip::TZipReader Reader;
  std::vector<dunzip::TZipEntry> Entries;
  dunzip::TZipError Error;
};

// All entries of a folder (files, folders, hidden and system ones), sorted.
std::vector<std::string> ListFolder(const std::string &folder);

} // namespace dunzip_test
