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
#else
// The shipped seam counts nothing and fails nothing on purpose.
constexpr bool Faulted(fault::TOp) {
  return false;
}
constexpr bool FaultIsDiskFull() {
  return false;
}
#endif
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

// Runs the message-box hook when one is set; false when none is.
[[nodiscard]] bool RunMessageBoxHook(THandle owner, std::string_view text, std::string_view caption,
                                     std::uint32_t style, int &result);

} // namespace platform::detail
