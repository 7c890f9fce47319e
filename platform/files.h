// File-system tasks the program needs from the operating system: files opened
// shared, listings with a Windows attribute filter, attributes and times,
// folders and the well-known system folders. Nothing here throws; every call
// reports success as a boolean and keeps the OS error (as a Windows error
// number) for the caller to look at.
//
// Paths are Windows-style texts in every build. The POSIX implementation maps
// them as follows:
//  - "\" and "/" both separate folders.
//  - A drive-letter path "X:\A\B" (or "X:A") maps below the drive root folder
//    DriveRoot()/X (upper-case letter); DriveRoot() is $ZRK_DRIVES when set,
//    else "/tmp/zrk-drives". SetDriveRoot() changes it (tests).
//  - Absolute POSIX paths ("/tmp/x") and relative paths are used as they are.
//  - Each path component is looked up exactly first and, when that fails, by
//    a case-insensitive match in its folder, as Windows does. The names of
//    recently searched folders are kept; the seam's own changes keep them
//    exact, and a folder whose times changed otherwise is read again.
//  - Hidden = name starting with "."; read-only = no write permission for the
//    owner; folders are 0x10; there are no system or volume entries.
//  - WindowsFolder() is "C:\WINDOWS", SystemFolder() "C:\WINDOWS\SYSTEM32",
//    ProgramFilesFolder() "C:\Program Files", all below the drive root.
//  - POSIX has no share modes: "shared" and "unshared" opens behave alike;
//    CreateNew still refuses an existing file. Read-only files refuse write
//    access, deletion and replacement (error 5) even for the superuser.
//  - Listings come in the order NTFS gives: names compared in their
//    upper-case forms, character by character ("PROGB.DLL" before
//    "PROG_A.DLL"). Windows listings keep the system's own order. Wildcards
//    follow the Windows rules ("*.*" matches every name, "*" and "?"
//    otherwise, case-insensitive).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Windows attribute bits, used on every platform.
constexpr std::uint32_t faReadOnly = 0x01;
constexpr std::uint32_t faHidden = 0x02;
constexpr std::uint32_t faSysFile = 0x04;
constexpr std::uint32_t faVolumeID = 0x08;
constexpr std::uint32_t faDirectory = 0x10;
constexpr std::uint32_t faArchive = 0x20;
constexpr std::uint32_t faNormal = 0x80;

// Windows error numbers that callers test for.
constexpr int ErrorSuccess = 0;
constexpr int ErrorFileNotFound = 2;
constexpr int ErrorPathNotFound = 3;
constexpr int ErrorAccessDenied = 5;
constexpr int ErrorWriteFault = 29;
constexpr int ErrorSharingViolation = 32;
constexpr int ErrorHandleDiskFull = 39;
constexpr int ErrorDiskFull = 112;
constexpr int ErrorAlreadyExists = 183;

// Error of the last failed call on this thread (0 after a successful one).
int LastError();

// Opens and creates only regular files: a folder, FIFO, pipe or device (NUL,
// COM1) fails with error 5, as an unreadable file.
class TFile {
public:
  TFile() = default;
  ~TFile();
  TFile(const TFile &) = delete;
  TFile &operator=(const TFile &) = delete;
  TFile(TFile &&other) noexcept;
  TFile &operator=(TFile &&other) noexcept;

  // Existing file, read and write access, shared for reading and writing.
  bool OpenShared(std::string_view path);
  // Existing file, read access only, shared for reading and writing.
  bool OpenRead(std::string_view path);
  // New or truncated file, read and write access, shared for reading and writing.
  bool Create(std::string_view path);
  // New or truncated file, read and write access, shared with nobody.
  bool CreateUnshared(std::string_view path);
  // New file that must not exist yet, read and write access, shared with nobody.
  bool CreateNew(std::string_view path);

  // `got` is the number of bytes read; 0 at the end of the file.
  bool Read(void *buffer, std::uint32_t count, std::uint32_t &got);
  // `written` may be less than `count` (a full disk).
  bool Write(const void *buffer, std::uint32_t count, std::uint32_t &written);
  bool Seek(std::int64_t position);
  bool Position(std::int64_t &position);
  bool Size(std::int64_t &size);
  bool AtEnd(bool &atEnd);
  bool Flush();
  // Last-write time as a DOS date-time in local time (date in the high word).
  bool GetDosTime(std::uint32_t &dosTime);
  bool SetDosTime(std::uint32_t dosTime);
  // Errors on closing are ignored, as everywhere in this program.
  void Close();
  bool IsOpen() const { return Handle != Invalid; }

private:
  static constexpr std::intptr_t Invalid = -1;
  std::intptr_t Handle = Invalid;
};

struct TFindEntry {
  std::string Name; // bare name
  std::uint32_t Attributes = 0;
  std::uint64_t Size = 0;
};

// Lists the entries matching `mask` (a folder followed by a pattern with
// wildcards). Plain files (read-only and archive ones included) are always
// listed; folders, hidden, system and volume entries only when their bit is in
// `attributeFilter`. "." and ".." are never listed. False when the folder
// cannot be read; an empty list is a success.
bool FindFiles(std::string_view mask, std::uint32_t attributeFilter,
               std::vector<TFindEntry> &entries);
// Windows wildcard match of one name, case-insensitive.
bool MatchesMask(std::string_view name, std::string_view pattern);

bool GetAttributes(std::string_view path, std::uint32_t &attributes);
bool SetAttributes(std::string_view path, std::uint32_t attributes);
bool GetDosTime(std::string_view path, std::uint32_t &dosTime);
bool SetDosTime(std::string_view path, std::uint32_t dosTime);
// True when both paths exist and lead to the same file or folder on the same
// volume, however each was spelled (short names, links). A query: it opens
// nothing for reading or writing.
bool SameFile(std::string_view a, std::string_view b);
bool DeleteFile(std::string_view path);
// Replaces `to` (if it exists) with `from` in one step.
bool MoveFileReplacing(std::string_view from, std::string_view to);
// Creates one folder level; the error is LastError() (183 when it exists).
bool CreateFolder(std::string_view path);
bool RemoveFolder(std::string_view path);
// Bytes the caller may still write on the volume that holds the existing
// folder `path`. A query, so the fault hooks do not count it.
bool FreeSpace(std::string_view path, std::uint64_t &bytes);
// The current folder as the host names it: a Windows path on Windows, the
// native POSIX path (not a drive path) on POSIX; SetCurrentFolder takes both.
std::string GetCurrentFolder();
bool SetCurrentFolder(std::string_view path);

std::string WindowsFolder();
std::string SystemFolder();
std::string ProgramFilesFolder();
// Full path of the running executable (with backslashes on POSIX too).
std::string ExecutablePath();
// Host path (POSIX only; the path itself on Windows) that a Windows-style
// path maps to, for tests and tools.
std::string NativePath(std::string_view path);
// POSIX only: the folder that drive letters map below.
std::string DriveRoot();
void SetDriveRoot(std::string_view folder);
// True in the Windows build.
bool HostIsWindows();

} // namespace platform
