// The checks that the unzip library makes of an archive when it unpacks it,
// made without unpacking: for zrktool's check, package test and update build.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packages/package_signature.h"

namespace tools {

struct TArchiveReport {
  std::vector<std::string> Problems; // each a readable cause; empty: it would unpack
  std::vector<std::string> Files;    // file names without folders (Windows-1252)
  std::uint64_t UnpackedBytes = 0;
  bool HasFilePathId = false;
  std::string FilePathId; // the marker file's bytes
  bool HasManifest = false;
  std::string Manifest; // MANIFEST.SIG's bytes
  // With `hashFiles`: every file but the manifest, with its SHA-256.
  std::vector<packages::TManifestEntry> Hashed;
};

// Reads the archive's directory and runs the library's own test of every
// entry: supported methods, no encryption, names that Windows-1252 and
// Windows allow, no two names alike once their folders are dropped.
// With `hashFiles` every file is read through SHA-256 as well.
TArchiveReport CheckArchive(const std::string &zipPath, bool hashFiles = false);

} // namespace tools
