// Copies through a temporary file beside the destination and replaces the
// destination in one step, so a failed copy (a full disk, a read error) never
// costs the previous version of the file.
#include "util/file_copy.h"

#include <cstdint>
#include <string>

#include "platform/files.h"
#include "util/short_string.h"
#include "util/text.h"

namespace util {

namespace {

constexpr std::string_view TempPrefix = "~zrk";

int CopyToTemp(platform::TFile &source, platform::TFile &temp, std::uint32_t &dosTime) {
  // The seam copies inside the system where it can: no byte through here.
  bool readFailed = false;
  if (!temp.CopyFrom(source, readFailed))
    return readFailed ? 3 : 4;
  if (!source.GetDosTime(dosTime))
    return 5;
  // The copy is whole; a date that cannot be set does not undo it.
  (void)temp.SetDosTime(dosTime);
  return 0;
}

// `tempPath` empty: a fresh name is found beside the destination.
int CopyThroughTemp(std::string_view source, std::string_view destination,
                    std::string_view tempPath, std::string_view asidePath,
                    platform::TFlushBehind *behind) {
  // A longer name would be cut on its way into a short string and the copy
  // would land under a different name.
  if (source.size() > TShortString::Capacity || destination.size() > TShortString::Capacity)
    return 2;

  platform::TFile input;
  std::uint32_t attributes = 0;
  if (!input.OpenRead(source) || !input.Attributes(attributes))
    return 1;

  // A read-only destination or a folder is refused by the commit, which
  // looks at the destination only when there is one.
  platform::TTempFile temp;
  if (tempPath.empty() ? !temp.Create(destination, TempPrefix)
                       : !temp.CreateAs(destination, tempPath))
    return 2;

  std::uint32_t dosTime = 0;
  const int result = CopyToTemp(input, temp.File(), dosTime);
  input.Close();
  if (result != 0)
    return result; // the temporary file goes with `temp`
  // Placed files are made durable together, folder by folder, before the
  // package record says they are there.
  if (behind != nullptr ? !temp.Commit(asidePath, *behind)
                        : !temp.Commit(asidePath, platform::TDurable::Data))
    return 2;
  // A file just written has the archive attribute alone; most sources have no
  // other. The data is in place either way; attributes follow where they can.
  if (attributes != platform::faArchive)
    (void)platform::SetAttributes(destination, attributes);
  return 0;
}

} // namespace

int CopyFileWithDate(std::string_view source, std::string_view destination) {
  return CopyThroughTemp(source, destination, {}, {}, nullptr);
}

int CopyFileWithDate(std::string_view source, std::string_view destination,
                     std::string_view tempPath, std::string_view asidePath) {
  if (tempPath.empty())
    return 2;
  return CopyThroughTemp(source, destination, tempPath, asidePath, nullptr);
}

int CopyFileWithDate(std::string_view source, std::string_view destination,
                     std::string_view tempPath, std::string_view asidePath,
                     platform::TFlushBehind &behind) {
  if (tempPath.empty())
    return 2;
  return CopyThroughTemp(source, destination, tempPath, asidePath, &behind);
}

} // namespace util
