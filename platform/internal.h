// Helpers shared by the per-OS implementations of the platform seam; not for
// use outside platform/.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fault.h"
#include "platform/files.h"
#include "platform/window.h"

namespace platform::detail {

void SetError(int error);

#ifdef ZRK_FAULT_HOOKS
// Counts the operation; true (with the fault's error recorded) when an armed
// fault hits it. Only the seam's test variant has fault hooks.
[[nodiscard]] bool Faulted(fault::TOp op);
// True when the write that has just been made to fail should look like a full disk.
[[nodiscard]] bool FaultIsDiskFull();
// Tells the power-cut simulation what a file task changed or made durable.
void Note(const fault::TEvent &event);
// True while a power-cut simulation follows the notes: it takes them in one
// order, from one thread.
[[nodiscard]] bool Simulating();
#else
// The shipped seam counts nothing and fails nothing on purpose.
constexpr bool Faulted(fault::TOp) {
  return false;
}
constexpr bool FaultIsDiskFull() {
  return false;
}
inline void Note(const fault::TEvent &) {
}
constexpr bool Simulating() {
  return false;
}
#endif
// Whether a file committed with TDurable::Data needs a flush of its own
// (TFlushBehind then flushes it), or the folder's flush covers its data.
[[nodiscard]] bool FlushesEachFile();
// Ends the process at once with `exitCode`: no destructors, no atexit
// handlers, no flushing (the crash mode of the fault hooks).
[[noreturn]] void EndProcessAbruptly(int exitCode);
// The attribute-filter rule of a listing: plain files always, folders, hidden,
// system and volume entries only when their bit is asked for.
[[nodiscard]] bool PassesFilter(std::uint32_t attributes, std::uint32_t filter);
// The order NTFS lists a folder in: names compared character by character
// in their upper-case forms (Cp1252UpperCase), a prefix first. The POSIX
// listing uses it, so that placement takes files as it would on Windows.
[[nodiscard]] bool ListedBefore(std::string_view a, std::string_view b);

// Splits a mask such as "C:\A\*.TXT" into "C:\A\" and "*.TXT" (the folder part
// keeps its separator; empty when the mask has no folder).
void SplitMask(std::string_view mask, std::string &folder, std::string &pattern);

// The library `file` in `folder` (which ends in its separator) that this
// program loads.
[[nodiscard]] std::string LibraryPath(std::string_view folder, std::string_view file);

// The OS parts of run-time loading, behind the argument checks of common.cpp
// (library and name are never null here).
[[nodiscard]] void *LoadDynamicLibraryNative(std::string_view name, std::string_view folder);
[[nodiscard]] void *FindSymbolNative(void *library, const char *name);
void FreeDynamicLibraryNative(void *library);

// The system's own message box (POSIX: the text on standard output), asked
// when no hook answers.
[[nodiscard]] int ShowMessageBoxNative(THandle owner, std::string_view text,
                                       std::string_view caption, std::uint32_t style);

// The OS parts of the seam's file tasks; the public functions in common.cpp
// put the fault hooks in front of them and tell the hooks what changed.
[[nodiscard]] bool SetAttributesNative(std::string_view path, std::uint32_t attributes);
[[nodiscard]] bool SetDosTimeNative(std::string_view path, std::uint32_t dosTime);
[[nodiscard]] bool DeleteFileNative(std::string_view path);
[[nodiscard]] bool MoveFileReplacingNative(std::string_view from, std::string_view to);
[[nodiscard]] bool CreateFolderNative(std::string_view path);
[[nodiscard]] bool RemoveFolderNative(std::string_view path);
// Whether TTempFile's rename with `durable` is on the disk when it returns.
[[nodiscard]] bool WritesRenameThrough(TDurable durable);
// Everything the open file `handle` holds, read without moving its
// position (the power-cut simulation; a file not shared cannot be opened
// again by name).
[[nodiscard]] bool ReadWholeNative(std::intptr_t handle, std::string &data);
// Closes an OS handle of a file or claim (-1: none).
void CloseHandleNative(std::intptr_t handle);

} // namespace platform::detail
