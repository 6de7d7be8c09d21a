// Template value arguments of current-ABI D names, written as D source writes them:
//
//   Vki3 -> 3u    Vai97 -> 'a'    VAyaa3_61620a -> "ab\n"    Vde18P0 -> 1.5 (ldc2)
//   Vde0CP1 -> 1.5 (gdc)    VAiA2i1i2 -> [1, 2]    VHAyaiA1a1_61i1 -> ["a":1]
//   VSQpQn4ItemS1i3 -> pkg.mod.Item(3)    VEQpQn1Ei1 -> cast(pkg.mod.E)1
//
// A value is read with the position of its type, so that arrays can hand their element type
// to their elements; struct literals do not name their fields' types, so fields are untyped.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "demangle_current_internal.h"
#include "zel/utils/text.h"

namespace vorlith::currentd {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool isUpperHex(char c) {
  return CurrentParser::isDigit(c) || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
  if (CurrentParser::isDigit(c)) {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

// The escape D uses inside quotes for this ASCII byte, or empty when it stands as itself.
std::string_view namedEscape(unsigned char c, char quote) {
  switch (c) {
    case '\\':
      return "\\\\";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    case '\0':
      return "\\0";
    default:
      break;
  }
  if (c == static_cast<unsigned char>(quote)) {
    return quote == '"' ? "\\\"" : "\\'";
  }
  return {};
}

void appendHexByte(std::string& text, unsigned char c) {
  text += "\\x";
  text += kHexDigits[c >> 4];
  text += kHexDigits[c & 15];
}

// A character of type char ('a'), wchar ('u') or dchar ('w') as a D literal.
std::string characterLiteral(uint64_t value, char kind) {
  std::string text = "'";
  if (value < 0x80) {
    auto c = static_cast<unsigned char>(value);
    if (std::string_view escape = namedEscape(c, '\''); !escape.empty()) {
      text += escape;
    } else if (c < 0x20 || c == 0x7F) {
      appendHexByte(text, c);
    } else {
      text += static_cast<char>(c);
    }
  } else if (kind == 'a' || value > 0x10FFFF) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "\\x%02llx", static_cast<unsigned long long>(value));
    text += buffer;
  } else {
    char buffer[24];
    const char* format = value <= 0xFFFF ? "\\u%04llx" : "\\U%08llx";
    std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned long long>(value));
    text += buffer;
  }
  text += '\'';
  return text;
}

// Fewest significant digits that read back to the same value in the value's own precision,
// with ".0" on whole numbers as D writes them: 0.1, 1.5, 2.0, 1e+100.
std::string formatFloat(long double value, char kind) {
  char buffer[64];
  if (std::isnan(value)) {
    return "nan";
  }
  if (std::isinf(value)) {
    return value < 0 ? "-inf" : "inf";
  }
  int most = kind == 'f' ? 9 : kind == 'd' ? 17 : 21;
  for (int precision = 1; precision <= most; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*Lg", precision, value);
    bool same = kind == 'f'   ? std::strtof(buffer, nullptr) == static_cast<float>(value)
                : kind == 'd' ? std::strtod(buffer, nullptr) == static_cast<double>(value)
                              : std::strtold(buffer, nullptr) == value;
    if (same) {
      break;
    }
  }
  // Fixed notation up to 17 integer digits, as %g would give with enough precision: 20.0,
  // not 2e+01.
  int exponent = value == 0 ? 0 : static_cast<int>(std::floor(std::log10(std::fabs(value))));
  if (std::strchr(buffer, 'e') != nullptr && exponent >= 0 && exponent < 17) {
    std::snprintf(buffer, sizeof buffer, "%.*Lg", exponent + 1 > most ? most : exponent + 1, value);
  }
  std::string text = buffer;
  if (text.find_first_of(".en") == std::string::npos) {
    text += ".0";
  }
  return text;
}

}  // namespace

// Where the type at `at` really begins: past modifiers and through back references. Each step
// is paid for, so that references leading round in circles run out of budget.
size_t CurrentParser::resolveType(size_t at) {
  for (;;) {
    if (failed || budget.work >= budget.workLimit || at >= source.size()) {
      fail();
      return 0;
    }
    budget.work += 1;
    char c = source[at];
    if (c == 'x' || c == 'y' || c == 'O') {
      ++at;
    } else if (c == 'N' && at + 1 < source.size() && source[at + 1] == 'g') {
      at += 2;
    } else if (c == 'Q') {
      at = readAt(at, [&] { return parseBackReference(); });
    } else {
      return at;
    }
  }
}

// The position just after the type at `at`.
size_t CurrentParser::skipType(size_t at) {
  return readAt(at, [&] {
    parseType();
    return pos;
  });
}

