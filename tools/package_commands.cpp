// zrktool package: package files (chunked CRC-32 containers) made of a ZIP
// archive, verified, tested as the unzip library unpacks them, and unpacked;
// and the FILEPATH.ID marker file that goes into an archive.
#include <memory>

#include <CLI/CLI.hpp>

#include "packages/package_check.h"
#include "packages/placement.h"
#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/path_parts.h"
#include "tools/archive_check.h"
#include "tools/codepage.h"
#include "tools/commands.h"
#include "tools/signature_view.h"
#include "tools/values.h"
#include "tools/zrktool.h"

namespace tools {

namespace {

std::string PathKey(const std::string &path) {
  std::string native = platform::NativePath(path);
  if (platform::HostIsWindows())
    for (char &c : native)
      c = c == '/' ? '\\' : platform::UpperAscii(c);
  return native;
}

// A package stores its total length as a signed 32-bit number.
constexpr std::int64_t MaxArchiveSize = INT32_MAX;

// How an argument shows in messages: "-" is standard input or output.
std::string ShownArg(const std::string &arg, bool output) {
  if (arg == "-")
    return output ? "standard output" : "standard input";
  return ShownPath(arg);
}

// `zipArg` and `packageArg` as given; `zip` and `package` the files behind them.
int PackagePack(const std::string &zipArg, const std::string &zip, const std::string &packageArg,
                const std::string &package, std::int32_t chunkSize, std::ostream &out) {
  std::int64_t size = RequireFile(zip, "archive");
  if (chunkSize < 1 || chunkSize > packages::MaxChunkLength)
    Fail(ExitBadInput, "--chunk-size must be 1 to " + std::to_string(packages::MaxChunkLength));
  if (size > MaxArchiveSize)
    Fail(ExitBadInput, "the archive " + ShownArg(zipArg, false) + " has " + std::to_string(size) +
                           " bytes; a package holds less than 2 GiB (at most " +
                           std::to_string(MaxArchiveSize) + " bytes); nothing written");
  if (PathKey(zip) == PathKey(package))
    Fail(ExitBadInput, "the package must not replace the archive it is made from");
  if (!packages::WritePackageFile(zip, package, chunkSize)) {
    std::string why = OsErrorText();
    (void)platform::DeleteFile(package); // the failure is what gets reported
    Fail(ExitFailed, "the package " + ShownArg(packageArg, true) + " cannot be written: " + why);
  }
  out << "packed " << ShownArg(zipArg, false) << " into " << ShownArg(packageArg, true) << " ("
      << FileSizeOf(package) << " bytes)\n";
  return ExitOk;
}

// One package's verification (and with `test` its archive's), as text or as
// one element of the JSON list.
struct TPackageOutcome {
  bool Ok = false;
  TJson Json;
};

TPackageOutcome CheckOnePackage(const std::string &arg, bool test, bool json,
                                const packages::TPackageKey *key, TStdio &stdio,
                                std::ostream &out) {
  const std::string package = stdio.Input(arg);
  const std::string shown = ShownArg(arg, false);
  RequireFile(package, "package");
  packages::TPackageReport report;
  const std::string zip = stdio.Scratch();
  stdio.Progress.Show("verifying " + shown, true);
  TPackageOutcome o;
  o.Ok = packages::VerifyPackageStream(package, zip, report);
  stdio.Progress.Clear();
  o.Json = {{"Package", shown},
            {"Verified", o.Ok},
            {"Result", DescribeReport(report)},
            {"Chunks", report.ChunksVerified},
            {"Bytes", report.BytesVerified}};
  if (report.HeaderRead) {
    o.Json["TotalLength"] = report.TotalLength;
    o.Json["CrcSum"] = CrcText(report.CrcSum);
  }
  o.Json["Problems"] = TJson::array();
  if (!o.Ok)
    o.Json["Problems"].push_back(ProblemJson(shown, DescribeReport(report), true));
  if (!json) {
    out << shown << ": " << DescribeReport(report) << "\n";
    if (!test && report.HeaderRead)
      out << "header: totalLength " << report.TotalLength << ", crcSum " << CrcText(report.CrcSum)
          << "\n";
  }
  if (!o.Ok)
    return o;
  const TArchiveReport archive = CheckArchive(zip, true);
  // A package read from standard input is taken to be the one it was signed for.
  std::string name;
  if (arg == "-") {
    packages::TManifest manifest;
    std::string ignored;
    if (packages::DecodeManifest(archive.Manifest, manifest, ignored))
      name = manifest.PackageFileName;
  } else if (!Utf8ToCp1252(
                 std::string(platform::NamePart(arg, platform::HostIsWindows() ? "\\/:" : "/")),
                 name)) {
    name = std::string(platform::NamePart(arg, "/"));
  }
  const TSignatureView signature = ViewSignature(archive, name, key);
  o.Json["Signature"] = signature.Json();
  if (!json)
    out << shown << ": " << signature.Describe() << "\n";
  if (!signature.Problem.empty()) {
    o.Ok = false;
    o.Json["Problems"].push_back(ProblemJson(shown, Cp1252ToUtf8(signature.Problem), true));
  }
  if (!test)
    return o;
  const bool signatureOk = o.Ok;
  o.Ok = signatureOk && archive.Problems.empty();
  TJson files = TJson::array();
  for (const std::string &f : archive.Files)
    files.push_back(Cp1252ToUtf8(f));
  o.Json["Archive"] = {{"Unpacks", o.Ok},
                       {"Files", files},
                       {"UnpackedBytes", archive.UnpackedBytes},
                       {"FilePathId", archive.HasFilePathId}};
  for (const std::string &problem : archive.Problems) {
    o.Json["Problems"].push_back(ProblemJson(shown, Cp1252ToUtf8(problem), true));
    if (!json)
      out << shown << ": " << Cp1252ToUtf8(problem) << "\n";
  }
  if (archive.Problems.empty() && !json)
    out << shown << ": archive unpacks: " << archive.Files.size() << " files, "
        << archive.UnpackedBytes << " bytes" << (archive.HasFilePathId ? ", FILEPATH.ID" : "")
        << "\n";
  return o;
}

// Every package is verified (with `test` its archive tested as the unzip
// library unpacks it); the exit code says whether all passed.
int PackageCheck(const std::vector<std::string> &packageList, bool test, bool json,
                 const std::string &keyPath, TStdio &stdio, std::ostream &out) {
  bool allOk = true;
  packages::TPackageKey key;
  const bool haveKey = KeyToCheck(keyPath, key);
  TJson all = {{"Packages", TJson::array()}, {"Problems", TJson::array()}};
  for (const std::string &arg : packageList) {
    TPackageOutcome o = CheckOnePackage(arg, test, json, haveKey ? &key : nullptr, stdio, out);
    allOk = allOk && o.Ok;
    for (const TJson &problem : o.Json["Problems"])
      all["Problems"].push_back(problem);
    o.Json.erase("Problems");
    all["Packages"].push_back(std::move(o.Json));
  }
  if (json) {
    all["Ok"] = allOk;
    PrintJson(out, all);
  }
  return allOk ? ExitOk : ExitFailed;
}

int PackageExtract(const std::string &packageArg, const std::string &package,
                   const std::string &zipArg, const std::string &zip, std::ostream &out) {
  RequireFile(package, "package");
  if (PathKey(zip) == PathKey(package))
    Fail(ExitBadInput, "the archive must not replace the package it comes from");
  packages::TPackageReport report;
  bool ok = packages::VerifyPackageStream(package, zip, report);
  out << ShownArg(packageArg, false) << ": " << DescribeReport(report) << "\n";
  if (!ok) {
    // Half an archive is worse than none: nobody should unpack it by mistake.
    (void)platform::DeleteFile(zip);
    out << "no archive written\n";
    return ExitFailed;
  }
  out << "archive written to " << ShownArg(zipArg, true) << " (" << report.BytesVerified
      << " bytes)\n";
  return ExitOk;
}

// The marker file that sends single files of a package to other destination
// folders: one FilePathEntry per NAME=INDEX, in the order given.
int PackageFilePathId(const std::string &path, const std::vector<std::string> &entries,
                      std::ostream &out) {
  std::string bytes;
  for (const auto &e : entries) {
    std::size_t eq = e.rfind('=');
    if (eq == std::string::npos || eq == 0)
      Fail(ExitBadInput, "\"" + e + "\" is not NAME=INDEX");
    std::string name;
    if (!Utf8ToCp1252(e.substr(0, eq), name))
      Fail(ExitBadInput, "\"" + e + "\": not UTF-8, or a character Windows-1252 cannot store");
    if (name.size() > packages::FileNameCapacity)
      Fail(ExitBadInput, "\"" + e + "\": the name is longer than 255 characters");
    auto index = ParseInteger(e.substr(eq + 1), 0, 255);
    if (!index)
      Fail(ExitBadInput, "\"" + e + "\": the index is not a number from 0 to 255");
    std::string entry(packages::FilePathEntrySize, '\0');
    entry[packages::FileNameLengthOffset] = static_cast<char>(name.size());
    entry.replace(packages::FileNameCharsOffset, name.size(), name);
    entry[packages::FolderIndexOffset] = static_cast<char>(*index);
    bytes += entry;
  }
  platform::TFile file;
  if (!file.Create(path) || !file.WriteAll(bytes.data(), static_cast<std::uint32_t>(bytes.size())))
    Fail(ExitFailed, ShownPath(path) + " cannot be written: " + OsErrorText());
  out << "wrote " << ShownPath(path) << ": " << entries.size() << " entries\n";
  return ExitOk;
}

// The options that verify and test share.
struct TCheckOptions {
  std::vector<std::string> Packages;
  bool Json = false;
  std::string Key;
};

void DefinePackageCheck(CLI::App &command, TCommandContext &context, bool test) {
  auto o = std::make_shared<TCheckOptions>();
  command.add_option("PACKAGES", o->Packages, "package files; - reads one from standard input")
      ->transform(PathArgument())
      ->required();
  command.add_flag("--json", o->Json, "the outcome as JSON");
  command
      .add_option("--key", o->Key,
                  "PEM public key to check signatures against (default: the key this "
                  "build carries, if any)")
      ->transform(PathArgument());
  context.OnRun(command, [o, test, &context] {
    return PackageCheck(o->Packages, test, o->Json, o->Key, context.Stdio, context.Out);
  });
}

// The two files of pack and extract, as given.
struct TTwoFiles {
  std::string Zip, Package;
};

} // namespace

void DefinePackagePack(CLI::App &command, TCommandContext &context) {
  struct TOptions : TTwoFiles {
    std::int32_t ChunkSize = packages::MaxChunkLength;
  };
  auto o = std::make_shared<TOptions>();
  AddRequiredPath(command, "ZIP", o->Zip, "the archive, less than 2 GiB; - for standard input");
  AddRequiredPath(command, "PACKAGE", o->Package,
                  "the package file to write; - for standard output");
  command.add_option("--chunk-size", o->ChunkSize, "payload bytes per chunk, 1 to 65000 (default)");
  context.OnRun(command, [o, &context] {
    TStdio &stdio = context.Stdio;
    std::string zip = stdio.Input(o->Zip);
    std::string package = stdio.Output(o->Package);
    int code =
        PackagePack(o->Zip, zip, o->Package, package, o->ChunkSize, stdio.Messages(context.Err));
    stdio.Finish();
    return code;
  });
}

void DefinePackageVerify(CLI::App &command, TCommandContext &context) {
  DefinePackageCheck(command, context, false);
}

void DefinePackageTest(CLI::App &command, TCommandContext &context) {
  DefinePackageCheck(command, context, true);
}

void DefinePackageExtract(CLI::App &command, TCommandContext &context) {
  auto o = std::make_shared<TTwoFiles>();
  AddRequiredPath(command, "PACKAGE", o->Package, "the package file; - for standard input");
  AddRequiredPath(command, "ZIP", o->Zip, "the archive to write; - for standard output");
  context.OnRun(command, [o, &context] {
    TStdio &stdio = context.Stdio;
    std::string package = stdio.Input(o->Package);
    std::string zip = stdio.Output(o->Zip);
    int code = PackageExtract(o->Package, package, o->Zip, zip, stdio.Messages(context.Err));
    if (code == ExitOk)
      stdio.Finish();
    return code;
  });
}

void DefinePackageFilePathId(CLI::App &command, TCommandContext &context) {
  struct TOptions {
    std::string File;
    std::vector<std::string> Entries;
  };
  auto o = std::make_shared<TOptions>();
  AddRequiredPath(command, "FILE", o->File, "the marker file to write");
  command.add_option("ENTRIES", o->Entries, "NAME=INDEX (NAME without a folder, INDEX 0 to 255)")
      ->required();
  command.footer(
      "zrkupd places the unpacked files in the order the folder lists them (name order on NTFS). "
      "A file with an entry whose INDEX is 1 to "
      "20 goes to that destination folder, and so does every file after it that has no entry "
      "of its own; before the first such file, files go to the package record's DestIndex. An "
      "entry with another INDEX counts as none. The first entry for a name counts. To send "
      "one file elsewhere, give the file after it an entry with the package's DestIndex.");
  context.OnRun(command,
                [o, &context] { return PackageFilePathId(o->File, o->Entries, context.Out); });
}

} // namespace tools
