// Signed packages: the manifest's bytes, the key's forms, and the check of a
// staged package before its files move.
#include "packages/package_signature.h"

#include <algorithm>
#include <map>
#include <unordered_set>

#include "platform/codepage.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "util/text.h"

namespace packages {

namespace {

using platform::P256KeyInfoPrefix;
constexpr std::size_t KeyInfoSize = sizeof P256KeyInfoPrefix + platform::EcPointSize;
constexpr std::uint8_t UncompressedPoint = 0x04;
constexpr std::size_t ShortStringCapacity = 255;
constexpr std::uint32_t HashBufferSize = 256 * 1024;

void PutLittle(std::string &out, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i)
    out += static_cast<char>((value >> (8 * i)) & 0xff);
}

std::uint64_t GetLittle(std::string_view in, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i)
    value = (value << 8) | static_cast<std::uint8_t>(in[at + static_cast<std::size_t>(i)]);
  return value;
}

void PutShort(std::string &out, std::string_view text) {
  const std::size_t length = std::min(text.size(), ShortStringCapacity);
  out += static_cast<char>(length);
  out.append(text.substr(0, length));
}

// A short string at `at`; false when it runs past `end`.
bool GetShort(std::string_view in, std::size_t &at, std::size_t end, std::string &text) {
  if (at >= end)
    return false;
  const std::size_t length = static_cast<std::uint8_t>(in[at]);
  if (end - at - 1 < length)
    return false;
  text.assign(in.substr(at + 1, length));
  at += 1 + length;
  return true;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z')
    return c - 'A';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 26;
  if (c >= '0' && c <= '9')
    return c - '0' + 52;
  if (c == '+')
    return 62;
  if (c == '/')
    return 63;
  return -1;
}

bool DecodeBase64(std::string_view text, std::string &bytes) {
  std::uint32_t bits = 0;
  int count = 0, padding = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
      continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int value = Base64Value(c);
    if (value < 0 || padding != 0)
      return false;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes += static_cast<char>((bits >> count) & 0xff);
    }
  }
  return padding <= 2;
}

std::string Shown(std::string_view name) {
  return "\"" + std::string(name) + "\"";
}

// A bare name as unpacking leaves it: no folder, not empty, not a dot name.
bool PlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("\\/:") == std::string_view::npos;
}

bool ReadSmallFile(const std::string &path, std::string &bytes) {
  platform::TFile file;
  std::int64_t size = 0;
  if (!file.OpenRead(path) || !file.Size(size) || size < 0 ||
      static_cast<std::uint64_t>(size) > MaxManifestSize)
    return false;
  bytes.assign(static_cast<std::size_t>(size), '\0');
  std::uint32_t got = 0;
  return size == 0 || (file.Read(bytes.data(), static_cast<std::uint32_t>(size), got) &&
                       got == static_cast<std::uint32_t>(size));
}

} // namespace

bool HashFile(const std::string &path, platform::TSha256 &digest) {
  platform::TFile file;
  if (!file.OpenRead(path))
    return false;
  platform::TSha256Hash hash;
  std::vector<std::uint8_t> buffer(HashBufferSize);
  for (;;) {
    std::uint32_t got = 0;
    if (!file.Read(buffer.data(), HashBufferSize, got))
      return false;
    if (got == 0)
      break;
    hash.Add(buffer.data(), got);
  }
  return hash.Finish(digest);
}

namespace {

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '\\')
    path += '\\';
  return path + std::string(name);
}

bool IsManifest(std::string_view name) {
  return util::LowerCaseAscii(name) == util::LowerCaseAscii(ManifestName);
}

} // namespace

bool KeyFromInfo(std::string_view der, TPackageKey &key, std::string &problem) {
  if (der.size() != KeyInfoSize ||
      !std::equal(std::begin(P256KeyInfoPrefix), std::end(P256KeyInfoPrefix), der.begin(),
                  [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }) ||
      static_cast<std::uint8_t>(der[sizeof P256KeyInfoPrefix]) != UncompressedPoint) {
    problem = "not an ECDSA public key on the curve P-256 (prime256v1), uncompressed";
    return false;
  }
  std::copy(der.begin() + sizeof P256KeyInfoPrefix, der.end(), key.Point.begin());
  platform::TSha256Hash hash;
  hash.Add(der.data(), der.size());
  if (!hash.Finish(key.Fingerprint)) {
    problem = "the system's SHA-256 is not available";
    return false;
  }
  return true;
}

bool KeyFromPem(std::string_view pem, TPackageKey &key, std::string &problem) {
  constexpr std::string_view Begin = "-----BEGIN PUBLIC KEY-----";
  constexpr std::string_view End = "-----END PUBLIC KEY-----";
  const std::size_t begin = pem.find(Begin);
  const std::size_t end = begin == std::string_view::npos ? begin : pem.find(End, begin);
  std::string der;
  if (end == std::string_view::npos ||
      !DecodeBase64(pem.substr(begin + Begin.size(), end - begin - Begin.size()), der)) {
    problem = "not a PEM public key (BEGIN PUBLIC KEY)";
    return false;
  }
  return KeyFromInfo(der, key, problem);
}

