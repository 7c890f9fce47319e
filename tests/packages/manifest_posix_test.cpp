// The signed manifest against hostile changes: a manifest signed with the
// suite's key (made by openssl when the build was configured) is accepted
// whole, and refused after every truncation and every change of one byte.
// Native only: zrktool.exe does not sign.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "packages/package_signature.h"

namespace {

using namespace packages;

TEST(SignedManifest, EveryTruncationAndEveryChangedByteIsRefused) {
  std::ifstream in(ZRK_TEST_PACKAGE_KEY);
  const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string signature, publicKey, problem;
  ASSERT_TRUE(platform::SignEcdsaP256(pem, {}, signature, publicKey, problem)) << problem;
  TPackageKey key;
  ASSERT_TRUE(KeyFromInfo(publicKey, key, problem)) << problem;

  TManifest manifest;
  manifest.KeyFingerprint = key.Fingerprint;
  manifest.PackageFileName = "PROGRAMM.PKG";
  manifest.OfferedVersion = "3.90.0";
  manifest.Entries = {{"KAST.DAT", 3000000, {}}, {"FILEPATH.ID", 514, {}}};
  manifest.Entries[0].Digest.fill(0x5a);
  manifest.Entries[1].Digest.fill(0xa5);
  const std::string body = EncodeManifestBody(manifest);
  ASSERT_TRUE(platform::SignEcdsaP256(pem, body, signature, publicKey, problem)) << problem;
  const std::string file = EncodeManifestFile(body, signature);

  TManifest read;
  ASSERT_TRUE(AcceptManifest(file, key, "programm.pkg", read, problem)) << problem;
  EXPECT_FALSE(AcceptManifest(file, key, "HILFE.PKG", read, problem));
  for (std::size_t size = 0; size < file.size(); ++size) {
    SCOPED_TRACE("cut to " + std::to_string(size) + " bytes");
    EXPECT_FALSE(AcceptManifest(file.substr(0, size), key, "PROGRAMM.PKG", read, problem));
  }
  for (std::size_t at = 0; at < file.size(); ++at) {
    SCOPED_TRACE("byte " + std::to_string(at) + " changed");
    std::string changed = file;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    EXPECT_FALSE(AcceptManifest(changed, key, "PROGRAMM.PKG", read, problem));
  }
}

} // namespace
