// Helpers shared by the per-OS implementations of the platform seam; not for
// use outside platform/.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/fault.h"
#include "platform/files.h"
#include "platform/window.h"

namespace platform::detail {

void SetError(int error);

// Windows errors that an injected fault of each kind reports.
int FaultError(fault::TOp op);
// True (with the fault's error recorded) when an injected fault hits `op`.
inline bool Faulted(fault::TOp op) {
  if (!fault::Hit(op))
    return false;
  SetError(FaultError(op));
  return true;
}
// Ends the process at once with `exitCode`: no destructors, no atexit
// handlers, no flushing (the crash mode of the fault hooks).
[[noreturn]] void EndProcessAbruptly(int exitCode);
// True when the write that has just been made to fail should look like a full disk.
[[nodiscard]] bool FaultIsDiskFull();

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

// Runs the message-box hook when one is set; false when none is.
[[nodiscard]] bool RunMessageBoxHook(THandle owner, std::string_view text, std::string_view caption,
                                     std::uint32_t style, int &result);

} // namespace platform::detail
