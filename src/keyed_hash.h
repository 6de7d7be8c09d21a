// A keyed hash for the tree's hash maps: SipHash with a key drawn once per run.
//
// Names come from the map file, so a fixed-seed hash lets one who writes the map pick names
// that all land in one chain and make filing quadratic. Without the key the hash cannot be
// predicted, so such names cannot be built in advance. The output never depends on hash values
// (members are written in insertion order), so a random key keeps documents byte-identical.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace vorlith {

struct HashKey {
  uint64_t k0 = 0;
  uint64_t k1 = 0;
};

// Draws a key from the system's random source (getrandom, else std::random_device).
HashKey drawHashKey();

// The key of this run, drawn on first use.
inline const HashKey& runHashKey() {
  static const HashKey key = drawHashKey();
  return key;
}

namespace detail {
inline uint64_t rotl(uint64_t x, int b) {
  return (x << b) | (x >> (64 - b));
}
}  // namespace detail

// SipHash with `C` rounds per 8-byte word and `D` rounds at the end. Words are read in the
// machine's byte order; that only permutes the function on big-endian machines.
template <int C, int D>
uint64_t sipHash(const HashKey& key, std::string_view data) {
  using detail::rotl;
  uint64_t v0 = 0x736f6d6570736575ull ^ key.k0;
  uint64_t v1 = 0x646f72616e646f6dull ^ key.k1;
  uint64_t v2 = 0x6c7967656e657261ull ^ key.k0;
  uint64_t v3 = 0x7465646279746573ull ^ key.k1;
  auto round = [&] {
    v0 += v1;
    v1 = rotl(v1, 13) ^ v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16) ^ v2;
    v0 += v3;
    v3 = rotl(v3, 21) ^ v0;
    v2 += v1;
    v1 = rotl(v1, 17) ^ v2;
    v2 = rotl(v2, 32);
  };
  auto absorb = [&](uint64_t m) {
    v3 ^= m;
    for (int r = 0; r < C; ++r) {
      round();
    }
    v0 ^= m;
  };
  const char* p = data.data();
  size_t n = data.size();
  size_t whole = n & ~size_t{7};
  for (size_t i = 0; i < whole; i += 8) {
    uint64_t m;
    std::memcpy(&m, p + i, 8);
    absorb(m);
  }
  uint64_t last = static_cast<uint64_t>(n) << 56;
  for (size_t i = 0; i < (n & 7); ++i) {
    last |= static_cast<uint64_t>(static_cast<unsigned char>(p[whole + i])) << (8 * i);
  }
  absorb(last);
  v2 ^= 0xff;
  for (int r = 0; r < D; ++r) {
    round();
  }
  return v0 ^ v1 ^ v2 ^ v3;
}

// The tree's hash: SipHash-1-3 under the run's key, the fast variant meant for hash tables.
inline uint64_t keyedHash(std::string_view data) {
  return sipHash<1, 3>(runHashKey(), data);
}

}  // namespace vorlith