std::string FingerprintText(const platform::TSha256 &fingerprint) {
  static constexpr char Digits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : fingerprint) {
    text += Digits[b >> 4];
    text += Digits[b & 15];
  }
  return text;
}

std::string EncodeManifestBody(const TManifest &manifest) {
  std::string body(ManifestMagic);
  PutLittle(body, 0, 4); // the body's size, below
  PutLittle(body, manifest.Entries.size(), 4);
  body.append(manifest.KeyFingerprint.begin(), manifest.KeyFingerprint.end());
  PutShort(body, manifest.PackageFileName);
  PutShort(body, manifest.OfferedVersion);
  for (const TManifestEntry &entry : manifest.Entries) {
    PutShort(body, entry.Name);
    PutLittle(body, entry.Size, 8);
    body.append(entry.Digest.begin(), entry.Digest.end());
  }
  std::string size;
  PutLittle(size, body.size(), 4);
  body.replace(ManifestBodySizeOffset, 4, size);
  return body;
}

std::string EncodeManifestFile(std::string_view body, std::string_view signature) {
  std::string file(body);
  PutLittle(file, signature.size(), static_cast<int>(ManifestSignatureSizeWidth));
  file.append(signature);
  return file;
}

bool DecodeManifest(std::string_view file, TManifest &manifest, std::string &problem) {
  manifest = TManifest();
  const auto broken = [&problem](const std::string &why) {
    problem = why;
    return false;
  };
  if (file.size() < ManifestPackageNameOffset ||
      file.substr(0, ManifestMagic.size()) != ManifestMagic)
    return broken("it does not start with " + std::string(ManifestMagic));
  const std::uint64_t bodySize = GetLittle(file, ManifestBodySizeOffset, 4);
  if (bodySize < ManifestPackageNameOffset || bodySize + ManifestSignatureSizeWidth > file.size())
    return broken("its signed part is " + std::to_string(bodySize) + " bytes long, the file " +
                  std::to_string(file.size()));
  const std::size_t end = static_cast<std::size_t>(bodySize);
  const std::uint64_t count = GetLittle(file, ManifestEntryCountOffset, 4);
  std::copy(file.begin() + ManifestKeyFingerprintOffset, file.begin() + ManifestPackageNameOffset,
            manifest.KeyFingerprint.begin());
  std::size_t at = ManifestPackageNameOffset;
  if (!GetShort(file, at, end, manifest.PackageFileName) ||
      !GetShort(file, at, end, manifest.OfferedVersion))
    return broken("its package name or version runs past its signed part");
  std::unordered_set<std::string> names;
  for (std::uint64_t i = 0; i < count; ++i) {
    TManifestEntry entry;
    if (!GetShort(file, at, end, entry.Name) || end - at < ManifestEntryFixedSize)
      return broken("entry " + std::to_string(i + 1) + " runs past its signed part");
    entry.Size = GetLittle(file, at, 8);
    std::copy(file.begin() + at + 8, file.begin() + at + ManifestEntryFixedSize,
              entry.Digest.begin());
    at += ManifestEntryFixedSize;
    if (!PlainName(entry.Name) || IsManifest(entry.Name))
      return broken("entry " + std::to_string(i + 1) + " has the name " + Shown(entry.Name));
    if (!names.insert(platform::Cp1252FoldedKey(entry.Name)).second)
      return broken("it names " + Shown(entry.Name) + " twice");
    manifest.Entries.push_back(std::move(entry));
  }
  if (at != end)
    return broken("its signed part holds " + std::to_string(end - at) +
                  " bytes behind the last entry");
  const std::size_t signatureSize =
      static_cast<std::size_t>(GetLittle(file, end, static_cast<int>(ManifestSignatureSizeWidth)));
  if (signatureSize < MinSignatureSize || signatureSize > MaxSignatureSize ||
      end + ManifestSignatureSizeWidth + signatureSize != file.size())
    return broken("its signature of " + std::to_string(signatureSize) +
                  " bytes does not end the file");
  manifest.Signature.assign(file.substr(end + ManifestSignatureSizeWidth));
  manifest.BodySize = end;
  return true;
}

bool SignatureValid(std::string_view file, const TManifest &manifest, const TPackageKey &key) {
  return manifest.BodySize <= file.size() &&
         platform::VerifyEcdsaP256(key.Point, file.substr(0, manifest.BodySize),
                                   manifest.Signature);
}

