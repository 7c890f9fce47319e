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
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/no_copy.h"

namespace platform {

// Windows attribute bits, used on every platform.
constexpr std::uint32_t faReadOnly = 0x01;
constexpr std::uint32_t faHidden = 0x02;
constexpr std::uint32_t faSysFile = 0x04;
constexpr std::uint32_t faVolumeID = 0x08;
constexpr std::uint32_t faDirectory = 0x10;
constexpr std::uint32_t faArchive = 0x20;
constexpr std::uint32_t faNormal = 0x80;

// Windows error numbers that callers test for and the seam reports.
constexpr int ErrorSuccess = 0;
constexpr int ErrorFileNotFound = 2;
constexpr int ErrorPathNotFound = 3;
constexpr int ErrorAccessDenied = 5;
constexpr int ErrorInvalidHandle = 6;
constexpr int ErrorNotEnoughMemory = 8;
constexpr int ErrorWriteFault = 29;
constexpr int ErrorSharingViolation = 32;
constexpr int ErrorHandleDiskFull = 39;
constexpr int ErrorFileExists = 80;
constexpr int ErrorInvalidParameter = 87;
constexpr int ErrorDiskFull = 112;
constexpr int ErrorNegativeSeek = 131;
constexpr int ErrorModNotFound = 126;
constexpr int ErrorProcNotFound = 127;
constexpr int ErrorAlreadyExists = 183;
constexpr int ErrorFileNameTooLong = 206;
constexpr int ErrorBadExeFormat = 193;

// Error of the last failed call on this thread (0 after a successful one).
int LastError();
// Leaves `error` as the thread's system error (Windows: GetLastError), where
// code of another module on this thread reads it with TakeOverError: the
// unzip library, with its own copy of the seam, hands the program so why a
// call failed.
void HandOverError(int error);
// The thread's system error as another module's last call left it; it is
// LastError() from now on.
int TakeOverError();
// Keeps LastError() of a failed call through the clean-up after it, so that
// the caller reads why the call failed, not how the clean-up went.
class TKeepError {
public:
  TKeepError() : Error(LastError()) {}
  ~TKeepError();
  TKeepError(const TKeepError &) = delete;
  TKeepError &operator=(const TKeepError &) = delete;

private:
  int Error;
};

// Opens and creates only regular files: a folder, FIFO, pipe or device (NUL,
// COM1) fails with error 5, as an unreadable file.
class TFile : TNoCopy {
public:
  TFile() = default;
  ~TFile();
  TFile(TFile &&other) noexcept;
  TFile &operator=(TFile &&other) noexcept;

  // Existing file, read and write access, shared for reading and writing.
  [[nodiscard]] bool OpenShared(std::string_view path);
  // Existing file, read access only, shared for reading and writing.
  [[nodiscard]] bool OpenRead(std::string_view path);
  // New or truncated file, read and write access, shared for reading and writing.
  [[nodiscard]] bool Create(std::string_view path);
  // New or truncated file, read and write access, shared with nobody.
  [[nodiscard]] bool CreateUnshared(std::string_view path);
  // Existing file, read and write access, shared with nobody: fails with 32
  // while another program holds it open (POSIX has no share modes).
  [[nodiscard]] bool OpenUnshared(std::string_view path);
  // New file that must not exist yet, read and write access, shared with nobody.
  [[nodiscard]] bool CreateNew(std::string_view path);

