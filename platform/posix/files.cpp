// POSIX implementation of the file tasks: shared open and create, reads,
// writes and seeks, attributes, DOS times, deletes, moves and folders.
#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/fault.h"
#include "platform/files.h"
#include "platform/internal.h"
#include "platform/posix/posix_paths.h"

namespace platform {

using posix::Fail;
using posix::FailErrno;
using posix::MapPath;

namespace {

constexpr int ErrorInvalidParameter = 87;
constexpr int ErrorFileExists = 80;

bool Succeed() {
  detail::SetError(ErrorSuccess);
  return true;
}

bool Faulted(fault::TOp op) {
  if (!fault::Hit(op))
    return false;
  detail::SetError(detail::FaultError(op));
  return true;
}

std::string BareName(const std::string &nativePath) {
  const std::size_t cut = nativePath.find_last_of('/');
  return cut == std::string::npos ? nativePath : nativePath.substr(cut + 1);
}

// DOS date-time (local time, date in the high word) <-> time_t.
bool DosFromTime(std::time_t t, std::uint32_t &dos) {
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr)
    return Fail(ErrorInvalidParameter);
  const int year = local.tm_year + 1900;
  if (year < 1980 || year > 2107)
    return Fail(ErrorInvalidParameter);
  const std::uint32_t date = (static_cast<std::uint32_t>(year - 1980) << 9) |
                             (static_cast<std::uint32_t>(local.tm_mon + 1) << 5) |
                             static_cast<std::uint32_t>(local.tm_mday);
  const std::uint32_t time = (static_cast<std::uint32_t>(local.tm_hour) << 11) |
                             (static_cast<std::uint32_t>(local.tm_min) << 5) |
                             static_cast<std::uint32_t>(local.tm_sec / 2);
  dos = (date << 16) | time;
  return true;
}

bool TimeFromDos(std::uint32_t dos, timespec &out) {
  const unsigned day = (dos >> 16) & 0x1F, month = (dos >> 21) & 0x0F, year = (dos >> 25) + 1980;
  const unsigned second = (dos & 0x1F) * 2, minute = (dos >> 5) & 0x3F, hour = (dos >> 11) & 0x1F;
  if (day < 1 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59)
    return Fail(ErrorInvalidParameter);
  std::tm local{};
  local.tm_year = static_cast<int>(year) - 1900;
  local.tm_mon = static_cast<int>(month) - 1;
  local.tm_mday = static_cast<int>(day);
  local.tm_hour = static_cast<int>(hour);
  local.tm_min = static_cast<int>(minute);
  local.tm_sec = static_cast<int>(second);
  local.tm_isdst = -1;
  const std::time_t t = mktime(&local);
  if (t == static_cast<std::time_t>(-1))
    return Fail(ErrorInvalidParameter);
  out.tv_sec = t;
  out.tv_nsec = 0;
  return true;
}

// Opens `path` with `flags`; read-only files refuse write access as on
// Windows, even to a superuser. Only regular files open: a folder is no file,
// a FIFO would block the open or the first read for ever, a device is no data.
bool OpenNative(std::intptr_t &handle, std::string_view path, int flags) {
  const std::string native = MapPath(path);
  struct stat st;
  if (stat(native.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return Fail(ErrorAccessDenied);
  if ((flags & O_ACCMODE) != O_RDONLY && posix::IsReadOnly(native))
    return Fail(ErrorAccessDenied);
  const bool creates = (flags & O_CREAT) != 0;
  posix::TOwnChange change(std::string(), creates ? native : std::string());
  // Not blocking until it is known to be a regular file (it may be swapped).
  const int fd = open(native.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  const int error = errno;
  if (creates)
    change.Done(fd >= 0);
  if (fd < 0) {
    if (error == EEXIST)
      return Fail(ErrorFileExists);
    return FailErrno(error, native);
  }
  const int status = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || status < 0 ||
      fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    close(fd);
    return Fail(ErrorAccessDenied);
  }
  handle = fd;
  return Succeed();
}

} // namespace

bool TFile::OpenShared(std::string_view path) {
  Close();
  if (Faulted(fault::TOp::Open))
    return false;
  return OpenNative(Handle, path, O_RDWR);
}

bool TFile::OpenRead(std::string_view path) {
  Close();
  if (Faulted(fault::TOp::Open))
    return false;
  return OpenNative(Handle, path, O_RDONLY);
}

bool TFile::Create(std::string_view path) {
  Close();
  if (Faulted(fault::TOp::Create))
    return false;
  return OpenNative(Handle, path, O_RDWR | O_CREAT | O_TRUNC);
}

bool TFile::CreateUnshared(std::string_view path) {
  // POSIX has no share modes; the file is created or truncated all the same.
  Close();
  if (Faulted(fault::TOp::Create))
    return false;
  return OpenNative(Handle, path, O_RDWR | O_CREAT | O_TRUNC);
}

bool TFile::CreateNew(std::string_view path) {
  Close();
  if (Faulted(fault::TOp::Create))
    return false;
  return OpenNative(Handle, path, O_RDWR | O_CREAT | O_EXCL);
}

bool TFile::Read(void *buffer, std::uint32_t count, std::uint32_t &got) {
  got = 0;
  if (!IsOpen())
    return Fail(6);
  if (Faulted(fault::TOp::Read))
    return false;
  auto *out = static_cast<char *>(buffer);
  while (got < count) {
    const ssize_t n = read(static_cast<int>(Handle), out + got, count - got);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return FailErrno(errno);
    }
    if (n == 0)
      break;
    got += static_cast<std::uint32_t>(n);
  }
  return Succeed();
}

bool TFile::Write(const void *buffer, std::uint32_t count, std::uint32_t &written) {
  written = 0;
  if (!IsOpen())
    return Fail(6);
  if (fault::Hit(fault::TOp::Write)) {
    // A full disk takes part of the data before it refuses the rest.
    if (detail::FaultIsDiskFull() && count > 1) {
      const ssize_t n = write(static_cast<int>(Handle), buffer, count / 2);
      if (n > 0)
        written = static_cast<std::uint32_t>(n);
    }
    detail::SetError(detail::FaultError(fault::TOp::Write));
    return false;
  }
  const auto *in = static_cast<const char *>(buffer);
  while (written < count) {
    const ssize_t n = write(static_cast<int>(Handle), in + written, count - written);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return FailErrno(errno);
    }
    if (n == 0)
      return Fail(ErrorDiskFull);
    written += static_cast<std::uint32_t>(n);
  }
  return Succeed();
}

