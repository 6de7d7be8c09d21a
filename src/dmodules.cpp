// The D modules of a map: one pass over the sorted symbols, following which object file's
// contribution each symbol lies in, and collecting the modules that ModuleInfos name.
//
//   .text._Dmain  0x1298  0x42 app.o          contribution: the object is app.o
//                 0x1298        _Dmain         D main lies in app.o
//   .data.rel.ro  0x4060  0x90 app.o
//                 0x4060        _D3app12__ModuleInfoZ    app.o holds module app
#include "dmodules.h"

#include <algorithm>
#include <utility>

#include "demangle_current.h"
#include "zel/utils/text.h"

namespace vorlith {

namespace {

// The module a ModuleInfo names: "_D3pkg3app12__ModuleInfoZ" or, as ld.lld writes it,
// "ModuleInfo for pkg.app". Nothing for any other name. `names` and `out` name it.
std::optional<std::vector<std::string>> moduleOfModuleInfo(std::string_view name,
                                                           CurrentDNames& names,
                                                           NameBuilder& out) {
  constexpr std::string_view kPhrase = "ModuleInfo for ";
  if (name.starts_with(kPhrase)) {
    auto parts = dottedDIdentifiers(name.substr(kPhrase.size()));
    if (!parts) {
      return std::nullopt;
    }
    return std::vector<std::string>(parts->begin(), parts->end());
  }
  if (!name.ends_with("12__ModuleInfoZ")) {
    return std::nullopt;
  }
  out.start(name);
  if (!names.classify(name, out) || out.size() < 2 || !out.last().ends_with(" (ModuleInfo)")) {
    return std::nullopt;
  }
  std::vector<std::string> module;
  for (size_t k = 0; k + 1 < out.size(); ++k) {
    module.emplace_back(out.segment(k));
  }
  return module;
}

}  // namespace

bool isDMainName(std::string_view name) {
  return name == "_Dmain" || name == "__Dmain" || name == "D main";
}

std::string_view contributionObject(std::string_view name) {
  if (!name.ends_with(')')) {
    return {};
  }
  // Back from the end to the bracket that opens the section: a section name holds no space or
  // bracket, so a C++ parameter list ("f(int, long)") stops the scan within a few bytes, and a
  // long section name is passed sixteen bytes at a time.
  size_t open = zel::utils::text::findLastOfThree(name.substr(0, name.size() - 1), '(', ' ', ')');
  if (open == std::string_view::npos || name[open] != '(' || open < 2 || name[open - 1] != ' ' ||
      open + 2 == name.size() || name[open + 1] == '*') {
    return {};
  }
  return name.substr(0, open - 1);
}

DModules dModulesOf(const std::vector<Symbol>& symbols) {
  std::string_view object;      // the object of the last contribution
  std::string_view mainObject;  // where D main lies
  bool mainFound = false;
  std::vector<std::pair<std::string_view, std::vector<std::string>>> modules;
  CurrentDNames names;
  NameBuilder builder;
  for (const Symbol& symbol : symbols) {
    std::string_view name = symbol.name;
    if (name.starts_with(kEndMarker)) {
      continue;
    }
    std::string_view carrier = name;  // where a ModuleInfo's name may stand
    if (std::string_view of = contributionObject(name); !of.empty()) {
      object = of;
      // A section of its own: "app.o (.data.rel.ro._D3app12__ModuleInfoZ)". Relocation
      // sections are left out: GNU ld lists them under whichever object came first.
      size_t at = name.find("._D", of.size());
      bool relocations = name.substr(of.size() + 2).starts_with(".rela");
      carrier = at == std::string_view::npos || relocations
                    ? std::string_view()
                    : name.substr(at + 1, name.size() - at - 2);
    } else if (isDMainName(name)) {
      if (!mainFound) {
        mainFound = true;
        mainObject = object;
      }
      continue;
    }
    // Only the ends are looked at: most names of a C++ map are long and hold no ModuleInfo.
    if (object.empty() || !(carrier.ends_with("__ModuleInfoZ") || carrier.starts_with("ModuleInfo for "))) {
      continue;
    }
    if (auto module = moduleOfModuleInfo(carrier, names, builder)) {
      modules.emplace_back(object, std::move(*module));
    }
  }
  DModules result;
  result.packages.reserve(modules.size());
  for (const auto& [of, module] : modules) {
    (void)of;
    result.packages.push_back(module[0]);
  }
  // Sorted and without repeats, for a binary search per name: a map of many modules costs
  // n log n, not n squared.
  std::sort(result.packages.begin(), result.packages.end());
  result.packages.erase(std::unique(result.packages.begin(), result.packages.end()),
                        result.packages.end());
  if (!mainFound || mainObject.empty()) {
    return result;
  }
  for (auto& [of, module] : modules) {
    if (of != mainObject) {
      continue;
    }
    if (result.mainModule && *result.mainModule != module) {
      result.mainModule.reset();  // more than one module in that object: no telling which
      break;
    }
    result.mainModule = std::move(module);
  }
  return result;
}

bool isDottedDIdentifiers(std::string_view name) {
  for (size_t begin = 0;;) {
    size_t dot = name.find('.', begin);
    std::string_view part = name.substr(begin, dot == std::string_view::npos ? dot : dot - begin);
    if (part.empty() || (part[0] >= '0' && part[0] <= '9') ||
        !std::all_of(part.begin(), part.end(), [](char c) {
          return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '_' || static_cast<unsigned char>(c) >= 0x80;
        })) {
      return false;
    }
    if (dot == std::string_view::npos) {
      return true;
    }
    begin = dot + 1;
  }
}

std::optional<std::vector<std::string_view>> dottedDIdentifiers(std::string_view name) {
  if (!isDottedDIdentifiers(name)) {
    return std::nullopt;
  }
  std::vector<std::string_view> parts;
  for (size_t begin = 0;;) {
    size_t dot = name.find('.', begin);
    parts.push_back(name.substr(begin, dot == std::string_view::npos ? dot : dot - begin));
    if (dot == std::string_view::npos) {
      return parts;
    }
    begin = dot + 1;
  }
}

std::optional<std::vector<std::string>> demangledDVariable(
    std::string_view name, const std::vector<std::string>& packages) {
  auto parts = dottedDIdentifiers(name);
  if (!parts || parts->size() < 2 ||
      !std::binary_search(packages.begin(), packages.end(), (*parts)[0])) {
    return std::nullopt;
  }
  return std::vector<std::string>(parts->begin(), parts->end());
}

}  // namespace vorlith