  // `got` is the number of bytes read; 0 at the end of the file.
  [[nodiscard]] bool Read(void *buffer, std::uint32_t count, std::uint32_t &got);
  // `written` may be less than `count` (a full disk).
  [[nodiscard]] bool Write(const void *buffer, std::uint32_t count, std::uint32_t &written);
  // All `count` bytes or a failure: a short write (a full disk) fails too.
  [[nodiscard]] bool WriteAll(const void *buffer, std::uint32_t count) {
    std::uint32_t written = 0;
    return Write(buffer, count, written) && written == count;
  }
  [[nodiscard]] bool Seek(std::int64_t position);
  [[nodiscard]] bool Position(std::int64_t &position);
  [[nodiscard]] bool Size(std::int64_t &size);
  [[nodiscard]] bool AtEnd(bool &atEnd);
  [[nodiscard]] bool Flush();
  // Sets disk space aside for the file to grow to `bytes`, without changing
  // its size or contents, so that later writes need not find room piece by
  // piece. A hint: false, with nothing changed, where the system cannot.
  [[nodiscard]] bool Reserve(std::int64_t bytes);
  // Last-write time as a DOS date-time in local time (date in the high word).
  [[nodiscard]] bool GetDosTime(std::uint32_t &dosTime);
  [[nodiscard]] bool SetDosTime(std::uint32_t dosTime);
  // Copies `source` from its position to its end onto this file at its
  // position, inside the operating system where it can, so that no byte
  // passes through the program. On failure `readFailed` tells whether
  // reading `source` failed rather than writing here. The fault hooks count
  // it as a copy through a buffer: a read per step and a write per step that
  // moved bytes.
  [[nodiscard]] bool CopyFrom(TFile &source, bool &readFailed);
  // Attributes of the open file, without looking its name up again. POSIX
  // cannot tell hidden (a name starting with ".") from the open file.
  [[nodiscard]] bool Attributes(std::uint32_t &attributes);
  // Errors on closing are ignored, as everywhere in this program.
  void Close();
  [[nodiscard]] bool IsOpen() const { return Handle != Invalid; }

private:
  enum class TOpen : std::uint8_t { Shared, Read, Unshared, Create, CreateUnshared, CreateNew };
  [[nodiscard]] bool Open(std::string_view path, TOpen how);
  // The OS parts of the file tasks, without the fault hooks.
  [[nodiscard]] bool OpenNative(std::string_view path, TOpen how);
  [[nodiscard]] bool SeekNative(std::int64_t position);
  [[nodiscard]] bool FlushNative();
  [[nodiscard]] bool SetDosTimeNative(std::uint32_t dosTime);
  void CloseNative();
  [[nodiscard]] bool ReadNative(void *buffer, std::uint32_t count, std::uint32_t &got);
  [[nodiscard]] bool WriteNative(const void *buffer, std::uint32_t count, std::uint32_t &written);
  // One step of the system's own copy from `source`; `copied` is 0 at its
  // end. False when the system cannot copy between these two files: the
  // caller then reads and writes the same step itself.
  [[nodiscard]] bool CopyNative(TFile &source, std::uint64_t &copied);
  friend class TTempFile;
  static constexpr std::intptr_t Invalid = -1;
  std::intptr_t Handle = Invalid;
};

// How far a replacement survives a power cut, which loses what the system
// has not yet written to the disk, and with it the order of writes.
enum class TDurable : std::uint8_t {
  // Nothing forced: a cut may take the replacement back, or leave the new
  // name with missing data. For scratch files and the run log.
  No,
  // Data and rename are on the disk once FlushFolder of the target's folder
  // has returned. For many files in a few folders that must be durable
  // together: POSIX flushes them all with the folder's volume in one call
  // (a file flush each costs a disk round trip per file); Windows flushes
  // each file (before its rename, or through a TFlushBehind while the next
  // files are copied) and writes the rename through.
  Data,
  // Data and rename are on the disk when Commit returns.
  Now,
};

// Flushes files on a worker thread while the calling thread goes on, for
// many files that must be durable together before one record says so. Only
// the flush and the close leave the calling thread; every counted file
// operation stays on it, in order. Without a worker (none can be started,
// the system needs none, or a simulated power cut follows every step) it
// takes nothing and the caller commits as before. The worker is joined by
// Finish and by the destructor, on every path.
class TFlushBehind : TNoCopy {
public:
  TFlushBehind();
  ~TFlushBehind();
  // Whether Take takes files.
  [[nodiscard]] bool Running() const { return Worker != nullptr; }
  // Takes the open `file` over; it is flushed and closed on the worker. Waits
  // while too many files are pending, so that open handles stay few.
  void Take(TFile &&file);
  // Waits until every file taken is flushed and closed, and ends the
  // worker. False, with the first failure's error, when a flush failed.
  [[nodiscard]] bool Finish();

private:
  struct TWorker;
  std::unique_ptr<TWorker> Worker;
};

// A new file written under a temporary name beside its target and put in the
// target's place in one step once it is whole, so that a failure on the way
// never costs the previous version. Not committed, it is removed again
// (Discard, or the destructor). The temporary name is created exclusively: a
// clash is reported by the create itself, not looked for beforehand. This is
// the one way the program replaces a file.
//
// Flush policy: Commit flushes what its TDurable asks for, in this order:
// the file's data (fsync / FlushFileBuffers; POSIX with Now only), the
// rename (Windows: moved with MOVEFILE_WRITE_THROUGH), then with Now the
// folder (POSIX: fsync of it).
class TTempFile : TNoCopy {
public:
  TTempFile() = default;
  ~TTempFile();

