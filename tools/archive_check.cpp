// Archive checks through the unzip library's own reader and its test mode.
#include "tools/archive_check.h"

#include <map>

#include "dunzip/entry_name.h"
#include "dunzip/extract.h"
#include "dunzip/zip_reader.h"
#include "platform/files.h"
#include "util/text.h"

namespace tools {

namespace {

constexpr std::string_view MarkerName = "FILEPATH.ID";

class TFileSource : public dunzip::TByteSource {
public:
  // A file that cannot be sized reads as empty, which the check then reports.
  explicit TFileSource(platform::TFile &file) : File(file) { (void)File.Size(Length); }
  std::uint64_t Size() const override { return static_cast<std::uint64_t>(Length); }
  bool ReadAt(std::uint64_t offset, void *buffer, std::size_t count) override {
    std::uint32_t got = 0;
    return File.Seek(static_cast<std::int64_t>(offset)) &&
           File.Read(buffer, static_cast<std::uint32_t>(count), got) && got == count;
  }

private:
  platform::TFile &File;
  std::int64_t Length = 0;
};

class TTextSink : public dunzip::TByteSink {
public:
  explicit TTextSink(std::size_t limit) : Limit(limit) {}
  bool Write(const std::uint8_t *data, std::size_t count) override {
    Text.append(reinterpret_cast<const char *>(data), count);
    return Text.size() <= Limit;
  }
  std::string Text;

private:
  std::size_t Limit;
};

class THashSink : public dunzip::TByteSink {
public:
  bool Write(const std::uint8_t *data, std::size_t count) override {
    Hash.Add(data, count);
    return true;
  }
  platform::TSha256Hash Hash;
};

} // namespace

TArchiveReport CheckArchive(const std::string &zipPath, bool hashFiles) {
  TArchiveReport report;
  platform::TFile file;
  if (!file.OpenRead(zipPath)) {
    report.Problems.push_back("the archive cannot be opened");
    return report;
  }
  TFileSource source(file);
  dunzip::TZipReader reader(source);
  std::vector<dunzip::TZipEntry> entries;
  if (reader.ReadCentralDirectory(entries) != dunzip::TZipError::None) {
    report.Problems.push_back("not a readable ZIP archive");
    return report;
  }
  std::map<std::string, std::string> seen; // upper-case name -> entry name
  for (const dunzip::TZipEntry &entry : entries) {
    if (entry.IsFolder())
      continue;
    std::string name;
    dunzip::TCleanName clean;
    if (!dunzip::DecodeEntryName(entry, name)) {
      report.Problems.push_back("entry \"" + entry.RawName +
                                "\": its name has no Windows-1252 form");
      continue;
    }
    if (!dunzip::CleanEntryName(name, clean)) {
      report.Problems.push_back("entry \"" + name + "\": a name Windows does not allow");
      continue;
    }
    if (entry.IsEncrypted())
      report.Problems.push_back("entry \"" + name + "\" is encrypted");
    if (!entry.MethodSupported())
      report.Problems.push_back("entry \"" + name + "\" uses compression method " +
                                std::to_string(entry.Method) + " (only stored and deflated)");
    const std::string key = util::UpperCaseGerman(clean.Name).Str();
    if (auto it = seen.find(key); it != seen.end())
      report.Problems.push_back("entries \"" + it->second + "\" and \"" + name +
                                "\" land on the same file once folders are dropped");
    else
      seen.emplace(key, name);
    report.Files.push_back(clean.Name);
    report.UnpackedBytes += entry.UncompressedSize;
    if (!entry.MethodSupported() || entry.IsEncrypted())
      continue;
    if (key == MarkerName) {
      TTextSink sink(1024 * 1024);
      if (reader.ExtractEntry(entry, sink) == dunzip::TZipError::None) {
        report.HasFilePathId = true;
        report.FilePathId = sink.Text;
      }
    }
    if (key == packages::ManifestName) {
      TTextSink sink(packages::MaxManifestSize);
      if (reader.ExtractEntry(entry, sink) == dunzip::TZipError::None) {
        report.HasManifest = true;
        report.Manifest = sink.Text;
      }
    } else if (hashFiles) {
      THashSink sink;
      packages::TManifestEntry &hashed = report.Hashed.emplace_back();
      hashed.Name = clean.Name;
      hashed.Size = entry.UncompressedSize;
      if (reader.ExtractEntry(entry, sink) != dunzip::TZipError::None ||
          !sink.Hash.Finish(hashed.Digest))
        report.Problems.push_back("entry \"" + name + "\" cannot be read to its end");
    }
  }
  file.Close();
  if (!report.Problems.empty())
    return report;
  // Everything else (sizes, CRC-32s, local headers) as the library checks
  // it when it unpacks, writing nothing.
  dunzip::TExtractRequest request;
  request.ZipFile = zipPath;
  request.FileSpec = "*.*";
  request.Destination = ".";
  request.OverWrite = true;
  request.NoDirectoryNames = true;
  request.NoDirectoryItems = true;
  request.Test = true;
  std::uint32_t tested = 0;
  const dunzip::TDunzipResult result = dunzip::Extract(request, tested);
  if (result != 0)
    report.Problems.push_back("the unzip library's test of the archive fails (code " +
                              std::to_string(static_cast<int>(result)) + ")");
  return report;
}

} // namespace tools
