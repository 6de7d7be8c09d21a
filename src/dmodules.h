// What a whole map tells about its D modules, for the names that do not tell it themselves: the
// program's D main function ("_Dmain" holds no module: the map is asked which object file defines
// it and which module that object holds), and the variables that ld.lld writes demangled
// without their type ("app.calls" for _D3app5callsi), told from other dotted names
// ("gdc.dso_slot") by their first component, a package of the program's modules.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mapfile.h"

namespace vorlith {

// Whether `name` is D identifiers joined by dots ("pkg.app"), as dottedDIdentifiers takes it.
[[nodiscard]] bool isDottedDIdentifiers(std::string_view name);
// The components of "app.Shape" when each is a D identifier (letters, digits, "_", bytes from
// 0x80 up, not starting with a digit); nothing otherwise. Views into `name`.
[[nodiscard]] std::optional<std::vector<std::string_view>> dottedDIdentifiers(
    std::string_view name);

// "_Dmain" as compilers write it, or "D main" as ld.lld writes it demangled.
[[nodiscard]] bool isDMainName(std::string_view name);

// The object file of an input-section contribution ("app.o" of "app.o (.text._Dmain)",
// "lib.a(m.o)" of "lib.a(m.o) (.data)"), or an empty view when `name` is none.
[[nodiscard]] std::string_view contributionObject(std::string_view name);

// What the map tells; see dModulesOf.
struct DModules {
  // The groups of the module whose object file defines D main ({"app"}, {"pkg", "app"}).
  std::optional<std::vector<std::string>> mainModule;
  // The first components of the modules whose ModuleInfo the map lists ("app", "std"), sorted,
  // each once.
  std::vector<std::string> packages;
};

// The groups of the module whose object file defines D main ({"app"}, {"pkg", "app"}): the
// module whose ModuleInfo that object holds, found from the symbols and input sections listed
// under the object's contributions. Nothing when the map does not tell: no D main, no
// contribution before it, or an object with no module or more than one. `symbols` sorted as the
// map reader leaves them, contributions included (before the symbols of no size are dropped).
[[nodiscard]] DModules dModulesOf(const std::vector<Symbol>& symbols);

// The groups of a D qualified name that ld.lld wrote demangled without its type ("app.calls"
// gives app, calls), when its first component is one of `packages` (sorted); nothing otherwise.
[[nodiscard]] std::optional<std::vector<std::string>> demangledDVariable(
    std::string_view name, const std::vector<std::string>& packages);

}  // namespace vorlith
