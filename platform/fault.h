// Fault injection at the seam: a test can make the Nth file operation of a run
// fail, or every write report a full disk, and then prove that nothing was
// lost. Only the seam's test variant (zrk_platform_faults, which every test
// program links) defines these; the shipped programs have no fault hooks.
#pragma once

#include <cstdint>

namespace platform::fault {

enum class TOp { Open, Create, Read, Write, Seek, Rename, Delete, SetAttributes, CreateFolder };

// Counts every file operation from now on and makes the one with number
// `failAt` (1-based) fail; 0 only counts. `diskFull` makes that failure a
// short write with error 112 where the operation is a write. Queries (size,
// position, attributes, times read, listings) are not counted. A failed
// operation reports: open/create 32, read 30, write 29, seek 25, create
// folder 82, rename/delete/set attributes or time 5.
void Arm(std::uint64_t failAt, bool diskFull = false);
// Counts as Arm does and ends the process at once, before operation number
// `crashAt` (1-based) is carried out, with exit code CrashExitCode: no
// destructors, no buffers flushed, no files closed by the program. This is
// how a run killed at that moment looks to the next one.
void ArmCrash(std::uint64_t crashAt);
constexpr int CrashExitCode = 86;
void Disarm();
std::uint64_t Count();
// The kind of operation the armed failure hit; false while none was hit.
[[nodiscard]] bool HitOperation(TOp &op);

// A second copy of the seam in one process (the unzip library's
// on Windows, which must stay self-contained) can take every decision from
// the first one's hooks, so that one count covers both copies.
struct THooks {
  bool (*Hit)(TOp op) = nullptr;
  bool (*LastHitWasDiskFull)() = nullptr;
};
THooks OwnHooks();
// Empty hooks, or this copy's own, make it decide for itself again.
void Follow(const THooks &hooks);

} // namespace platform::fault
