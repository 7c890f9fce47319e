// Reading and writing the administration file (header plus package records)
// and the download record file, both shared with the host. Nothing here
// throws; every routine answers with a boolean.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "admin/admin_records.h"
#include "platform/files.h"

namespace admin {

// Version that a header with an impossible version date is set back to.
constexpr std::string_view FixUpVersionText = "3.83.0";
constexpr std::int32_t FixUpVersionNumber = 383;
// Folders a header with blank entries is read with.
constexpr std::string_view DefaultDownloadFolder = "C:\\TEST";
constexpr std::string_view DefaultStagingFolder = "C:\\HELP";

// True when a whole header was read; `header` is then plain, with blank
// download/staging folders filled in. Otherwise `header` is all zeros.
[[nodiscard]] bool ReadAdminHeader(std::string_view path, TAdminHeader &header, std::int32_t seed);
// The header as the file holds it, unscrambled: no folder filled in, no
// repair written back, opened for reading only (for tools that show a file as
// it is). True when a whole header was read; otherwise `header` is all zeros.
[[nodiscard]] bool ReadStoredHeader(std::string_view path, TAdminHeader &header, std::int32_t seed);
// Replaces the first AdminHeaderSize bytes of the file (created when missing);
// the records behind stay. `header` is not changed.
[[nodiscard]] bool WriteAdminHeader(std::string_view path, const TAdminHeader &header,
                                    std::int32_t seed);
// The administration file as the host writes it: the header, then each
// package record, each scrambled on its own.
std::vector<std::uint8_t> AdminFileBytes(const TAdminHeader &header,
                                         const std::vector<TPackageRecord> &records,
                                         std::int32_t seed);
// Writes the whole file anew: no record of an earlier file stays behind.
[[nodiscard]] bool WriteAdminFile(std::string_view path, const TAdminHeader &header,
                                  const std::vector<TPackageRecord> &records, std::int32_t seed);
// Writes package record `index` (0 right behind the header) in its place; the
// index one past the last record appends.
[[nodiscard]] bool WritePackage(std::string_view path, std::int64_t index,
                                const TPackageRecord &record, std::int32_t seed);
// Delivers the next package record. Set `first` before the first call: the
// file is then opened at `path` and stays open in `file` for the caller to
// close. False at the end (a partial record counts as the end) or on an error;
// `record` is then zeros.
[[nodiscard]] bool ReadNextPackage(platform::TFile &file, std::string_view path,
                                   TPackageRecord &record, std::int32_t seed, bool &first);
// Marks the record that the last ReadNextPackage delivered as applied and
// writes it back in its place; the file position stays behind it. `record`
// stays plain and shows the change.
[[nodiscard]] bool RewritePackage(platform::TFile &file, TPackageRecord &record, std::int32_t seed);
// The change RewritePackage makes: offered infos become the installed ones,
// InstallPending 0.
void MarkApplied(TPackageRecord &record);

// What undoes RewritePackage of one record: where the record is stored, and
// its stored (scrambled) bytes before and after.
struct TRecordUndo {
  std::string AdminPath; // empty: there is nothing to undo
  std::int64_t Offset = 0;
  std::array<std::uint8_t, PackageRecordSize> Before{}, After{};
};
// The undo of RewritePackage for `record` (plain, as just read), stored at
// `offset` of `adminPath`.
TRecordUndo RecordUndoOf(std::string_view adminPath, std::int64_t offset,
                         const TPackageRecord &record, std::int32_t seed);
// Writes Before back, durably, where After still stands: a record in any
// other state is not the one the undo knew. True when nothing is left to undo
// (also when the file or the record is gone); `written` tells whether Before
// was written back.
[[nodiscard]] bool UndoRecord(const TRecordUndo &undo, bool *written = nullptr);
// Stamps the outcome of a run into `header` and writes it to Settings'
// administration file; a result of 0 also installs the offered version.
void RecordRunResult(TAdminHeader &header, std::int32_t result);
// The two halves of RecordRunResult, for a caller that notes the stamped
// header before it is written.
void StampRunResult(TAdminHeader &header, std::int32_t result);
void WriteRunResult(const TAdminHeader &header);
// True when a whole record was read. A short file leaves key bytes in the
// missing part; a missing file leaves zeros.
[[nodiscard]] bool ReadDownloadRecord(std::string_view path, TDownloadRecord &record,
                                      std::int32_t seed);

} // namespace admin
