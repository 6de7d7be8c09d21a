// The parser of current-ABI D names, shared by demangle_current*.cpp and their tests.
//
// One `CurrentParser` reads one mangled name (without its "_D") and writes its text into a
// `Workspace` that the thread keeps from name to name: each piece is appended where the piece
// around it goes on, so most text is written once, in place, and none is allocated once the
// buffers have grown. A back reference is read again where it points, so the cost of a name is
// bounded by a shared `Budget` rather than by its length; the budget counts the bytes of text as
// if each piece were copied into the piece around it, whether or not it moves.
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

// A stretch of the workspace's text: bytes [offset, offset + length).
struct Span {
  size_t offset = 0;
  size_t length = 0;
};

// One component of a qualified name: `name` is the identifier (a template's own name for an
// instance), a piece of the mangled name or a constant; `text` for an instance the same with its
// arguments ("twice!(int)") in the workspace's text, nothing for a plain name.
struct Component {
  std::string_view name;
  Span text;
  bool instance = false;
};

// Components [first, first + count) of the workspace's stack of components.
struct Path {
  size_t first = 0;
  size_t count = 0;
};

// What the parsers of one thread write into, kept from name to name so that a name costs no
// allocation once the buffers have grown to the names seen. Every step appends its text at the
// end of `text` and changes nothing before the point where it began, so a caller keeps offsets
// into it (never views: the text moves as it grows). Paths are pushed on `components` and taken
// off again by whoever asked for them.
struct Workspace {
  std::string text;
  std::vector<Component> components;
  std::string bytes;  // a string value's bytes, before they are written as D writes them

  void clear() {
    text.clear();
    components.clear();
  }
  // Gives back what a name far beyond real ones grew (real names make a few KiB of text), so
  // that the buffers do not keep it for the rest of the run.
  void trim() {
    constexpr size_t kKeptBytes = size_t{1} << 20;
    if (text.capacity() > kKeptBytes) {
      std::string().swap(text);
    }
    if (components.capacity() * sizeof(Component) > kKeptBytes) {
      std::vector<Component>().swap(components);
    }
    if (bytes.capacity() > kKeptBytes) {
      std::string().swap(bytes);
    }
  }
  [[nodiscard]] std::string_view view(Span span) const {
    return std::string_view(text).substr(span.offset, span.length);
  }
  [[nodiscard]] const Component& at(Path path, size_t k) const {
    return components[path.first + k];
  }
};

// A decoded symbol: its qualified name's components and its whole rendering.
struct DecodedSymbol {
  Path path;
  Span text;
};

// Appends the leaf a symbol with this path is filed under: the last name, or the text from the
// innermost template instance on, an eponymous member folded into its instance ("twice!(int)").
void appendLeafName(Workspace& work, Path path);

// The modifiers of a type or of `this`, as flags; written as words ("shared const").
struct Modifiers {
  enum : unsigned { kImmutable = 1, kShared = 2, kInout = 4, kConst = 8 };
  unsigned flags = 0;
  [[nodiscard]] bool empty() const { return flags == 0; }
  [[nodiscard]] size_t words() const;  // how many
  [[nodiscard]] size_t size() const;   // of the words, space-separated
  // "shared const"
  void appendWords(std::string& to) const;
  // "shared(const(", with as many closing parentheses to come as there are words
  void appendOpening(std::string& to) const;
};

class CurrentParser {
 public:
  CurrentParser(std::string_view source, Budget& budget, Workspace& work)
      : source(source), end(source.size()), budget(budget), work(work) {}

  // MangledName without its "_D": QualifiedName, then Z (internal symbol) or the type. On a
  // failure `failed` is set and the result is to be ignored; so for every parse step.
  DecodedSymbol parseSymbol();
  // A type spanning all of `source` ("Ai" in TypeInfo_Ai). `path` receives the components of
  // the aggregate the type names, if any (arrays, pointers and modifiers looked through).
  Span parseWholeType(Path* path);

  // Grammar. Each step appends its text to the workspace's and returns where it lies.
  // `fold` drops an eponymous member after its instance, as D writes types and aliases
  // ("Box!(int)", not "Box!(int).Box"); a symbol's own name keeps it.
  enum class Fold { No, Yes };
  // `onePlain`, when given, is set to whether the name was a single component that is no
  // template instance (only the members of module object are mangled so). `keepPending` keeps
  // a function type found after the last name (see Pending), its parameters' text after the
  // name's.
  Span parseQualifiedName(Path* path, Fold fold = Fold::Yes, bool* onePlain = nullptr,
                          bool keepPending = false);
  Component parseSymbolName();
  std::string_view parseLName();
  Component parseTemplateInstance(size_t end);
  Span parseTemplateArgument();
  Span parseType();
  Span parseTypeX();
  Span parseTypeFunctionPointer(std::string_view kind, Modifiers modifiers);

