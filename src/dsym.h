// Symbol names to path segments: the classifier and the splitter of length-prefixed names.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cxxnames.h"
#include "options.h"

namespace vorlith {

// Where a symbol is filed and what is shown beside it.
struct NameResult {
  std::vector<std::string>
      segments;  // the groups, outermost first, then the leaf's name; never empty
  // The name to show. Equal to the name classified, byte for byte, when there is nothing more to
  // show; it may differ even when nothing was demangled (an expanded compressed name).
  std::string shown;
};

// Files symbol names. With default settings it applies the classic rules; with `modern` it also
// decodes D names of the current ABI, files the C++ names that linkers write demangled by scope,
// C names without a leading underscore, relative object paths, and puts whatever no rule takes
// under "Other symbols". Keeps buffers between calls to spare allocations: one per thread.
class Classifier {
 public:
  explicit Classifier(const Settings& settings);

  // Never fails; the result is a value of its own.
  [[nodiscard]] NameResult classify(std::string_view name);

 private:
  bool modern_;
  std::vector<char> demangleBuffer_;  // the demangler's output, grown to the longest name
  std::deque<std::string> expanded_;  // expanded compressed names; a deque never moves them
  CxxNameSplitter cxx_;
};

// The segments of demangled text: its dot-separated qualified-name components, cleaned of
// types, parameter lists, calling conventions and template arguments. Nothing when a component
// is a raw template instance ("__T3Bar...").
[[nodiscard]] std::optional<std::vector<std::string>> splitDemangled(std::string_view dem);

// All length-prefixed pieces of `str` ("3app5Shape" gives app, Shape), each split further by
// rlSubSplit, then the unreadable rest unless it is exactly "Z". Views into `str`.
[[nodiscard]] std::vector<std::string_view> rlSplit(std::string_view str);

// rlSplit after skipping everything before the first digit; `str` alone when it has no digit.
[[nodiscard]] std::vector<std::string_view> rlSplitForce(std::string_view str);

// One piece: a template instance is opened ("__T3BoxTiZ" gives Box, TiZ); anything else is
// split at "/".
[[nodiscard]] std::vector<std::string_view> rlSubSplit(std::string_view s);

// True for a piece of at least 5 bytes that begins "__T" and a digit.
[[nodiscard]] bool isMangledTemplateInstance(std::string_view s);

}  // namespace vorlith
