// Symbol names to path segments: the classifier and the splitter of length-prefixed names.
#pragma once

#include <deque>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "cxxnames.h"
#include "demangle_current.h"
#include "name_result.h"
#include "options.h"

namespace vorlith {

// Files symbol names. With default settings it applies the classic rules; with `modern` it also
// decodes D names of the current ABI, files the C++ names that linkers write demangled by scope,
// C names without a leading underscore, relative object paths, and puts whatever no rule takes
// under "Other symbols". Keeps buffers between calls to spare allocations: one per thread.
class Classifier {
 public:
  explicit Classifier(const Settings& settings);

  // Names `name` into `out`, which it starts afresh. Never fails but for want of memory.
  void classify(std::string_view name, NameBuilder& out);
  // The same into the classifier's own builder: valid until the next call.
  [[nodiscard]] NameResult classify(std::string_view name);

 private:
  // A part of a name that begins with a prefix before ": ", which is a group of its own.
  struct Prefix {
    std::string_view prefix;
    std::string_view after;
  };
  // Names one part of a name (the name, or what follows its ": " prefixes) into `out`, or
  // returns its prefix and adds nothing.
  std::optional<Prefix> classifyPart(std::string_view part, NameBuilder& out);

  bool modern_;
  std::vector<char> demangleBuffer_;  // the demangler's output, grown to the longest name
  std::deque<std::string> expanded_;  // expanded compressed names; a deque never moves them
  CxxNameSplitter cxx_;
  CurrentDNames currentD_;  // D names of the current ABI (with `modern`)
  // Scratch that the rules reuse from name to name.
  std::vector<std::string_view> parts_;
  std::vector<std::string_view> moreParts_;
  std::vector<std::string_view> levels_;
  std::string text_;
  std::vector<std::pair<size_t, size_t>> spans_;
  std::string prefixText_;
  NameBuilder own_;
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
