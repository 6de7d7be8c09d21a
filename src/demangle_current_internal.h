// The parser of current-ABI D names, shared by demangle_current*.cpp and their tests.
//
// One `CurrentParser` reads one mangled name (without its "_D") and returns text; pieces are
// std::string values joined as the grammar closes them. A back reference is read again where it
// points, so the cost of a name is bounded by a shared `Budget` rather than by its length.
//
// A name that cannot be read, or one that costs more than its budget, sets `failed`: every step
// returns at once (with empty text) and so does each caller, up to the entry points and the few
// places that try one reading and fall back to another. No exception: real maps hold names that
// fail, and unwinding each was the most costly part of reading them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlith::currentd {

// What one name may cost, as multiples of its length plus kSlack: bytes read (a back reference
// is read again where it points), bytes of text made (counted again each time a piece is copied
// into the piece around it), and the length of any one text, the name shown included. Real
// names expand far through back references: the costliest seen, from one call of Phobos'
// asRelativePath (gdc 12, 514 to 535 bytes mangled), read 63, made 560 and show 40 bytes per
// byte; GtkD's and a static Phobos' stay below that. The factors leave about four times that
// room, and a name past any of them is filed as it stands. Open parse levels are limited so that
// the deepest name stays well inside the stack, sanitizers included.
inline constexpr size_t kWorkPerByte = 256;
inline constexpr size_t kOutputPerByte = 2048;
inline constexpr size_t kTextPerByte = 256;
inline constexpr size_t kSlack = 16384;
inline constexpr size_t kMaxDepth = 400;

// What one name may cost; shared by every parser working on that name (TypeInfo and thunks
// parse pieces of it apart).
struct Budget {
  explicit Budget(size_t nameLength)
      : workLimit(kWorkPerByte * nameLength + kSlack),
        outputLimit(kOutputPerByte * nameLength + kSlack),
        textLimit(kTextPerByte * nameLength + kSlack) {}
  size_t work = 0;
  size_t output = 0;
  size_t depth = 0;
  size_t workLimit;
  size_t outputLimit;
  size_t textLimit;
};

// One component of a qualified name: `name` is the identifier (a template's own name for an
// instance), `text` for an instance the same with its arguments ("twice!(int)"), empty for a
// plain name, which would be its copy.
struct Component {
  std::string name;
  std::string text;
  bool instance = false;

  // The component as the rendering writes it: `text` for an instance, else `name`.
  [[nodiscard]] std::string_view fullText() const { return instance ? text : name; }
};

// A decoded symbol: its qualified name's components and its whole rendering.
struct DecodedSymbol {
  std::vector<Component> path;
  std::string text;
};

// The leaf a symbol with this path is filed under: the last name, or the text from the innermost
// template instance on, an eponymous member folded into its instance ("twice!(int)").
[[nodiscard]] std::string leafName(const std::vector<Component>& path);

class CurrentParser {
 public:
  CurrentParser(std::string_view source, Budget& budget)
      : source(source), end(source.size()), budget(budget) {}

  // MangledName without its "_D": QualifiedName, then Z (internal symbol) or the type. On a
  // failure `failed` is set and the result is to be ignored; so for every parse step.
  DecodedSymbol parseSymbol();
  // A type spanning all of `source` ("Ai" in TypeInfo_Ai). `path` receives the components of
  // the aggregate the type names, if any (arrays, pointers and modifiers looked through).
  std::string parseWholeType(std::vector<Component>* path);

  // Grammar.
  // `fold` drops an eponymous member after its instance, as D writes types and aliases
  // ("Box!(int)", not "Box!(int).Box"); a symbol's own name keeps it.
  enum class Fold { No, Yes };
  // `onePlain`, when given, is set to whether the name was a single component that is no
  // template instance (only the members of module object are mangled so).
  std::string parseQualifiedName(std::vector<Component>* path, Fold fold = Fold::Yes,
                                 bool* onePlain = nullptr);
  Component parseSymbolName();
  std::string parseLName();
  Component parseTemplateInstance(size_t end);
  std::string parseTemplateArgument();
  std::string parseType();
  std::string parseTypeX();
  std::string parseTypeFunctionPointer(std::string_view kind, std::string_view modifiers);

