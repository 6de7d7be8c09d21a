// Symbol names to path segments: the classifier and the splitter of length-prefixed names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorlith {

// Turns a symbol name into the segments it is filed under (outermost group first, the leaf's
// name last; never empty) and sets `dem` to the name to show beside it. Never fails.
[[nodiscard]] std::vector<std::string> parseDSymbol(std::string_view sym, std::string& dem);

// The segments of demangled text: its dot-separated qualified-name components, cleaned of
// types, parameter lists, calling conventions and template arguments. Returns false, leaving
// `segments` unspecified, when a component is a raw template instance ("__T3Bar...").
[[nodiscard]] bool splitDemangled(std::string_view dem, std::vector<std::string>& segments);

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