bool SameFiles(const std::vector<TManifestEntry> &signedFiles,
               const std::vector<TManifestEntry> &found, std::string &problem, bool digests) {
  std::map<std::string, const TManifestEntry *> expected;
  for (const TManifestEntry &entry : signedFiles)
    expected.emplace(entry.Name, &entry);
  for (const TManifestEntry &entry : found) {
    const auto there = expected.find(entry.Name);
    if (there == expected.end()) {
      problem = "the file " + Shown(entry.Name) + " is not among the signed files";
      return false;
    }
    if (there->second->Size != entry.Size) {
      problem = "the file " + Shown(entry.Name) + " has " + std::to_string(entry.Size) +
                " bytes, the signed one " + std::to_string(there->second->Size);
      return false;
    }
    if (digests && there->second->Digest != entry.Digest) {
      problem = "the file " + Shown(entry.Name) + " is not the signed one (SHA-256 " +
                FingerprintText(entry.Digest) + ", signed " +
                FingerprintText(there->second->Digest) + ")";
      return false;
    }
    expected.erase(there);
  }
  if (!expected.empty()) {
    problem = "the signed file " + Shown(expected.begin()->first) + " is missing";
    return false;
  }
  return true;
}

bool AcceptManifest(std::string_view file, const TPackageKey &key, std::string_view packageFileName,
                    TManifest &manifest, std::string &problem) {
  std::string broken;
  if (!DecodeManifest(file, manifest, broken)) {
    problem = std::string(ManifestName) + " is malformed: " + broken;
    return false;
  }
  if (manifest.KeyFingerprint != key.Fingerprint) {
    problem = "the package is signed with another key (" +
              FingerprintText(manifest.KeyFingerprint) + "), not with " +
              FingerprintText(key.Fingerprint);
    return false;
  }
  if (!SignatureValid(file, manifest, key)) {
    problem = "the signature of " + std::string(ManifestName) + " is not valid for the key " +
              FingerprintText(key.Fingerprint);
    return false;
  }
  if (platform::Cp1252FoldedKey(manifest.PackageFileName) !=
      platform::Cp1252FoldedKey(packageFileName)) {
    problem = "the manifest was signed for the package " + Shown(manifest.PackageFileName) +
              ", not for " + Shown(packageFileName);
    return false;
  }
  return true;
}

bool BuiltInPackageKey(TPackageKey &key, std::string &problem) {
  const std::string_view pem = BuiltInPackageKeyPem();
  problem.clear();
  if (pem.empty())
    return false;
  if (!KeyFromPem(pem, key, problem)) {
    problem = "the package key this program carries cannot be used: " + problem;
    return false;
  }
  return true;
}

bool CheckStagedPackage(std::string_view stagingFolder, std::string_view packageFileName,
                        std::string &note) {
  const auto refuse = [&note](const std::string &why) {
    note = "Refused: " + why + "; nothing of the package placed";
    return false;
  };
  TPackageKey key;
  std::string problem;
  if (!BuiltInPackageKey(key, problem))
    return problem.empty() || refuse(problem);
  const std::string fingerprint = FingerprintText(key.Fingerprint);

  // Every file that unpacking left, hidden ones included: all of them must be signed.
  std::vector<TManifestEntry> found;
  std::string manifestPath;
  bool listed = platform::WalkFiles(JoinPath(stagingFolder, "*.*"),
                                    platform::faReadOnly | platform::faHidden |
                                        platform::faSysFile | platform::faArchive,
                                    [&](const platform::TFindEntry &entry) {
                                      if (IsManifest(entry.Name))
                                        manifestPath = JoinPath(stagingFolder, entry.Name);
                                      else
                                        found.push_back({entry.Name, entry.Size, {}});
                                      return true;
                                    });
  if (!listed)
    return refuse("the staging folder cannot be listed: " +
                  platform::ErrorText(platform::LastError()));
  if (manifestPath.empty())
    return refuse("the package is not signed (no " + std::string(ManifestName) +
                  "); this program takes only packages signed with the key " + fingerprint);
  std::string bytes;
  if (!ReadSmallFile(manifestPath, bytes))
    return refuse(std::string(ManifestName) +
                  " cannot be read: " + platform::ErrorText(platform::LastError()));
  TManifest manifest;
  if (!AcceptManifest(bytes, key, packageFileName, manifest, problem))
    return refuse(problem);
  // Names and sizes first: a file added, missing or cut is found without reading any.
  if (!SameFiles(manifest.Entries, found, problem, false))
    return refuse(problem);
  for (TManifestEntry &entry : found)
    if (!HashFile(JoinPath(stagingFolder, entry.Name), entry.Digest))
      return refuse("the staged file " + Shown(entry.Name) +
                    " cannot be read: " + platform::ErrorText(platform::LastError()));
  if (!SameFiles(manifest.Entries, found, problem))
    return refuse(problem);
  note = "Signed with the key " + fingerprint + ": " + std::to_string(found.size()) +
         " files as signed for " + Shown(manifest.PackageFileName) + ", offered version " +
         Shown(manifest.OfferedVersion);
  return true;
}

} // namespace packages
