// The loop every fault walk shares: for each fault number, a fresh state,
// one run with that fault, and the checks, under a trace naming the number.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/fault.h"

namespace testing_support {

// 1..count, or at most `limit` of them spread evenly, first and last included
// (limit 0: all).
inline std::vector<std::uint64_t> FaultNumbers(std::uint64_t count, std::uint64_t limit = 0) {
  std::vector<std::uint64_t> numbers;
  if (limit == 0 || limit >= count || limit < 2) {
    for (std::uint64_t n = 1; n <= count; ++n)
      numbers.push_back(n);
    return numbers;
  }
  for (std::uint64_t i = 0; i < limit; ++i)
    numbers.push_back(1 + i * (count - 1) / (limit - 1));
  return numbers;
}

// For every n of `numbers`: state = prepare(n) (a pointer), outcome =
// run(*state, n), check(*state, outcome, n). Stops after the first n with a
// failure unless WALK_ALL is set, so that one fault does not bury the log.
template <typename TPrepare, typename TRun, typename TCheck>
void ForEachFault(const std::vector<std::uint64_t> &numbers, TPrepare prepare, TRun run,
                  TCheck check) {
  for (std::uint64_t n : numbers) {
    SCOPED_TRACE("fault at file operation " + std::to_string(n));
    auto state = prepare(n);
    ASSERT_TRUE(state);
    auto outcome = run(*state, n);
    ASSERT_NO_FATAL_FAILURE(check(*state, outcome, n));
    if (::testing::Test::HasFailure() && std::getenv("WALK_ALL") == nullptr)
      return;
  }
}

// ForEachFault with file operation n of the run failing (as a full disk where
// `diskFull`), disarmed before the check.
template <typename TPrepare, typename TRun, typename TCheck>
void ForEachFault(const std::vector<std::uint64_t> &numbers, bool diskFull, TPrepare prepare,
                  TRun run, TCheck check) {
  ForEachFault(
      numbers, prepare,
      [&](auto &state, std::uint64_t n) {
        platform::fault::Arm(n, diskFull);
        auto outcome = run(state, n);
        platform::fault::Disarm();
        return outcome;
      },
      check);
}

// The state of a walk that needs none.
inline std::unique_ptr<bool> NoState(std::uint64_t) {
  return std::make_unique<bool>();
}

// The file operations that `run` makes, counted without a fault.
template <typename TRun> std::uint64_t CountFaultOperations(TRun run) {
  platform::fault::Arm(0);
  run();
  const std::uint64_t count = platform::fault::Count();
  platform::fault::Disarm();
  return count;
}

} // namespace testing_support
