// Windows implementation of the file tasks through the ANSI API: shared open
// and create, reads, writes and seeks, attributes, DOS times, deletes, moves,
// folders and the well-known system folders.
#include <windows.h>
// windows.h maps DeleteFile to DeleteFileA, which would rename our own routine.
#undef DeleteFile

#include <string>

#include "platform/files.h"
#include "platform/internal.h"
#include "platform/win32/win32_util.h"

namespace platform {

using win32::Fail;
using win32::FailLast;
using win32::Succeed;

namespace {

constexpr DWORD ShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE AsHandle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// Windows refuses to write, replace or delete a read-only file; Wine running
// as root does not, so the attribute is asked first to behave the same there.
bool IsReadOnlyFile(const std::string &name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool OpenHandle(std::intptr_t &handle, std::string_view path, DWORD access, DWORD share,
                DWORD disposition) {
  const std::string name(path);
  if ((access & GENERIC_WRITE) != 0 && IsReadOnlyFile(name))
    return Fail(ERROR_ACCESS_DENIED);
  HANDLE h = CreateFileA(name.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return FailLast();
  // Only files on a disk: a name such as NUL or COM1 opens a device, and a
  // pipe would block the first read for ever.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return Fail(ERROR_ACCESS_DENIED);
  }
  handle = reinterpret_cast<std::intptr_t>(h);
  return Succeed();
}

bool DosFromFileTime(const FILETIME &utc, std::uint32_t &dosTime) {
  FILETIME local;
  WORD date = 0, time = 0;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &time))
    return FailLast();
  dosTime = (static_cast<std::uint32_t>(date) << 16) | time;
  return Succeed();
}

bool FileTimeFromDos(std::uint32_t dosTime, FILETIME &utc) {
  FILETIME local;
  if (!DosDateTimeToFileTime(static_cast<WORD>(dosTime >> 16), static_cast<WORD>(dosTime & 0xFFFF),
                             &local) ||
      !LocalFileTimeToFileTime(&local, &utc))
    return FailLast();
  return true;
}

// A handle for reading or changing the times of a file or folder by name.
HANDLE OpenForTimes(std::string_view path, DWORD access) {
  const std::string name(path);
  return CreateFileA(name.c_str(), access, ShareReadWrite | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

using TGetFolderPath = HRESULT(WINAPI *)(HWND, int, HANDLE, DWORD, LPSTR);

std::string ShellFolder(int csidl) {
  constexpr DWORD TypeDefault = 1; // SHGFP_TYPE_DEFAULT
  // shell32 by its full path in the system folder: SHFolder.dll is not one of
  // the DLLs that Windows always takes from there, and a file of that name
  // beside the program (an update may write into the program's own folder)
  // would be loaded. Loaded on demand, the unzip library that shares this
  // code does not import shell32.
  char system[MAX_PATH + 1] = {};
  const UINT n = GetSystemDirectoryA(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH)
    return std::string();
  const std::string path = std::string(system, n) + "\\shell32.dll";
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr)
    return std::string();
  auto call = reinterpret_cast<TGetFolderPath>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "SHGetFolderPathA")));
  std::string folder;
  char buffer[MAX_PATH + 1] = {};
  if (call != nullptr && call(nullptr, csidl, nullptr, TypeDefault, buffer) == S_OK)
    folder = buffer;
  FreeLibrary(module);
  return folder;
}

// Asks `query` of an open file; false, with the error, when there is none or
// the query fails.
template <typename TQuery> bool QueryOpen(bool open, TQuery query) {
  if (!open)
    return Fail(ErrorInvalidHandle);
  if (!query())
    return FailLast();
  return Succeed();
}

} // namespace

