#include "zel/utils/json.h"

namespace zel::utils::json {

namespace {

constexpr Escapes makeEscapes() {
  Escapes table;
  constexpr char kHex[] = "0123456789abcdef";
  for (int c = 0; c < 256; ++c) {
    auto& out = table.storage[c];
    table.escaped[c] = true;
    char simple = 0;
    switch (c) {
      case '\\':
        simple = '\\';
        break;
      case '"':
        simple = '"';
        break;
      case '\b':
        simple = 'b';
        break;
      case '\f':
        simple = 'f';
        break;
      case '\n':
        simple = 'n';
        break;
      case '\r':
        simple = 'r';
        break;
      case '\t':
        simple = 't';
        break;
      default:
        break;
    }
    if (simple != 0) {
      out[0] = '\\';
      out[1] = simple;
      table.lengths[c] = 2;
    } else if (c < 0x20 || c == 0x7F || c == '<' || c == '>' || c == '&') {
      // '<', '>' and '&' too: the document is loaded as a script and may be inlined in a page.
      out = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      table.lengths[c] = 6;
    } else {
      out[0] = static_cast<char>(c);
      table.lengths[c] = 1;
      table.escaped[c] = false;
    }
  }
  return table;
}

constexpr Escapes kEscapes = makeEscapes();

// The writer's search and the plain keys go by escapedInString: it must mark the same bytes.
static_assert([] {
  for (int c = 0; c < 256; ++c) {
    if (kEscapes.escaped[c] != escapedInString(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}());

}  // namespace

const Escapes& escapes() {
  return kEscapes;
}

}  // namespace zel::utils::json
