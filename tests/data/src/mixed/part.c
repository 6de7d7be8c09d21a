/* C part of the mixed-language program: a static helper, a table and a global. */
#include <stddef.h>

static const unsigned char weights[16] = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7, 9, 3};
unsigned mix_rounds = 2;

static unsigned rotate(unsigned value, unsigned by) {
  return (value << by) | (value >> (32 - by));
}

unsigned mixChecksum(const unsigned char* data, size_t length) {
  unsigned sum = 0;
  for (unsigned round = 0; round < mix_rounds; ++round) {
    for (size_t i = 0; i < length; ++i) {
      sum = rotate(sum, 5) ^ (data[i] * weights[i % 16]);
    }
  }
  return sum;
}
