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
#include <string>
#include <vector>

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
  CurrentParser probe(source, budget);
  probe.pos = pos;
  size_t target = probe.parseBackReference();
  return !probe.failed && isDigit(source[target]);
}

// A back reference to a function type stands here (delegates and function pointers).
bool CurrentParser::referencesFunction() const {
  if (peek() != 'Q') {
    return false;
  }
  CurrentParser probe(source, budget);
  probe.pos = pos;
  size_t target = probe.parseBackReference();
  return !probe.failed && isCallConvention(source[target]);
}

// SymbolName := LName | TemplateInstanceName | IdentifierBackRef | 0
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
    Component anonymous{"__anonymous", {}, false};
    spend(anonymous.name.size());
    return anonymous;
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
  spend(2 * body.size());
  if (failed) {
    return {};
  }
  return Component{std::string(body), {}, false};
}

// LName := Number Name | IdentifierBackRef   (a template's own name)
std::string CurrentParser::parseLName() {
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
  return std::string(body);
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
  // The arguments go straight into the text: a nested instance's text is copied once per level
  // it passes through, and real names nest ten levels and more.
  instance.text = instance.name;
  append(instance.text, "!(");
  bool first = true;
  while (peek() != 'Z') {
    if (!first) {
      append(instance.text, ", ");
    }
    first = false;
    append(instance.text, parseTemplateArgument());
    if (failed) {
      return {};
    }
  }
  advance();
  if (failed || (end != SIZE_MAX && pos != end)) {
    fail();
    return {};
  }
  append(instance.text, ")");
  return instance;
}