bool TFile::OpenNative(std::string_view path, TOpen how) {
  constexpr DWORD ReadWrite = GENERIC_READ | GENERIC_WRITE;
  switch (how) {
  case TOpen::Shared:
    return OpenHandle(Handle, path, ReadWrite, ShareReadWrite, OPEN_EXISTING);
  case TOpen::Read:
    return OpenHandle(Handle, path, GENERIC_READ, ShareReadWrite, OPEN_EXISTING);
  case TOpen::Unshared:
    return OpenHandle(Handle, path, ReadWrite, 0, OPEN_EXISTING);
  case TOpen::Create:
    return OpenHandle(Handle, path, ReadWrite, ShareReadWrite, CREATE_ALWAYS);
  case TOpen::CreateUnshared:
    return OpenHandle(Handle, path, ReadWrite, 0, CREATE_ALWAYS);
  case TOpen::CreateNew:
    break;
  }
  return OpenHandle(Handle, path, ReadWrite, 0, CREATE_NEW);
}

bool TFile::ReadNative(void *buffer, std::uint32_t count, std::uint32_t &got) {
  DWORD n = 0;
  const bool ok = ReadFile(AsHandle(Handle), buffer, count, &n, nullptr);
  got = n;
  return ok ? Succeed() : FailLast();
}

bool TFile::WriteNative(const void *buffer, std::uint32_t count, std::uint32_t &written) {
  DWORD n = 0;
  const bool ok = WriteFile(AsHandle(Handle), buffer, count, &n, nullptr);
  written = n;
  return ok ? Succeed() : FailLast();
}

bool TFile::CopyNative(TFile &, std::uint64_t &) {
  // CopyFileEx copies by name only, not between open handles.
  return false;
}

bool TFile::SeekNative(std::int64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = position;
  if (!SetFilePointerEx(AsHandle(Handle), to, nullptr, FILE_BEGIN))
    return FailLast();
  return Succeed();
}

bool TFile::Position(std::int64_t &position) {
  LARGE_INTEGER zero, at;
  zero.QuadPart = 0;
  if (!QueryOpen(IsOpen(), [&] {
        return SetFilePointerEx(AsHandle(Handle), zero, &at, FILE_CURRENT) != FALSE;
      }))
    return false;
  position = at.QuadPart;
  return true;
}

bool TFile::Size(std::int64_t &size) {
  LARGE_INTEGER value;
  if (!QueryOpen(IsOpen(), [&] { return GetFileSizeEx(AsHandle(Handle), &value) != FALSE; }))
    return false;
  size = value.QuadPart;
  return true;
}

bool TFile::FlushNative() {
  if (!FlushFileBuffers(AsHandle(Handle)))
    return FailLast();
  return Succeed();
}

bool TFile::Reserve(std::int64_t) {
  // The gain was measured on ext4 only; NTFS is left to find room as the
  // file grows.
  return Fail(ERROR_NOT_SUPPORTED);
}

bool TFile::GetDosTime(std::uint32_t &dosTime) {
  if (!IsOpen())
    return Fail(ErrorInvalidHandle);
  FILETIME written;
  if (!GetFileTime(AsHandle(Handle), nullptr, nullptr, &written))
    return FailLast();
  return DosFromFileTime(written, dosTime);
}

bool TFile::SetDosTimeNative(std::uint32_t dosTime) {
  FILETIME utc;
  if (!FileTimeFromDos(dosTime, utc))
    return false;
  if (!SetFileTime(AsHandle(Handle), nullptr, nullptr, &utc))
    return FailLast();
  return Succeed();
}

bool TFile::Attributes(std::uint32_t &attributes) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!QueryOpen(IsOpen(),
                 [&] { return GetFileInformationByHandle(AsHandle(Handle), &info) != FALSE; }))
    return false;
  attributes = info.dwFileAttributes;
  return true;
}

void TFile::CloseNative() {
  detail::CloseHandleNative(Handle);
}

bool GetAttributes(std::string_view path, std::uint32_t &attributes) {
  const std::string name(path);
  const DWORD value = GetFileAttributesA(name.c_str());
  if (value == INVALID_FILE_ATTRIBUTES)
    return FailLast();
  attributes = value;
  return Succeed();
}

