// What zrktool says of a package's signature: signed or not, by which key,
// for which package, and whether the key to check against accepts it.
#pragma once

#include <string>

#include "packages/package_signature.h"
#include "tools/archive_check.h"
#include "tools/tool_common.h"

namespace tools {

struct TSignatureView {
  bool Signed = false;
  bool Checked = false; // there was a key to check against
  packages::TManifest Manifest;
  // Why zrkupd with that key would refuse the package, or why a signed
  // package does not hold what it signed; empty when neither.
  std::string Problem;

  std::string Describe() const;
  TJson Json() const;
};

// `archive` read with its files hashed; `key` null when there is none to
// check against.
TSignatureView ViewSignature(const TArchiveReport &archive, const std::string &packageFileName,
                             const packages::TPackageKey *key);

// The key the tool checks against: KEY.pem when given, else the built-in
// one; false when there is neither. A key that cannot be used fails.
bool KeyToCheck(const std::string &pemPath, packages::TPackageKey &key);

} // namespace tools
