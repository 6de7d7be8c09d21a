// The parser value of the D demangler, shared by demangle.cpp, demangle_values.cpp and the tests.
//
// One `Demangle` reads one mangled name such as "_D3app3runFAAyaZv" with one byte of look-ahead
// and writes its rendering into one output buffer. Pieces of that text are `Span`s (offsets, not
// pointers): the buffer is replaced when it grows, and text is rotated inside it, so only offsets
// keep meaning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vorlith::demangler {

// A piece of the output buffer, by offset and length.
struct Span {
  size_t offset = 0;
  size_t length = 0;

  [[nodiscard]] size_t end() const { return offset + length; }
  [[nodiscard]] bool empty() const { return length == 0; }
};

// Why a parse stopped. A failure is a status that every step returns through, not an exception:
// a map can hold tens of thousands of names this demangler cannot read (gdc's back references
// inside template instances), and unwinding each cost a quarter of a run's instructions.
enum class Failure : uint8_t {
  None,
  // The bytes do not follow the grammar. Recovered by the template-instance attempt (the
  // instance is then read as its raw identifier) and by the top-level loop (the input unchanged).
  Parse,
  // A write that does not fit the buffer. Recovered only by the top-level loop, which restarts
  // the whole parse in a buffer twice the size.
  Overflow,
  // A bound on nesting, reading or moving text was reached. Recovered only by the top-level
  // loop: falling back to a template instance's raw identifier would read the same text again
  // and defeat the bound.
  Limit,
};

enum class AddType { No, Yes };
enum class IsDelegate { No, Yes };

// At most this many parseType, parseValue and template-instance levels are open at once. Each
// level costs a few stack frames; this keeps the deepest parse well inside a default 8 MB stack,
// sanitizers included.
inline constexpr size_t kMaxNesting = 1000;
// Per attempt, readPos may advance by at most kWorkPerByte * (length of the name) + kWorkSlack
// bytes. Real names read each byte about 4 times; nested look-aheads can read exponentially often.
inline constexpr size_t kWorkPerByte = 32;
inline constexpr size_t kWorkSlack = 1024;
// Bytes that rotations may move per byte of that allowance. Nested function types rotate their
// text once per enclosing level, so moving can cost 1000 x the rendering (a 100 KB name nesting
// them 990 deep moved 600 MB). 7375 names from real maps moved at most 0.09 per byte.
inline constexpr size_t kMovesPerWork = 64;
inline constexpr size_t kInitialCapacity = 4000;
// Scratch for the C hexadecimal literal of a real value and for its formatted text.
inline constexpr size_t kRealScratch = 64;

class Demangle {
 public:
  // `lentBuffer`, when given, is written in place of a buffer of our own and may grow.
  explicit Demangle(std::string_view source, AddType withType = AddType::Yes,
                    std::vector<char>* lentBuffer = nullptr);
  Demangle(const Demangle&) = delete;
  Demangle& operator=(const Demangle&) = delete;

  // The restart loop around parseMangledName. Returns the rendering, or a copy of the source when
  // it cannot be decoded; either way a view into the output buffer. Throws nothing but
  // std::bad_alloc.
  [[nodiscard]] std::string_view demangleName();

  // Grammar (demangle.cpp).
  void parseMangledName();
  Span parseQualifiedName();
  void parseSymbolName();
  void parseLName();
  [[nodiscard]] bool mayBeTemplateInstanceName();
  void parseTemplateInstanceName();
  void parseTemplateArgs();
  Span parseType(Span name = {});
  Span parseTypeFunction(Span name, IsDelegate isDelegate);
  void parseCallConvention();
  void parseFuncAttr();
  void parseFuncArguments();

  // Template values (demangle_values.cpp). `type` is the first letter of the value's type, or 0
  // for values nested in arrays and literals.
  void parseValue(Span name, char type);
  void parseValueList(std::string_view open, std::string_view close, bool pairs);
  void parseIntegerValue(Span name, char type);
  void parseReal();