  struct Function {
    std::string_view convention;  // "extern (C) " and the like
    unsigned attributes = 0;      // the attributes read, as flags; written by appendAttributes
    std::string parameters;       // "(int, ref long)"
    std::string result;           // the return type
  };
  // Where a function's attributes are written, and how: before the return type ("pure "),
  // after the parameters (" return scope", a symbol's), or all after the parameters
  // (" pure return", as function and delegate types write them).
  enum class Attributes { Prefix, Suffix, Postfix };
  [[nodiscard]] static size_t attributesSize(unsigned attributes, Attributes form);
  void appendAttributes(std::string& to, unsigned attributes, Attributes form);
  // A function type found after the last name of a qualified name: the symbol's own type,
  // kept so that parseSymbol does not read it twice.
  struct Pending {
    size_t start;
    size_t end;
    size_t window;  // the reading window it was read in
    std::string modifiers;
    Function function;
  };
  std::optional<Pending> pending;

  Function parseFunctionNoReturn();
  Function parseFunctionType();
  void parseFunctionAttributes(Function& function);
  std::string parseParameter();
  std::string parseParameters(Function& function);
  [[nodiscard]] static std::string modifierText(std::string_view modifiers);
  std::string parseModifiers();

  // Values (demangle_current_values.cpp). `typeAt` is where the value's type begins in
  // `source`, or kNoType when it is not known (fields of struct literals).
  static constexpr size_t kNoType = SIZE_MAX;
  std::string parseValue(size_t typeAt, std::string_view typeText);
  std::string parseIntegerValue(bool negative, size_t typeAt, std::string_view typeText);
  std::string parseFloatValue(char kind);
  std::string parseStringValue(char width);
  std::string parseListValue(size_t typeAt, std::string_view typeText);
  [[nodiscard]] size_t resolveType(size_t at);
  size_t skipType(size_t at);

  // Reading. Once the parse has failed, peek says kEnd and nothing moves or is spent, so every
  // loop that waits for a letter stops and the steps on the way back out change nothing.
  static constexpr char kEnd = '\0';  // what peek says past the end; NUL never starts a rule
  [[nodiscard]] char peek(size_t ahead = 0) const {
    return pos + ahead < end && !failed ? source[pos + ahead] : kEnd;
  }
  [[nodiscard]] bool atEnd() const { return pos >= end; }
  void advance(size_t n = 1);
  void expect(char c);
  bool consume(char c) {
    if (peek() != c) {
      return false;
    }
    advance();
    return true;
  }
  uint64_t parseNumber();
  // At 'Q': the referenced position. On a failure 0, which the caller must not read.
  size_t parseBackReference();
  [[nodiscard]] bool startsSymbolName() const;
  [[nodiscard]] bool referencesFunction() const;
  std::string parseInlineSymbol();
  [[nodiscard]] static bool isDigit(char c) { return c >= '0' && c <= '9'; }
  static bool isCallConvention(char c) {
    return c == 'F' || c == 'U' || c == 'W' || c == 'V' || c == 'R' || c == 'Y';
  }

  // Costs and failure.
  void spend(size_t bytes);  // text made
  void append(std::string& to, std::string_view piece) {
    spend(piece.size());
    if (failed) {
      return;
    }
    if (piece.size() > budget.textLimit - to.size()) {
      fail();  // no text grows past the bound; `to` never holds more than textLimit
      return;
    }
    to += piece;
  }
  void fail() { failed = true; }

  // Opens one parse level for the life of the object; fails the parse past kMaxDepth.
  class Level {
   public:
    explicit Level(CurrentParser& parser);
    ~Level() { --budget.depth; }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;

   private:
    Budget& budget;
  };

  // Runs `step` with the reading position at `at`, then puts it back.
  template <typename Step>
  auto readAt(size_t at, Step step) {
    size_t saved = pos;
    pos = at;
    struct Restore {
      size_t& pos;
      size_t saved;
      ~Restore() { pos = saved; }
    } restore{pos, saved};
    return step();
  }

  // Reads what a back reference at `reference` refers to, at `target`. The referenced piece
  // was written in full before the reference, so reading stops at the reference: a piece can
  // never reach a reference to itself, and nested references shrink the window each time.
  template <typename Step>
  auto readReferenced(size_t target, size_t reference, Step step) {
    struct Restore {
      size_t& pos;
      size_t& end;
      size_t savedPos;
      size_t savedEnd;
      ~Restore() {
        pos = savedPos;
        end = savedEnd;
      }
    } restore{pos, end, pos, end};
    pos = target;
    end = reference;
    return step();
  }

  std::string_view source;
  size_t pos = 0;
  size_t end;  // reading stops here: the end of the name, or the reference being read
  Budget& budget;
  bool failed = false;
};

}  // namespace vorlith::currentd
