// Signed packages: the manifest MANIFEST.SIG that travels inside a package's
// ZIP (every other file's name, size and SHA-256, the package file name and
// the offered version, signed with ECDSA P-256 / SHA-256), the public key a
// build carries, and the check of a staged package against both. The byte
// layout is written down in docs/signed-packages.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"

namespace packages {

constexpr std::string_view ManifestName = "MANIFEST.SIG";

// The manifest's layout: a fixed head, two short strings, the entries, then
// the signature behind the signed bytes.
constexpr std::string_view ManifestMagic = "ZRKMAN01";
constexpr std::size_t ManifestMagicOffset = 0;
constexpr std::size_t ManifestBodySizeOffset = 8;
constexpr std::size_t ManifestEntryCountOffset = 12;
constexpr std::size_t ManifestKeyFingerprintOffset = 16;
constexpr std::size_t ManifestPackageNameOffset = 48;
static_assert(ManifestMagicOffset + 8 == ManifestBodySizeOffset);
static_assert(ManifestBodySizeOffset + 4 == ManifestEntryCountOffset);
static_assert(ManifestEntryCountOffset + 4 == ManifestKeyFingerprintOffset);
static_assert(ManifestKeyFingerprintOffset + platform::Sha256Size == ManifestPackageNameOffset);
// Behind an entry's name: its size (8 bytes) and its SHA-256.
constexpr std::size_t ManifestEntryFixedSize = 8 + platform::Sha256Size;
constexpr std::size_t ManifestSignatureSizeWidth = 2;
// A DER ECDSA P-256 signature takes 8 to 72 bytes.
constexpr std::size_t MinSignatureSize = 8;
constexpr std::size_t MaxSignatureSize = 72;
// More than any package's file list needs; a larger file is no manifest.
constexpr std::size_t MaxManifestSize = 16 * 1024 * 1024;

struct TManifestEntry {
  std::string Name; // bare name, Windows-1252
  std::uint64_t Size = 0;
  platform::TSha256 Digest{};
};

struct TManifest {
  platform::TSha256 KeyFingerprint{};
  std::string PackageFileName; // Windows-1252
  std::string OfferedVersion;  // Windows-1252
  std::vector<TManifestEntry> Entries;
  std::string Signature; // DER
  std::size_t BodySize = 0;
};

// A P-256 public key and its fingerprint: SHA-256 of its DER
// SubjectPublicKeyInfo (what `openssl pkey -pubin -outform DER | sha256sum`
// prints).
struct TPackageKey {
  platform::TEcPoint Point{};
  platform::TSha256 Fingerprint{};
};

// From DER SubjectPublicKeyInfo, or from PEM ("BEGIN PUBLIC KEY"); false with
// the problem for anything but a P-256 key.
bool KeyFromInfo(std::string_view der, TPackageKey &key, std::string &problem);
bool KeyFromPem(std::string_view pem, TPackageKey &key, std::string &problem);
// Lower-case hex, 64 digits.
std::string FingerprintText(const platform::TSha256 &fingerprint);

// The signed bytes of `manifest` (BodySize and Signature unused), and the
// whole file: those bytes, the signature's size and the signature.
std::string EncodeManifestBody(const TManifest &manifest);
std::string EncodeManifestFile(std::string_view body, std::string_view signature);
// Reads a whole manifest file; false with the problem when its layout is
// broken. Nothing in it is trusted before SignatureValid.
bool DecodeManifest(std::string_view file, TManifest &manifest, std::string &problem);
bool SignatureValid(std::string_view file, const TManifest &manifest, const TPackageKey &key);
// The same set of names (compared exactly), sizes and, with `digests`,
// SHA-256; else the first difference in `problem`.
bool SameFiles(const std::vector<TManifestEntry> &signedFiles,
               const std::vector<TManifestEntry> &found, std::string &problem, bool digests = true);

// A manifest file that is well formed, names `key`, carries a valid
// signature by it and was signed for `packageFileName` (compared as Windows
// compares names); else false with the failed check in `problem`.
bool AcceptManifest(std::string_view file, const TPackageKey &key, std::string_view packageFileName,
                    TManifest &manifest, std::string &problem);

// SHA-256 of a whole file; false with LastError() when it cannot be read.
bool HashFile(const std::string &path, platform::TSha256 &digest);

// The PEM public key this build carries (empty: none; then packages are
// not checked). From the library that CMake makes of ZRK_PACKAGE_PUBLIC_KEY.
std::string_view BuiltInPackageKeyPem();
// That key: false when there is none (`problem` empty) or it cannot be used.
bool BuiltInPackageKey(TPackageKey &key, std::string &problem);

// The check of a run, after a package is unpacked into `stagingFolder` and
// before any of its files moves. True without a built-in key, or when the
// staged files are exactly what the manifest signed with the built-in key
// for `packageFileName`. `note` says what was found, for the log: with a
// refusal, which check failed.
bool CheckStagedPackage(std::string_view stagingFolder, std::string_view packageFileName,
                        std::string &note);

} // namespace packages