// Value := n | i Number | N Number | e HexFloat | c HexFloat c HexFloat | (a|w|d) Number _ Hex
//        | A Number Value* | S Number Value* | f MangledName
std::string CurrentParser::parseValue(size_t typeAt, std::string_view typeText) {
  Level level(*this);
  if (failed) {
    return {};
  }
  char kind = kEnd;
  if (typeAt != kNoType) {
    size_t at = resolveType(typeAt);
    if (failed) {
      return {};
    }
    kind = source[at];
  }
  char c = peek();
  advance();
  if (failed) {
    return {};
  }
  switch (c) {
    case 'n':
      spend(4);
      return "null";
    case 'i':
      return parseIntegerValue(false, typeAt, typeText);
    case 'N':
      return parseIntegerValue(true, typeAt, typeText);
    case 'e':
      return parseFloatValue(kind);
    case 'c': {
      // Complex: the real part, then c and the imaginary part.
      char part = kind == 'q' ? 'f' : kind == 'c' ? 'e' : 'd';
      std::string text = "(";
      append(text, parseFloatValue(part));
      expect('c');
      append(text, " + ");
      append(text, parseFloatValue(part));
      append(text, "i)");
      return text;  // empty after a failure, as every step's text
    }
    case 'a':
    case 'w':
    case 'd':
      return parseStringValue(c);
    case 'A':
      return parseListValue(typeAt, typeText);
    case 'S': {
      uint64_t fields = parseNumber();
      std::string text(typeText);
      if (kind == 'S') {
        // Named as the compilers name it: without its module ("Item(3)").
        std::vector<Component> path;
        size_t at = resolveType(typeAt);
        readAt(at + 1, [&] { return parseQualifiedName(&path); });
        if (failed) {
          return {};
        }
        text = leafName(path);
      }
      spend(text.size());
      append(text, "(");
      for (uint64_t k = 0; k < fields; ++k) {
        if (k > 0) {
          append(text, ", ");
        }
        append(text, parseValue(kNoType, {}));
        if (failed) {
          return {};
        }
      }
      append(text, ")");
      return text;
    }
    case 'f':
      return parseInlineSymbol();  // a function literal
    default:
      fail();
      return {};
  }
}

// _D QualifiedName Type, inside another name (function literals and alias arguments that name a
// function): shown by its qualified name, as D writes such an argument.
std::string CurrentParser::parseInlineSymbol() {
  Level level(*this);
  if (failed) {
    return {};
  }
  expect('_');
  expect('D');
  std::string name = parseQualifiedName(nullptr);
  if (consume('M')) {
    parseModifiers();
  }
  if (isCallConvention(peek())) {
    parseFunctionNoReturn();
  }
  parseType();
  return name;
}

// i Number | N Number, with the type deciding how D writes it.
std::string CurrentParser::parseIntegerValue(bool negative, size_t typeAt,
                                             std::string_view typeText) {
  size_t start = pos;
  uint64_t value = parseNumber();
  if (failed) {
    return {};
  }
  std::string digits(source.substr(start, pos - start));
  char kind = kEnd;
  if (typeAt != kNoType) {
    size_t at = resolveType(typeAt);
    if (failed) {
      return {};
    }
    kind = source[at];
  }
  // A negative value of an unsigned type is what D writes as its two's complement.
  unsigned bits = kind == 'h' ? 8 : kind == 't' ? 16 : kind == 'k' ? 32 : kind == 'm' ? 64 : 0;
  if (negative && bits != 0) {
    uint64_t mask = bits == 64 ? UINT64_MAX : (uint64_t{1} << bits) - 1;
    digits = std::to_string((0 - value) & mask);
    negative = false;
  }
  std::string text;
  std::string sign = negative ? "-" : "";
  switch (kind) {
    case 'b':
      text = negative || value > 1 ? "cast(bool)" + sign + digits : value ? "true" : "false";
      break;
    case 'a':
    case 'u':
    case 'w':
      text = negative ? "cast(" + std::string(typeText) + ")-" + digits
                      : characterLiteral(value, kind);
      break;
    case 'g':
      text = "cast(byte)" + sign + digits;
      break;
    case 'h':
      text = "cast(ubyte)" + sign + digits + "u";
      break;
    case 's':
      text = "cast(short)" + sign + digits;
      break;
    case 't':
      text = "cast(ushort)" + sign + digits + "u";
      break;
    case 'k':
      text = sign + digits + "u";
      break;
    case 'l':
      text = sign + digits + "L";
      break;
    case 'm':
      text = sign + digits + "LU";
      break;
    case 'E':
      text = "cast(" + std::string(typeText) + ")" + sign + digits;
      break;
    default:
      text = sign + digits;
      break;
  }
  spend(text.size());
  return text;
}

