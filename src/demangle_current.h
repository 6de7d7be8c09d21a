// D names as today's compilers mangle them (back references, current attributes, template
// instances without a length prefix): demangled into text as D source reads, and filed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlith {

// The program's D main function ("_Dmain"), as it is shown, and the group it is filed under when
// nothing tells the module that defines it.
inline constexpr std::string_view kDMain = "D main";
inline constexpr std::string_view kDMainGroup = "Other symbols";

// A D symbol of the current ABI: where it is filed and the name shown beside it.
struct CurrentDSymbol {
  std::vector<std::string>
      segments;       // the groups, outermost first, then the leaf's name; never empty
  std::string shown;  // the demangled name to show ("void pkg.mod.Bar.baz() const")
};

// Demangles a complete D name of the current ABI ("_D" ..., also with one extra leading "_" as
// Mach-O and 32-bit Windows write them) into text as D source reads. nullopt when it is not one.
// Never throws a parse failure; linear time and output in the name's length.
[[nodiscard]] std::optional<std::string> demangleCurrent(std::string_view name);

// Files a D symbol as the modern rules say: the demangled text's qualified-name components
// (template arguments and parameter lists left out, so every instance of a template lands in one
// group named after the template), plus the special rows: TypeInfo, this-adjusting thunks, _Dmain,
// clone suffixes. nullopt when the name is not a D name it decodes (the caller then falls back to
// the classic rules).
[[nodiscard]] std::optional<CurrentDSymbol> classifyCurrentD(std::string_view name);

}  // namespace vorlith
