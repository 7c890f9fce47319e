// Update build: every package's files zipped (with a FILEPATH.ID that names
// every file, so that no index carries over to a file it was not meant for),
// tested, packed; then the administration file with its header fields and
// records, the settings through StoreSettings, the packages in the download
// folder, and zrktool check over the result.
#include "tools/update_build.h"

#include <algorithm>
#include <memory>

#include <CLI/CLI.hpp>

#include "admin/admin_file.h"
#include "admin/admin_records.h"
#include "admin/settings.h"
#include "packages/package_check.h"
#include "packages/package_signature.h"
#include "packages/placement.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/path_parts.h"
#include "tools/archive_check.h"
#include "tools/check.h"
#include "tools/codepage.h"
#include "tools/commands.h"
#include "tools/values.h"
#include "tools/zip_writer.h"
#include "tools/zrktool.h"
#include "util/path_rules.h"
#include "util/text.h"

namespace tools {

namespace {

struct TPackagePlan {
  std::string FileName; // Windows-1252
  int DestIndex = 1;
  std::vector<TZipSource> Files;
  std::string Zip, Package; // scratch files
};

std::string Join(const std::string &folder, const std::string &name) {
  if (folder.empty())
    return name;
  const char last = folder.back();
  return folder +
         (last == '\\' || last == '/' ? ""
          : platform::HostIsWindows() ? "\\"
                                      : "/") +
         name;
}

std::string FolderOfFile(const std::string &path) {
  const std::string_view folder =
      platform::FolderPart(path, platform::HostIsWindows() ? "\\/" : "/");
  // Without its closing separator.
  return folder.empty() ? std::string() : std::string(folder.substr(0, folder.size() - 1));
}

std::string Text(const TJson &value, const std::string &what) {
  std::string text;
  if (!value.is_string() || !Utf8ToCp1252(value.get<std::string>(), text))
    Fail(ExitBadInput, what + ": expected a text that Windows-1252 can store");
  return text;
}

TPackagePlan PlanPackage(const TJson &p, const std::string &specFolder, TStdio &stdio) {
  if (!p.is_object())
    Fail(ExitBadInput, "each package must be a JSON object");
  TPackagePlan plan;
  plan.FileName = Text(p.value("PackageFileName", TJson()), "PackageFileName");
  const std::string item = "package " + Cp1252ToUtf8(plan.FileName);
  if (plan.FileName.empty() || plan.FileName.size() > admin::PackageFileNameCapacity ||
      plan.FileName.find_first_of("\\/:") != std::string::npos)
    Fail(ExitBadInput, item + ": PackageFileName must be a file name of 1 to 141 characters");
  if (util::LowerCaseAscii(util::ChangeExtension(plan.FileName, "zip")) ==
      util::LowerCaseAscii(plan.FileName))
    Fail(ExitBadInput, item + ": a package must not be named *.zip");
  const TJson dest = p.value("DestIndex", TJson(1));
  if (!dest.is_number_integer() || dest.get<int>() < 1 || dest.get<int>() > 20)
    Fail(ExitBadInput, item + ": DestIndex must be 1 to 20");
  plan.DestIndex = dest.get<int>();
  std::string folder = Text(p.value("Folder", TJson()), item + ": Folder");
  const bool absolute = !folder.empty() && (folder[0] == '/' || folder[0] == '\\' ||
                                            (folder.size() > 1 && folder[1] == ':'));
  if (!folder.empty() && !absolute)
    folder = Join(specFolder, folder);
  if (!util::FolderExists(folder))
    Fail(ExitBadInput, item + ": the folder " + ShownPath(folder) + " does not exist");
  std::vector<platform::TFindEntry> entries;
  if (!platform::FindFiles(Join(folder, "*.*"), platform::faDirectory, entries))
    Fail(ExitBadInput, item + ": the folder " + ShownPath(folder) + " cannot be listed");
  std::vector<std::string> names;
  for (const auto &e : entries) {
    if ((e.Attributes & platform::faDirectory) != 0)
      Fail(ExitBadInput, item + ": " + Cp1252ToUtf8(e.Name) +
                             " is a folder; zrkupd places files without folders");
    if (util::UpperCaseGerman(e.Name) == util::UpperCaseGerman(packages::FilePathIdName))
      Fail(ExitBadInput, item + ": FILEPATH.ID is made from \"FilePaths\", not taken from the "
                                "folder");
    if (util::UpperCaseGerman(e.Name) == util::UpperCaseGerman(packages::ManifestName))
      Fail(ExitBadInput, item + ": MANIFEST.SIG is made by --sign, not taken from the folder");
    names.push_back(e.Name);
  }
  if (names.empty())
    Fail(ExitBadInput, item + ": the folder " + ShownPath(folder) + " holds no files");
  for (const std::string &name : names)
    plan.Files.push_back({name, Join(folder, name)});

  const TJson paths = p.value("FilePaths", TJson::object());
  if (!paths.is_object())
    Fail(ExitBadInput, item + ": FilePaths must map file names to destination indexes");
  if (!paths.empty()) {
    // Every file gets an entry, the default index included: an index given
    // to one file would otherwise also send the files after it elsewhere.
    std::string marker;
    for (const auto &[key, value] : paths.items()) {
      std::string name = Text(TJson(key), item + ": FilePaths");
      if (std::none_of(names.begin(), names.end(), [&](const std::string &n) {
            return util::UpperCaseGerman(n) == util::UpperCaseGerman(name);
          }))
        Fail(ExitBadInput, item + ": FilePaths names " + key + ", which the folder does not hold");
      if (!value.is_number_integer() || value.get<int>() < 1 || value.get<int>() > 20)
        Fail(ExitBadInput, item + ": the index of " + key + " must be 1 to 20");
    }
    for (const std::string &name : names) {
      int index = plan.DestIndex;
      for (const auto &[key, value] : paths.items())
        if (util::UpperCaseGerman(Text(TJson(key), "FilePaths")) == util::UpperCaseGerman(name))
          index = value.get<int>();
      std::string entry(packages::FilePathEntrySize, '\0');
      entry[packages::FileNameLengthOffset] = static_cast<char>(name.size());
      entry.replace(packages::FileNameCharsOffset, name.size(), name);
      entry[packages::FolderIndexOffset] = static_cast<char>(index);
      marker += entry;
    }
    const std::string markerPath = stdio.Scratch();
    platform::TFile file;
    if (!file.Create(markerPath) ||
        !file.WriteAll(marker.data(), static_cast<std::uint32_t>(marker.size())))
      Fail(ExitFailed, "FILEPATH.ID cannot be written: " + OsErrorText());
    plan.Files.push_back({std::string(packages::FilePathIdName), markerPath});
  }
  return plan;
}

// The key that --sign names, read once before any package is made.
struct TSigner {
  std::string PrivateKeyPem;
  packages::TPackageKey Key;
};

TSigner ReadSigner(const std::string &keyPath) {
  TSigner signer;
  signer.PrivateKeyPem = ReadWholeFile(keyPath, "signing key");
  // Signing nothing reads the key and gives its public half.
  std::string signature, publicKey, problem;
  if (!platform::SignEcdsaP256(signer.PrivateKeyPem, {}, signature, publicKey, problem) ||
      !packages::KeyFromInfo(publicKey, signer.Key, problem))
    Fail(ExitBadInput, "--sign " + ShownPath(keyPath) + ": " + problem);
  return signer;
}

// MANIFEST.SIG over every file of the package, signed, added as its last file.
void AddManifest(TPackagePlan &plan, const std::string &offeredVersion, const TSigner &signer,
                 TStdio &stdio) {
  packages::TManifest manifest;
  manifest.KeyFingerprint = signer.Key.Fingerprint;
  manifest.PackageFileName = plan.FileName;
  manifest.OfferedVersion = offeredVersion;
  for (const TZipSource &file : plan.Files) {
    packages::TManifestEntry &entry = manifest.Entries.emplace_back();
    entry.Name = file.Name;
    entry.Size = static_cast<std::uint64_t>(FileSizeOf(file.Path));
    if (!packages::HashFile(file.Path, entry.Digest))
      Fail(ExitFailed, ShownPath(file.Path) + " cannot be read: " + OsErrorText());
  }
  const std::string body = packages::EncodeManifestBody(manifest);
  std::string signature, publicKey, problem;
  if (!platform::SignEcdsaP256(signer.PrivateKeyPem, body, signature, publicKey, problem))
    Fail(ExitFailed, "package " + Cp1252ToUtf8(plan.FileName) + " cannot be signed: " + problem);
  const std::string file = packages::EncodeManifestFile(body, signature);
  const std::string path = stdio.Scratch();
  platform::TFile out;
  if (!out.Create(path) || !out.WriteAll(file.data(), static_cast<std::uint32_t>(file.size())))
    Fail(ExitFailed, std::string(packages::ManifestName) + " cannot be written: " + OsErrorText());
  plan.Files.push_back({std::string(packages::ManifestName), path});
}

// Everything that would stop the writes, found before the first one: the
// folders StoreSettings needs, and nothing but a folder where one goes.
// Returns the folders that have to be made.
std::vector<std::string> CheckBeforeWriting(const admin::TSettingsSource &source,
                                            const std::string &outFolder) {
  const std::string adminPath = util::TrimText(source.AdminFileName).Str();
  if (adminPath.empty() || util::TrimText(source.DownloadFileName).Empty())
    Fail(ExitBadInput, "AdminFileName and DownloadFileName must not be blank");
  if (util::FolderExists(adminPath))
    Fail(ExitBadInput, "AdminFileName " + ShownPath(adminPath) + " is a folder");
  admin::TAdminHeader header;
  SetSourceFolders(header, source);
  std::vector<std::string> toMake;
  const std::pair<const char *, std::string> made[] = {
      {"the data folder", outFolder},
      {"DownloadFolder", util::TrimText(source.DownloadFolder).Str()},
      {"StagingFolder", util::TrimText(source.StagingFolder).Str()}};
  for (const auto &[what, folder] : made) {
    if (folder.empty())
      Fail(ExitBadInput, std::string(what) + " must not be blank");
    if (util::FolderExists(folder))
      continue;
    if (util::PathExists(folder))
      Fail(ExitBadInput, std::string(what) + " " + ShownPath(folder) +
                             " is a file, not a folder; nothing written");
    toMake.push_back(folder);
  }
  bool named = false;
  for (int i = 1; i <= admin::DestFolderCount; ++i) {
    const std::string folder = util::TrimText(source.DestFolders[i]).Str();
    if (folder.empty())
      continue;
    named = true;
    if (!util::FolderExists(folder))
      Fail(ExitBadInput, "destination folder " + std::to_string(i) + " " + ShownPath(folder) +
                             " does not exist; it is the customer's folder, update build does "
                             "not make it; nothing written");
  }
  if (!named)
    Fail(ExitBadInput, "DestFolders names no destination folder; nothing written");
  // The administration file is written into a folder that is there or made
  // here; a name without a folder lies in the current one.
  const std::string adminFolder(platform::FolderPart(adminPath, "\\/"));
  if (!adminFolder.empty() && !util::FolderExists(adminFolder) &&
      std::none_of(toMake.begin(), toMake.end(), [&adminFolder](const std::string &folder) {
        return util::SameSpelledPath(util::AddBackslash(folder), adminFolder);
      }))
    Fail(ExitBadInput,
         "AdminFileName " + ShownPath(adminPath) + ": its folder does not exist; nothing written");
  if (std::string problem = FolderRuleProblem(header, adminPath); !problem.empty())
    Fail(ExitBadInput, problem + "; nothing written");
  return toMake;
}

// What the writes changed, to be undone when a later one fails.
struct TUndo {
  std::vector<std::string> MadeFolders;
  std::vector<std::unique_ptr<platform::TTempFile>> Temps; // discard
  std::vector<std::string> NewFiles;                       // delete
  std::vector<std::pair<std::string, std::string>> Moved;  // backup, original: move back
  std::vector<TSnapshot> Snapshots;