bool detail::SetAttributesNative(std::string_view path, std::uint32_t attributes) {
  const std::string name(path);
  // The folder and volume bits are not settable; Windows rejects them.
  const DWORD value = attributes & ~static_cast<DWORD>(faDirectory | faVolumeID);
  if (!SetFileAttributesA(name.c_str(), value == 0 ? FILE_ATTRIBUTE_NORMAL : value))
    return FailLast();
  return Succeed();
}

bool GetDosTime(std::string_view path, std::uint32_t &dosTime) {
  HANDLE h = OpenForTimes(path, FILE_READ_ATTRIBUTES);
  if (h == INVALID_HANDLE_VALUE)
    return FailLast();
  FILETIME written;
  bool ok =
      GetFileTime(h, nullptr, nullptr, &written) ? DosFromFileTime(written, dosTime) : FailLast();
  CloseHandle(h);
  return ok;
}

bool detail::SetDosTimeNative(std::string_view path, std::uint32_t dosTime) {
  FILETIME utc;
  if (!FileTimeFromDos(dosTime, utc))
    return false;
  HANDLE h = OpenForTimes(path, FILE_WRITE_ATTRIBUTES);
  if (h == INVALID_HANDLE_VALUE)
    return FailLast();
  const bool ok = SetFileTime(h, nullptr, nullptr, &utc) ? Succeed() : FailLast();
  CloseHandle(h);
  return ok;
}

namespace {
// Volume and file number of an existing file or folder; a handle without
// access rights is enough to ask, and reads or changes nothing.
bool FileIdentity(std::string_view path, BY_HANDLE_FILE_INFORMATION &info) {
  const std::string name(path);
  HANDLE h = CreateFileA(name.c_str(), 0, ShareReadWrite | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return false;
  const bool ok = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  return ok;
}
} // namespace

bool SameFile(std::string_view a, std::string_view b) {
  BY_HANDLE_FILE_INFORMATION first{}, second{};
  if (!FileIdentity(a, first) || !FileIdentity(b, second))
    return false;
  return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

bool detail::DeleteFileNative(std::string_view path) {
  const std::string name(path);
  if (IsReadOnlyFile(name))
    return Fail(ERROR_ACCESS_DENIED);
  if (!DeleteFileA(name.c_str()))
    return FailLast();
  return Succeed();
}

bool detail::MoveFileReplacingNative(std::string_view from, std::string_view to) {
  const std::string source(from), target(to);
  if (IsReadOnlyFile(target))
    return Fail(ERROR_ACCESS_DENIED);
  if (!MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
    return FailLast();
  return Succeed();
}

bool TTempFile::CreateNamedNative(std::string_view target, const std::string &path) {
  // No look at the name first: CREATE_NEW reports a clash itself, and a
  // missing name costs Wine a reading of the whole folder. Shared for
  // deletion only, so that the file can be renamed into place while its
  // flush still holds it open (TFlushBehind).
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return FailLast();
  Data.Handle = reinterpret_cast<std::intptr_t>(h);
  TempPath = path;
  Target = std::string(target);
  return Succeed();
}

bool TTempFile::MoveIntoPlaceNative(TDurable durable) {
  const DWORD through = durable == TDurable::No ? 0 : MOVEFILE_WRITE_THROUGH;
  // Most targets are new: a move that does not replace needs no look at the
  // target first, and reports the one that is there.
  if (!MoveFileExA(TempPath.c_str(), Target.c_str(), through)) {
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
      return Fail(static_cast<int>(error));
    if (IsReadOnlyFile(Target))
      return Fail(ERROR_ACCESS_DENIED);
    if (!MoveFileExA(TempPath.c_str(), Target.c_str(), MOVEFILE_REPLACE_EXISTING | through))
      return FailLast();
  }
  return true;
}

bool TTempFile::FlushBeforeMove(TDurable durable) {
  return durable == TDurable::No || Data.Flush();
}

bool TTempFile::FlushAfterMove(TDurable) {
  return true; // the move was written through
}

bool detail::FlushesEachFile() {
  // Flushing a folder or a volume needs administrator rights.
  return true;
}

bool FlushFolder(std::string_view) {
  // Every file was flushed and moved through as it was committed; a folder
  // or a volume cannot be flushed without administrator rights.
  return Succeed();
}

bool detail::CreateFolderNative(std::string_view path) {
  const std::string name(path);
  if (!CreateDirectoryA(name.c_str(), nullptr))
    return FailLast();
  return Succeed();
}

bool detail::RemoveFolderNative(std::string_view path) {
  const std::string name(path);
  if (!RemoveDirectoryA(name.c_str()))
    return FailLast();
  return Succeed();
}

bool FreeSpace(std::string_view path, std::uint64_t &bytes) {
  std::string folder(path);
  // A share is only taken with its trailing backslash.
  if (!folder.empty() && folder.back() != '\\')
    folder += '\\';
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr))
    return FailLast();
  bytes = available.QuadPart;
  return Succeed();
}

std::string GetCurrentFolder() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), &buffer[0]);
    if (n == 0) {
      FailLast();
      return std::string();
    }
    // A result at least as long as the buffer is the size it needs.
    if (n < buffer.size()) {
      buffer.resize(n);
      Succeed();
      return buffer;
    }
    buffer.assign(n + 1, '\0');
  }
}

