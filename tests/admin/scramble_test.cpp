// Record scrambling: known key bytes, seed substitution and clamping, lengths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "admin/scramble.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::uint8_t> KeyStream(std::size_t count, std::int32_t seed) {
  std::vector<std::uint8_t> bytes(count, 0);
  admin::ScrambleBuffer(bytes.data(), static_cast<std::int32_t>(count), seed);
  return bytes;
}

TEST(Scramble, GeneratorPiecesHaveTheirKnownValues) {
  const std::uint32_t offsets[] = {0, 2, 3, 5, 7, 8, 10};
  for (std::size_t i = 0; i < sizeof offsets / sizeof offsets[0]; ++i)
    EXPECT_EQ(admin::ScrambleOffset(static_cast<std::int64_t>(i)), offsets[i]) << i;
  EXPECT_EQ(admin::ScrambleKeyOfState(1), 8);
  // 649090867 steps to 0: a key byte of 0 becomes 1.
  EXPECT_EQ(admin::ScrambleKeyOfState(649090867u), 1);
}

TEST(Scramble, KnownKeyStreams) {
  struct {
    std::int32_t Seed;
    std::vector<std::uint8_t> Keys;
  } const cases[] = {
      {100000, {254, 14, 22, 38, 54, 62, 78, 94}},
      {1658203, {79, 95, 103, 119, 135, 143, 159, 175}},
      {admin::SettingsSeed, {224, 240, 249, 9, 25, 33, 49, 65}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Seed);
    EXPECT_EQ(KeyStream(c.Keys.size(), c.Seed), c.Keys);
  }
  // Positions whose generator output has a zero high byte.
  EXPECT_EQ(KeyStream(326, 100000)[325], 1);
  EXPECT_EQ(KeyStream(294, 1658203)[166], 1);
}

TEST(Scramble, LargePositionsUseA64BitProduct) {
  // 5 * i exceeds 32 bits here.
  EXPECT_EQ(admin::ScrambleKey(999999999, 1658203), 18);
  EXPECT_EQ(admin::ScrambleKey(999999998, 2000000), 148);
}

TEST(Scramble, SeedsAreSubstitutedAndClamped) {
  const std::size_t n = 64;
  struct {
    std::int32_t Seed, SameAs;
  } const cases[] = {
      {0, admin::DefaultScrambleSeed},
      {1, 100000},
      {99999, 100000},
      {-5, 100000},
      {2000001, 2000000},
      {2147483647, 2000000},
      {admin::SettingsSeed, 2000000},
      {-2147483647 - 1, 100000},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.Seed) + " like " + std::to_string(c.SameAs));
    EXPECT_EQ(KeyStream(n, c.Seed), KeyStream(n, c.SameAs));
  }
  EXPECT_NE(KeyStream(n, 100000), KeyStream(n, 100001));
  EXPECT_NE(KeyStream(n, 2000000), KeyStream(n, 1999999));
}

TEST(Scramble, TwiceRestoresAndNoByteStaysPlain) {
  for (std::int32_t seed : {0, 123456, 1658203, admin::SettingsSeed}) {
    SCOPED_TRACE(seed);
    std::vector<std::uint8_t> plain = testing_support::PatternBytes(5809, 7);
    std::vector<std::uint8_t> bytes = plain;
    admin::ScrambleBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()), seed);
    for (std::size_t i = 0; i < bytes.size(); ++i)
      ASSERT_NE(bytes[i], plain[i]) << i;
    admin::ScrambleBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()), seed);
    EXPECT_EQ(bytes, plain);
  }
}

TEST(Scramble, LengthsOutsideTheRangeChangeNothing) {
  std::vector<std::uint8_t> bytes(8, 0x55);
  for (std::int32_t length : {0, -1, -2147483647 - 1, admin::ScrambleMaxLength + 1}) {
    SCOPED_TRACE(length);
    admin::ScrambleBuffer(bytes.data(), length, 1658203);
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(8, 0x55));
  }
  admin::ScrambleBuffer(bytes.data(), 1, 1658203);
  EXPECT_NE(bytes[0], 0x55);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 1, bytes.end()),
            std::vector<std::uint8_t>(7, 0x55));
}

TEST(Scramble, KeyBytesDependOnlyOnThePosition) {
  std::vector<std::uint8_t> record = KeyStream(294, 1658203);
  std::vector<std::uint8_t> header = KeyStream(5809, 1658203);
  EXPECT_EQ(record, std::vector<std::uint8_t>(header.begin(), header.begin() + 294));
  for (std::size_t i = 0; i < header.size(); i += 97)
    EXPECT_EQ(header[i], admin::ScrambleKey(static_cast<std::int64_t>(i), 1658203)) << i;
}

} // namespace
