// The key hash (XXH32, seed 0) of one machine word's bytes in memory order, written out for a
// fixed 4- or 8-byte input so that pointer-keyed look-ups inline it without the whole xxHash
// header. Gives the same value as KeyHash(&word, sizeof word) on little-endian targets.
//
// Pure function: any thread may use it.
#pragma once

#include <bit>
#include <cstdint>

namespace kiv {

static_assert(std::endian::native == std::endian::little,
              "the word is hashed as its bytes in memory order, low half first");

inline uint32_t KeyHashOfWord(uintptr_t word) {
  constexpr uint32_t kPrime2 = 0x85EBCA77u, kPrime3 = 0xC2B2AE3Du, kPrime4 = 0x27D4EB2Fu,
                     kPrime5 = 0x165667B1u;
  // Inputs under 16 bytes: the seed plus prime 5 plus the length, then each 4-byte lane.
  uint32_t h = kPrime5 + static_cast<uint32_t>(sizeof word);
  for (unsigned lane = 0; lane < sizeof word / 4; ++lane) {
    h += static_cast<uint32_t>(static_cast<uint64_t>(word) >> (32 * lane)) * kPrime3;
    h = std::rotl(h, 17) * kPrime4;
  }
  // The final avalanche.
  h ^= h >> 15;
  h *= kPrime2;
  h ^= h >> 13;
  h *= kPrime3;
  h ^= h >> 16;
  return h;
}

}  // namespace kiv
