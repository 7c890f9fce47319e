// What a placement journal left in a data folder means for the next run:
// which package it was placing, which files, what stands in the way of
// putting them back, and what that run will do first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

struct TJournalFileView {
  std::string Destination; // Windows-1252 path
  bool Existed = false;    // a previous version is to be put back
  bool BackupPresent = false;
};

struct TJournalView {
  bool Present = false;
  bool Decoded = false;
  std::string Path;
  bool Placing = false;
  std::string Package;      // the record's package file name; empty when unknown
  std::int64_t Record = -1; // its number in file order
  std::vector<TJournalFileView> Files;
  std::vector<std::string> Leftovers; // backups and temporary files still there
  std::vector<std::string> Blockers;  // each a readable cause, Windows-1252 paths
  std::vector<std::string> Refused;   // parts that do not decode
  std::string NextRun;                // what the next run does first
};

// Reads the journal of the administration file `adminPath` (its run's part
// beside it, its folder parts in the destination folders its header names
// under `seed`) through the program's own decoder. Opens files to see
// whether they could be replaced, changes nothing.
TJournalView ViewJournal(const std::string &adminPath, std::int32_t seed);

} // namespace tools
