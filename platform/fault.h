// Fault injection at the seam: a test can make the Nth file operation of a run
// fail, or every write report a full disk, and then prove that nothing was
// lost. Only the seam's test variant (zrk_platform_faults, which every test
// program links) defines these; the shipped programs have no fault hooks.
#pragma once

#include <cstdint>
#include <string_view>

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

// A power cut: counts as Arm does and, before operation number `cutAt`, puts
// every file below `root` back to what a disk would hold after losing power
// at that moment, then ends the process as ArmCrash does. Data written and
// not flushed since is lost, or with `torn` cut at a block boundary; with
// `namesLost` so is every rename, creation and deletion whose folder was not
// flushed after it, else they all stay.
void ArmPowerCut(std::uint64_t cutAt, std::string_view root, bool namesLost, bool torn);

// What the seam tells the power-cut simulation: a file opened or created by
// a handle, a handle closed or flushed, a name renamed or deleted, a folder's
// names flushed, a rename written through to the disk, or all of a volume
// flushed.
enum class TChange : std::uint8_t {
  Opened,
  Closed,
  Flushed,
  Renamed,
  Deleted,
  FolderFlushed,
  RenameFlushed,
  VolumeFlushed
};
struct TEvent {
  TEvent(TChange change, std::intptr_t handle = -1, std::string_view path = {},
         std::string_view to = {})
      : Change(change), Handle(handle), Path(path), To(to) {}
  TChange Change;
  std::intptr_t Handle;
  std::string_view Path, To;
};

// A second copy of the seam in one process (the unzip library's
// on Windows, which must stay self-contained) can take every decision from
// the first one's hooks, so that one count covers both copies.
struct THooks {
  bool (*Hit)(TOp op) = nullptr;
  bool (*LastHitWasDiskFull)() = nullptr;
  void (*Note)(const TEvent &event) = nullptr;
};
THooks OwnHooks();
// Empty hooks, or this copy's own, make it decide for itself again.
void Follow(const THooks &hooks);

} // namespace platform::fault
