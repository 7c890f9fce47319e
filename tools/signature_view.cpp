// The signature of a package as zrktool shows it.
#include "tools/signature_view.h"

#include "tools/codepage.h"
#include "tools/zrktool.h"

namespace tools {

TSignatureView ViewSignature(const TArchiveReport &archive, const std::string &packageFileName,
                             const packages::TPackageKey *key) {
  TSignatureView view;
  view.Signed = archive.HasManifest;
  view.Checked = key != nullptr;
  if (!view.Signed) {
    if (key != nullptr)
      view.Problem = "the package is not signed (no " + std::string(packages::ManifestName) +
                     "); zrkupd with the key " + packages::FingerprintText(key->Fingerprint) +
                     " refuses it";
    return view;
  }
  std::string problem;
  if (key != nullptr ? !packages::AcceptManifest(archive.Manifest, *key, packageFileName,
                                                 view.Manifest, problem)
                     : !packages::DecodeManifest(archive.Manifest, view.Manifest, problem)) {
    view.Problem = key != nullptr
                       ? problem
                       : std::string(packages::ManifestName) + " is malformed: " + problem;
    return view;
  }
  if (!packages::SameFiles(view.Manifest.Entries, archive.Hashed, problem))
    view.Problem = problem;
  return view;
}

std::string TSignatureView::Describe() const {
  if (!Signed)
    return "not signed" + (Problem.empty() ? std::string() : "; " + Cp1252ToUtf8(Problem));
  std::string text = "signed";
  if (Manifest.BodySize != 0)
    text += " with the key " + packages::FingerprintText(Manifest.KeyFingerprint) + " for " +
            Cp1252ToUtf8(Manifest.PackageFileName) + ", offered version \"" +
            Cp1252ToUtf8(Manifest.OfferedVersion) + "\"";
  if (!Problem.empty())
    return text + "; " + Cp1252ToUtf8(Problem);
  return text + (Checked ? "; the signature is valid and every file is as signed"
                         : "; every file is as signed, the signature not checked (no key)");
}

TJson TSignatureView::Json() const {
  TJson json = {{"Signed", Signed}, {"Checked", Checked}, {"Accepted", Problem.empty()}};
  if (Manifest.BodySize != 0) {
    json["KeyFingerprint"] = packages::FingerprintText(Manifest.KeyFingerprint);
    json["SignedFor"] = Cp1252ToUtf8(Manifest.PackageFileName);
    json["OfferedVersion"] = Cp1252ToUtf8(Manifest.OfferedVersion);
    json["Files"] = Manifest.Entries.size();
  }
  if (!Problem.empty())
    json["Problem"] = Cp1252ToUtf8(Problem);
  return json;
}

bool KeyToCheck(const std::string &pemPath, packages::TPackageKey &key) {
  std::string problem;
  if (pemPath.empty()) {
    if (packages::BuiltInPackageKey(key, problem))
      return true;
    if (!problem.empty())
      Fail(ExitFailed, problem);
    return false;
  }
  if (!packages::KeyFromPem(ReadWholeFile(pemPath, "key"), key, problem))
    Fail(ExitBadInput, ShownPath(pemPath) + ": " + problem);
  return true;
}

} // namespace tools