  struct Function {
    std::string_view convention;  // "extern (C) " and the like
    unsigned attributes = 0;      // the attributes read, as flags; written by appendAttributes
    Span parameters;              // "(int, ref long)"
    Span result;                  // the return type
  };
  // Where a function's attributes are written, and how: before the return type ("pure "),
  // after the parameters (" return scope", a symbol's), or all after the parameters
  // (" pure return", as function and delegate types write them).
  enum class Attributes { Prefix, Suffix, Postfix };
  [[nodiscard]] static size_t attributesSize(unsigned attributes, Attributes form);
  // Appends the words to the text that begins at `start` and ends the workspace's.
  void appendAttributes(size_t start, unsigned attributes, Attributes form);
  // A function type found after the last name of a qualified name: the symbol's own type,
  // kept so that parseSymbol does not read it twice.
  struct Pending {
    size_t start;
    size_t end;
    size_t window;  // the reading window it was read in
    Modifiers modifiers;
    Function function;
  };
  std::optional<Pending> pending;

  Function parseFunctionNoReturn();
  Function parseFunctionType();
  void parseFunctionAttributes(Function& function);
  Span parseParameter();
  Span parseParameters();
  Modifiers parseModifiers();

  // Values (demangle_current_values.cpp). `typeAt` is where the value's type begins in
  // `source`, or kNoType when it is not known (fields of struct literals); `typeText` its text.
  static constexpr size_t kNoType = SIZE_MAX;
  Span parseValue(size_t typeAt, Span typeText);
  Span parseIntegerValue(bool negative, size_t typeAt, Span typeText);
  Span parseFloatValue(char kind);
  Span parseStringValue(char width);
  Span parseListValue(size_t typeAt, Span typeText);
  [[nodiscard]] size_t resolveType(size_t at);
  // The letter that begins the type at `typeAt` past its modifiers and back references; kEnd
  // when it is not known or cannot be read.
  [[nodiscard]] char typeKind(size_t typeAt);
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
  Span parseInlineSymbol();
  [[nodiscard]] static bool isDigit(char c) { return c >= '0' && c <= '9'; }
  static bool isCallConvention(char c) {
    return c == 'F' || c == 'U' || c == 'W' || c == 'V' || c == 'R' || c == 'Y';
  }

  // The text. Every step writes at the end of the workspace's text: `mark` is where the next
  // byte goes, `since` the text from a mark on, `cut` drops what follows a mark.
  [[nodiscard]] size_t mark() const { return work.text.size(); }
  [[nodiscard]] Span since(size_t start) const { return {start, work.text.size() - start}; }
  void cut(size_t at) { work.text.resize(at); }
  // Drops the text [from, to), moving what follows down; for scratch a step made before its
  // own text.
  void drop(size_t from, size_t to) { work.text.erase(from, to - from); }

  // Costs and failure.
  void spend(size_t bytes);  // text made
  // Pays for `length` bytes joined to a text that holds `held` bytes, as the grammar joins its
  // pieces: the bytes are text made, and no one text grows past the bound. False once failed.
  bool charge(size_t held, size_t length) {
    spend(length);
    if (failed) {
      return false;
    }
    if (length > budget.textLimit - held) {
      fail();  // no text is taken past the bound
      return false;
    }
    return true;
  }
  // Appends `piece` to the text that begins at `start` and ends the workspace's, paid for.
  void append(size_t start, std::string_view piece) {
    if (charge(work.text.size() - start, piece.size())) {
      work.text += piece;
    }
  }
  // The same with text that lies in the workspace already: copied by offset, as the text may
  // move while it grows.
  void appendOwn(size_t start, Span piece) {
    if (charge(work.text.size() - start, piece.length)) {
      work.text.append(work.text, piece.offset, piece.length);
    }
  }
  // Pays for the piece just written at `at` by a step, joined to the text from `start` on.
  bool chargeJoined(size_t start, size_t at) { return charge(at - start, work.text.size() - at); }
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
  Workspace& work;
  bool failed = false;
};

}  // namespace vorlith::currentd
