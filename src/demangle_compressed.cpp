// DMD's compressed long names: repeated stretches replaced by back-references.
//   0xC0-0xFF        one byte: length (b & 7) + 1, distance ((b >> 3) & 7) + 1
//   0x80-0xBF b2 b3  three bytes: 10-bit length and 10-bit distance
#include <algorithm>

#include "demangle.h"
#include "zel/utils/text.h"

namespace vorlith {

namespace {

// Each 3-byte reference can copy 1023 bytes, so a name could expand 341-fold, and everything
// after the decoder (classifier, tree, document) works on the expansion. Decoded text may
// therefore grow by at most kExpansionPerByte bytes for each byte consumed, after a first
// kFreeExpansion, and never past kMaxDecodedLength: a long line of references costs time and
// memory in proportion to its own length.
constexpr size_t kMaxDecodedLength = size_t{1} << 20;
constexpr size_t kExpansionPerByte = 16;
constexpr size_t kFreeExpansion = 1024;

}  // namespace

std::string decodeDmdString(std::string_view compressed, size_t& position) {
  const size_t start = position;
  std::string text;
  while (position < compressed.size()) {
    size_t unit = position;
    auto b = static_cast<unsigned char>(compressed[position++]);
    size_t length, distance;
    if (b >= 0xC0) {
      length = (b & 0x07u) + 1;
      distance = ((b >> 3) & 0x07u) + 1;
    } else if (b >= 0x80) {
      if (position == compressed.size()) {
        break;
      }
      auto b2 = static_cast<unsigned char>(compressed[position++]);
      length = ((b & 0x38u) << 4) | (b2 & 0x7Fu);
      if (position == compressed.size()) {
        break;
      }
      auto b3 = static_cast<unsigned char>(compressed[position++]);
      distance = ((b & 0x07u) << 7) | (b3 & 0x7Fu);
    } else if (zel::utils::text::isIdentifierChar(static_cast<char>(b))) {
      text += static_cast<char>(b);
      continue;
    } else {
      --position;  // not part of a compressed name; left for the caller
      break;
    }
    // A reference must copy text that exists: one that reaches before the start, or past the
    // end of what is decoded so far (length above distance), ends the decoding.
    if (distance > text.size() || length > distance) {
      break;
    }
    // Past the bound the reference is refused, which leaves the name to the classifier as it
    // stands. The bound depends only on the bytes consumed so far.
    size_t allowed =
        std::min(kMaxDecodedLength, kFreeExpansion + kExpansionPerByte * (position - start));
    if (text.size() + length > allowed) {
      position = unit;
      break;
    }
    size_t from = text.size() - distance;
    text.reserve(text.size() + length);  // the source must not move while it is copied
    text.append(text.data() + from, length);
  }
  return text;
}

}  // namespace vorlith
