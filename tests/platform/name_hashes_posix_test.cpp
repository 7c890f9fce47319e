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
    std::size_t distinct = 0;
    for (const auto &[hash, count] : model) {
      ASSERT_EQ(hashes.Has(hash), count > 0) << hash;
      distinct += count > 0 ? 1 : 0;
    }
    EXPECT_EQ(hashes.Size(), distinct);
  }
}

// A name created again and again over itself keeps one slot, and is gone
// only after as many removals.
TEST(NameHashes, OneNameAddedRepeatedlyKeepsOneSlot) {
  TNameHashes hashes;
  hashes.Add(99);
  for (int i = 0; i < 20000; ++i)
    hashes.Add(7);
  EXPECT_EQ(hashes.Size(), 2u);
  for (int i = 0; i < 19999; ++i)
    hashes.Remove(7);
  EXPECT_TRUE(hashes.Has(7));
  hashes.Remove(7);
  EXPECT_FALSE(hashes.Has(7));
  EXPECT_TRUE(hashes.Has(99));
}
