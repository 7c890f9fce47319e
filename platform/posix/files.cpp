// POSIX implementation of the file tasks: shared open and create, reads,
// writes and seeks, attributes, DOS times, deletes, moves and folders.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/fault.h"
#include "platform/files.h"
#include "platform/internal.h"
#include "platform/path_parts.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/name_memo.h"
#include "platform/posix/posix_paths.h"
#include "platform/posix/system_calls.h"

namespace platform {

using posix::Fail;
using posix::FailErrno;
using posix::MapPath;

namespace {

bool Succeed() {
  detail::SetError(ErrorSuccess);
  return true;
}

std::string BareName(const std::string &nativePath) {
  return std::string(NamePart(nativePath, "/"));
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

// The moment that the local date-time `wanted` names, as mktime gives it
// with tm_isdst = -1. Not mktime itself: it reads the time-zone rules again
// (a stat of /etc/localtime) at every call, localtime_r only on its first.
// The fields read as UTC, less the zone's offset at the moment they name; a
// time that a change to summer time skips is taken with the offset before
// the change (02:30 becomes 03:30 summer time), as mktime does.
bool TimeFromLocal(const std::tm &wanted, std::time_t &out) {
  std::tm utc = wanted;
  const std::time_t asUtc = timegm(&utc);
  if (asUtc == static_cast<std::time_t>(-1))
    return false;
  std::tm local{};
  if (localtime_r(&asUtc, &local) == nullptr)
    return false;
  std::time_t t = asUtc - local.tm_gmtoff;
  // At most two rounds settle on an offset that holds at its own moment.
  for (int round = 0; round < 2; ++round) {
    if (localtime_r(&t, &local) == nullptr)
      return false;
    const std::time_t next = asUtc - local.tm_gmtoff;
    if (next == t) {
      out = t;
      return true;
    }
    t = next;
  }
  // Two offsets take turns: the time lies in a gap that a change to a larger
  // offset skips; the smaller one is the offset before the change.
  std::tm other{};
  if (localtime_r(&t, &other) == nullptr)
    return false;
  out = asUtc - std::min(local.tm_gmtoff, other.tm_gmtoff);
  return true;
}

bool TimeFromDos(std::uint32_t dos, timespec &out) {
  const unsigned day = (dos >> 16) & 0x1F, month = (dos >> 21) & 0x0F, year = (dos >> 25) + 1980;
  const unsigned second = (dos & 0x1F) * 2, minute = (dos >> 5) & 0x3F, hour = (dos >> 11) & 0x1F;
  if (day < 1 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59)
    return Fail(ErrorInvalidParameter);
  std::tm wanted{};
  wanted.tm_year = static_cast<int>(year) - 1900;
  wanted.tm_mon = static_cast<int>(month) - 1;
  wanted.tm_mday = static_cast<int>(day);
  wanted.tm_hour = static_cast<int>(hour);
  wanted.tm_min = static_cast<int>(minute);
  wanted.tm_sec = static_cast<int>(second);
  std::time_t t = 0;
  if (!TimeFromLocal(wanted, t))
    return Fail(ErrorInvalidParameter);
  out.tv_sec = t;
  out.tv_nsec = 0;
  return true;
}

// Opens `path` with `flags`; read-only files refuse write access as on
// Windows, even to a superuser. Only regular files open: a folder is no file,
// a FIFO would block the open or the first read for ever, a device is no data.
bool OpenHandle(std::intptr_t &handle, std::string_view path, int flags) {
  posix::TProbe probe;
  const std::string native = MapPath(path, probe);
  const bool creates = (flags & O_CREAT) != 0;
  struct stat st;
  if (probe.Missing && !creates)
    return Fail(ErrorFileNotFound);
  const bool exists = probe.Exists || (!probe.Missing && stat(native.c_str(), &st) == 0);
  if (probe.Exists)
    st = probe.St;
  if (exists && !S_ISREG(st.st_mode))
    return Fail(ErrorAccessDenied);
  if (exists && (flags & O_ACCMODE) != O_RDONLY && (st.st_mode & S_IWUSR) == 0)
    return Fail(ErrorAccessDenied);
  posix::TOwnChange change(std::string(), creates ? native : std::string(),
                           probe.ParentKnown ? &probe.Parent : nullptr);
  // Not blocking until it is known to be a regular file (it may be swapped).
  const int fd = open(native.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  const int error = errno;
  change.Succeeded(fd >= 0);
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

// `call` (a read or a write) again for as long as a signal interrupts it.
template <typename TCall> ssize_t UnlessInterrupted(TCall call) {
  ssize_t n = 0;
  do
    n = call();
  while (n < 0 && errno == EINTR);
  return n;
}

// Runs `call` (0 when it succeeds, errno set otherwise) as a change the name
// memo is told of: `removed` goes and `added` comes once it has succeeded.
// A failure names `named`.
template <typename TCall>
bool ChangeNames(const std::string &removed, const std::string &added, const std::string &named,
                 TCall call, const posix::TFolderStamp *addedBefore = nullptr) {
  posix::TOwnChange change(removed, added, addedBefore);
  const bool done = call() == 0;
  const int error = errno;
  change.Succeeded(done);
  if (!done)
    return FailErrno(error, named);
  return Succeed();
}
// Hands the status of an open file to `use`; false, with the error, when
// there is none.
template <typename TUse> bool WithStat(bool open, std::intptr_t handle, TUse use) {
  if (!open)
    return Fail(ErrorInvalidHandle);
  struct stat st;
  if (fstat(static_cast<int>(handle), &st) != 0)
    return FailErrno(errno);
  return use(st);
}

} // namespace

bool TFile::OpenNative(std::string_view path, TOpen how) {
  switch (how) {
  case TOpen::Shared:
  case TOpen::Unshared:
    return OpenHandle(Handle, path, O_RDWR);
  case TOpen::Read:
    return OpenHandle(Handle, path, O_RDONLY);
  case TOpen::Create:
  case TOpen::CreateUnshared:
    // POSIX has no share modes; the file is created or truncated all the same.
    return OpenHandle(Handle, path, O_RDWR | O_CREAT | O_TRUNC);
  case TOpen::CreateNew:
    break;
  }
  return OpenHandle(Handle, path, O_RDWR | O_CREAT | O_EXCL);
}

bool TFile::ReadNative(void *buffer, std::uint32_t count, std::uint32_t &got) {
  auto *out = static_cast<char *>(buffer);
  while (got < count) {
    const ssize_t n =
        UnlessInterrupted([&] { return read(static_cast<int>(Handle), out + got, count - got); });
    if (n < 0)
      return FailErrno(errno);
    if (n == 0)
      break;
    got += static_cast<std::uint32_t>(n);
  }
  return Succeed();
}

bool TFile::WriteNative(const void *buffer, std::uint32_t count, std::uint32_t &written) {
  const auto *in = static_cast<const char *>(buffer);
  while (written < count) {
    const ssize_t n = UnlessInterrupted(
        [&] { return write(static_cast<int>(Handle), in + written, count - written); });
    if (n < 0)
      return FailErrno(errno);
    if (n == 0)
      return Fail(ErrorDiskFull);
    written += static_cast<std::uint32_t>(n);
  }
  return Succeed();
}

bool TFile::CopyNative(TFile &source, std::uint64_t &copied) {
  // As much as one call takes: the kernel stops early at the end of the file.
  constexpr std::size_t Step = std::size_t{1} << 30;
  // A kernel without the call says so once; no need to ask again per file.
  static std::atomic<bool> missing{false};
  if (missing.load(std::memory_order_relaxed))
    return false;
  for (;;) {
    const ssize_t n =
        posix::CopyFileRange(static_cast<int>(source.Handle), static_cast<int>(Handle), Step);
    if (n >= 0) {
      copied = static_cast<std::uint64_t>(n);
      return true;
    }
    if (errno == ENOSYS)
      missing = true;
    if (errno != EINTR)
      return false;
  }
}

bool TFile::SeekNative(std::int64_t position) {
  if (position < 0)
    return Fail(ErrorNegativeSeek);
  if (lseek(static_cast<int>(Handle), static_cast<off_t>(position), SEEK_SET) < 0)
    return FailErrno(errno);
  return Succeed();
}

bool TFile::Position(std::int64_t &position) {
  if (!IsOpen())
    return Fail(ErrorInvalidHandle);
  const off_t at = lseek(static_cast<int>(Handle), 0, SEEK_CUR);
  if (at < 0)
    return FailErrno(errno);
  position = at;
  return Succeed();
}

bool TFile::Size(std::int64_t &size) {
  return WithStat(IsOpen(), Handle, [&size](const struct stat &st) {
    size = st.st_size;
    return Succeed();
  });
}

bool TFile::FlushNative() {
  if (fsync(static_cast<int>(Handle)) != 0 && errno != EINVAL)
    return FailErrno(errno);
  return Succeed();
}

bool TFile::Reserve(std::int64_t bytes) {
  if (!IsOpen())
    return Fail(ErrorInvalidHandle);
  // Not posix_fallocate: where the file system cannot, it writes zeros.
  if (bytes > 0 &&
      posix::ReserveKeepingSize(static_cast<int>(Handle), static_cast<off_t>(bytes)) != 0)
    return FailErrno(errno);
  return Succeed();
}

bool TFile::GetDosTime(std::uint32_t &dosTime) {
  return WithStat(IsOpen(), Handle, [&dosTime](const struct stat &st) {
    return DosFromTime(st.st_mtime, dosTime) && Succeed();
  });
}

bool TFile::SetDosTimeNative(std::uint32_t dosTime) {
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  if (!TimeFromDos(dosTime, times[1]))
    return false;
  if (futimens(static_cast<int>(Handle), times) != 0)
    return FailErrno(errno);
  return Succeed();
}

bool TFile::Attributes(std::uint32_t &attributes) {
  return WithStat(IsOpen(), Handle, [&attributes](const struct stat &st) {
    attributes = posix::AttributesFromStat(st, std::string());
    return Succeed();
  });
}

void TFile::CloseNative() {
  detail::CloseHandleNative(Handle);
}

bool GetAttributes(std::string_view path, std::uint32_t &attributes) {
  posix::TProbe probe;
  const std::string native = MapPath(path, probe);
  if (probe.Missing)
    return Fail(ErrorFileNotFound);
  if (probe.Exists) {
    attributes = posix::AttributesFromStat(probe.St, BareName(native));
    return Succeed();
  }
  if (!posix::AttributesOf(native, BareName(native), attributes))
    return false;
  return Succeed();
}

bool detail::SetAttributesNative(std::string_view path, std::uint32_t attributes) {
  posix::TProbe probe;
  const std::string native = MapPath(path, probe);
  struct stat st = probe.St;
  if (!probe.Exists && stat(native.c_str(), &st) != 0)
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

bool detail::SetDosTimeNative(std::string_view path, std::uint32_t dosTime) {
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
  // Placement asks this for every file against a list of names, most of
  // them missing: what the mapping saw answers without another look.
  struct stat first, second;
  posix::TProbe probe;
  const std::string nativeA = MapPath(a, probe);
  if (probe.Missing || (!probe.Exists && stat(nativeA.c_str(), &first) != 0))
    return false;
  if (probe.Exists)
    first = probe.St;
  if (stat(MapPath(b).c_str(), &second) != 0)
    return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool detail::DeleteFileNative(std::string_view path) {
  posix::TProbe probe;
  const std::string native = MapPath(path, probe);
  if (probe.Missing)
    return Fail(ErrorFileNotFound);
  // A regular file that the mapping has just looked at needs no second look
  // (emptying a folder deletes every file in it): a link to one goes as the
  // link, as below.
  if (probe.Exists && S_ISREG(probe.St.st_mode)) {
    if ((probe.St.st_mode & S_IWUSR) == 0)
      return Fail(ErrorAccessDenied);
  } else {
    struct stat st;
    if (lstat(native.c_str(), &st) != 0)
      return FailErrno(errno, native);
    if (S_ISDIR(st.st_mode) || posix::IsReadOnly(native))
      return Fail(ErrorAccessDenied);
  }
  return ChangeNames(native, std::string(), native, [&native] { return unlink(native.c_str()); });
}

bool detail::MoveFileReplacingNative(std::string_view from, std::string_view to) {
  posix::TProbe fromProbe, toProbe;
  const std::string source = MapPath(from, fromProbe);
  const std::string target = MapPath(to, toProbe);
  struct stat st;
  if (!fromProbe.Exists && lstat(source.c_str(), &st) != 0)
    return FailErrno(errno, source);
  if (toProbe.Exists)
    st = toProbe.St;
  if ((toProbe.Exists || (!toProbe.Missing && stat(target.c_str(), &st) == 0)) &&
      (S_ISDIR(st.st_mode) || (st.st_mode & S_IWUSR) == 0))
    return Fail(ErrorAccessDenied);
  return ChangeNames(
      source, target, target, [&] { return rename(source.c_str(), target.c_str()); },
      toProbe.ParentKnown ? &toProbe.Parent : nullptr);
}

bool detail::CreateFolderNative(std::string_view path) {
  const std::string native = MapPath(path);
  return ChangeNames(std::string(), native, native,
                     [&native] { return mkdir(native.c_str(), 0777); });
}

bool detail::RemoveFolderNative(std::string_view path) {
  const std::string native = MapPath(path);
  return ChangeNames(native, std::string(), native, [&native] { return rmdir(native.c_str()); });
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
  std::string buffer;
  if (!posix::OwnProgramPath(buffer)) {
    FailErrno(errno);
    return std::string();
  }
  // Callers take the folder apart with the Windows path rules, so hand out
  // the Windows spelling; NativePath maps it back.
  std::string path = posix::ProgramName(buffer);
  for (char &c : path)
    if (c == '/')
      c = '\\';
  return path;
}

namespace {
// Host folder of a Windows-style folder part ("" for the current folder),
// and its stamp when the mapping looked at it.
std::string HostFolder(const std::string &folder, posix::TProbe &probe) {
  probe = posix::TProbe();
  return folder.empty() ? std::string(".") : MapPath(folder, probe);
}
} // namespace

bool TTempFile::CreateNamedNative(std::string_view target, const std::string &path) {
  std::string folder, name;
  detail::SplitMask(path, folder, name);
  posix::TProbe probe;
  const std::string hostFolder = HostFolder(folder, probe);
  // No look at the name first: the exclusive create reports a clash itself.
  const std::string native = hostFolder + "/" + posix::DiskName(name);
  posix::TFolderStamp stamp;
  const bool known = probe.Exists && S_ISDIR(probe.St.st_mode);
  if (known)
    stamp = posix::StampOfFolder(probe.St);
  int fd = -1, error = 0;
  {
    // Up to date before the target's folder is looked up below.
    posix::TOwnChange change(std::string(), native, known ? &stamp : nullptr);
    // A new file is a regular one: no check of its type, no non-blocking open.
    fd = open(native.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    error = errno;
    change.Succeeded(fd >= 0);
  }
  if (fd < 0)
    return error == EEXIST ? Fail(ErrorFileExists) : FailErrno(error, native);
  Data.Handle = fd;
  TempPath = path;
  NativeTemp = native;
  Target = std::string(target);
  std::string targetFolder;
  detail::SplitMask(target, targetFolder, TargetName);
  NativeFolder = targetFolder == folder ? hostFolder : HostFolder(targetFolder, probe);
  return Succeed();
}

namespace {

// `flush` on the open folder `native`; EINVAL (a file system that cannot
// flush a folder) has nothing to flush.
bool OnFolder(const std::string &native, int (*flush)(int)) {
  const int fd = open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return FailErrno(errno, native);
  const bool flushed = flush(fd) == 0 || errno == EINVAL;
  const int error = errno;
  close(fd);
  return flushed ? Succeed() : FailErrno(error, native);
}

int FlushVolume(int fd) {
#ifdef __linux__
  return syncfs(fd); // Linux only: the folder's volume, not every volume
#else
  (void)fd;
  sync();
  return 0;
#endif
}

} // namespace

bool detail::FlushesEachFile() {
  // One flush of the volume takes every file's data with it: measured far
  // cheaper than a flush per file (a journal commit each), even on a worker.
  return false;
}

bool FlushFolder(std::string_view folder) {
  posix::TProbe probe;
  if (!OnFolder(MapPath(folder, probe), FlushVolume))
    return false;
  detail::Note({fault::TChange::VolumeFlushed});
  return true;
}

bool TTempFile::FlushBeforeMove(TDurable durable) {
  return durable != TDurable::Now || Data.Flush();
}

bool TTempFile::FlushAfterMove(TDurable durable) {
  if (durable != TDurable::Now)
    return true;
  if (!OnFolder(NativeFolder, fsync))
    return false;
  detail::Note({fault::TChange::FolderFlushed, -1, Target});
  return true;
}

bool TTempFile::MoveIntoPlaceNative(TDurable) {
  struct stat folder;
  if (stat(NativeFolder.c_str(), &folder) != 0)
    return FailErrno(errno, NativeFolder);
  const std::string target = posix::MapNameIn(NativeFolder, folder, TargetName);
  const posix::TFolderStamp before = posix::StampOfFolder(folder);
  posix::TOwnChange change(NativeTemp, target, &before);
  // Most targets are new: a rename that must not replace needs no look at the
  // target first, and reports the one that is there.
  bool moved = posix::RenameNoReplace(NativeTemp.c_str(), target.c_str()) == 0;
  int error = errno;
  if (!moved && (error == EEXIST || error == EINVAL || error == ENOSYS)) {
    struct stat st;
    if (stat(target.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || (st.st_mode & S_IWUSR) == 0)) {
      return Fail(ErrorAccessDenied);
    }
    moved = rename(NativeTemp.c_str(), target.c_str()) == 0;
    error = errno;
  }
  change.Succeeded(moved);
  return moved || FailErrno(error, target);
}

namespace detail {

void EndProcessAbruptly(int exitCode) {
  _exit(exitCode);
}

bool WritesRenameThrough(TDurable) {
  return false; // the folder is flushed after the rename instead
}

bool ReadWholeNative(std::intptr_t handle, std::string &data) {
  data.clear();
  char buffer[16384];
  for (;;) {
    const ssize_t n =
        pread(static_cast<int>(handle), buffer, sizeof buffer, static_cast<off_t>(data.size()));
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return FailErrno(errno);
    if (n == 0)
      return Succeed();
    data.append(buffer, static_cast<std::size_t>(n));
  }
}

void CloseHandleNative(std::intptr_t handle) {
  if (handle != -1)
    close(static_cast<int>(handle));
}

} // namespace detail

// Natively the library and the program share one seam, and so its error.
void HandOverError(int error) {
  detail::SetError(error);
}

int TakeOverError() {
  return LastError();
}

} // namespace platform
