// The D demangler: mangled names as DMD 2.064 writes them, made readable.
//
//   _D3pkg3mod4findFNaNbNfAyaZb   ->  pure nothrow @safe bool pkg.mod.find(immutable(char)[])
//   _D3pkg3mod1aHAyai             ->  int[immutable(char)[]] pkg.mod.a
//
// The mangling puts a symbol's name before its type, the rendering after it. Rather than build
// strings and join them, everything is written into one buffer in reading order and the name is
// rotated behind the type once the type is known. Anything that is not a complete mangled name
// comes back byte for byte; the classifier takes that as "not a D name".
#include "demangle.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "demangle_internal.h"

namespace vorlith {
namespace demangler {
namespace {

// The primitive types, indexed by type letter minus 'a'; 'n' has a rule of its own.
constexpr std::string_view primitives[] = {
    "char",   "bool",    "creal", "double", "real",  "float", "byte",   "ubyte",
    "int",    "ireal",   "uint",  "long",   "ulong", "",      "ifloat", "idouble",
    "cfloat", "cdouble", "short", "ushort", "wchar", "void",  "dchar",
};

}  // namespace

Demangle::Demangle(std::string_view source, AddType withType, std::vector<char>* lentBuffer)
    : source(source),
      target(lentBuffer != nullptr ? lentBuffer : &ownBuffer),
      withType(withType),
      workLimit(kWorkPerByte * source.size() + kWorkSlack) {}

void Demangle::error(std::string_view /*message*/) {
  fail(Failure::Parse);
}
void Demangle::overflow(std::string_view /*message*/) {
  fail(Failure::Overflow);
}
void Demangle::limit() {
  fail(Failure::Limit);
}

void Demangle::advance(size_t n) {
  if (failed())
    return;
  work += n;
  if (work > workLimit) {
    limit();
    return;
  }
  readPos += n;
}

void Demangle::reset() {
  readPos = 0;
  written = 0;
  nesting = 0;
  work = 0;
  moved = 0;
  failure = Failure::None;
}

// ---- Reading -------------------------------------------------------------------------------

std::string_view Demangle::sliceNumber() {
  size_t start = readPos;
  while (isDigit(tok()))
    next();
  return source.substr(start, readPos - start);
}

uint32_t Demangle::decodeNumber(std::string_view digits) {
  uint32_t value = 0;
  for (char c : digits) {
    auto d = static_cast<uint32_t>(c - '0');
    if (value > (UINT32_MAX - d) / 10) {
      error();
      return 0;
    }
    value = value * 10 + d;
  }
  return value;
}

uint8_t Demangle::ascii2hex(char c) {
  if (isDigit(c))
    return static_cast<uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f')
    return static_cast<uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F')
    return static_cast<uint8_t>(c - 'A' + 10);
  error();
  return 0;
}

// ---- Writing -------------------------------------------------------------------------------

Span Demangle::append(std::string_view text) {
  if (text.empty() || failed())
    return {written, 0};
  if (target->empty())
    target->resize(kInitialCapacity);
  if (capacity() - written < text.size()) {
    overflow();
    return {written, 0};
  }
  std::memcpy(target->data() + written, text.data(), text.size());
  Span placed{written, text.size()};
  written += text.size();
  return placed;
}

Span Demangle::append(Span text) {
  if (text.empty() || failed())
    return {written, 0};
  // Text that silent() left just behind the written text is taken where it lies.
  if (text.offset == written) {
    written += text.length;
    return text;
  }
  if (capacity() - written < text.length) {
    overflow();
    return {written, 0};
  }
  // The source may overlap the destination when it lies beyond the written text.
  std::memmove(target->data() + written, target->data() + text.offset, text.length);
  Span placed{written, text.length};
  written += text.length;
  return placed;
}

Span Demangle::put(Span text) {
  if (text.empty())
    return {written, 0};
  if (contains({0, written}, text))
    return shift(text);
  return append(text);
}

Span Demangle::shift(Span text) {
  if (text.empty() || failed())
    return {written, 0};
  char* first = target->data() + text.offset;
  char* middle = first + text.length;
  char* last = target->data() + written;
  // Nearly every rotation moves a short piece (a name, "()") across long text. libstdc++'s
  // std::rotate swaps byte by byte (~0.3 GB/s here); a memmove of the long side around a copy
  // of the short one is an order of magnitude faster on renderings of a few hundred kilobytes.
  constexpr size_t kShortSide = 256;
  char saved[kShortSide];
  size_t rest = static_cast<size_t>(last - middle);
  moved += text.length + rest;
  if (moved > kMovesPerWork * workLimit) {
    limit();
    return {written, 0};
  }
  if (text.length <= kShortSide) {
    std::memcpy(saved, first, text.length);
    std::memmove(first, middle, rest);
    std::memcpy(first + rest, saved, text.length);
  } else if (rest <= kShortSide) {
    std::memcpy(saved, middle, rest);
    std::memmove(first + rest, first, text.length);
    std::memcpy(first, saved, rest);
  } else {
    std::rotate(first, middle, last);
  }
  return {written - text.length, text.length};
}

void Demangle::pad(Span text) {
  if (text.empty())
    return;
  append(std::string_view(" "));
  put(text);
}

void Demangle::putAsHex(uint32_t value, size_t width) {
  char digits[8];
  size_t count = 0;
  for (uint32_t v = value; v != 0; v >>= 4)
    ++count;
  for (size_t i = count; i-- > 0; value >>= 4)
    digits[i] = "0123456789abcdef"[value & 0xF];
  for (size_t i = count; i < width; ++i)
    put(std::string_view("0"));
  put(std::string_view(digits, count));
}

// ---- Grammar -------------------------------------------------------------------------------

// MangledName: "_"? "D" QualifiedName Type ("." QualifiedName Type)*
// A nested symbol that the mangling appends after its parent's type comes out as the parent's
// whole rendering, ".", and its own: "int pkg.mod.main().local().void nested()".
void Demangle::parseMangledName() {
  eat('_');
  match('D');
  while (!failed()) {
    Span name = parseQualifiedName();
    if (tok() == 'M')
      next();  // context pointer: nothing to show
    if (withType == AddType::Yes)
      parseType(name);
    if (failed() || readPos == source.size())
      return;
    put(std::string_view("."));
  }
}

// QualifiedName: SymbolName (FunctionType? SymbolName)*
// A function type between two components makes the first a function that the second is local
// to; only its parameter list is kept in the name. Whether the type belongs there is known only
// after reading it: if no digit follows, it was the symbol's own type and is read again.
Span Demangle::parseQualifiedName() {
  size_t start = written;
  size_t components = 0;
  do {
    if (components++ > 0)
      put(std::string_view("."));
    parseSymbolName();
    if (!isCallConvention(tok()))
      continue;  // also on a failure, which reads as the end
    size_t savedReadPos = readPos;
    size_t savedWritten = written;
    parseCallConvention();
    parseFuncAttr();
    written = savedWritten;  // no convention or attribute inside a qualified name
    put(std::string_view("("));
    parseFuncArguments();
    put(std::string_view(")"));
    if (failed())
      return {};
    if (isDigit(tok()))
      continue;  // no return type in the mangling
    size_t beforeReturnType = written;
    parseType();
    if (failed())
      return {};
    if (isDigit(tok())) {
      written = beforeReturnType;
    } else {
      readPos = savedReadPos;
      written = savedWritten;
    }
  } while (isDigit(tok()));
  return {start, written - start};
}

// SymbolName: LName | TemplateInstanceName
// An instance whose inside cannot be read comes out as its raw identifier ("__T3BarTiX").
void Demangle::parseSymbolName() {
  if (!isDigit(tok())) {
    error();
    return;
  }
  if (mayBeTemplateInstanceName()) {
    size_t savedReadPos = readPos;
    size_t savedWritten = written;
    size_t savedNesting = nesting;
    parseTemplateInstanceName();
    if (failure != Failure::Parse)
      return;  // read, or a failure that ends the whole name
    // Not a readable instance: read the same bytes as a plain identifier below.
    failure = Failure::None;
    readPos = savedReadPos;
    written = savedWritten;
    nesting = savedNesting;
  } else if (failed()) {
    return;  // a length beyond 32 bits
  }
  parseLName();
}

// A length of at least 5 followed by "__T".
bool Demangle::mayBeTemplateInstanceName() {
  size_t savedReadPos = readPos;
  uint32_t n = decodeNumber();
  bool result =
      !failed() && n >= 5 && source.size() - readPos >= 3 && source.substr(readPos, 3) == "__T";
  readPos = savedReadPos;
  return result;
}

// TemplateInstanceName: Number "__T" LName TemplateArgs "Z", the number counting from "__T".
// On a failure, parseSymbolName or the restart loop puts readPos back.
void Demangle::parseTemplateInstanceName() {
  if (!openLevel())
    return;
  uint32_t n = decodeNumber();
  size_t begin = readPos;
  match("__T");
  parseLName();
  put(std::string_view("!("));
  parseTemplateArgs();
  match('Z');
  if (failed())
    return;
  if (readPos - begin != n) {
    error("Template name length mismatch");
    return;
  }
  put(std::string_view(")"));
  closeLevel();
}

// LName: Number Name. Bytes from 0x80 up pass unchanged; UTF-8 is not checked here.
void Demangle::parseLName() {
  uint32_t n = decodeNumber();
  if (failed())
    return;
  if (n == 0 || n > source.size() - readPos) {
    error("LName must be at least 1 character");
    return;
  }
  std::string_view name = source.substr(readPos, n);
  if (name[0] != '_' && !isAlpha(name[0])) {
    error("Invalid character in LName");
    return;
  }
  for (char c : name.substr(1)) {
    if (c != '_' && !isAlpha(c) && !isDigit(c)) {
      error("Invalid character in LName");
      return;
    }
  }
  put(name);
  advance(n);
}

// TemplateArgs: ("T" Type | "V" Type Value | "S" QualifiedName)*
// A value's type is parsed only to learn its text, which a struct literal shows.
void Demangle::parseTemplateArgs() {
  for (size_t count = 0;; ++count) {
    char kind = tok();  // kEnd after a failure
    if (kind != 'T' && kind != 'V' && kind != 'S')
      return;
    next();
    if (count > 0)
      put(std::string_view(", "));
    if (kind == 'T') {
      parseType();
    } else if (kind == 'V') {
      char type = tok();
      Span typeName = silent([this] { return parseType(); });
      parseValue(typeName, type);
    } else {
      parseQualifiedName();
    }
  }
}

// Type: one letter, or a constructor letter and the type(s) it applies to. A non-empty `name`
// goes behind the type ("int pkg.mod.x"), or inside it for function types.
Span Demangle::parseType(Span name) {
  if (!openLevel())
    return {};
  Span type = parseTypeLevel(name);
  closeLevel();
  return type;
}

Span Demangle::parseTypeLevel(Span name) {
  size_t start = written;
  auto wrapped = [&](std::string_view open) {
    put(open);
    parseType();
    put(std::string_view(")"));
  };
  char c = tok();
  switch (c) {
    case 'O':
      next();
      wrapped("shared(");
      break;
    case 'x':
      next();
      wrapped("const(");
      break;
    case 'y':
      next();
      wrapped("immutable(");
      break;
    case 'N':
      next();
      if (tok() == 'g') {
        next();
        wrapped("inout(");
      } else if (tok() == 'e') {
        next();
        parseType();
      } else {
        error();
        return {};
      }
      break;
    case 'A':
      next();
      parseType();
      put(std::string_view("[]"));
      break;
    case 'G': {
      next();
      std::string_view dimension = sliceNumber();
      parseType();
      put(std::string_view("["));
      put(dimension);
      put(std::string_view("]"));
      break;
    }
    case 'H': {
      next();
      Span key = parseType();
      parseType();
      put(std::string_view("["));
      put(key);  // the key's text moves behind the value type
      put(std::string_view("]"));
      break;
    }
    case 'P':
      next();
      parseType();
      put(std::string_view("*"));
      break;
    case 'F':
    case 'U':
    case 'W':
    case 'V':
    case 'R':
      return parseTypeFunction(name, IsDelegate::No);
    case 'C':
    case 'E':
    case 'I':
    case 'S':
    case 'T':
      next();
      parseQualifiedName();
      break;
    case 'D':
      next();
      parseTypeFunction(name, IsDelegate::Yes);
      return {start, written - start};
    case 'B':  // a tuple: only its letter is read
    case 'n':  // typeof(null)
      next();
      return {start, 0};
    default:
      if (c < 'a' || c > 'w') {
        error();  // kEnd included: the end of the name, or a failure before
        return {};
      }
      next();
      put(primitives[c - 'a']);
      break;
  }
  pad(name);
  return {start, written - start};
}

// TypeFunction: CallConvention FuncAttrs Arguments "Z"-or-variadic Type
// Written in reading order (convention, attributes, "(" parameters ")", return type, " ") and
// then rearranged: the name, or "function"/"delegate", and the parameter list are rotated to the
// end. Returns the span of "(" and the parameters as first written.
Span Demangle::parseTypeFunction(Span name, IsDelegate isDelegate) {
  parseCallConvention();
  parseFuncAttr();
  size_t argsStart = written;
  put(std::string_view("("));
  parseFuncArguments();
  Span result{argsStart, written - argsStart};
  if (failed())
    return result;
  put(std::string_view(")"));
  size_t argsEnd = written;
  parseType();
  if (failed())
    return result;
  put(std::string_view(" "));
  if (name.empty()) {
    put(std::string_view(isDelegate == IsDelegate::Yes ? "delegate" : "function"));
  } else if (contains({0, written}, name)) {
    bool moves = name.end() != written;
    shift(name);
    // The symbol's own name always stands before the parameter list, which closes up behind it.
    if (moves && name.end() <= argsStart) {
      argsStart -= name.length;
      argsEnd -= name.length;
    }
  } else {
    put(name);
  }
  shift({argsStart, argsEnd - argsStart});
  return result;
}

void Demangle::parseCallConvention() {
  std::string_view text;
  switch (tok()) {
    case 'F':
      break;
    case 'U':
      text = "extern (C) ";
      break;
    case 'W':
      text = "extern (Windows) ";
      break;
    case 'V':
      text = "extern (Pascal) ";
      break;
    case 'R':
      text = "extern (C++) ";
      break;
    default:
      error();
      return;
  }
  next();
  put(text);
}

// FuncAttrs: ("N" letter)*, in the order of the mangling. "Ng" is no attribute but the inout
// constructor of the first parameter, so it is left unread.
void Demangle::parseFuncAttr() {
  while (tok() == 'N') {
    next();
    std::string_view text;
    switch (tok()) {
      case 'a':
        text = "pure ";
        break;
      case 'b':
        text = "nothrow ";
        break;
      case 'c':
        text = "ref ";
        break;
      case 'd':
        text = "@property ";
        break;
      case 'e':
        text = "@trusted ";
        break;
      case 'f':
        text = "@safe ";
        break;
      case 'g':
        --readPos;
        return;
      default:
        error();
        return;
    }
    next();
    put(text);
  }
}

// Arguments: (("M")? ("J" | "K" | "L")? Type)* then "Z", "X" (typesafe variadic) or "Y" (C-style).
void Demangle::parseFuncArguments() {
  for (size_t count = 0; !failed(); ++count) {
    switch (tok()) {
      case 'X':
        next();
        put(std::string_view("..."));
        return;
      case 'Y':
        next();
        put(std::string_view(count > 0 ? ", ..." : "..."));
        return;
      case 'Z':
        next();
        return;
      default:
        break;
    }
    if (count > 0)
      put(std::string_view(", "));
    if (tok() == 'M') {
      next();
      put(std::string_view("scope "));
    }
    switch (tok()) {
      case 'J':
        next();
        put(std::string_view("out "));
        break;
      case 'K':
        next();
        put(std::string_view("ref "));
        break;
      case 'L':
        next();
        put(std::string_view("lazy "));
        break;
      default:
        break;
    }
    parseType();
  }
}

// ---- Entry ---------------------------------------------------------------------------------

std::string_view Demangle::demangleName() {
  for (;;) {
    reset();
    parseMangledName();
    if (!failed())
      return writtenText();
    // Not a D name we can read, or one too deep or costly to read: the input unchanged.
    if (failure != Failure::Overflow)
      break;
    // The whole name again in a larger buffer, look-aheads included, so the result does not
    // depend on how often the buffer grew.
    target->resize(std::max(kInitialCapacity, 2 * capacity()));
  }
  if (capacity() < source.size())
    target->resize(source.size());
  if (!source.empty())
    std::memcpy(target->data(), source.data(), source.size());
  return text({0, source.size()});
}

// Nothing else can parse, and most names in a map are not D names: refusing them before the
// parser spares setting it up.
bool startsLikeDName(std::string_view name) {
  size_t i = !name.empty() && name[0] == '_' ? 1 : 0;
  return name.size() > i + 1 && name[i] == 'D' && Demangle::isDigit(name[i + 1]);
}

}  // namespace demangler

namespace {

// memmove: the source may be an earlier result that already lies in the buffer.
std::string_view copyInto(std::string_view source, std::vector<char>& buffer) {
  if (buffer.size() < source.size())
    buffer.resize(source.size());
  if (!source.empty())
    std::memmove(buffer.data(), source.data(), source.size());
  return {buffer.data(), source.size()};
}

}  // namespace

std::string_view demangle(std::string_view source, std::vector<char>& buffer) {
  if (!demangler::startsLikeDName(source))
    return copyInto(source, buffer);
  // A source inside the buffer (an earlier result fed back) would be overwritten while read.
  std::less<const char*> before;
  const char* storage = buffer.data();
  if (!buffer.empty() && !before(source.data(), storage) &&
      before(source.data(), storage + buffer.size())) {
    std::string copy(source);
    return demangle(std::string_view(copy), buffer);
  }
  demangler::Demangle parser(source, demangler::AddType::Yes, &buffer);
  return parser.demangleName();
}

std::string demangle(std::string_view source) {
  if (!demangler::startsLikeDName(source))
    return std::string(source);
  // One buffer for all calls: after the first few names nothing is allocated but the result.
  thread_local std::vector<char> buffer;
  return std::string(demangle(source, buffer));
}

}  // namespace vorlith