  // Reading. Once the parse has failed, tok says kEnd and nothing moves, so every loop that waits
  // for a letter stops and the steps on the way back out change nothing.
  static constexpr char kEnd = '\xFF';  // what tok says at the end; no grammar letter
  [[nodiscard]] char tok() const {
    return readPos < source.size() && failure == Failure::None ? source[readPos] : kEnd;
  }
  void next() {
    if (readPos >= source.size()) {
      error();
      return;
    }
    advance(1);
  }
  void test(char c) {
    if (tok() != c)
      error();
  }
  void match(char c) {
    test(c);
    next();
  }
  void match(std::string_view text) {
    for (char c : text)
      match(c);
  }
  void eat(char c) {
    if (tok() == c)
      next();
  }
  std::string_view sliceNumber();
  [[nodiscard]] uint32_t decodeNumber(std::string_view digits);
  uint32_t decodeNumber() { return decodeNumber(sliceNumber()); }

  // Character classes; bytes from 0x80 up count as letters so that UTF-8 names pass.
  static bool isAlpha(char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u >= 0x80;
  }
  static bool isDigit(char c) { return c >= '0' && c <= '9'; }
  static bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  }
  [[nodiscard]] uint8_t ascii2hex(char c);
  static bool isCallConvention(char c) {
    return c == 'F' || c == 'U' || c == 'W' || c == 'V' || c == 'R';
  }

  // Writing. Each returns the span of the text at its new place; after a failure each writes
  // nothing.
  Span append(std::string_view text);
  Span append(Span text);
  Span put(std::string_view text) { return append(text); }
  Span put(Span text);
  Span shift(Span text);
  void pad(Span text);
  void putAsHex(uint32_t value, size_t width);
  [[nodiscard]] static bool contains(Span outer, Span inner) {
    return !outer.empty() && !inner.empty() && inner.offset >= outer.offset &&
           inner.end() <= outer.end();
  }
  // Runs `step` and drops what it wrote; its bytes stay just behind the written text.
  template <typename Step>
  auto silent(Step step) {
    size_t saved = written;
    auto result = step();
    written = saved;
    return result;
  }

  // Failing. Each records the failure unless one is recorded already (the first one stands); the
  // caller then returns, and so does every step up to the one that recovers. The message names
  // the reason at the failing site; it is not kept.
  void error(std::string_view message = "Invalid symbol");
  void overflow(std::string_view message = "Buffer overflow");
  [[nodiscard]] bool failed() const { return failure != Failure::None; }
  [[nodiscard]] Failure failureKind() const { return failure; }

  [[nodiscard]] std::string_view text(Span span) const {
    return {target->data() + span.offset, span.length};
  }
  [[nodiscard]] std::string_view writtenText() const { return text({0, written}); }
  [[nodiscard]] size_t capacity() const { return target->size(); }
  [[nodiscard]] size_t workDone() const { return work; }
  [[nodiscard]] size_t workBound() const { return workLimit; }

  std::string_view source;
  std::vector<char>* target;  // the lent buffer or ownBuffer; its size is the capacity
  size_t readPos = 0;
  size_t written = 0;
  AddType withType;

 private:
  // Nesting levels are opened and closed by hand. A step that fails returns without closing its
  // level; the template-instance attempt and the top-level loop set `nesting` back. False when
  // no level may be opened (the parse has failed, or is as deep as it may go).
  [[nodiscard]] bool openLevel() {
    if (failed())
      return false;
    if (nesting >= kMaxNesting) {
      limit();
      return false;
    }
    ++nesting;
    return true;
  }
  void closeLevel() { --nesting; }
  Span parseTypeLevel(Span name);
  void parseValueLevel(Span name, char type);

  void advance(size_t n);
  void limit();
  void fail(Failure why) {
    if (failure == Failure::None)
      failure = why;
  }
  void reset();

  std::vector<char> ownBuffer;
  size_t nesting = 0;  // open parseType, parseValue and template-instance levels
  size_t work = 0;     // bytes readPos advanced in this attempt
  size_t workLimit;
  size_t moved = 0;  // bytes rotated by shift in this attempt
  Failure failure = Failure::None;
};

// True when `name` is "_D" or "D" followed by a digit, the only names that can parse.
[[nodiscard]] bool startsLikeDName(std::string_view name);

}  // namespace vorlith::demangler
