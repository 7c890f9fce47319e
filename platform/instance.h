// One running copy of the program at a time: a second copy finds the first
// one's claim and ends before it touches any file. A named mutex on Windows,
// a lock file held with flock on POSIX.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/no_copy.h"

namespace platform {

// The claim that every copy of zrkupd makes.
constexpr std::string_view SingleInstanceName = "ZRKUPD_SINGLE_INSTANCE";

// POSIX only: the folder of the lock files, $XDG_RUNTIME_DIR or else /tmp.
// Tests point it at a folder of their own (and their child processes through
// the variable), so that they never meet a real copy of the program.
std::string LockFolder();
void SetLockFolder(std::string_view folder);

class TSingleInstance : TNoCopy {
public:
  TSingleInstance() = default;
  ~TSingleInstance();

  // False only when another holder, in this process or another one, has
  // `name`. When no claim can be made at all (no lock folder, no mutex for
  // another reason) the answer is true: a broken lock must not stop updates.
  // On POSIX the lock file lives in LockFolder(); it is left in place when
  // released, since deleting it would let two copies lock two different files
  // of the same name.
  [[nodiscard]] bool Acquire(std::string_view name);
  // Gives the claim up; the destructor does the same. Child processes never
  // inherit it.
  void Release();
  [[nodiscard]] bool Held() const { return Handle != Invalid; }

private:
  static constexpr std::intptr_t Invalid = -1;
  std::intptr_t Handle = Invalid;
};

} // namespace platform