  // False when something could not be put back.
  bool Run() {
    bool ok = true;
    // Before the folders: a folder made here goes only once it is empty.
    for (auto &temp : Temps)
      temp->Discard();
    for (auto it = Snapshots.rbegin(); it != Snapshots.rend(); ++it)
      ok = Restore(*it) && ok;
    for (const std::string &f : NewFiles)
      ok = (!util::PathExists(f) || platform::DeleteFile(f)) && ok;
    for (const auto &[backup, original] : Moved)
      ok = platform::MoveFileReplacing(backup, original) && ok;
    for (auto it = MadeFolders.rbegin(); it != MadeFolders.rend(); ++it)
      ok = platform::RemoveFolder(*it) && ok;
    return ok;
  }
};

[[noreturn]] void FailAndUndo(TUndo &undo, const std::string &message) {
  const std::string why = OsErrorText();
  const bool undone = undo.Run();
  Fail(ExitFailed, message + ": " + why +
                       (undone ? "; nothing changed: every file is as it was"
                               : "; not everything could be put back: " + OsErrorText()));
}

// The folders of `folder` that do not exist yet, the outermost first.
std::vector<std::string> MissingFolders(std::string folder) {
  std::vector<std::string> missing;
  while (!folder.empty() && !util::FolderExists(folder)) {
    missing.insert(missing.begin(), folder);
    while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/'))
      folder.pop_back();
    const std::size_t nameStart = platform::NameStart(folder, "\\/");
    if (nameStart <= 1) // no separator, or only the root's
      break;
    folder.resize(nameStart - 1);
  }
  return missing;
}

// The package's bytes into the temporary file that takes its name later.
bool CopyInto(const std::string &package, platform::TFile &temp) {
  platform::TFile in;
  bool readFailed = false;
  return in.OpenRead(package) && temp.CopyFrom(in, readFailed);
}

void MakeFolders(const std::vector<std::string> &toMake, TUndo &undo) {
  for (const std::string &folder : toMake) {
    std::vector<std::string> missing = MissingFolders(folder);
    if (!util::ForceFolders(folder))
      FailAndUndo(undo, "the folder " + ShownPath(folder) + " cannot be made");
    for (const std::string &m : missing)
      if (std::find(undo.MadeFolders.begin(), undo.MadeFolders.end(), m) == undo.MadeFolders.end())
        undo.MadeFolders.push_back(m);
  }
}

// Each package takes its name from its temporary file; an old one is kept
// aside until all are there.
void PlacePackages(const std::vector<TPackagePlan> &plans, const std::string &download,
                   TUndo &undo) {
  for (std::size_t i = 0; i < plans.size(); ++i) {
    const std::string target = Join(download, plans[i].FileName);
    const std::string aside = util::PathExists(target) ? target + ".~old" : std::string();
    if (!undo.Temps[i]->Commit(aside, platform::TDurable::No)) {
      bool movedAside = false;
      {
        const platform::TKeepError keep;
        movedAside = !aside.empty() && !util::PathExists(target);
      }
      if (movedAside)
        undo.Moved.emplace_back(aside, target);
      FailAndUndo(undo, !aside.empty() && !movedAside
                            ? "the old package " + ShownPath(target) + " cannot be moved aside"
                            : "the package " + ShownPath(target) + " cannot be written");
    }
    if (!aside.empty())
      undo.Moved.emplace_back(aside, target);
    undo.NewFiles.insert(undo.NewFiles.begin(), target);
  }
}

// Every write is undone when a later one fails. The packages go in under
// temporary names first and take their own names last.
void WriteUpdate(const std::vector<TPackagePlan> &plans, const std::vector<std::string> &toMake,
                 const admin::TAdminHeader &header, const admin::TSettingsSource &source,
                 const std::string &outFolder, TStdio &stdio, std::ostream &out) {
  const std::string download = util::TrimText(source.DownloadFolder).Str();
  const std::string adminPath = util::TrimText(source.AdminFileName).Str();
  TUndo undo;
  admin::DataFolder = util::TrimText(outFolder);
  undo.Snapshots.push_back(TakeSnapshot(adminPath));
  undo.Snapshots.push_back(TakeSnapshot(admin::SettingsPath()));
  MakeFolders(toMake, undo);
  for (const TPackagePlan &plan : plans) {
    stdio.Progress.Show("copying " + Cp1252ToUtf8(plan.FileName) + " into the download folder",
                        true);
    const std::string target = Join(download, plan.FileName);
    auto &temp = undo.Temps.emplace_back(std::make_unique<platform::TTempFile>());
    if (!temp->Create(target, "~zrk") || !CopyInto(plan.Package, temp->File()))
      FailAndUndo(undo, "the package " + ShownPath(target) + " cannot be written");
  }
  std::vector<admin::TPackageRecord> records;
  for (const TPackagePlan &plan : plans) {
    admin::TPackageRecord &record = records.emplace_back();
    record.SetPackageFileName(plan.FileName);
    record.SetDestIndex(static_cast<std::uint8_t>(plan.DestIndex));
    record.SetInstallPending(1);
    record.SetPackageReady(1);
  }
  if (!admin::WriteAdminFile(adminPath, header, records, source.AdminSeed))
    FailAndUndo(undo, ShownPath(adminPath) + " cannot be written");
  const std::int32_t stored = admin::StoreSettings(source);
  if (stored != admin::StoreOk)
    FailAndUndo(undo, "StoreSettings " + std::to_string(stored) + ": " +
                          admin::StoreSettingsResultText(stored));
  PlacePackages(plans, download, undo);
  for (const auto &[aside, original] : undo.Moved)
    if (!platform::DeleteFile(aside)) // an old package left aside harms nothing
      out << "note: the old package " << ShownPath(aside)
          << " could not be removed: " << OsErrorText() << "\n";
}

} // namespace

int BuildUpdate(const std::string &specArg, const std::string &outFolder, bool dryRun,
                const std::string &signKey, TStdio &stdio, std::ostream &out) {
  const std::string specPath = stdio.Input(specArg);
  TJson spec = TJson::parse(ReadWholeFile(specPath, "update spec"), nullptr, false);
  if (spec.is_discarded() || !spec.is_object())
    Fail(ExitBadInput, "the update spec is not a JSON object");
  for (const auto &[key, value] : spec.items())
    if (key != "Settings" && key != "Header" && key != "Packages")
      Fail(ExitBadInput, "unknown key \"" + key + "\" in the update spec");
  if (!spec.contains("Settings") || !spec.contains("Packages") || !spec["Packages"].is_array() ||
      spec["Packages"].empty())
    Fail(ExitBadInput, "the update spec needs \"Settings\" and a list of \"Packages\"");
  admin::TSettingsSource source = SettingsSourceOf(spec["Settings"]);
  admin::TAdminHeader header;
  std::vector<std::string> assignments;
  const TJson fields = spec.value("Header", TJson::object());
  if (!fields.is_object())
    Fail(ExitBadInput, "\"Header\" must map header fields to values");
  for (const auto &[key, value] : fields.items())
    assignments.push_back(key + "=" +
                          (value.is_string() ? value.get<std::string>() : value.dump()));
  for (const std::string &a : assignments) {
    std::string error;
    if (!ApplyAssignment(HeaderFields(), a, header.Bytes, error))
      Fail(ExitBadInput, "Header: " + error);
  }
  header.SetUpdatePending(1);
  const std::vector<std::string> toMake = CheckBeforeWriting(source, outFolder);
  const std::unique_ptr<TSigner> signer =
      signKey.empty() ? nullptr : std::make_unique<TSigner>(ReadSigner(signKey));

  // Packages first, in scratch files: nothing is written before all are made.
  // A spec from standard input has its folders relative to the current one.
  const std::string specFolder = specArg == "-" ? std::string() : FolderOfFile(specPath);
  std::vector<TPackagePlan> plans;
  std::vector<std::string> seen;
  for (const TJson &p : spec["Packages"]) {
    TPackagePlan plan = PlanPackage(p, specFolder, stdio);
    const std::string key = util::UpperCaseGerman(plan.FileName).Str();
    if (std::find(seen.begin(), seen.end(), key) != seen.end())
      Fail(ExitBadInput, "two packages are named " + Cp1252ToUtf8(plan.FileName));
    seen.push_back(key);
    if (signer)
      AddManifest(plan, header.OfferedVersionText().Str(), *signer, stdio);
    plan.Zip = stdio.Scratch();
    plan.Package = stdio.Scratch();
    std::string error;
    const std::string shownName = Cp1252ToUtf8(plan.FileName);
    stdio.Progress.Show(shownName + ": zipping", true);
    auto zipped = [&](std::uint64_t bytes) {
      stdio.Progress.Show(shownName + ": zipping, " + std::to_string(bytes >> 20) + " MiB read");
    };
    if (!WriteZip(plan.Zip, plan.Files, error, zipped))
      Fail(ExitFailed, "package " + Cp1252ToUtf8(plan.FileName) + ": " + error);
    stdio.Progress.Show(shownName + ": testing the archive", true);
    TArchiveReport archive = CheckArchive(plan.Zip);
    for (const std::string &problem : archive.Problems)
      Fail(ExitBadInput, "package " + Cp1252ToUtf8(plan.FileName) + ": " + Cp1252ToUtf8(problem));
    stdio.Progress.Show(shownName + ": packing", true);
    if (!packages::WritePackageFile(plan.Zip, plan.Package, packages::MaxChunkLength))
      Fail(ExitFailed,
           "package " + Cp1252ToUtf8(plan.FileName) + " cannot be packed: " + OsErrorText());
    stdio.Progress.Clear();
    out << (dryRun ? "would write " : "made ") << Cp1252ToUtf8(plan.FileName) << ": "
        << plan.Files.size() << " files, " << archive.UnpackedBytes << " bytes, DestIndex "
        << plan.DestIndex << (signer ? ", signed" : "") << "\n";
    plans.push_back(std::move(plan));
  }
  const std::string download = util::TrimText(source.DownloadFolder).Str();
  const std::string adminPath = util::TrimText(source.AdminFileName).Str();
  if (dryRun) {
    for (const std::string &folder : toMake)
      out << "would make the folder " << ShownPath(folder) << "\n";
    out << "would write " << ShownPath(adminPath) << " (header and " << plans.size()
        << " records), " << ShownPath(Join(outFolder, std::string(admin::SettingsFileName)))
        << ", and the packages into " << ShownPath(download) << "\n";
    return ExitOk;
  }
  WriteUpdate(plans, toMake, header, source, outFolder, stdio, out);
  stdio.Progress.Clear();
  out << "wrote " << ShownPath(adminPath) << ", the settings and " << plans.size()
      << " packages; checking:\n";
  return CheckDataFolder(outFolder, {}, stdio, out);
}

void DefineUpdateBuild(CLI::App &command, TCommandContext &context) {
  struct TOptions {
    std::string Spec, Out, Sign;
    bool DryRun = false;
  };
  auto o = std::make_shared<TOptions>();
  AddRequiredPath(command, "SPEC", o->Spec, "the update, JSON; - reads it from standard input");
  AddRequiredPath(command, "OUTDIR", o->Out, "the data folder: ZRKUPD.DAT goes here");
  command.add_flag("--dry-run", o->DryRun, "make and test the packages, write nothing else");
  command
      .add_option("--sign", o->Sign,
                  "PEM private key (ECDSA P-256): every package gets a signed MANIFEST.SIG")
      ->transform(PathArgument());
  command.footer(
      "SPEC: {\"Settings\": {every key of a settings source, see settings store}, \"Header\": "
      "{FIELD: VALUE of the header, e.g. \"OfferedVersionText\": \"4.0\"}, \"Packages\": "
      "[{\"PackageFileName\": \"PROG.PKG\", \"DestIndex\": 1, \"Folder\": \"files/prog\", "
      "\"FilePaths\": {\"HILFE.TXT\": 3}}]}. Folders are relative to the folder of SPEC and "
      "hold plain files only. The administration file goes where AdminFileName points (a "
      "name without a folder: the current folder) and holds the header and one record per "
      "package, pending; the packages go into DownloadFolder.");
  context.OnRun(command, [o, &context] {
    return BuildUpdate(o->Spec, o->Out, o->DryRun, o->Sign, context.Stdio, context.Out);
  });
}

} // namespace tools
