// The checks that the unzip library makes of an archive when it unpacks it,
// made without unpacking: for zrktool's check, package test and update build.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

struct TArchiveReport {
  std::vector<std::string> Problems; // each a readable cause; empty: it would unpack
  std::vector<std::string> Files;    // file names without folders (Windows-1252)
  std::uint64_t UnpackedBytes = 0;
  bool HasFilePathId = false;
  std::string FilePathId; // the marker file's bytes
};

// Reads the archive's directory and runs the library's own test of every
// entry: supported methods, no encryption, names that Windows-1252 and
// Windows allow, no two names alike once their folders are dropped.
TArchiveReport CheckArchive(const std::string &zipPath);

} // namespace tools
