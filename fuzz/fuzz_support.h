// Shared pieces of the fuzz targets: a failed invariant aborts (so that
// libFuzzer keeps the input), and a scratch drive root per process in which
// the targets read and write real files through the platform seam.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// Reports `what` and aborts when `condition` is false.
void Require(bool condition, const char *what);

// Maps drive paths ("C:\...") below a fresh folder of this process, once, and
// creates the drive folders C: to G:. Every target calls it first.
void UseScratchDrives();

// Creates or truncates `path` (a drive path) and writes `bytes`; aborts when
// that fails, since every later check would be meaningless.
void PutFile(std::string_view path, const std::uint8_t *data, std::size_t size);
void PutFile(std::string_view path, const std::vector<std::uint8_t> &bytes);
// The whole file, or false when it cannot be read.
bool GetFile(std::string_view path, std::vector<std::uint8_t> &bytes);
// Creates every level of a drive path's folder.
void MakeFolder(std::string_view path);
bool FileExists(std::string_view path);

} // namespace fuzz