bool SetCurrentFolder(std::string_view path) {
  const std::string name(path);
  if (!SetCurrentDirectoryA(name.c_str()))
    return FailLast();
  return Succeed();
}

std::string WindowsFolder() {
  char buffer[MAX_PATH + 1] = {};
  const UINT n = GetWindowsDirectoryA(buffer, sizeof buffer);
  if (n == 0 || n > MAX_PATH) {
    FailLast();
    return std::string();
  }
  return std::string(buffer, n);
}

std::string SystemFolder() {
  return ShellFolder(0x25);
} // CSIDL_SYSTEM
std::string ProgramFilesFolder() {
  return ShellFolder(0x26);
} // CSIDL_PROGRAM_FILES

std::string ExecutablePath() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      FailLast();
      return std::string();
    }
    // A result that fills the buffer may have been cut.
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.assign(buffer.size() * 2, '\0');
  }
}

std::string NativePath(std::string_view path) {
  return std::string(path);
}
std::string DriveRoot() {
  return std::string();
}
void SetDriveRoot(std::string_view) {
}
bool HostIsWindows() {
  return true;
}

namespace detail {

bool WritesRenameThrough(TDurable durable) {
  return durable != TDurable::No;
}

bool ReadWholeNative(std::intptr_t handle, std::string &data) {
  data.clear();
  LARGE_INTEGER zero, at;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(AsHandle(handle), zero, &at, FILE_CURRENT) ||
      !SetFilePointerEx(AsHandle(handle), zero, nullptr, FILE_BEGIN))
    return FailLast();
  char buffer[16384];
  DWORD n = 0;
  bool ok = true;
  while ((ok = ReadFile(AsHandle(handle), buffer, sizeof buffer, &n, nullptr) != 0) && n > 0)
    data.append(buffer, n);
  const DWORD error = GetLastError();
  (void)SetFilePointerEx(AsHandle(handle), at, nullptr, FILE_BEGIN);
  return ok ? Succeed() : Fail(static_cast<int>(error));
}

void CloseHandleNative(std::intptr_t handle) {
  if (handle != -1)
    CloseHandle(AsHandle(handle));
}

void EndProcessAbruptly(int exitCode) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  // Not reached; TerminateProcess does not return for the calling process.
  ExitProcess(static_cast<UINT>(exitCode));
}

} // namespace detail

// The library's seam and the program's are two copies; the thread's
// system error is what both see.
void HandOverError(int error) {
  detail::SetError(error);
  SetLastError(static_cast<DWORD>(error));
}

int TakeOverError() {
  const int error = static_cast<int>(GetLastError());
  detail::SetError(error);
  return error;
}

} // namespace platform
