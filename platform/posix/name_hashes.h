// The POSIX seam's memo of a folder's names in its cheapest form: one 32-bit
// hash per folded name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace platform::posix {

// 32-bit hashes of folded names, one slot per hash with a count of the
// names behind it (a multiset), in an open table: 6 to 12 bytes per name
// where TNames takes about 80. It tells a missing name from one that may be
// there; only a name asked for in another spelling than its own needs the
// folder's names themselves. A count too high (two spellings, or a name
// created again over itself) only costs a reading; one slot per hash keeps a
// name created again and again from piling up copies whose probe runs would
// make every further insertion cost O(n).
class TNameHashes {
public:
  static std::uint32_t Of(std::string_view foldedKey) {
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (const char c : foldedKey)
      hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash == Empty ? 1 : hash;
  }
  void Add(std::uint32_t hash) {
    if (Used != 0) {
      const std::size_t at = Find(hash);
      if (Slots[at] == hash) {
        // A saturated count stays: the hash is then never removed, which
        // only costs a reading.
        if (Counts[at] != MaxCount)
          ++Counts[at];
        return;
      }
    }
    if ((Used + 1) * 4 > Slots.size() * 3)
      Grow();
    const std::size_t at = Find(hash);
    Slots[at] = hash;
    Counts[at] = 1;
    ++Used;
  }
  bool Has(std::uint32_t hash) const { return Used != 0 && Slots[Find(hash)] == hash; }
  // Removes one occurrence.
  void Remove(std::uint32_t hash) {
    if (!Has(hash))
      return;
    std::size_t hole = Find(hash);
    if (Counts[hole] == MaxCount)
      return;
    if (--Counts[hole] != 0)
      return;
    // Backward-shift deletion keeps every probe run unbroken.
    const std::size_t mask = Slots.size() - 1;
    for (std::size_t next = (hole + 1) & mask; Slots[next] != Empty; next = (next + 1) & mask) {
      const std::size_t home = Slots[next] & mask;
      // Moves back unless its home lies cyclically in (hole, next].
      if (((next - home) & mask) >= ((next - hole) & mask)) {
        Slots[hole] = Slots[next];
        Counts[hole] = Counts[next];
        hole = next;
      }
    }
    Slots[hole] = Empty;
    --Used;
  }
  // Distinct hashes kept.
  std::size_t Size() const { return Used; }

private:
  static constexpr std::uint32_t Empty = 0;
  static constexpr std::uint16_t MaxCount = 0xFFFF;
  // The slot holding `hash`, or the empty slot where it would go.
  std::size_t Find(std::uint32_t hash) const {
    const std::size_t mask = Slots.size() - 1;
    std::size_t at = hash & mask;
    while (Slots[at] != Empty && Slots[at] != hash)
      at = (at + 1) & mask;
    return at;
  }
  void Grow() {
    const std::size_t size = Slots.empty() ? 16 : Slots.size() * 2;
    std::vector<std::uint32_t> oldSlots(size, Empty);
    std::vector<std::uint16_t> oldCounts(size, 0);
    oldSlots.swap(Slots);
    oldCounts.swap(Counts);
    for (std::size_t i = 0; i < oldSlots.size(); ++i)
      if (oldSlots[i] != Empty) {
        const std::size_t at = Find(oldSlots[i]);
        Slots[at] = oldSlots[i];
        Counts[at] = oldCounts[i];
      }
  }
  std::vector<std::uint32_t> Slots;
  std::vector<std::uint16_t> Counts;
  std::size_t Used = 0;
};

} // namespace platform::posix
