// The hash table behind the POSIX seam's name memo: a lost hash would make a
// name that is there look missing, so removals are checked against a model.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "platform/posix/name_hashes.h"

using platform::posix::TNameHashes;

TEST(NameHashes, AddsAndRemovalsMatchAMultiset) {
  struct TCase {
    const char *What;
    std::uint32_t Step; // distance between the hashes used
    std::uint32_t Count;
  };
  // Equal low bits pile whole runs onto one home slot; neighbouring ones
  // make runs that overlap and wrap around the table's end.
  const TCase cases[] = {{"one home slot", 1u << 20, 40},
                         {"neighbouring slots", 1, 300},
                         {"spread", 2654435761u, 3000}};
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.What);
    std::mt19937 random(7);
    TNameHashes hashes;
    std::map<std::uint32_t, int> model;
    for (int step = 0; step < 20000; ++step) {
      const std::uint32_t hash = 13 + c.Step * (random() % c.Count);
      if (random() % 5 < 3) {
        hashes.Add(hash);
        ++model[hash];
      } else {
        hashes.Remove(hash);
        if (model[hash] > 0)
          --model[hash];
      }
    }
    std::size_t total = 0;
    for (const auto &[hash, count] : model) {
      ASSERT_EQ(hashes.Has(hash), count > 0) << hash;
      total += static_cast<std::size_t>(count);
    }
    EXPECT_EQ(hashes.Size(), total);
  }
}
