// The fault hooks of the seam's test variant (zrk_platform_faults): counting,
// arming, and the failures the seam reports. The shipped seam is built
// without this file, and its checks compile to nothing.
#include <atomic>

#include "platform/fault.h"
#include "platform/files.h"
#include "platform/internal.h"
#include "platform/power_cut.h"

namespace platform {

namespace {
// Armed is the only thing a disarmed run ever reads.
std::atomic<bool> Armed{false};
std::atomic<std::uint64_t> Counter{0};
std::atomic<std::uint64_t> FailAt{0};
std::atomic<bool> DiskFull{false};
std::atomic<bool> Crash{false};
std::atomic<bool> PowerCut{false};
// Set while the power-cut simulation reads and writes through the seam.
std::atomic<bool> Busy{false};
std::atomic<int> HitOp{-1};
std::atomic<bool> LastHitWasDiskFull{false};
// Set only while this copy follows another copy's hooks.
std::atomic<bool (*)(fault::TOp)> FollowedHit{nullptr};
std::atomic<bool (*)()> FollowedDiskFull{nullptr};
std::atomic<void (*)(const fault::TEvent &)> FollowedNote{nullptr};

bool Hit(fault::TOp op) {
  if (const auto followed = FollowedHit.load(std::memory_order_relaxed))
    return followed(op);
  if (!Armed.load(std::memory_order_relaxed) || Busy.load())
    return false;
  const std::uint64_t number = ++Counter;
  if (number != FailAt.load())
    return false;
  if (PowerCut.load()) {
    Busy = true;
    detail::power::Cut();
  }
  if (Crash.load())
    detail::EndProcessAbruptly(fault::CrashExitCode);
  HitOp = static_cast<int>(op);
  LastHitWasDiskFull = DiskFull.load() && op == fault::TOp::Write;
  return true;
}

bool OwnLastHitWasDiskFull() {
  return LastHitWasDiskFull;
}

void OwnNote(const fault::TEvent &event) {
  if (!Armed.load(std::memory_order_relaxed) || !PowerCut.load() || Busy.load())
    return;
  Busy = true;
  detail::power::Noted(event);
  Busy = false;
}

// Windows errors that an injected fault of each kind reports.
int FaultError(fault::TOp op) {
  switch (op) {
  case fault::TOp::Open:
  case fault::TOp::Create:
    return ErrorSharingViolation;
  case fault::TOp::Read:
    return 30; // ERROR_READ_FAULT
  case fault::TOp::Write:
    return detail::FaultIsDiskFull() ? ErrorDiskFull : ErrorWriteFault;
  case fault::TOp::Seek:
    return 25; // ERROR_SEEK
  case fault::TOp::CreateFolder:
    return 82; // ERROR_CANNOT_MAKE
  case fault::TOp::Rename:
  case fault::TOp::Delete:
  case fault::TOp::SetAttributes:
    break;
  }
  return ErrorAccessDenied;
}
} // namespace

namespace fault {

void Arm(std::uint64_t failAt, bool diskFull) {
  Counter = 0;
  FailAt = failAt;
  DiskFull = diskFull;
  Crash = false;
  PowerCut = false;
  HitOp = -1;
  LastHitWasDiskFull = false;
  Armed = true;
}

void ArmCrash(std::uint64_t crashAt) {
  Arm(crashAt);
  Crash = true;
}

void ArmPowerCut(std::uint64_t cutAt, std::string_view root, bool namesLost, bool torn) {
  Disarm();
  Busy = true;
  detail::power::Start(root, namesLost, torn);
  Busy = false;
  ArmCrash(cutAt);
  PowerCut = true;
}

void Disarm() {
  Armed = false;
}

std::uint64_t Count() {
  return Counter;
}

bool HitOperation(TOp &op) {
  const int hit = HitOp.load();
  if (hit < 0)
    return false;
  op = static_cast<TOp>(hit);
  return true;
}

THooks OwnHooks() {
  THooks hooks;
  hooks.Hit = &Hit;
  hooks.LastHitWasDiskFull = &OwnLastHitWasDiskFull;
  hooks.Note = &OwnNote;
  return hooks;
}

void Follow(const THooks &hooks) {
  // Following itself would recurse for ever.
  const bool own = hooks.Hit == nullptr || hooks.Hit == &Hit ||
                   hooks.LastHitWasDiskFull == nullptr || hooks.Note == nullptr;
  FollowedDiskFull = own ? nullptr : hooks.LastHitWasDiskFull;
  FollowedNote = own ? nullptr : hooks.Note;
  FollowedHit = own ? nullptr : hooks.Hit;
}

} // namespace fault

namespace detail {

bool Faulted(fault::TOp op) {
  if (!Hit(op))
    return false;
  SetError(FaultError(op));
  return true;
}

void Note(const fault::TEvent &event) {
  if (const auto followed = FollowedNote.load())
    followed(event);
  else
    OwnNote(event);
}

bool Simulating() {
  // A copy that follows another's hooks cannot tell: it takes the safe side.
  return FollowedNote.load() != nullptr || (Armed.load() && PowerCut.load());
}

bool FaultIsDiskFull() {
  if (const auto followed = FollowedDiskFull.load())
    return followed();
  return LastHitWasDiskFull;
}

} // namespace detail

} // namespace platform