bool TFile::Seek(std::int64_t position) {
  if (!IsOpen())
    return Fail(6);
  if (Faulted(fault::TOp::Seek))
    return false;
  if (position < 0)
    return Fail(131); // ERROR_NEGATIVE_SEEK
  if (lseek(static_cast<int>(Handle), static_cast<off_t>(position), SEEK_SET) < 0)
    return FailErrno(errno);
  return Succeed();
}

bool TFile::Position(std::int64_t &position) {
  if (!IsOpen())
    return Fail(6);
  const off_t at = lseek(static_cast<int>(Handle), 0, SEEK_CUR);
  if (at < 0)
    return FailErrno(errno);
  position = at;
  return Succeed();
}

bool TFile::Size(std::int64_t &size) {
  if (!IsOpen())
    return Fail(6);
  struct stat st;
  if (fstat(static_cast<int>(Handle), &st) != 0)
    return FailErrno(errno);
  size = st.st_size;
  return Succeed();
}

bool TFile::Flush() {
  if (!IsOpen())
    return Fail(6);
  if (fsync(static_cast<int>(Handle)) != 0 && errno != EINVAL)
    return FailErrno(errno);
  return Succeed();
}

bool TFile::GetDosTime(std::uint32_t &dosTime) {
  if (!IsOpen())
    return Fail(6);
  struct stat st;
  if (fstat(static_cast<int>(Handle), &st) != 0)
    return FailErrno(errno);
  return DosFromTime(st.st_mtime, dosTime) && Succeed();
}

bool TFile::SetDosTime(std::uint32_t dosTime) {
  if (!IsOpen())
    return Fail(6);
  if (Faulted(fault::TOp::SetAttributes))
    return false;
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  if (!TimeFromDos(dosTime, times[1]))
    return false;
  if (futimens(static_cast<int>(Handle), times) != 0)
    return FailErrno(errno);
  return Succeed();
}

void TFile::Close() {
  if (Handle != Invalid) {
    close(static_cast<int>(Handle));
    Handle = Invalid;
  }
}

bool GetAttributes(std::string_view path, std::uint32_t &attributes) {
  const std::string native = MapPath(path);
  if (!posix::AttributesOf(native, BareName(native), attributes))
    return false;
  return Succeed();
}

bool SetAttributes(std::string_view path, std::uint32_t attributes) {
  if (Faulted(fault::TOp::SetAttributes))
    return false;
  const std::string native = MapPath(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0)
    return FailErrno(errno, native);
  // Only read-only has a POSIX counterpart; hidden follows the name.
  if (S_ISDIR(st.st_mode))
    return Succeed();
  mode_t mode = st.st_mode & 07777;
  if (attributes & faReadOnly)
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  else
    mode |= S_IWUSR;
  // Most calls (one per unpacked and per placed file) change nothing.
  if (mode != (st.st_mode & 07777) && chmod(native.c_str(), mode) != 0)
    return FailErrno(errno, native);
  return Succeed();
}

