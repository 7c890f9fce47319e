// Seed generator for the fuzz targets: writes small valid (and some nearly
// valid) inputs with the project's own writers into OUTDIR/<target>/.
// Usage: zrk_fuzz_seeds OUTDIR [ZIPFILE...]; the ZIP files become packages.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "admin/admin_file.h"
#include "admin/settings.h"
#include "fuzz/fuzz_support.h"
#include "packages/package_check.h"
#include "packages/package_signature.h"
#include "packages/placement.h"
#include "platform/files.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

fs::path OutDir;
bool Failed = false;

void Emit(const std::string &target, const std::string &name, const Bytes &bytes) {
  fs::create_directories(OutDir / target);
  std::ofstream out(OutDir / target / ("seed-" + name), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write seed %s/%s\n", target.c_str(), name.c_str());
    Failed = true;
  }
}

// A step that the seeds depend on; a failure spoils the whole set.
void Require(bool succeeded, const char *what) {
  if (!succeeded) {
    std::fprintf(stderr, "seed generation: %s failed\n", what);
    Failed = true;
  }
}

Bytes Text(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

Bytes Prefixed(std::initializer_list<std::uint8_t> head, const Bytes &rest) {
  Bytes out(head);
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

Bytes ReadNative(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes ReadDrive(std::string_view path) {
  Bytes bytes;
  if (!fuzz::GetFile(path, bytes)) {
    std::fprintf(stderr, "cannot read %.*s\n", static_cast<int>(path.size()), path.data());
    Failed = true;
  }
  return bytes;
}

void TextSeeds() {
  const char *texts[] = {"",
                         "   ",
                         " \tabc",
                         "  abc \r\n",
                         " \xA0x ",
                         "C:\\A\\B.TXT",
                         "C:B.TXT",
                         "\\B.TXT",
                         "C:/A/B",
                         "M\xFCller \xC4rger \xDF ~[]{}|",
                         "9223372036854775807",
                         "-9223372036854775808",
                         " 42",
                         "$1F",
                         "0x1f",
                         "-7",
                         "1a"};
  int n = 0;
  for (const char *t : texts)
    Emit("text", std::to_string(n++), Text(t));
  // Width byte, an int64, decimals, grouping and a double, as the target reads them.
  Emit("text", "number",
       Bytes{11, 0x15, 0xCD, 0x5B, 0x07, 0, 0, 0, 0, 3, 1, 0, 0, 0, 0, 0, 0x4A, 0x93, 0x40});
  Emit("text", "long", Bytes(300, 0xFC));
}

void PackageSeeds(const std::vector<fs::path> &zips) {
  Emit("package", "empty-chunk", Prefixed({0}, packages::BuildPackageBytes({}, 1)));
  Emit("package", "abc", Prefixed({0}, packages::BuildPackageBytes(Text("abc"), 1000)));
  Emit("package", "three-chunks",
       Prefixed({0}, packages::BuildPackageBytes(Text("123456789 chunked package"), 9)));
  Emit("package", "repair-all", Prefixed({7}, packages::BuildPackageBytes(Text("abcdef"), 4)));
  Bytes trailing = packages::BuildPackageBytes(Text("abc"), 1000);
  trailing.push_back(0);
  Emit("package", "trailing-byte", Prefixed({0}, trailing));
  int n = 0;
  for (const fs::path &zip : zips)
    Emit("package", "zip" + std::to_string(n++),
         Prefixed({0}, packages::BuildPackageBytes(ReadNative(zip), 4096)));
}

void AdminSeeds() {
  using namespace admin;
  constexpr char path[] = "C:\\SEEDS\\UPDADMIN.VAB";
  fuzz::MakeFolder("C:\\SEEDS");

  TAdminHeader header;
  header.SetDestFolder(1, "C:\\Programme\\Kasse");
  header.SetDestFolder(2, "C:\\UPD2\\");
  header.SetDownloadFolder("C:\\TEST");
  header.SetStagingFolder("C:\\HELP");
  header.SetVersionText("3.83.0");
  header.SetVersionDate(150000);
  header.SetVersionDate2(150000);
  header.SetVersionNumber(383);
  header.SetUpdatePending(1);
  header.SetOfferedVersionText("3.84.1");
  header.SetOfferedVersionDate(150100);

  fuzz::PutFile(path, nullptr, 0);
  Require(WriteAdminHeader(path, header, DefaultAdminSeed), "writing the header");
  Bytes headerOnly = ReadDrive(path);
  Emit("admin_file", "header-only", headerOnly);

  std::vector<TPackageRecord> records(4);
  const std::uint8_t flags[][2] = {{1, 1}, {0, 1}, {1, 0}, {1, 1}};
  for (int n = 0; n < 4; ++n) {
    TPackageRecord &record = records[static_cast<std::size_t>(n)];
    record.SetPackageFileName("PAKET" + std::to_string(n + 1) + ".CRC");
    for (int k = 1; k <= PackageInfoCount; ++k) {
      record.SetInstalledInfo(k, k);
      record.SetOfferedInfo(k, 10 * k + n);
    }
    record.SetInstallPending(flags[n][0]);
    record.SetPackageReady(flags[n][1]);
    record.SetDestIndex(static_cast<std::uint8_t>(n + 1));
  }
  Bytes withRecords = AdminFileBytes(header, records, DefaultAdminSeed);
  Emit("admin_file", "four-records", withRecords);
  Bytes partial = withRecords;
  partial.resize(AdminHeaderSize + PackageRecordSize + 100);
  Emit("admin_file", "partial-record", partial);
  Emit("admin_file", "short", Bytes(headerOnly.begin(), headerOnly.begin() + 100));

  TAdminHeader blank;
  blank.SetVersionDate(-5); // below the fix-up threshold
  fuzz::PutFile(path, nullptr, 0);
  Require(WriteAdminHeader(path, blank, DefaultAdminSeed), "writing the blank header");
  Emit("admin_file", "blank-fixup", ReadDrive(path));
}

void SettingsSeeds() {
  using namespace admin;
  fuzz::MakeFolder("C:\\SEEDS\\DATA");
  DataFolder = "C:\\SEEDS\\DATA";
  // The default settings name relative files; keep them in the scratch folder.
  Require(platform::SetCurrentFolder("C:\\SEEDS\\DATA"), "entering the scratch folder");
  WriteDefaultSettings();
  Bytes defaults = ReadDrive(SettingsPath());
  Emit("settings", "defaults", defaults);
  Emit("settings", "short", Bytes(defaults.begin(), defaults.begin() + 100));

  TSettingsSource source;
  source.AdminFileName = "D:\\Kasse\\Daten\\UPDADMIN.VAB";
  source.DownloadFileName = "D:\\Kasse\\Daten\\UPDDOWNL.VAB";
  source.AdminSeed = 12345678;
  source.UpdateTitle = std::string(160, 'T');
  source.DialogCaption = "Update \xFC"
                         "ber alles";
  source.BrandText = "Quendraforge";
  source.OptionByte = 0x1FF;
  source.ExtraText1 = std::string(255, 'x');
  source.ExtraNumber1 = -1;
  source.ExtraText2 = "zwei";
  source.ExtraText3 = "drei";
  source.ExtraNumber2 = 2;
  source.ExtraNumber3 = 3;
  StoreSettings(source);
  Emit("settings", "custom", ReadDrive(SettingsPath()));
}

void FilePathIdSeeds() {
  using namespace packages;
  auto record = [](std::string_view name, std::uint8_t index) {
    Bytes r(FilePathEntrySize, 0);
    r[FileNameLengthOffset] = static_cast<std::uint8_t>(name.size());
    std::copy(name.begin(), name.end(), r.begin() + FileNameCharsOffset);
    r[FolderIndexOffset] = index;
    return r;
  };
  Bytes marker;
  for (const Bytes &r :
       {record("readme.txt", 3), record("PROG.EXE", 7), record("prog.exe", 2),
        record("bad.dll", 21), record("zero.dll", 0), record("Gr\xDC\xDF.txt", 20)})
    marker.insert(marker.end(), r.begin(), r.end());
  Emit("filepath_id", "records", Prefixed({1, 0x55}, marker));
  Emit("filepath_id", "duplicate", Prefixed({2, 0}, marker));
  Bytes partial = marker;
  partial.resize(partial.size() - 1);
  Emit("filepath_id", "partial", Prefixed({5, 0xFF}, partial));
  Emit("filepath_id", "unlisted", Prefixed({0xFF, 0}, marker));
}

// Signed manifests with a signature of the right shape (DER, two 32-byte
// integers) that no key made: the target checks the reading, not the keys.
void ManifestSeeds() {
  using namespace packages;
  const std::string signature =
      "\x30\x44\x02\x20" + std::string(32, '\x11') + "\x02\x20" + std::string(32, '\x22');
  TManifest manifest;
  manifest.PackageFileName = "PROGRAMM.PKG";
  manifest.OfferedVersion = "3.90.0";
  manifest.KeyFingerprint.fill(0xAB);
  const auto emit = [&](const std::string &name) {
    const std::string file = EncodeManifestFile(EncodeManifestBody(manifest), signature);
    Emit("manifest", name, Text(file));
  };
  emit("empty");
  for (const char *name : {"KAST.DAT", "FILEPATH.ID", "Gr\xFC\xDF.txt"}) {
    TManifestEntry &entry = manifest.Entries.emplace_back();
    entry.Name = name;
    entry.Size = 1000 * manifest.Entries.size();
    entry.Digest.fill(static_cast<std::uint8_t>(manifest.Entries.size()));
  }
  emit("three");
}

void EntryNameSeeds() {
  const char *names[] = {"readme.txt", "sub/deeper/file.bin", "folder/",     "../evil.txt",
                         "a/../../b",  "C:\\Windows\\x.dll",  "/etc/passwd", "con.txt",
                         "COM1",       "trailing. ",          "a\\b\\c",     "./x/./y"};
  int n = 0;
  for (const char *name : names)
    Emit("entry_name", std::to_string(n++), Prefixed({0}, Text(name)));
  Emit("entry_name", "utf8",
       Prefixed({1}, Text("Gr\xC3\xBC\xC3\x9F"
                          "e/\xC3\x84rger.txt")));
  Emit("entry_name", "cp437",
       Prefixed({0}, Text("\x81"
                          "ber\\\x8E.txt")));
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTDIR [ZIPFILE...]\n", argv[0]);
    return 2;
  }
  OutDir = fs::absolute(argv[1]);
  std::vector<fs::path> zips(argv + 2, argv + argc);
  fuzz::UseScratchDrives();
  TextSeeds();
  PackageSeeds(zips);
  AdminSeeds();
  SettingsSeeds();
  FilePathIdSeeds();
  ManifestSeeds();
  EntryNameSeeds();
  return Failed ? 1 : 0;
}