  // A free name "<prefix><number>.tmp" in `target`'s folder, tried with
  // further numbers while the names are taken.
  [[nodiscard]] bool Create(std::string_view target, std::string_view prefix);
  // Exactly `path`, a name in `target`'s folder that must not exist yet (a
  // caller that cleans up after a killed run knows the name beforehand).
  [[nodiscard]] bool CreateAs(std::string_view target, std::string_view path);
  TFile &File() { return Data; }
  // The temporary file's path as the caller gave or the seam chose it.
  const std::string &Path() const { return TempPath; }
  // Closes the file and renames it over the target. A read-only target or a
  // folder is not replaced (error 5). With `aside` given, a target that
  // exists is first renamed to `aside`, so that it can come back.
  [[nodiscard]] bool Commit(std::string_view aside, TDurable durable);
  // Commit with TDurable::Data whose flush overlaps the caller's next work:
  // the file is renamed into place still open and handed to `behind`, which
  // flushes and closes it; durable once behind.Finish() and FlushFolder of
  // the target's folder have returned true.
  [[nodiscard]] bool Commit(std::string_view aside, TFlushBehind &behind);
  // Closes and deletes the temporary file; nothing once committed.
  void Discard();

private:
  [[nodiscard]] bool CreateNamed(std::string_view target, const std::string &path);
  [[nodiscard]] bool CreateNamedNative(std::string_view target, const std::string &path);
  // The parts of Commit: the flush of the data before the rename, the
  // rename of the temporary file over the target, the flush after it.
  [[nodiscard]] bool FlushBeforeMove(TDurable durable);
  [[nodiscard]] bool MoveIntoPlace(TDurable durable);
  [[nodiscard]] bool MoveIntoPlaceNative(TDurable durable);
  [[nodiscard]] bool FlushAfterMove(TDurable durable);
  TFile Data;
  std::string Target, TempPath;
  // POSIX: host paths of the temporary file and the target's folder, and the
  // target's bare name.
  std::string NativeTemp, NativeFolder, TargetName;
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
[[nodiscard]] bool FindFiles(std::string_view mask, std::uint32_t attributeFilter,
                             std::vector<TFindEntry> &entries);
// The entries FindFiles would list, one at a time and in the same order,
// without a list of them all: Windows hands them over as it finds them,
// POSIX holds only the names while it puts them in order. `visit` returns
// false to stop (the walk still succeeds). False when the folder cannot be
// read; entries visited before a failure on the way stay visited. What
// `visit` throws passes through, the folder closed.
[[nodiscard]] bool WalkFiles(std::string_view mask, std::uint32_t attributeFilter,
                             const std::function<bool(const TFindEntry &)> &visit);
// Windows wildcard match of one name, case-insensitive.
[[nodiscard]] bool MatchesMask(std::string_view name, std::string_view pattern);

[[nodiscard]] bool GetAttributes(std::string_view path, std::uint32_t &attributes);
[[nodiscard]] bool SetAttributes(std::string_view path, std::uint32_t attributes);
[[nodiscard]] bool GetDosTime(std::string_view path, std::uint32_t &dosTime);
[[nodiscard]] bool SetDosTime(std::string_view path, std::uint32_t dosTime);
// True when both paths exist and lead to the same file or folder on the same
// volume, however each was spelled (short names, links). A query: it opens
// nothing for reading or writing.
[[nodiscard]] bool SameFile(std::string_view a, std::string_view b);
[[nodiscard]] bool DeleteFile(std::string_view path);
// Replaces `to` (if it exists) with `from` in one step.
[[nodiscard]] bool MoveFileReplacing(std::string_view from, std::string_view to);
// Creates one folder level; the error is LastError() (183 when it exists).
[[nodiscard]] bool CreateFolder(std::string_view path);
// Makes what TTempFile committed with TDurable::Data into `folder` survive a
// power cut, data and names (POSIX: a flush of the folder's volume, syncfs
// where the system has it, else sync; Windows flushed and wrote them through
// as they were committed, TFlushBehind's files once it has finished).
[[nodiscard]] bool FlushFolder(std::string_view folder);
[[nodiscard]] bool RemoveFolder(std::string_view path);
// Bytes the caller may still write on the volume that holds the existing
// folder `path`. A query, so the fault hooks do not count it.
[[nodiscard]] bool FreeSpace(std::string_view path, std::uint64_t &bytes);
// The current folder as the host names it: a Windows path on Windows, the
// native POSIX path (not a drive path) on POSIX; SetCurrentFolder takes both.
std::string GetCurrentFolder();
[[nodiscard]] bool SetCurrentFolder(std::string_view path);

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
[[nodiscard]] bool HostIsWindows();

} // namespace platform
