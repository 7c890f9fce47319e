// The POSIX seam's memo of a folder's names in its cheapest form: one 32-bit
// hash per folded name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace platform::posix {

// 32-bit hashes of folded names, one per name (a multiset), in an open
// table: 4 to 8 bytes per name where TNames takes about 80. It tells a
// missing name from one that may be there; only a name asked for in another
// spelling than its own needs the folder's names themselves. A hash left
// over (two spellings, or a name added twice) only costs a reading.
class TNameHashes {
public:
  static std::uint32_t Of(std::string_view foldedKey) {
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (const char c : foldedKey)
      hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash == Empty ? 1 : hash;
  }
  void Add(std::uint32_t hash) {
    if ((Used + 1) * 4 > Slots.size() * 3)
      Grow();
    Slots[Free(hash)] = hash;
    ++Used;
  }
  bool Has(std::uint32_t hash) const { return Used != 0 && Slots[Find(hash)] == hash; }
  // Removes one occurrence.
  void Remove(std::uint32_t hash) {
    if (!Has(hash))
      return;
    // Backward-shift deletion keeps every probe run unbroken.
    std::size_t hole = Find(hash);
    const std::size_t mask = Slots.size() - 1;
    for (std::size_t next = (hole + 1) & mask; Slots[next] != Empty; next = (next + 1) & mask) {
      const std::size_t home = Slots[next] & mask;
      // Moves back unless its home lies cyclically in (hole, next].
      if (((next - home) & mask) >= ((next - hole) & mask)) {
        Slots[hole] = Slots[next];
        hole = next;
      }
    }
    Slots[hole] = Empty;
    --Used;
  }
  std::size_t Size() const { return Used; }

private:
  static constexpr std::uint32_t Empty = 0;
  std::size_t Find(std::uint32_t hash) const {
    const std::size_t mask = Slots.size() - 1;
    std::size_t at = hash & mask;
    while (Slots[at] != Empty && Slots[at] != hash)
      at = (at + 1) & mask;
    return at;
  }
  std::size_t Free(std::uint32_t hash) const {
    const std::size_t mask = Slots.size() - 1;
    std::size_t at = hash & mask;
    while (Slots[at] != Empty)
      at = (at + 1) & mask;
    return at;
  }
  void Grow() {
    std::vector<std::uint32_t> old(Slots.empty() ? 16 : Slots.size() * 2, Empty);
    old.swap(Slots);
    for (const std::uint32_t hash : old)
      if (hash != Empty)
        Slots[Free(hash)] = hash;
  }
  std::vector<std::uint32_t> Slots;
  std::size_t Used = 0;
};

} // namespace platform::posix
