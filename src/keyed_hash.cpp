#include "keyed_hash.h"

#include <sys/random.h>

#include <random>

namespace vorlith {

HashKey drawHashKey() {
  HashKey key;
  uint64_t words[2];
  // Never blocks for long: the system's pool is ready once the machine has booted.
  if (::getrandom(words, sizeof words, 0) == static_cast<ssize_t>(sizeof words)) {
    key.k0 = words[0];
    key.k1 = words[1];
    return key;
  }
  std::random_device device;
  auto draw64 = [&device] {
    return (static_cast<uint64_t>(device()) << 32) ^ static_cast<uint64_t>(device());
  };
  key.k0 = draw64();
  key.k1 = draw64();
  return key;
}

}  // namespace vorlith
