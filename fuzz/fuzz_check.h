// Invariant checks shared by the fuzz targets. A failed check prints what broke and aborts, which
// libFuzzer reports as a crash with the input saved; the replay runner stops the same way.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../tests/support/tree_check.h"
#include "../tests/support/utf8_reference.h"
#include "vorlith.h"
#include "zel/utils/text.h"

namespace fuzzcheck {

[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "invariant broken: %s", what);
  if (!detail.empty()) {
    // Enough of the offending text to recognise it; the saved input has the rest.
    std::string_view shown = detail.substr(0, 200);
    std::fprintf(stderr, " [%.*s%s]", static_cast<int>(shown.size()), shown.data(),
                 detail.size() > shown.size() ? "..." : "");
  }
  std::fputc('\n', stderr);
  std::abort();
}

inline void check(bool ok, const char* what, std::string_view detail = {}) {
  if (!ok) {
    fail(what, detail);
  }
}

// Independent of zel::utils::text.
using ::referenceValidUTF8;

// The tree's invariants, as the tests check them.
inline void checkTree(const vorlith::TreeNode& root) {
  std::string fault = treeFault(root);
  check(fault.empty(), "the size tree", fault);
}

// Reads one treemap document (the output of toJson on a TreeNode) by its grammar:
//   node := {"total":N,"children":{(S:node),*},"leaves":{(S:leaf),*}}
//   leaf := {"size":N,"address":N,"mangledName":S,"demangledName":S
//            [,"section":S,"kind":S[,"object":S]]}
// with strict JSON strings and numbers, and checks every node's total on the way. Groups nest
// as deep as a name has segments, so the reader keeps its own stack.
class DocumentChecker {
 public:
  explicit DocumentChecker(std::string_view text) : text_(text) {}

  void run() {
    check(referenceValidUTF8(text_), "document is not UTF-8");
    check(!text_.empty() && text_[0] == '{', "document does not start with '{'");
    uint64_t total = readNode();
    (void)total;
    check(pos_ == text_.size(), "text after the document");
  }

 private:
  struct Level {
    uint64_t total;
    uint64_t sum;
    bool firstChild;
  };

  // node: the groups are read in a loop that descends into each child instead of recursing.
  uint64_t readNode() {
    std::vector<Level> levels;
    uint64_t result = 0;
    bool descending = true;
    for (;;) {
      if (descending) {
        expect("{\"total\":");
        uint64_t total = readNumber();
        expect(",\"children\":{");
        levels.push_back({total, 0, true});
      } else {
        levels.back().sum += result;
      }
      Level& level = levels.back();
      if (peek() != '}') {
        if (!level.firstChild) {
          expect(",");
        }
        level.firstChild = false;
        readString();
        expect(":");
        descending = true;
        continue;
      }
      expect("},\"leaves\":{");
      bool first = true;
      while (peek() != '}') {
        if (!first) {
          expect(",");
        }
        first = false;
        readString();
        expect(":");
        level.sum += readLeaf();
      }
      expect("}}");
      check(level.sum == level.total, "a group's total is not the sum below it");
      result = level.total;
      levels.pop_back();
      if (levels.empty()) {
        return result;
      }
      descending = false;
    }
  }

  uint64_t readLeaf() {
    expect("{\"size\":");
    uint64_t size = readNumber();
    expect(",\"address\":");
    readNumber();
    expect(",\"mangledName\":");
    readString();
    expect(",\"demangledName\":");
    readString();
    // A program laid out by its sections adds its section and kind, and maybe its object.
    if (peek() == ',') {
      expect(",\"section\":");
      readString();
      expect(",\"kind\":");
      readString();
      if (peek() == ',') {
        expect(",\"object\":");
        readString();
      }
    }
    expect("}");
    return size;
  }

  char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }

  void expect(std::string_view token) {
    check(text_.substr(pos_, token.size()) == token, "document breaks its grammar",
          text_.substr(pos_));
    pos_ += token.size();
  }

  // A JSON number as the writer makes them: decimal digits, no leading zero, within 64 bits.
  uint64_t readNumber() {
    size_t begin = pos_;
    uint64_t value = 0;
    while (peek() >= '0' && peek() <= '9') {
      auto digit = static_cast<uint64_t>(peek() - '0');
      check(value <= (UINT64_MAX - digit) / 10, "number beyond 64 bits", text_.substr(begin));
      value = value * 10 + digit;
      ++pos_;
    }
    check(pos_ > begin, "number expected", text_.substr(begin));
    check(pos_ - begin == 1 || text_[begin] != '0', "number with a leading zero",
          text_.substr(begin));
    return value;
  }

  // A strict JSON string: no raw control characters, only the escapes JSON defines.
  void readString() {
    expect("\"");
    for (;;) {
      check(pos_ < text_.size(), "unterminated string");
      auto c = static_cast<unsigned char>(text_[pos_++]);
      if (c == '"') {
        return;
      }
      check(c >= 0x20, "raw control character in a string", text_.substr(pos_ - 1));
      if (c != '\\') {
        continue;
      }
      check(pos_ < text_.size(), "unterminated escape");
      char e = text_[pos_++];
      if (e == 'u') {
        for (int k = 0; k < 4; ++k) {
          char h = peek();
          bool hex = (h >= '0' && h <= '9') || (h >= 'a' && h <= 'f') || (h >= 'A' && h <= 'F');
          check(hex, "bad \\u escape", text_.substr(pos_));
          ++pos_;
        }
      } else {
        check(std::string_view("\"\\/bfnrt").find(e) != std::string_view::npos, "unknown escape",
              text_.substr(pos_ - 2));
      }
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
};

inline void checkDocument(std::string_view json) {
  DocumentChecker(json).run();
}

}  // namespace fuzzcheck