bool GetDosTime(std::string_view path, std::uint32_t &dosTime) {
  const std::string native = MapPath(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0)
    return FailErrno(errno, native);
  return DosFromTime(st.st_mtime, dosTime) && Succeed();
}

bool SetDosTime(std::string_view path, std::uint32_t dosTime) {
  if (Faulted(fault::TOp::SetAttributes))
    return false;
  const std::string native = MapPath(path);
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  if (!TimeFromDos(dosTime, times[1]))
    return false;
  if (utimensat(AT_FDCWD, native.c_str(), times, 0) != 0)
    return FailErrno(errno, native);
  return Succeed();
}

bool SameFile(std::string_view a, std::string_view b) {
  struct stat first, second;
  if (stat(MapPath(a).c_str(), &first) != 0 || stat(MapPath(b).c_str(), &second) != 0)
    return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool DeleteFile(std::string_view path) {
  if (Faulted(fault::TOp::Delete))
    return false;
  const std::string native = MapPath(path);
  struct stat st;
  if (lstat(native.c_str(), &st) != 0)
    return FailErrno(errno, native);
  if (S_ISDIR(st.st_mode) || posix::IsReadOnly(native))
    return Fail(ErrorAccessDenied);
  posix::TOwnChange change(native, std::string());
  const bool removed = unlink(native.c_str()) == 0;
  const int error = errno;
  change.Done(removed);
  if (!removed)
    return FailErrno(error, native);
  return Succeed();
}

bool MoveFileReplacing(std::string_view from, std::string_view to) {
  if (Faulted(fault::TOp::Rename))
    return false;
  const std::string source = MapPath(from);
  const std::string target = MapPath(to);
  struct stat st;
  if (lstat(source.c_str(), &st) != 0)
    return FailErrno(errno, source);
  if (stat(target.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || posix::IsReadOnly(target)))
    return Fail(ErrorAccessDenied);
  posix::TOwnChange change(source, target);
  const bool moved = rename(source.c_str(), target.c_str()) == 0;
  const int error = errno;
  change.Done(moved);
  if (!moved)
    return FailErrno(error, target);
  return Succeed();
}

bool CreateFolder(std::string_view path) {
  if (Faulted(fault::TOp::CreateFolder))
    return false;
  const std::string native = MapPath(path);
  posix::TOwnChange change(std::string(), native);
  const bool made = mkdir(native.c_str(), 0777) == 0;
  const int error = errno;
  change.Done(made);
  if (!made)
    return FailErrno(error, native);
  return Succeed();
}

bool RemoveFolder(std::string_view path) {
  if (Faulted(fault::TOp::Delete))
    return false;
  const std::string native = MapPath(path);
  posix::TOwnChange change(native, std::string());
  const bool removed = rmdir(native.c_str()) == 0;
  const int error = errno;
  change.Done(removed);
  if (!removed)
    return FailErrno(error, native);
  return Succeed();
}

bool FreeSpace(std::string_view path, std::uint64_t &bytes) {
  const std::string native = MapPath(path);
  struct statvfs volume;
  if (statvfs(native.c_str(), &volume) != 0)
    return FailErrno(errno, native);
  bytes = static_cast<std::uint64_t>(volume.f_bavail) * volume.f_frsize;
  return Succeed();
}

std::string GetCurrentFolder() {
  std::string buffer(PATH_MAX, '\0');
  if (getcwd(&buffer[0], buffer.size()) == nullptr) {
    FailErrno(errno);
    return std::string();
  }
  buffer.resize(buffer.find('\0'));
  detail::SetError(ErrorSuccess);
  return posix::ProgramName(buffer);
}

bool SetCurrentFolder(std::string_view path) {
  const std::string native = MapPath(path);
  if (chdir(native.c_str()) != 0)
    return FailErrno(errno, native);
  return Succeed();
}

std::string WindowsFolder() {
  return "C:\\WINDOWS";
}
std::string SystemFolder() {
  return "C:\\WINDOWS\\SYSTEM32";
}
std::string ProgramFilesFolder() {
  return "C:\\Program Files";
}

std::string ExecutablePath() {
  std::string buffer(PATH_MAX, '\0');
  const ssize_t n = readlink("/proc/self/exe", &buffer[0], buffer.size() - 1);
  if (n < 0) {
    FailErrno(errno);
    return std::string();
  }
  buffer.resize(static_cast<std::size_t>(n));
  // Callers take the folder apart with the Windows path rules, so hand out
  // the Windows spelling; NativePath maps it back.
  std::string path = posix::ProgramName(buffer);
  for (char &c : path)
    if (c == '/')
      c = '\\';
  return path;
}

namespace detail {

void EndProcessAbruptly(int exitCode) {
  _exit(exitCode);
}

} // namespace detail

} // namespace platform