// HexFloat := NAN | INF | NINF | [N] HexDigits P [N] Number. The first hex digit is the whole
// part: ldc2 writes 1.5 as 18P0, gdc as 0CP1. `kind` is the type's letter.
std::string CurrentParser::parseFloatValue(char kind) {
  long double value = 0;
  if (source.substr(pos).starts_with("NAN")) {
    advance(3);
    value = NAN;
  } else if (source.substr(pos).starts_with("NINF")) {
    advance(4);
    value = -INFINITY;
  } else if (source.substr(pos).starts_with("INF")) {
    advance(3);
    value = INFINITY;
  } else {
    bool negative = consume('N');
    if (!isUpperHex(peek())) {
      fail();
      return {};
    }
    long double mantissa = 0;
    int digits = 0;
    while (isUpperHex(peek())) {
      mantissa = mantissa * 16 + hexValue(peek());
      ++digits;
      advance();
    }
    expect('P');
    bool negativeExponent = consume('N');
    uint64_t exponent = parseNumber();
    if (failed || exponent > 100000) {
      fail();  // far beyond any floating type; keeps the arithmetic finite
      return {};
    }
    long double scale = (negativeExponent ? -1.0L : 1.0L) * static_cast<long double>(exponent);
    value = std::ldexp(mantissa, static_cast<int>(scale) - 4 * (digits - 1));
    if (negative) {
      value = -value;
    }
  }
  // float, double, real; the imaginary types read like them with an i after the suffix.
  char precision = kind == 'f' || kind == 'o' ? 'f' : kind == 'e' || kind == 'j' ? 'e' : 'd';
  std::string text = formatFloat(value, precision);
  if (precision == 'f') {
    text += 'F';
  } else if (precision == 'e') {
    text += 'L';
  }
  if (kind == 'o' || kind == 'p' || kind == 'j') {
    text += 'i';
  }
  spend(text.size());
  return text;
}

// (a|w|d) Number _ HexDigits: the bytes of the string in UTF-8 whatever its character type.
std::string CurrentParser::parseStringValue(char width) {
  uint64_t length = parseNumber();
  expect('_');
  if (failed || length > (end - pos) / 2) {
    fail();
    return {};
  }
  std::string bytes;
  bytes.reserve(static_cast<size_t>(length));
  for (uint64_t k = 0; k < length; ++k) {
    int high = hexValue(peek());
    int low = hexValue(peek(1));
    if (high < 0 || low < 0) {
      fail();  // kEnd included: a failure while the bytes were read
      return {};
    }
    bytes += static_cast<char>(high * 16 + low);
    advance(2);
  }
  // As the compilers print string arguments: ASCII as itself, other UTF-8 as \x bytes in char
  // strings and as \u code points in wstring and dstring.
  std::string text = "\"";
  for (size_t k = 0; k < bytes.size();) {
    auto c = static_cast<unsigned char>(bytes[k]);
    size_t sequence =
        c >= 0x80 && width != 'a' ? zel::utils::text::validUTF8SequenceLength(bytes, k) : 0;
    if (sequence > 0) {
      uint32_t point = zel::utils::text::decodeUTF8(bytes, k, sequence);
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, point <= 0xFFFF ? "\\u%04x" : "\\U%08x", point);
      text += buffer;
      k += sequence;
      continue;
    }
    if (std::string_view escape = namedEscape(c, '"'); !escape.empty()) {
      text += escape;
    } else if (c < 0x20 || c >= 0x7F) {
      appendHexByte(text, c);
    } else {
      text += static_cast<char>(c);
    }
    ++k;
  }
  text += '"';
  if (width != 'a') {
    text += width;
  }
  spend(text.size());
  return text;
}

// A Number Value*: an array literal, or an associative one (Number pairs) when the type is one.
std::string CurrentParser::parseListValue(size_t typeAt, std::string_view /*typeText*/) {
  uint64_t count = parseNumber();
  size_t keyAt = kNoType;
  size_t elementAt = kNoType;
  if (typeAt != kNoType) {
    size_t at = resolveType(typeAt);
    if (failed) {
      return {};
    }
    char kind = source[at];
    if (kind == 'H') {
      keyAt = at + 1;
      elementAt = skipType(keyAt);
    } else if (kind == 'A') {
      elementAt = at + 1;
    } else if (kind == 'G') {
      elementAt = at + 1;
      while (elementAt < source.size() && isDigit(source[elementAt])) {
        ++elementAt;
      }
    }
  }
  auto typeTextAt = [&](size_t at) {
    return at == kNoType ? std::string() : readAt(at, [&] { return parseType(); });
  };
  std::string keyType = typeTextAt(keyAt);
  std::string elementType = typeTextAt(elementAt);
  bool pairs = keyAt != kNoType;
  std::string text = "[";
  spend(1);
  for (uint64_t k = 0; k < count && !failed; ++k) {
    if (k > 0) {
      append(text, ", ");
    }
    if (pairs) {
      append(text, parseValue(keyAt, keyType));
      append(text, ":");
    }
    append(text, parseValue(elementAt, elementType));
  }
  if (failed) {
    return {};
  }
  append(text, "]");
  return text;
}

}  // namespace vorlith::currentd
