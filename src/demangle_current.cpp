// The parser of D names as gdc 12 and ldc2 mangle them (the current ABI), rendering them as D
// source reads. Filing is in demangle_current_filing.cpp, values in demangle_current_values.cpp.
//
//   _D3pkg3mod__T5twiceTiZQjFNaNbNiNfiZi
//     -> pure nothrow @nogc @safe int pkg.mod.twice!(int).twice(int)
//   _D3pkg3mod3Bar3bazMxFZv  -> void pkg.mod.Bar.baz() const
//
// Renderings follow what the compilers themselves print for `.stringof` and
// `fullyQualifiedName`:
// - a function: extern (C) and the like, the attributes pure nothrow @nogc @property ref @live
//   @trusted/@safe, the return type, the qualified name, the parameters, then the modifiers of
//   `this` (const, immutable, shared, inout) and the attributes return and scope;
// - function pointers and delegates write every attribute after the parameters
//   (`int delegate(int) const pure`), as D does;
// - a parent function shows its parameters (`pkg.mod.outer(int).inner`) so overloads differ;
// - the symbol's own qualified name is written as mangled (`Stock!(Item, 3).Stock.put`); in
//   types and alias arguments an eponymous member folds into its instance (`Box!(int)`), and
//   the members of module object get their module back (`object.Object`), as D prints them;
// - immutable(char)[] is `string` (wstring, dstring likewise), as the compilers print it;
// - values as D writes them: 3u, 3L, 3LU, cast(ubyte)200u, 'a', '\n', '\u1234', "ab\n"w, true,
//   null, [1, 2], ["a":1], Item(3) (the struct by its own name), "gr\xc3\xbc" and "\u65e5"d
//   (non-ASCII escaped, as the compilers print it), cast(pkg.mod.E)1 (the mangling holds no
//   enum member name), floats in the fewest digits that read back to the same value in their
//   own precision (0.1F, 1.5, 20.0, 1e+100, nan, -inf);
// - a variable is its type and its name; an internal symbol (__initZ, __vtblZ) its name alone;
// - anonymous names are `__anonymous`; names from other manglings (X arguments) are kept raw.
#include "demangle_current.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <string>
#include <utility>

#include "demangle_current_internal.h"

