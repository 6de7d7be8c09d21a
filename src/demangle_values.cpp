// Template value arguments of the D demangler: "Vii5" is 5, "VAyaa3_616263" is "abc",
// "Vde18P0" is 1.50000, "VS3pkg3mod1SS2i1i2" is pkg.mod.S(1, 2).
//
// The value's type has already been rendered and dropped again (silent) by the template
// argument step; its span is still valid just behind the written text, which is what a struct
// literal shows as its name. Other values use only the type's first letter.
#include <cstdio>
#include <cstdlib>

#include "demangle_internal.h"

namespace vorlith::demangler {

namespace {

// A C hexadecimal floating literal under construction, bounded by its array: a mantissa or
// exponent too long to fit fails the value instead of running past the end.
class RealLiteral {
 public:
  explicit RealLiteral(Demangle& parser) : parser(parser) {}
  void add(char c) {
    if (length + 1 >= kRealScratch) {
      parser.error();  // one byte stays for the terminating zero
      return;
    }
    bytes[length++] = c;
  }
  char* terminated() {
    bytes[length] = '\0';
    return bytes;
  }

 private:
  Demangle& parser;
  char bytes[kRealScratch];
  size_t length = 0;
};

// Character values the rendering spells as escapes, in quotes.
std::string_view namedEscape(uint32_t value) {
  switch (value) {
    case 0x27:
      return "'\\''";
    case 0x5C:
      return "'\\\\'";
    case 0x07:
      return "'\\a'";
    case 0x08:
      return "'\\b'";
    case 0x0C:
      return "'\\f'";
    case 0x0A:
      return "'\\n'";
    case 0x0D:
      return "'\\r'";
    case 0x09:
      return "'\\t'";
    case 0x0B:
      return "'\\v'";
    default:
      return {};
  }
}

}  // namespace

// Value: "n" | "i"? Number | "N" Number | "e" Real | "c" Real "c" Real | ("a"|"w"|"d") string
//      | "A" array | "H" associative array | "S" struct literal
void Demangle::parseValue(Span name, char type) {
  if (!openLevel())
    return;
  parseValueLevel(name, type);
  closeLevel();
}

void Demangle::parseValueLevel(Span name, char type) {
  char c = tok();
  switch (c) {
    case 'n':
      next();
      put(std::string_view("null"));
      return;
    case 'i':
      next();
      if (!isDigit(tok())) {
        error("Number expected");
        return;
      }
      parseIntegerValue(name, type);
      return;
    case 'N':
      next();
      put(std::string_view("-"));
      parseIntegerValue(name, type);
      return;
    case 'e':
      next();
      parseReal();
      return;
    case 'c':
      next();
      parseReal();
      put(std::string_view("+"));
      match('c');
      parseReal();
      put(std::string_view("i"));
      return;
    case 'a':
    case 'w':
    case 'd': {
      // Bytes are written raw: quotes, backslashes and control bytes are not escaped.
      next();
      uint32_t n = decodeNumber();
      match('_');
      put(std::string_view("\""));
      for (uint32_t i = 0; i < n && !failed(); ++i) {
        uint8_t high = ascii2hex(tok());
        next();
        uint8_t low = ascii2hex(tok());
        next();
        char byte = static_cast<char>(high << 4 | low);
        put(std::string_view(&byte, 1));
      }
      put(std::string_view("\""));
      if (c != 'a')
        put(std::string_view(&c, 1));
      return;
    }
    case 'A':
      if (type != 'H') {
        next();
        parseValueList("[", "]", false);
        return;
      }
      // An associative-array literal of associative-array type is mangled with "A".
      [[fallthrough]];
    case 'H':
      next();
      parseValueList("[", "]", true);
      return;
    case 'S':
      next();
      put(name);  // lies just behind the written text, so it is taken in place
      parseValueList("(", ")", false);
      return;
    default:
      if (isDigit(c)) {
        parseIntegerValue(name, type);
        return;
      }
      error();  // kEnd included: the end of the name, or a failure before
  }
}

// A count, then that many values (or key:value pairs) between `open` and `close`, separated by
// ", ". Nested values carry no type, so their integers come out as plain digits.
void Demangle::parseValueList(std::string_view open, std::string_view close, bool pairs) {
  put(open);
  uint32_t n = decodeNumber();
  for (uint32_t i = 0; i < n && !failed(); ++i) {
    if (i > 0)
      put(std::string_view(", "));
    parseValue({}, 0);
    if (pairs) {
      put(std::string_view(":"));
      parseValue({}, 0);
    }
  }
  put(close);
}

// Only character and bool values are decoded (and so bounded to 32 bits); the digits of every
// other integer are copied as they stand, whatever their count.
void Demangle::parseIntegerValue(Span /*name*/, char type) {
  switch (type) {
    case 'a':
    case 'u':
    case 'w': {
      uint32_t value = decodeNumber();
      if (std::string_view escape = namedEscape(value); !escape.empty()) {
        put(escape);
      } else if (type == 'a') {
        if (value >= 0x20 && value <= 0x7E) {
          char quoted[] = {'\'', static_cast<char>(value), '\''};
          put(std::string_view(quoted, sizeof quoted));
        } else {
          put(std::string_view("\\x"));  // no quotes: not a valid char literal anyway
          putAsHex(value, 2);
        }
      } else if (type == 'u') {
        put(std::string_view("'\\u"));
        putAsHex(value, 4);
        put(std::string_view("'"));
      } else {
        put(std::string_view("'\\U"));
        putAsHex(value, 8);
        put(std::string_view("'"));
      }
      return;
    }
    case 'b':
      put(std::string_view(decodeNumber() != 0 ? "true" : "false"));
      return;
    case 'h':
    case 't':
    case 'k':
      put(sliceNumber());
      put(std::string_view("u"));
      return;
    case 'l':
      put(sliceNumber());
      put(std::string_view("L"));
      return;
    case 'm':
      put(sliceNumber());
      put(std::string_view("uL"));
      return;
    default:
      put(sliceNumber());
      return;
  }
}

// Real: "INF" | "NINF" | "NAN" | "N"? HexDigits "P" "N"? Digits, a hexadecimal mantissa with
// the point after its first digit and a binary exponent. Formatted through long double, never
// double, so that a real's six digits are those of its own precision.
void Demangle::parseReal() {
  if (tok() == 'I') {
    match("INF");
    put(std::string_view("real.infinity"));
    return;
  }
  bool negative = false;
  if (tok() == 'N') {
    next();
    if (tok() == 'I') {
      match("INF");
      put(std::string_view("-real.infinity"));
      return;
    }
    if (tok() == 'A') {
      match("AN");
      put(std::string_view("real.nan"));
      return;
    }
    negative = true;
  }
  RealLiteral literal(*this);
  if (negative)
    literal.add('-');
  literal.add('0');
  literal.add('X');
  if (!isHexDigit(tok())) {
    error("Expected hex digit");
    return;
  }
  literal.add(tok());
  literal.add('.');
  next();
  while (isHexDigit(tok())) {
    literal.add(tok());
    next();
  }
  match('P');
  literal.add('p');
  if (tok() == 'N') {
    literal.add('-');
    next();
  } else {
    literal.add('+');
  }
  while (isDigit(tok())) {
    literal.add(tok());
    next();
  }
  if (failed())
    return;
  char* scratch = literal.terminated();
  long double value = std::strtold(scratch, nullptr);
  int length = std::snprintf(scratch, kRealScratch, "%#Lg", value);
  if (length < 0 || static_cast<size_t>(length) >= kRealScratch) {
    error();
    return;
  }
  put(std::string_view(scratch, static_cast<size_t>(length)));
}

}  // namespace vorlith::demangler
