// Fuzz target for the signed manifest MANIFEST.SIG: the input is the file,
// which reaches the program from a package before anything in it is trusted.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

#include "fuzz/fuzz_support.h"
#include "packages/package_signature.h"
#include "platform/codepage.h"

namespace {

using fuzz::Require;
using namespace packages;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char *>(data), size);
  TManifest manifest;
  std::string problem;
  if (!DecodeManifest(file, manifest, problem)) {
    Require(!problem.empty(), "DecodeManifest: a refusal without its cause");
    return 0;
  }
  // Read exactly: the writer makes the same bytes of what was read, so no
  // byte of the file escapes the signature but its own.
  Require(EncodeManifestFile(EncodeManifestBody(manifest), manifest.Signature) == file,
          "DecodeManifest: the file is not what its fields make");
  Require(manifest.BodySize + ManifestSignatureSizeWidth + manifest.Signature.size() == size,
          "DecodeManifest: the signature does not end the file");
  std::unordered_set<std::string> names;
  for (const TManifestEntry &entry : manifest.Entries) {
    Require(!entry.Name.empty() && entry.Name.find_first_of("\\/:") == std::string::npos &&
                entry.Name != "." && entry.Name != "..",
            "DecodeManifest: an entry name that is not a bare file name");
    Require(names.insert(platform::Cp1252FoldedKey(entry.Name)).second,
            "DecodeManifest: two entries alike regardless of case");
  }
  std::string difference;
  Require(SameFiles(manifest.Entries, manifest.Entries, difference),
          "SameFiles: a list differs from itself");
  if (!manifest.Entries.empty()) {
    std::vector<TManifestEntry> fewer(manifest.Entries.begin() + 1, manifest.Entries.end());
    Require(!SameFiles(manifest.Entries, fewer, difference),
            "SameFiles: a missing file goes unnoticed");
  }
  // A signature of any bytes against a key of any point: an answer, never a fault.
  TPackageKey key;
  key.Point[0] = 0x04;
  for (std::size_t i = 1; i < key.Point.size(); ++i)
    key.Point[i] = data[i % size];
  (void)SignatureValid(file, manifest, key);
  return 0;
}
