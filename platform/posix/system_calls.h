// The calls of the POSIX seam that only Linux has, each with a plain POSIX
// fallback elsewhere (system_calls.cpp); the rest of the seam calls these
// and never the Linux ones directly.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace platform::posix {

// Linux copy_file_range: copies up to `count` bytes from the current position
// of `in` to that of `out` in the kernel. Elsewhere -1 with ENOSYS (the caller
// copies through a buffer).
ssize_t CopyFileRange(int in, int out, std::size_t count);
// Linux fallocate with FALLOC_FL_KEEP_SIZE: room for `bytes` without changing
// the file's size. Elsewhere it reserves nothing and reports success: the
// reservation is only a hint, and posix_fallocate would change the size.
int ReserveKeepingSize(int fd, off_t bytes);
// Linux renameat2 with RENAME_NOREPLACE. Elsewhere -1 with ENOSYS (the caller
// looks at the target and renames).
int RenameNoReplace(const char *from, const char *to);
// The running program's host path: /proc/self/exe on Linux. Elsewhere false
// with ENOSYS (no POSIX call names it).
bool OwnProgramPath(std::string &path);
// Whether a change to `folder` after its times were read always gives it new
// ones: Linux 6.13 and later on ext4, XFS, Btrfs and tmpfs. Elsewhere false
// (a folder is trusted only once its times have settled).
bool FineTimesOnDemand(const char *folder);

} // namespace platform::posix