// TemplateArg := [H] (T Type | V Type Value | S QualifiedName | X Number ExternallyMangledName)
std::string CurrentParser::parseTemplateArgument() {
  Level level(*this);
  if (failed) {
    return {};
  }
  consume('H');  // matched a specialised parameter; reads the same
  char c = peek();
  advance();
  switch (c) {
    case 'T':
      return parseType();
    case 'V': {
      size_t typeAt = pos;
      std::string type = parseType();
      if (failed) {
        return {};
      }
      return parseValue(typeAt, type);
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
        CurrentParser inner(source.substr(pos + 2, static_cast<size_t>(length) - 2), budget);
        DecodedSymbol symbol = inner.parseSymbol();
        if (inner.failed) {
          fail();
          return {};
        }
        advance(static_cast<size_t>(length));
        std::string text;
        for (const Component& component : symbol.path) {
          if (!text.empty()) {
            append(text, ".");
          }
          append(text, component.fullText());
        }
        return text;
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
      std::string raw(source.substr(pos, static_cast<size_t>(length)));
      advance(raw.size());
      spend(raw.size());
      return raw;
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
std::string CurrentParser::parseQualifiedName(std::vector<Component>* path, Fold fold,
                                              bool* onePlain) {
  Level level(*this);
  if (failed) {
    return {};
  }
  std::string text;
  // The last component read: the path's last, or `previous` when no path keeps them.
  Component previous;
  size_t first = 0;
  if (path != nullptr) {
    path->reserve(8);  // most names have fewer components; spares the first regrowths
    first = path->size();
  }
  auto last = [&]() -> const Component& {
    return path != nullptr && path->size() > first ? path->back() : previous;
  };
  // A caller that asks what the name was made of is paid for as one that keeps its path.
  bool keeps = path != nullptr || onePlain != nullptr;
  size_t components = 0;
  bool lastInstance = false;
  do {
    Component component = parseSymbolName();
    if (failed) {
      return {};
    }
    ++components;
    lastInstance = component.instance;
    bool eponymous = fold == Fold::Yes && last().instance && !component.instance &&
                     component.name == last().name;
    if (!eponymous) {
      if (!text.empty()) {
        append(text, ".");
        append(text, component.fullText());
      } else if (!keeps && component.instance) {
        text = std::move(component.text);  // not needed again: nothing to copy
      } else if (!keeps) {
        text = component.name;  // the name stays: the next component is compared with it
      } else {
        append(text, component.fullText());
      }
      if (failed) {
        return {};
      }
    }
    // Left out: 'V' (Pascal), which after an alias argument is the next value argument, and
    // 'Y' (Objective-C), which after a type's name is the close of a C-variadic parameter list
    // ("PUS3app1SYv", extern (C) void function(app.S, ...)); no D symbol nests in either.
    char c = peek();
    if (c == 'M' || (isCallConvention(c) && c != 'V' && c != 'Y')) {
      size_t saved = pos;
      bool parent = false;
      std::string modifiers;
      if (consume('M')) {
        modifiers = parseModifiers();
      }
      if (isCallConvention(peek())) {
        Function function = parseFunctionNoReturn();
        if (!failed && startsSymbolName()) {
          append(text, function.parameters);
          parent = !failed;
        } else if (!failed) {
          pending = Pending{saved, pos, end, std::move(modifiers), std::move(function)};
        }
      }
      // Not a function type at all (or one past the budget's bound): whatever follows the name
      // reads it. The costs spent on the attempt stay spent.
      failed = false;
      if (!parent) {
        pos = saved;
      }
    }
    if (path != nullptr) {
      path->push_back(std::move(component));
    } else {
      previous = std::move(component);
    }
  } while (startsSymbolName());
  if (onePlain != nullptr) {
    *onePlain = components == 1 && !lastInstance;
  }
  return text;
}

// TypeModifiers := x | Ng | Ng x | O | O x | O Ng | O Ng x | y   -> the words, space-separated
std::string CurrentParser::parseModifiers() {
  std::string words;
  auto add = [&](std::string_view word) {
    if (!words.empty()) {
      words += ' ';
    }
    words += word;
  };
  if (consume('y')) {
    add("immutable");
    return words;
  }
  if (consume('O')) {
    add("shared");
  }
  if (peek() == 'N' && peek(1) == 'g') {
    advance(2);
    add("inout");
  }
  if (consume('x')) {
    add("const");
  }
  spend(words.size());
  return words;
}

// "shared const" -> "shared(const(" with as many closing parentheses to come.
std::string CurrentParser::modifierText(std::string_view modifiers) {
  std::string open;
  size_t start = 0;
  while (start < modifiers.size()) {
    size_t space = modifiers.find(' ', start);
    if (space == std::string_view::npos) {
      space = modifiers.size();
    }
    open += modifiers.substr(start, space - start);
    open += '(';
    start = space + 1;
  }
  return open;
}

// Type := [TypeModifiers] TypeX | TypeBackRef
std::string CurrentParser::parseType() {
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
  std::string modifiers = parseModifiers();
  if (failed) {
    return {};
  }
  std::string text = modifierText(modifiers);
  append(text, parseType());
  if (failed) {
    return {};
  }
  auto closing = static_cast<size_t>(std::count(modifiers.begin(), modifiers.end(), ' ')) + 1;
  append(text, std::string(closing, ')'));
  return text;
}

std::string CurrentParser::parseTypeX() {
  char c = peek();
  advance();
  if (failed) {
    return {};
  }
  switch (c) {
    case 'A': {
      std::string element = parseType();
      if (failed) {
        return {};
      }
      // What the compilers print for these arrays.
      std::string_view alias = element == "immutable(char)"    ? "string"
                               : element == "immutable(wchar)" ? "wstring"
                               : element == "immutable(dchar)" ? "dstring"
                                                               : "";
      if (!alias.empty()) {
        spend(alias.size());
        return std::string(alias);
      }
      append(element, "[]");
      return element;
    }
    case 'G': {
      uint64_t length = parseNumber();
      std::string element = parseType();
      if (failed) {
        return {};
      }
      append(element, "[" + std::to_string(length) + "]");
      return element;
    }
    case 'H': {
      std::string key = parseType();
      std::string value = parseType();
      if (failed) {
        return {};
      }
      append(value, "[");
      append(value, key);
      append(value, "]");
      return value;
    }
    case 'P':
      if (isCallConvention(peek()) || referencesFunction()) {
        return parseTypeFunctionPointer("function", "");
      }
      {
        std::string target = parseType();
        append(target, "*");
        return target;
      }
    case 'D': {
      std::string modifiers = parseModifiers();
      if (failed || (!isCallConvention(peek()) && !referencesFunction())) {
        fail();
        return {};
      }
      return parseTypeFunctionPointer("delegate", modifiers);
    }
    case 'N':
      if (consume('h')) {
        std::string text = "__vector(";
        spend(text.size());
        append(text, parseType());
        append(text, ")");
        return text;
      }
      if (consume('n')) {
        spend(8);
        return "noreturn";
      }
      fail();
      return {};
    case 'I':
    case 'C':
    case 'S':
    case 'E':
    case 'T': {
      bool onePlain = false;
      std::string name = parseQualifiedName(nullptr, Fold::Yes, &onePlain);
      if (failed) {
        return {};
      }
      if (onePlain) {
        // Only the members of module object are mangled without their module (C6Object).
        name.insert(0, "object.");
        spend(7);
      }
      return name;
    }
    case 'B': {
      // Tuple: its parameters in parentheses. 2.064 wrote their count first.
      if (isDigit(peek())) {
        parseNumber();
      }
      std::string text = "(";
      while (peek() != 'Z') {
        if (text.size() > 1) {
          append(text, ", ");
        }
        append(text, parseParameter());
        if (failed) {
          return {};
        }
      }
      advance();
      append(text, ")");
      return text;
    }
    case 'n':
      spend(12);
      return "typeof(null)";
    case 'z':
      if (consume('i')) {
        spend(4);
        return "cent";
      }
      if (consume('k')) {
        spend(5);
        return "ucent";
      }
      fail();
      return {};
    default:
      break;
  }
  if (isCallConvention(c)) {
    // A bare function type, as D prints one: "pure int(int)".
    --pos;  // reread the convention letter; its byte was counted once already
    Function function = parseFunctionNoReturn();
    function.result = parseType();
    if (failed) {
      return {};
    }
    std::string text(function.convention);
    appendAttributes(text, function.attributes, Attributes::Prefix);
    append(text, function.result);
    append(text, function.parameters);
    appendAttributes(text, function.attributes, Attributes::Suffix);
    return text;
  }
  if (c >= 'a' && c <= 'z' && !kBasicTypes[c - 'a'].empty()) {
    spend(kBasicTypes[c - 'a'].size());
    return std::string(kBasicTypes[c - 'a']);
  }
  fail();
  return {};
}

// TypeFunction | TypeBackRef to one: the whole function type, its return type included.
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
std::string CurrentParser::parseTypeFunctionPointer(std::string_view kind,
                                                    std::string_view modifiers) {
  Function function = parseFunctionType();
  if (failed) {
    return {};
  }
  std::string text(function.convention);
  append(text, function.result);
  append(text, " ");
  append(text, kind);
  append(text, function.parameters);
  if (!modifiers.empty()) {
    append(text, " ");
    append(text, modifiers);
  }
  appendAttributes(text, function.attributes, Attributes::Postfix);
  return text;
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
  function.parameters = parseParameters(function);
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

// Costs what appending the words as one text costs; they are written straight into `to`.
void CurrentParser::appendAttributes(std::string& to, unsigned attributes, Attributes form) {
  size_t size = attributesSize(attributes, form);
  spend(size);
  if (failed) {
    return;
  }
  if (size > budget.textLimit - to.size()) {
    fail();
    return;
  }
  for (const AttributeWord& word : kAttributeOrder) {
    if ((attributes & word.flag) == 0 || !takes(form, word)) {
      continue;
    }
    if (form == Attributes::Prefix) {
      to += word.text;
      to += ' ';
    } else {
      to += ' ';
      to += word.text;
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
std::string CurrentParser::parseParameters(Function& /*function*/) {
  std::string text = "(";
  spend(1);
  bool any = false;
  for (;;) {
    char c = peek();
    if (c == 'Z' || c == 'X' || c == 'Y') {
      advance();
      if (c == 'X') {
        append(text, "...");  // T t...: the dots follow the last parameter
      } else if (c == 'Y') {
        append(text, any ? ", ..." : "...");
      }
      break;
    }
    if (any) {
      append(text, ", ");
    }
    append(text, parseParameter());
    if (failed) {
      return {};
    }
    any = true;
  }
  append(text, ")");
  return text;
}

// Parameter := [M] [Nk] (Type | I Type | IK Type | J Type | K Type | L Type)
std::string CurrentParser::parseParameter() {
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
  std::string text;
  if (returns) {
    append(text, "return ");
  }
  if (scope) {
    append(text, "scope ");
  }
  switch (peek()) {
    case 'I':
      advance();
      append(text, consume('K') ? "in ref " : "in ");
      break;
    case 'J':
      advance();
      append(text, "out ");
      break;
    case 'K':
      advance();
      append(text, "ref ");
      break;
    case 'L':
      advance();
      append(text, "lazy ");
      break;
    default:
      break;
  }
  append(text, parseType());
  return text;
}

// MangledName without "_D": QualifiedName (Z | Type)
DecodedSymbol CurrentParser::parseSymbol() {
  Level level(*this);
  if (failed) {
    return {};
  }
  DecodedSymbol symbol;
  std::string name = parseQualifiedName(&symbol.path, Fold::No);
  if (failed) {
    return {};
  }
  if (peek() == 'Z' && pos + 1 == end) {
    advance();
    symbol.text = std::move(name);
    return symbol;
  }
  // The symbol's own type: a function (M for one with a context or `this`), else a variable.
  // A function type may be a back reference to one written before.
  char c = peek();
  if (c == 'Q' && referencesFunction()) {
    c = 'F';
  }
  if (c == 'M' || isCallConvention(c)) {
    std::string modifiers;
    Function function;
    if (pending && pending->start == pos && pending->window == end) {
      // Read already while looking for a parent function; only the return type is left.
      pos = pending->end;
      modifiers = std::move(pending->modifiers);
      function = std::move(pending->function);
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
    // The rendering's length is known: one allocation rather than one per doubling.
    std::string text;
    text.reserve(function.convention.size() +
                 attributesSize(function.attributes, Attributes::Prefix) + function.result.size() +
                 1 + name.size() + function.parameters.size() + 1 + modifiers.size() +
                 attributesSize(function.attributes, Attributes::Suffix));
    text.assign(function.convention);
    appendAttributes(text, function.attributes, Attributes::Prefix);
    append(text, function.result);
    append(text, " ");
    append(text, name);
    append(text, function.parameters);
    if (!modifiers.empty()) {
      append(text, " ");
      append(text, modifiers);
    }
    appendAttributes(text, function.attributes, Attributes::Suffix);
    symbol.text = std::move(text);
  } else {
    symbol.text = parseType();
    symbol.text.reserve(symbol.text.size() + 1 + name.size());
    append(symbol.text, " ");
    append(symbol.text, name);
  }
  if (!atEnd()) {
    fail();
  }
  return symbol;  // to be ignored when the parse failed
}

// A whole type (the text after "TypeInfo_"), and the path of the aggregate it names.
std::string CurrentParser::parseWholeType(std::vector<Component>* path) {
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
        readAt(at + 1, [&] { return parseQualifiedName(path); });
        if (failed) {
          return {};
        }
      }
      break;
    }
  }
  pos = 0;
  std::string text = parseType();
  if (!atEnd()) {
    fail();
  }
  return text;
}

}  // namespace currentd
}  // namespace vorlith
