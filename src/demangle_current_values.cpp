// Template value arguments of current-ABI D names, written as D source writes them:
//
//   Vki3 -> 3u    Vai97 -> 'a'    VAyaa3_61620a -> "ab\n"    Vde18P0 -> 1.5 (ldc2)
//   Vde0CP1 -> 1.5 (gdc)    VAiA2i1i2 -> [1, 2]    VHAyaiA1a1_61i1 -> ["a":1]
//   VSQpQn4ItemS1i3 -> pkg.mod.Item(3)    VEQpQn1Ei1 -> cast(pkg.mod.E)1
//
// A value is read with the position of its type, so that arrays can hand their element type
// to their elements; struct literals do not name their fields' types, so fields are untyped.
#include <charconv>
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
void appendCharacterLiteral(std::string& text, uint64_t value, char kind) {
  text += '\'';
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
}

// Fewest significant digits that read back to the same value in the value's own precision,
// with ".0" on whole numbers as D writes them: 0.1, 1.5, 2.0, 1e+100.
void appendFloat(std::string& text, long double value, char kind) {
  char buffer[64];
  if (std::isnan(value)) {
    text += "nan";
    return;
  }
  if (std::isinf(value)) {
    text += value < 0 ? "-inf" : "inf";
    return;
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
  std::string_view written = buffer;
  text += written;
  if (written.find_first_of(".en") == std::string_view::npos) {
    text += ".0";
  }
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

// The position just after the type at `at`; its text is not kept.
size_t CurrentParser::skipType(size_t at) {
  return readAt(at, [&] {
    size_t start = mark();
    parseType();
    cut(start);
    return pos;
  });
}

char CurrentParser::typeKind(size_t typeAt) {
  if (typeAt == kNoType) {
    return kEnd;
  }
  size_t at = resolveType(typeAt);
  return failed ? kEnd : source[at];
}

// Value := n | i Number | N Number | e HexFloat | c HexFloat c HexFloat | (a|w|d) Number _ Hex
//        | A Number Value* | S Number Value* | f MangledName
Span CurrentParser::parseValue(size_t typeAt, Span typeText) {
  Level level(*this);
  if (failed) {
    return {};
  }
  char kind = typeKind(typeAt);
  if (failed) {
    return {};
  }
  char c = peek();
  advance();
  if (failed) {
    return {};
  }
  const size_t start = mark();
  switch (c) {
    case 'n':
      spend(4);
      work.text += "null";
      return since(start);
    case 'i':
      return parseIntegerValue(false, typeAt, typeText);
    case 'N':
      return parseIntegerValue(true, typeAt, typeText);
    case 'e':
      return parseFloatValue(kind);
    case 'c': {
      // Complex: the real part, then c and the imaginary part.
      char part = kind == 'q' ? 'f' : kind == 'c' ? 'e' : 'd';
      work.text += '(';
      size_t at = mark();
      parseFloatValue(part);
      if (!chargeJoined(start, at)) {
        return {};
      }
      expect('c');
      append(start, " + ");
      at = mark();
      parseFloatValue(part);
      if (!chargeJoined(start, at)) {
        return {};
      }
      append(start, "i)");
      return since(start);
    }
    case 'a':
    case 'w':
    case 'd':
      return parseStringValue(c);
    case 'A':
      return parseListValue(typeAt, typeText);
    case 'S': {
      uint64_t fields = parseNumber();
      if (kind == 'S') {
        // Named as the compilers name it: without its module ("Item(3)"). The name's text is
        // read for its path, then gives way to the leaf written after it.
        const size_t base = work.components.size();
        Path path;
        size_t at = resolveType(typeAt);
        readAt(at + 1, [&] { return parseQualifiedName(&path); });
        if (failed) {
          return {};
        }
        size_t leaf = mark();
        appendLeafName(work, path);
        work.components.resize(base);
        drop(start, leaf);
      } else {
        work.text.append(work.text, typeText.offset, typeText.length);
      }
      spend(mark() - start);
      append(start, "(");
      for (uint64_t k = 0; k < fields; ++k) {
        if (k > 0) {
          append(start, ", ");
        }
        size_t at = mark();
        parseValue(kNoType, {});
        if (failed || !chargeJoined(start, at)) {
          return {};
        }
      }
      append(start, ")");
      return since(start);
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
Span CurrentParser::parseInlineSymbol() {
  Level level(*this);
  if (failed) {
    return {};
  }
  expect('_');
  expect('D');
  Span name = parseQualifiedName(nullptr);
  size_t after = mark();
  if (consume('M')) {
    parseModifiers();
  }
  if (isCallConvention(peek())) {
    parseFunctionNoReturn();
  }
  parseType();
  cut(after);
  return name;
}

// i Number | N Number, with the type deciding how D writes it.
Span CurrentParser::parseIntegerValue(bool negative, size_t typeAt, Span typeText) {
  size_t first = pos;
  uint64_t value = parseNumber();
  if (failed) {
    return {};
  }
  std::string_view digits = source.substr(first, pos - first);
  char kind = typeKind(typeAt);
  if (failed) {
    return {};
  }
  // A negative value of an unsigned type is what D writes as its two's complement.
  unsigned bits = kind == 'h' ? 8 : kind == 't' ? 16 : kind == 'k' ? 32 : kind == 'm' ? 64 : 0;
  char complement[24];
  if (negative && bits != 0) {
    uint64_t mask = bits == 64 ? UINT64_MAX : (uint64_t{1} << bits) - 1;
    auto written = std::to_chars(complement, complement + sizeof complement, (0 - value) & mask);
    digits = std::string_view(complement, static_cast<size_t>(written.ptr - complement));
    negative = false;
  }
  const size_t start = mark();
  std::string& text = work.text;
  std::string_view sign = negative ? "-" : "";
  auto cast = [&](std::string_view type, std::string_view suffix) {
    text += type;
    text += sign;
    text += digits;
    text += suffix;
  };
  switch (kind) {
    case 'b':
      if (negative || value > 1) {
        cast("cast(bool)", "");
      } else {
        text += value ? "true" : "false";
      }
      break;
    case 'a':
    case 'u':
    case 'w':
      if (negative) {
        text += "cast(";
        text.append(text, typeText.offset, typeText.length);
        text += ")-";
        text += digits;
      } else {
        appendCharacterLiteral(text, value, kind);
      }
      break;
    case 'g':
      cast("cast(byte)", "");
      break;
    case 'h':
      cast("cast(ubyte)", "u");
      break;
    case 's':
      cast("cast(short)", "");
      break;
    case 't':
      cast("cast(ushort)", "u");
      break;
    case 'k':
      cast("", "u");
      break;
    case 'l':
      cast("", "L");
      break;
    case 'm':
      cast("", "LU");
      break;
    case 'E':
      text += "cast(";
      text.append(text, typeText.offset, typeText.length);
      text += ')';
      cast("", "");
      break;
    default:
      cast("", "");
      break;
  }
  spend(mark() - start);
  return since(start);
}

// HexFloat := NAN | INF | NINF | [N] HexDigits P [N] Number. The first hex digit is the whole
// part: ldc2 writes 1.5 as 18P0, gdc as 0CP1. `kind` is the type's letter.
Span CurrentParser::parseFloatValue(char kind) {
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
  const size_t start = mark();
  char precision = kind == 'f' || kind == 'o' ? 'f' : kind == 'e' || kind == 'j' ? 'e' : 'd';
  appendFloat(work.text, value, precision);
  if (precision == 'f') {
    work.text += 'F';
  } else if (precision == 'e') {
    work.text += 'L';
  }
  if (kind == 'o' || kind == 'p' || kind == 'j') {
    work.text += 'i';
  }
  spend(mark() - start);
  return since(start);
}

// (a|w|d) Number _ HexDigits: the bytes of the string in UTF-8 whatever its character type.
Span CurrentParser::parseStringValue(char width) {
  uint64_t length = parseNumber();
  expect('_');
  if (failed || length > (end - pos) / 2) {
    fail();
    return {};
  }
  std::string& bytes = work.bytes;
  bytes.clear();
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
  const size_t start = mark();
  std::string& text = work.text;
  text += '"';
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
  spend(mark() - start);
  return since(start);
}

// A Number Value*: an array literal, or an associative one (Number pairs) when the type is one.
// The key's and the element's type texts are written first, for the values' sake, and go at the
// end.
Span CurrentParser::parseListValue(size_t typeAt, Span /*typeText*/) {
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
  const size_t types = mark();
  auto typeTextAt = [&](size_t at) {
    return at == kNoType ? Span{} : readAt(at, [&] { return parseType(); });
  };
  Span keyType = typeTextAt(keyAt);
  Span elementType = typeTextAt(elementAt);
  bool pairs = keyAt != kNoType;
  const size_t start = mark();
  work.text += '[';
  spend(1);
  for (uint64_t k = 0; k < count && !failed; ++k) {
    if (k > 0) {
      append(start, ", ");
    }
    if (pairs) {
      size_t at = mark();
      parseValue(keyAt, keyType);
      chargeJoined(start, at);
      append(start, ":");
    }
    size_t at = mark();
    parseValue(elementAt, elementType);
    chargeJoined(start, at);
  }
  if (failed) {
    return {};
  }
  append(start, "]");
  drop(types, start);
  return since(types);
}

}  // namespace vorlith::currentd
