// D names as today's compilers mangle them (back references, current attributes, template
// instances without a length prefix): demangled into text as D source reads, and filed.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "name_result.h"

namespace vorlith {

// The program's D main function ("_Dmain"), as it is shown, and the group it is filed under when
// nothing tells the module that defines it.
inline constexpr std::string_view kDMain = "D main";
inline constexpr std::string_view kDMainGroup = "Other symbols";

// Demangles a complete D name of the current ABI ("_D" ..., also with one extra leading "_" as
// Mach-O and 32-bit Windows write them) into text as D source reads. nullopt when it is not one.
// Never throws a parse failure; linear time and output in the name's length.
[[nodiscard]] std::optional<std::string> demangleCurrent(std::string_view name);

namespace currentd {
struct Workspace;
}

// Files D symbols as the modern rules say: the demangled text's qualified-name components
// (template arguments and parameter lists left out, so every instance of a template lands in one
// group named after the template), plus the special rows: TypeInfo, this-adjusting thunks, _Dmain,
// clone suffixes. Keeps the buffers it demangles into from name to name, so that a name costs
// no allocation once they have grown: one per thread.
class CurrentDNames {
 public:
  CurrentDNames();
  ~CurrentDNames();
  CurrentDNames(const CurrentDNames&) = delete;
  CurrentDNames& operator=(const CurrentDNames&) = delete;

  // Adds the groups and the leaf to `out` after the segments it holds, and shows the demangled
  // name ("void pkg.mod.Bar.baz() const"). False, with `out` as it was, when the name is not a
  // D name it decodes (the caller then falls back to the classic rules).
  [[nodiscard]] bool classify(std::string_view name, NameBuilder& out);

 private:
  std::unique_ptr<currentd::Workspace> work_;
};

// One name filed as text of its own (tests, tools).
[[nodiscard]] std::optional<NameText> classifyCurrentD(std::string_view name);

}  // namespace vorlith