namespace vorlith {
namespace currentd {
namespace {

// The basic types by mangling letter minus 'a'; empty where the letter means something else.
constexpr std::string_view kBasicTypes[26] = {
    "char",  "bool",   "creal", "double", "real",  "float",  "byte",    "ubyte",  "int",
    "ireal", "uint",   "long",  "ulong",  "",      "ifloat", "idouble", "cfloat", "cdouble",
    "short", "ushort", "wchar", "void",   "dchar", "",       "",        ""};

bool isLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Identifier bytes: ASCII names plus anything from 0x80 up (UTF-8 names such as façade). By
// table: every identifier of every name is checked byte by byte, and the tests in a row cost
// 2 % of a whole run on a D map.
constexpr auto kIdentifierBytes = [] {
  std::array<bool, 256> table{};
  for (size_t c = 0; c < table.size(); ++c) {
    table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c >= 0x80;
  }
  return table;
}();

bool isIdentifier(std::string_view text) {
  for (char c : text) {
    if (!kIdentifierBytes[static_cast<unsigned char>(c)]) {
      return false;
    }
  }
  return true;
}

}  // namespace

// The level is counted even when it fails the parse, so that the destructor's count stays right.
CurrentParser::Level::Level(CurrentParser& parser) : budget(parser.budget) {
  if (budget.depth >= kMaxDepth) {
    parser.fail();
  }
  ++budget.depth;
}

void CurrentParser::advance(size_t n) {
  if (failed) {
    return;
  }
  if (n > end - pos || n > budget.workLimit - budget.work) {
    fail();
    return;
  }
  budget.work += n;
  pos += n;
}

void CurrentParser::spend(size_t bytes) {
  if (failed) {
    return;
  }
  if (bytes > budget.outputLimit - budget.output) {
    fail();
    return;
  }
  budget.output += bytes;
}

void CurrentParser::expect(char c) {
  if (peek() != c) {
    fail();
    return;
  }
  advance();
}

// Number := digit+   (within 64 bits)
uint64_t CurrentParser::parseNumber() {
  if (!isDigit(peek())) {
    fail();
    return 0;
  }
  uint64_t value = 0;
  while (isDigit(peek())) {
    auto digit = static_cast<uint64_t>(peek() - '0');
    if (value > (UINT64_MAX - digit) / 10) {
      fail();
      return 0;
    }
    value = value * 10 + digit;
    advance();
  }
  return value;
}

// Q NumberBackRef: "Qp" at offset 30 refers to offset 15. Only strictly backwards.
size_t CurrentParser::parseBackReference() {
  size_t at = pos;
  expect('Q');
  uint64_t distance = 0;
  for (;;) {
    char c = peek();  // kEnd after a failure
    bool last = c >= 'a' && c <= 'z';
    if (!last && !(c >= 'A' && c <= 'Z')) {
      fail();
      return 0;
    }
    uint64_t digit = static_cast<uint64_t>(last ? c - 'a' : c - 'A');
    if (distance > (UINT64_MAX - digit) / 26) {
      fail();
      return 0;
    }
    distance = distance * 26 + digit;
    advance();
    if (last) {
      break;
    }
  }
  if (failed || distance == 0 || distance > at) {
    fail();
    return 0;
  }
  return at - static_cast<size_t>(distance);
}

// A SymbolName begins here: an LName, a template instance or a back reference to an LName.
bool CurrentParser::startsSymbolName() const {
  char c = peek();
  if (isDigit(c)) {
    return true;
  }
  if (c == '_') {
    return peek(1) == '_' && (peek(2) == 'T' || peek(2) == 'U');
  }
  if (c != 'Q') {
    return false;
  }
  // Decode the reference without moving: a digit at its target means an identifier. Not a
  // reference at all: the caller's rule decides what it is.
  CurrentParser probe(source, budget, work);
  probe.pos = pos;
  size_t target = probe.parseBackReference();
  return !probe.failed && isDigit(source[target]);
}

// A back reference to a function type stands here (delegates and function pointers).
bool CurrentParser::referencesFunction() const {
  if (peek() != 'Q') {
    return false;
  }
  CurrentParser probe(source, budget, work);
  probe.pos = pos;
  size_t target = probe.parseBackReference();
  return !probe.failed && isCallConvention(source[target]);
}

// SymbolName := LName | TemplateInstanceName | IdentifierBackRef | 0
// A plain name is a piece of the mangled name and writes no text; an instance writes its own.
Component CurrentParser::parseSymbolName() {
  Level level(*this);
  if (failed) {
    return {};
  }
  char c = peek();
  if (c == 'Q') {
    size_t reference = pos;
    size_t target = parseBackReference();
    if (failed || !isDigit(source[target])) {
      fail();
      return {};
    }
    return readReferenced(target, reference, [&] { return parseSymbolName(); });
  }
  if (c == '_') {
    return parseTemplateInstance(SIZE_MAX);
  }
  if (c == '0') {
    advance();
    constexpr std::string_view kAnonymous = "__anonymous";
    spend(kAnonymous.size());
    return Component{kAnonymous, {}, false};
  }
  uint64_t length = parseNumber();
  if (failed || length > end - pos) {
    fail();
    return {};
  }
  // 2.064 wrote a length in front of template instances: "18__T8AppenderTAyaZ".
  std::string_view body = source.substr(pos, static_cast<size_t>(length));
  if (body.size() > 3 && body[0] == '_' && body[1] == '_' && (body[2] == 'T' || body[2] == 'U')) {
    return parseTemplateInstance(pos + body.size());
  }
  if (body.empty() || isDigit(body[0]) || !isIdentifier(body)) {
    fail();
    return {};
  }
  advance(body.size());
  spend(2 * body.size());  // paid as the name and its copy in the text around it
  if (failed) {
    return {};
  }
  return Component{body, {}, false};
}

// LName := Number Name | IdentifierBackRef   (a template's own name)
std::string_view CurrentParser::parseLName() {
  Level level(*this);
  if (failed) {
    return {};
  }
  if (peek() == 'Q') {
    size_t reference = pos;
    size_t target = parseBackReference();
    if (failed || !isDigit(source[target])) {
      fail();
      return {};
    }
    return readReferenced(target, reference, [&] { return parseLName(); });
  }
  uint64_t length = parseNumber();
  if (failed || length == 0 || length > end - pos) {
    fail();
    return {};
  }
  std::string_view body = source.substr(pos, static_cast<size_t>(length));
  if (isDigit(body[0]) || !isIdentifier(body)) {
    fail();
    return {};
  }
  advance(body.size());
  spend(body.size());
  if (failed) {
    return {};
  }
  return body;
}

// TemplateInstanceName := (__T | __U) LName TemplateArg+ Z     ("__T5twiceTiZ")
// `end` is where a length-prefixed instance must stop, SIZE_MAX when it has no prefix.
Component CurrentParser::parseTemplateInstance(size_t end) {
  Level level(*this);
  if (failed) {
    return {};
  }
  expect('_');
  expect('_');
  if (peek() != 'T' && peek() != 'U') {
    fail();
    return {};
  }
  advance();
  Component instance;
  instance.instance = true;
  instance.name = parseLName();
  if (failed) {
    return {};
  }
  // The arguments are written straight after the name, each where it is read.
  const size_t start = mark();
  work.text += instance.name;
  append(start, "!(");
  bool first = true;
  while (peek() != 'Z') {
    if (!first) {
      append(start, ", ");
    }
    first = false;
    size_t at = mark();
    parseTemplateArgument();
    if (failed || !chargeJoined(start, at)) {
      return {};
    }
  }
  advance();
  if (failed || (end != SIZE_MAX && pos != end)) {
    fail();
    return {};
  }
  append(start, ")");
  instance.text = since(start);
  return instance;
}

// TemplateArg := [H] (T Type | V Type Value | S QualifiedName | X Number ExternallyMangledName)
Span CurrentParser::parseTemplateArgument() {
  Level level(*this);
  if (failed) {
    return {};
  }
  consume('H');  // matched a specialised parameter; reads the same
  const size_t start = mark();
  char c = peek();
  advance();
  switch (c) {
    case 'T':
      return parseType();
    case 'V': {
      // The value alone stands: its type's text is read for the value's sake, then dropped.
      size_t typeAt = pos;
      Span type = parseType();
      if (failed) {
        return {};
      }
      size_t value = mark();
      parseValue(typeAt, type);
      if (failed) {
        return {};
      }
      drop(start, value);
      return since(start);
    }
    case 'S': {
      // 2.064 wrote a whole mangled name with its length: "S18_D3app3fooFZv".
      size_t digits = 0;
      while (isDigit(peek(digits))) {
        ++digits;
      }
      if (digits > 0 && peek(digits) == '_' && peek(digits + 1) == 'D') {
        uint64_t length = parseNumber();
        if (failed || length < 2 || length > end - pos) {
          fail();
          return {};
        }
        const size_t base = work.components.size();
        CurrentParser inner(source.substr(pos + 2, static_cast<size_t>(length) - 2), budget, work);
        DecodedSymbol symbol = inner.parseSymbol();
        if (inner.failed) {
          fail();
          return {};
        }
        advance(static_cast<size_t>(length));
        // Its qualified name, written after the symbol's text, which then goes.
        size_t joined = mark();
        for (size_t k = 0; k < symbol.path.count; ++k) {
          const Component& component = work.at(symbol.path, k);
          if (mark() > joined) {
            append(joined, ".");
          }
          if (component.instance) {
            appendOwn(joined, component.text);
          } else {
            append(joined, component.name);
          }
        }
        work.components.resize(base);
        if (failed) {
          return {};
        }
        drop(start, joined);
        return since(start);
      }
      if (peek() == '_' && peek(1) == 'D') {
        return parseInlineSymbol();  // a function: its whole mangled name
      }
      return parseQualifiedName(nullptr);
    }
    case 'X': {
      uint64_t length = parseNumber();
      if (failed || length > end - pos) {
        fail();
        return {};
      }
      std::string_view raw = source.substr(pos, static_cast<size_t>(length));
      advance(raw.size());
      spend(raw.size());
      work.text += raw;
      return since(start);
    }
    default:
      fail();  // kEnd included: the end of the name, or a failure before
      return {};
  }
}

// QualifiedName := SymbolFunctionName+
// SymbolFunctionName := SymbolName [[M [TypeModifiers]] TypeFunctionNoReturn]
// A function type after a name belongs to a parent function only when another name follows;
// otherwise it is the symbol's own type, left for the caller.
Span CurrentParser::parseQualifiedName(Path* path, Fold fold, bool* onePlain, bool keepPending) {
  Level level(*this);
  if (failed) {
    return {};
  }
  const size_t start = mark();
  size_t nameEnd = start;  // the name's text ends here; a kept function type's follows
  const size_t first = work.components.size();
  size_t kept = 0;
  Component previous;  // the last component read
  // A caller that asks what the name was made of is paid for as one that keeps its path.
  bool keeps = path != nullptr || onePlain != nullptr;
  size_t components = 0;
  bool lastInstance = false;
  do {
    // An instance writes its text here, right after the name's so far.
    const size_t at = mark();
    Component component = parseSymbolName();
    if (failed) {
      return {};
    }
    ++components;
    lastInstance = component.instance;
    bool eponymous = fold == Fold::Yes && previous.instance && !component.instance &&
                     component.name == previous.name;
    if (!eponymous) {
      const size_t held = at - start;
      if (held > 0) {
        if (!charge(held, 1)) {
          return {};
        }
        if (component.instance) {
          work.text.insert(at, 1, '.');
          ++component.text.offset;
          chargeJoined(start, at + 1);
        } else {
          work.text += '.';
          append(start, component.name);
        }
      } else if (!keeps) {
        // The first component, never needed apart: written as it stands, without a copy.
        if (!component.instance) {
          work.text += component.name;
        }
      } else if (component.instance) {
        chargeJoined(start, at);
      } else {
        append(start, component.name);
      }
      if (failed) {
        return {};
      }
    }
    nameEnd = mark();
    // Left out: 'V' (Pascal), which after an alias argument is the next value argument, and
    // 'Y' (Objective-C), which after a type's name is the close of a C-variadic parameter list
    // ("PUS3app1SYv", extern (C) void function(app.S, ...)); no D symbol nests in either.
    char c = peek();
    if (c == 'M' || (isCallConvention(c) && c != 'V' && c != 'Y')) {
      size_t saved = pos;
      bool parent = false;
      bool pendingKept = false;
      Modifiers modifiers;
      if (consume('M')) {
        modifiers = parseModifiers();
      }
      if (isCallConvention(peek())) {
        // The parameters are written right after the name, where a parent function shows them.
        Function function = parseFunctionNoReturn();
        if (!failed && startsSymbolName()) {
          parent = chargeJoined(start, nameEnd);
        } else if (!failed && keepPending) {
          pending = Pending{saved, pos, end, modifiers, function};
          pendingKept = true;
        }
      }
      // Not a function type at all (or one past the budget's bound): whatever follows the name
      // reads it. The costs spent on the attempt stay spent.
      failed = false;
      if (parent) {
        nameEnd = mark();
      } else {
        pos = saved;
        if (!pendingKept) {
          cut(nameEnd);
        }
      }
    }
    if (path != nullptr) {
      work.components.resize(first + kept);  // what a failed attempt may have left
      work.components.push_back(component);
      ++kept;
    }
    previous = component;
  } while (startsSymbolName());
  if (onePlain != nullptr) {
    *onePlain = components == 1 && !lastInstance;
  }
  if (path != nullptr) {
    *path = Path{first, kept};
  }
  return Span{start, nameEnd - start};
}

// TypeModifiers := x | Ng | Ng x | O | O x | O Ng | O Ng x | y
Modifiers CurrentParser::parseModifiers() {
  Modifiers modifiers;
  if (consume('y')) {
    modifiers.flags = Modifiers::kImmutable;
  } else {
    if (consume('O')) {
      modifiers.flags |= Modifiers::kShared;
    }
    if (peek() == 'N' && peek(1) == 'g') {
      advance(2);
      modifiers.flags |= Modifiers::kInout;
    }
    if (consume('x')) {
      modifiers.flags |= Modifiers::kConst;
    }
  }
  // Paid as the words (immutable alone never was).
  if (modifiers.flags != Modifiers::kImmutable) {
    spend(modifiers.size());
  }
  return modifiers;
}

namespace {

constexpr std::pair<unsigned, std::string_view> kModifierWords[] = {
    {Modifiers::kImmutable, "immutable"},
    {Modifiers::kShared, "shared"},
    {Modifiers::kInout, "inout"},
    {Modifiers::kConst, "const"}};

}  // namespace

size_t Modifiers::words() const {
  return static_cast<size_t>(std::popcount(flags));
}

size_t Modifiers::size() const {
  size_t size = 0;
  for (auto [flag, word] : kModifierWords) {
    if ((flags & flag) != 0) {
      size += (size == 0 ? 0 : 1) + word.size();
    }
  }
  return size;
}

void Modifiers::appendWords(std::string& to) const {
  bool first = true;
  for (auto [flag, word] : kModifierWords) {
    if ((flags & flag) != 0) {
      if (!first) {
        to += ' ';
      }
      first = false;
      to += word;
    }
  }
}

void Modifiers::appendOpening(std::string& to) const {
  for (auto [flag, word] : kModifierWords) {
    if ((flags & flag) != 0) {
      to += word;
      to += '(';
    }
  }
}

// Type := [TypeModifiers] TypeX | TypeBackRef
Span CurrentParser::parseType() {
  Level level(*this);
  if (failed) {
    return {};
  }
  char c = peek();
  if (c == 'Q') {
    size_t reference = pos;
    size_t target = parseBackReference();
    if (failed || !isLetter(source[target])) {
      fail();
      return {};
    }
    return readReferenced(target, reference, [&] { return parseType(); });
  }
  bool modified = c == 'x' || c == 'y' || c == 'O' || (c == 'N' && peek(1) == 'g');
  if (!modified) {
    return parseTypeX();
  }
  Modifiers modifiers = parseModifiers();
  if (failed) {
    return {};
  }
  const size_t start = mark();
  modifiers.appendOpening(work.text);
  size_t at = mark();
  parseType();
  if (failed || !chargeJoined(start, at)) {
    return {};
  }
  size_t closing = modifiers.words();
  if (charge(mark() - start, closing)) {
    work.text.append(closing, ')');
  }
  return since(start);
}

Span CurrentParser::parseTypeX() {
  char c = peek();
  advance();
  if (failed) {
    return {};
  }
  const size_t start = mark();
  switch (c) {
    case 'A': {
      parseType();
      if (failed) {
        return {};
      }
      // What the compilers print for these arrays.
      std::string_view element = work.view(since(start));
      std::string_view alias = element == "immutable(char)"    ? "string"
                               : element == "immutable(wchar)" ? "wstring"
                               : element == "immutable(dchar)" ? "dstring"
                                                               : "";
      if (!alias.empty()) {
        spend(alias.size());
        cut(start);
        work.text += alias;
        return since(start);
      }
      append(start, "[]");
      return since(start);
    }
    case 'G': {
      uint64_t length = parseNumber();
      parseType();
      if (failed) {
        return {};
      }
      char digits[24];
      auto written = std::to_chars(digits, digits + sizeof digits, length);
      size_t count = static_cast<size_t>(written.ptr - digits);
      if (charge(mark() - start, count + 2)) {
        work.text += '[';
        work.text.append(digits, count);
        work.text += ']';
      }
      return since(start);
    }
    case 'H': {
      // Read key first, written value[key].
      Span key = parseType();
      Span value = parseType();
      if (failed) {
        return {};
      }
      if (!charge(value.length, 1) || !charge(value.length + 1, key.length) ||
          !charge(value.length + 1 + key.length, 1)) {
        return {};
      }
      std::rotate(work.text.begin() + static_cast<std::ptrdiff_t>(start),
                  work.text.begin() + static_cast<std::ptrdiff_t>(value.offset), work.text.end());
      work.text.insert(start + value.length, 1, '[');
      work.text += ']';
      return since(start);
    }
    case 'P':
      if (isCallConvention(peek()) || referencesFunction()) {
        return parseTypeFunctionPointer("function", {});
      }
      parseType();
      append(start, "*");
      return since(start);
    case 'D': {
      Modifiers modifiers = parseModifiers();
      if (failed || (!isCallConvention(peek()) && !referencesFunction())) {
        fail();
        return {};
      }
      return parseTypeFunctionPointer("delegate", modifiers);
    }
    case 'N':
      if (consume('h')) {
        constexpr std::string_view kVector = "__vector(";
        work.text += kVector;
        spend(kVector.size());
        size_t at = mark();
        parseType();
        if (failed || !chargeJoined(start, at)) {
          return {};
        }
        append(start, ")");
        return since(start);
      }
      if (consume('n')) {
        spend(8);
        work.text += "noreturn";
        return since(start);
      }
      fail();
      return {};
    case 'I':
    case 'C':
    case 'S':
    case 'E':
    case 'T': {
      bool onePlain = false;
      parseQualifiedName(nullptr, Fold::Yes, &onePlain);
      if (failed) {
        return {};
      }
      if (onePlain) {
        // Only the members of module object are mangled without their module (C6Object).
        work.text.insert(start, "object.");
        spend(7);
      }
      return since(start);
    }
    case 'B': {
      // Tuple: its parameters in parentheses. 2.064 wrote their count first.
      if (isDigit(peek())) {
        parseNumber();
      }
      work.text += '(';
      while (peek() != 'Z') {
        if (mark() - start > 1) {
          append(start, ", ");
        }
        size_t at = mark();
        parseParameter();
        if (failed || !chargeJoined(start, at)) {
          return {};
        }
      }
      advance();
      append(start, ")");
      return since(start);
    }
    case 'n':
      spend(12);
      work.text += "typeof(null)";
      return since(start);
    case 'z':
      if (consume('i')) {
        spend(4);
        work.text += "cent";
        return since(start);
      }
      if (consume('k')) {
        spend(5);
        work.text += "ucent";
        return since(start);
      }
      fail();
      return {};
    default:
      break;
  }
  if (isCallConvention(c)) {
    // A bare function type, as D prints one: "pure int(int)". Read parameters first, written
    // after the return type: composed after what was read, which then goes.
    --pos;  // reread the convention letter; its byte was counted once already
    Function function = parseFunctionNoReturn();
    function.result = parseType();
    if (failed) {
      return {};
    }
    size_t composed = mark();
    work.text += function.convention;
    appendAttributes(composed, function.attributes, Attributes::Prefix);
    appendOwn(composed, function.result);
    appendOwn(composed, function.parameters);
    appendAttributes(composed, function.attributes, Attributes::Suffix);
    if (failed) {
      return {};
    }
    drop(start, composed);
    return since(start);
  }
  if (c >= 'a' && c <= 'z' && !kBasicTypes[c - 'a'].empty()) {
    spend(kBasicTypes[c - 'a'].size());
    work.text += kBasicTypes[c - 'a'];
    return since(start);
  }
  fail();
  return {};
}

// TypeFunction | TypeBackRef to one: the whole function type, its return type included. The
// parameters' text comes first, then the return type's.
CurrentParser::Function CurrentParser::parseFunctionType() {
  Level level(*this);
  if (failed) {
    return {};
  }
  if (peek() == 'Q') {
    // Written before: read it there, then go on after the reference.
    size_t reference = pos;
    size_t target = parseBackReference();
    if (failed) {
      return {};
    }
    return readReferenced(target, reference, [&] { return parseFunctionType(); });
  }
  if (!isCallConvention(peek())) {
    fail();
    return {};
  }
  Function function = parseFunctionNoReturn();
  function.result = parseType();
  return function;
}

// "int function(int) pure nothrow", "void delegate() const @safe"
Span CurrentParser::parseTypeFunctionPointer(std::string_view kind, Modifiers modifiers) {
  const size_t start = mark();
  Function function = parseFunctionType();
  if (failed) {
    return {};
  }
  // Read parameters first, written after the return type: composed after what was read.
  size_t composed = mark();
  work.text += function.convention;
  appendOwn(composed, function.result);
  append(composed, " ");
  append(composed, kind);
  appendOwn(composed, function.parameters);
  if (!modifiers.empty()) {
    append(composed, " ");
    if (charge(mark() - composed, modifiers.size())) {
      modifiers.appendWords(work.text);
    }
  }
  appendAttributes(composed, function.attributes, Attributes::Postfix);
  if (failed) {
    return {};
  }
  drop(start, composed);
  return since(start);
}

// TypeFunctionNoReturn := CallConvention FuncAttr* Parameter* ParamClose
CurrentParser::Function CurrentParser::parseFunctionNoReturn() {
  Level level(*this);
  if (failed) {
    return {};
  }
  Function function;
  char convention = peek();
  advance();
  switch (convention) {
    case 'F':
      break;
    case 'U':
      function.convention = "extern (C) ";
      break;
    case 'W':
      function.convention = "extern (Windows) ";
      break;
    case 'V':
      function.convention = "extern (Pascal) ";
      break;
    case 'R':
      function.convention = "extern (C++) ";
      break;
    case 'Y':
      function.convention = "extern (Objective-C) ";
      break;
    default:
      fail();
      return {};
  }
  spend(function.convention.size());
  parseFunctionAttributes(function);
  function.parameters = parseParameters();
  return function;
}
namespace {

enum : unsigned {
  kPure = 1,
  kNothrow = 2,
  kRef = 4,
  kProperty = 8,
  kNogc = 16,
  kReturn = 32,
  kScope = 64,
  kTrusted = 128,
  kSafe = 256,
  kLive = 512
};

// The attributes in the order D prints them; return and scope stand after a symbol's parameters.
struct AttributeWord {
  unsigned flag;
  std::string_view text;
  bool afterParameters;
};
constexpr AttributeWord kAttributeOrder[] = {
    {kPure, "pure", false},          {kNothrow, "nothrow", false}, {kNogc, "@nogc", false},
    {kProperty, "@property", false}, {kRef, "ref", false},         {kReturn, "return", true},
    {kScope, "scope", true},         {kLive, "@live", false},      {kTrusted, "@trusted", false},
    {kSafe, "@safe", false}};

bool takes(CurrentParser::Attributes form, const AttributeWord& word) {
  return form == CurrentParser::Attributes::Postfix ||
         word.afterParameters == (form == CurrentParser::Attributes::Suffix);
}

}  // namespace

size_t CurrentParser::attributesSize(unsigned attributes, Attributes form) {
  size_t size = 0;
  for (const AttributeWord& word : kAttributeOrder) {
    if ((attributes & word.flag) != 0 && takes(form, word)) {
      size += word.text.size() + 1;
    }
  }
  return size;
}

// Costs what appending the words as one text costs; they are written straight after the text
// that begins at `start`.
void CurrentParser::appendAttributes(size_t start, unsigned attributes, Attributes form) {
  size_t size = attributesSize(attributes, form);
  if (!charge(mark() - start, size)) {
    return;
  }
  for (const AttributeWord& word : kAttributeOrder) {
    if ((attributes & word.flag) == 0 || !takes(form, word)) {
      continue;
    }
    if (form == Attributes::Prefix) {
      work.text += word.text;
      work.text += ' ';
    } else {
      work.text += ' ';
      work.text += word.text;
    }
  }
}

// FuncAttr := Na | Nb | Nc | Nd | Ni | Nj | Nl | Ne | Nf | Nm. Rendered in the order D prints
// them (pure nothrow @nogc @property ref return scope @live @trusted/@safe); a symbol writes
// return and scope after its parameters, with the modifiers of `this`.
void CurrentParser::parseFunctionAttributes(Function& function) {
  unsigned flags = 0;
  while (peek() == 'N') {
    unsigned flag = 0;
    switch (peek(1)) {
      case 'a':
        flag = kPure;
        break;
      case 'b':
        flag = kNothrow;
        break;
      case 'c':
        flag = kRef;
        break;
      case 'd':
        flag = kProperty;
        break;
      case 'i':
        flag = kNogc;
        break;
      case 'j':
        flag = kReturn;
        break;
      case 'l':
        flag = kScope;
        break;
      case 'e':
        flag = kTrusted;
        break;
      case 'f':
        flag = kSafe;
        break;
      case 'm':
        flag = kLive;
        break;
      default:
        break;  // Ng (inout), Nk (a return parameter), Nh, Nn: types and parameters
    }
    if (flag == 0) {
      break;
    }
    advance(2);
    flags |= flag;
  }
  function.attributes = flags;
  // Paid for as the three texts were when they were written out here, piece by piece, so that
  // a name fails at the same point of its budget.
  for (const AttributeWord& word : kAttributeOrder) {
    if ((flags & word.flag) == 0) {
      continue;
    }
    spend(word.afterParameters ? 1 : word.text.size());
    spend(word.afterParameters ? word.text.size() : 1);
    spend(1);
    spend(word.text.size());
  }
}

// Parameter* ParamClose  ->  "(int, ref long...)"
Span CurrentParser::parseParameters() {
  const size_t start = mark();
  work.text += '(';
  spend(1);
  bool any = false;
  for (;;) {
    char c = peek();
    if (c == 'Z' || c == 'X' || c == 'Y') {
      advance();
      if (c == 'X') {
        append(start, "...");  // T t...: the dots follow the last parameter
      } else if (c == 'Y') {
        append(start, any ? ", ..." : "...");
      }
      break;
    }
    if (any) {
      append(start, ", ");
    }
    size_t at = mark();
    parseParameter();
    if (failed || !chargeJoined(start, at)) {
      return {};
    }
    any = true;
  }
  append(start, ")");
  return since(start);
}

// Parameter := [M] [Nk] (Type | I Type | IK Type | J Type | K Type | L Type)
Span CurrentParser::parseParameter() {
  Level level(*this);
  if (failed) {
    return {};
  }
  bool scope = false;
  bool returns = false;
  for (;;) {
    if (consume('M')) {
      scope = true;
    } else if (peek() == 'N' && peek(1) == 'k') {
      advance(2);
      returns = true;
    } else {
      break;
    }
  }
  const size_t start = mark();
  if (returns) {
    append(start, "return ");
  }
  if (scope) {
    append(start, "scope ");
  }
  switch (peek()) {
    case 'I':
      advance();
      append(start, consume('K') ? "in ref " : "in ");
      break;
    case 'J':
      advance();
      append(start, "out ");
      break;
    case 'K':
      advance();
      append(start, "ref ");
      break;
    case 'L':
      advance();
      append(start, "lazy ");
      break;
    default:
      break;
  }
  size_t at = mark();
  parseType();
  chargeJoined(start, at);
  return since(start);
}

// MangledName without "_D": QualifiedName (Z | Type)
DecodedSymbol CurrentParser::parseSymbol() {
  Level level(*this);
  if (failed) {
    return {};
  }
  DecodedSymbol symbol;
  Span name = parseQualifiedName(&symbol.path, Fold::No, nullptr, true);
  if (failed) {
    return {};
  }
  if (peek() == 'Z' && pos + 1 == end) {
    advance();
    symbol.text = name;
    return symbol;
  }
  // The symbol's own type: a function (M for one with a context or `this`), else a variable.
  // A function type may be a back reference to one written before.
  char c = peek();
  if (c == 'Q' && referencesFunction()) {
    c = 'F';
  }
  // The rendering is composed after the pieces read, which stay where the path refers to them.
  if (c == 'M' || isCallConvention(c)) {
    Modifiers modifiers;
    Function function;
    if (pending && pending->start == pos && pending->window == end) {
      // Read already while looking for a parent function; only the return type is left.
      pos = pending->end;
      modifiers = pending->modifiers;
      function = pending->function;
      function.result = parseType();
    } else {
      if (consume('M')) {
        modifiers = parseModifiers();
      }
      function = parseFunctionType();
    }
    if (failed) {
      return {};
    }
    const size_t start = mark();
    work.text += function.convention;
    appendAttributes(start, function.attributes, Attributes::Prefix);
    appendOwn(start, function.result);
    append(start, " ");
    appendOwn(start, name);
    appendOwn(start, function.parameters);
    if (!modifiers.empty()) {
      append(start, " ");
      if (charge(mark() - start, modifiers.size())) {
        modifiers.appendWords(work.text);
      }
    }
    appendAttributes(start, function.attributes, Attributes::Suffix);
    symbol.text = since(start);
  } else {
    Span type = parseType();
    const size_t start = mark();
    work.text.append(work.text, type.offset, type.length);
    append(start, " ");
    appendOwn(start, name);
    symbol.text = since(start);
  }
  if (!atEnd()) {
    fail();
  }
  return symbol;  // to be ignored when the parse failed
}

// A whole type (the text after "TypeInfo_"), and the path of the aggregate it names.
Span CurrentParser::parseWholeType(Path* path) {
  size_t at = 0;
  for (;;) {
    at = resolveType(at);
    if (failed) {
      return {};
    }
    char c = at < source.size() ? source[at] : kEnd;
    if (c == 'A' ||
        (c == 'P' && !isCallConvention(at + 1 < source.size() ? source[at + 1] : kEnd))) {
      ++at;
    } else if (c == 'G') {
      ++at;
      while (at < source.size() && isDigit(source[at])) {
        ++at;
      }
    } else if (c == 'H') {
      at = skipType(at + 1);
      if (failed) {
        return {};
      }
    } else if (c == 'N' && at + 1 < source.size() && source[at + 1] == 'h') {
      at += 2;
    } else {
      if (c == 'S' || c == 'C' || c == 'E' || c == 'I' || c == 'T') {
        // The path's instances keep their text where this reading wrote it.
        readAt(at + 1, [&] { return parseQualifiedName(path); });
        if (failed) {
          return {};
        }
      }
      break;
    }
  }
  pos = 0;
  Span text = parseType();
  if (!atEnd()) {
    fail();
  }
  return text;
}

}  // namespace currentd
}  // namespace vorlith
