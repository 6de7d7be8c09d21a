// C++ names as linkers write them already demangled, filed by scope:
//   llvm::RISCVDAGToDAGISel::SelectCode(llvm::SDNode*)::MatcherTable
//                                    llvm, RISCVDAGToDAGISel, SelectCode, MatcherTable
//   void std::vector<int, std::allocator<int> >::push_back(int const&)   std, vector, push_back
//   vtable for llvm::Pass            llvm, Pass (vtable)
//   foo(int) [clone .isra.0]         foo [clone .isra.0]
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlith {

// Tells demangled C++ names from other text and cuts them into scopes. A text is taken as one
// when, after a trailing symbol version ("@@GLIBCXX_3.4"), clone suffixes (" [clone .isra.0]")
// and a leading special phrase ("vtable for ") are set aside, its brackets (), <>, [] and {}
// nest properly (operator names such as "operator<" and "operator()" are names, not brackets),
// the text outside all brackets is made of identifiers, "::", "~", "*", "&" and spaces only, and
// it has a scope ("a::b"), a parameter list ("f(int)"), template arguments ("f<int>") or a
// special phrase. File names, section names, versioned C names and prose never pass: a ".", "/",
// "@", "=" or a single ":" outside brackets, or an unmatched bracket, rejects the text.
//
// Keeps its working buffers between calls; one object per thread.
class CxxNameSplitter {
 public:
  // The scopes of `name`, outermost first, each without template arguments, parameter list
  // and qualifiers; the return type in front dropped. The leaf carries, in this order, the
  // special phrase in parentheses ("Pass (vtable)"), the clone suffixes and the symbol version.
  // Nothing when `name` is not a demangled C++ name. Time linear in the length of `name`; no
  // recursion, so nesting of any depth is safe.
  [[nodiscard]] std::optional<std::vector<std::string>> split(std::string_view name);

  // The same in pieces, without a copy: the scopes (views into `name`), the special phrase's
  // label ("vtable", or a view into `name`) and the clone suffixes and version as written. Valid
  // until the next call.
  struct Scopes {
    std::span<const std::string_view> scopes;  // at least one
    std::string_view label;
    std::string_view suffix;
  };
  [[nodiscard]] std::optional<Scopes> scopes(std::string_view name);

 private:
  enum class Mark : unsigned char { Scope, Space, Params, Angle, Square };
  struct Event {
    size_t at;  // offset of "::", the space, "(", "<" or "["
    Mark mark;
  };

  // Reads the brackets of `text`, recording what stands outside all of them in events_.
  // False when the text cannot be a C++ name.
  bool scan(std::string_view text);
  // Appends the scopes of an entity (a name without phrase, clones or version) to `out`.
  bool splitEntity(std::string_view entity, std::vector<std::string_view>& out);

  std::vector<char> open_;  // the brackets open at the byte being read
  std::vector<Event> events_;
  std::vector<std::string_view> scopes_;
};

}  // namespace vorlith
