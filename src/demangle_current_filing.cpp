// Filing of current-ABI D names: the groups and the leaf a symbol goes under, and the rows
// with rules of their own.
//
//   _D3pkg3mod__T5twiceTiZQjFNaNbNiNfiZi        pkg > mod > twice > "twice!(int)"
//   _D4shop5stock__T5StockTiVii8ZQn3putMFiKiZv  shop > stock > Stock > Stock > "Stock!(int, 8).put"
//   _D11TypeInfo_Ai6__initZ                     TypeInfo > "int[]", shown typeid(int[])
//   _DThn16_3app1C4areaMxFZd                    app > C > "area (thunk)", shown thunk for ...
//   _D3app3runFZv.isra.0                        app > "run.isra.0", shown ... [clone .isra.0]
//
// One group per qualified-name component, named by the identifier (a template instance by its
// template's name), so all instances of a template share a group. The leaf keeps the instance
// visible: it is the text from the innermost template instance to the end, with an eponymous
// member folded into its instance as D refers to it (`twice!(int)`,
// `Stock!(pkg.mod.Item, 3).put`), or the last identifier when no instance is in the path.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "demangle_current.h"
#include "demangle_current_internal.h"
#include "naming_budget.h"

namespace vorlith {
namespace currentd {

std::string leafName(const std::vector<Component>& path) {
  size_t innermost = path.size();
  for (size_t k = path.size(); k-- > 0;) {
    if (path[k].instance) {
      innermost = k;
      break;
    }
  }
  if (innermost == path.size()) {
    return path.back().name;
  }
  std::string leaf = path[innermost].text;
  for (size_t k = innermost + 1; k < path.size(); ++k) {
    if (k == innermost + 1 && path[k].name == path[innermost].name) {
      continue;  // the eponymous member: D calls it by the instance's name
    }
    leaf += '.';
    leaf += path[k].text;
  }
  return leaf;
}

}  // namespace currentd

namespace {

using currentd::Budget;
using currentd::Component;
using currentd::CurrentParseError;
using currentd::CurrentParser;
using currentd::DecodedSymbol;
using currentd::leafName;

bool isIdentifierByteAscii(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

std::vector<std::string> groupsOf(const std::vector<Component>& path) {
  std::vector<std::string> names;
  names.reserve(path.size());
  for (const Component& component : path) {
    names.push_back(component.name);
  }
  return names;
}

// "_D12TypeInfo_Ai6__initZ": the type behind a TypeInfo's name, or nullopt when the name is an
// ordinary symbol (TypeInfo_Struct is a class of the runtime, not a TypeInfo of a type).
std::optional<CurrentDSymbol> typeInfoOf(const DecodedSymbol& symbol, Budget& budget) {
  constexpr std::string_view kPrefix = "TypeInfo_";
  if (symbol.path.size() != 2 || symbol.path[0].instance || symbol.path[1].name != "__init" ||
      !symbol.path[0].name.starts_with(kPrefix)) {
    return std::nullopt;
  }
  std::string_view mangledType = symbol.path[0].name;
  mangledType.remove_prefix(kPrefix.size());
  std::vector<Component> named;
  std::string type;
  try {
    CurrentParser parser(mangledType, budget);
    type = parser.parseWholeType(&named);
  } catch (const CurrentParseError&) {
    return std::nullopt;
  }
  CurrentDSymbol result;
  result.segments = groupsOf(named);
  result.segments.push_back("TypeInfo");
  result.segments.push_back(type);
  result.shown = "typeid(" + type + ")";
  return result;
}

// A name of the current ABI without thunk or clone suffix.
std::optional<CurrentDSymbol> classifyPlain(std::string_view name, Budget& budget) {
  if (name.size() < 3 || name[0] != '_' || name[1] != 'D') {
    return std::nullopt;
  }
  DecodedSymbol symbol;
  try {
    CurrentParser parser(name.substr(2), budget);
    symbol = parser.parseSymbol();
  } catch (const CurrentParseError&) {
    return std::nullopt;
  }
  if (auto typeInfo = typeInfoOf(symbol, budget)) {
    return typeInfo;
  }
  CurrentDSymbol result;
  result.segments = groupsOf(symbol.path);
  result.segments.back() = leafName(symbol.path);
  result.shown = std::move(symbol.text);
  return result;
}

// "_DThn16_3app1C3fooMFZv": a this-adjusting thunk; the rest is the target without its "_D".
std::optional<CurrentDSymbol> classifyThunk(std::string_view name, Budget& budget) {
  size_t at = 3;  // after "_DT"
  while (at < name.size() && name[at] >= 'a' && name[at] <= 'z') {
    ++at;
  }
  size_t digits = at;
  while (at < name.size() && CurrentParser::isDigit(name[at])) {
    ++at;
  }
  if (at == digits || at >= name.size() || name[at] != '_') {
    return std::nullopt;
  }
  // ldc2 writes the target without its "_D" ("_DThn16_3app..."), gdc with it ("_DTi16_D3app...").
  std::string_view rest = name.substr(at + 1);
  if (rest.starts_with("D")) {
    rest.remove_prefix(1);
  }
  std::string target = "_D";
  target += rest;
  auto symbol = classifyPlain(target, budget);
  if (!symbol) {
    return std::nullopt;
  }
  symbol->segments.back() += " (thunk)";
  symbol->shown.insert(0, "thunk for ");
  return symbol;
}

// ".isra.0.constprop.1" -> " [clone .isra.0] [clone .constprop.1]"; empty when `suffix` is
// not made of the pieces compilers append (a word with an optional number, or a number).
std::string cloneText(std::string_view suffix) {
  std::string text;
  while (!suffix.empty()) {
    if (suffix[0] != '.') {
      return {};
    }
    size_t end = 1;
    while (end < suffix.size() && suffix[end] != '.') {
      ++end;
    }
    std::string_view word = suffix.substr(1, end - 1);
    if (word.empty() || !std::all_of(word.begin(), word.end(), isIdentifierByteAscii)) {
      return {};
    }
    if (!CurrentParser::isDigit(word[0]) && end < suffix.size()) {
      // A word takes the number after it: ".isra.0".
      size_t next = end + 1;
      while (next < suffix.size() && CurrentParser::isDigit(suffix[next])) {
        ++next;
      }
      if (next > end + 1 && (next == suffix.size() || suffix[next] == '.')) {
        end = next;
      }
    }
    text += " [clone ";
    text += suffix.substr(0, end);
    text += ']';
    suffix.remove_prefix(end);
  }
  return text;
}

}  // namespace

std::optional<CurrentDSymbol> classifyCurrentD(std::string_view name) {
  if (name.starts_with("__D")) {
    name.remove_prefix(1);  // Mach-O and 32-bit Windows put one more underscore in front
  }
  if (!name.starts_with("_D")) {
    return std::nullopt;
  }
  std::string_view suffix;
  if (size_t dot = name.find('.'); dot != std::string_view::npos) {
    suffix = name.substr(dot);
    name = name.substr(0, dot);
  }
  std::string clone = cloneText(suffix);
  if (!suffix.empty() && clone.empty()) {
    return std::nullopt;
  }
  std::optional<CurrentDSymbol> symbol;
  if (name == "_Dmain") {
    symbol = CurrentDSymbol{{"D main"}, "D main"};
  } else {
    if (NamingWindow::spent()) {
      return std::nullopt;  // the run's allowance for these names is spent (naming_budget.h)
    }
    Budget budget(name.size());
    NamingWindow::clamp(budget.workLimit, budget.outputLimit);
    symbol = name.starts_with("_DT") ? classifyThunk(name, budget) : classifyPlain(name, budget);
    NamingWindow::spend(budget.work, budget.output);
  }
  if (symbol && !suffix.empty()) {
    symbol->segments.back() += suffix;
    symbol->shown += clone;
  }
  return symbol;
}

std::optional<std::string> demangleCurrent(std::string_view name) {
  auto symbol = classifyCurrentD(name);
  if (!symbol) {
    return std::nullopt;
  }
  return std::move(symbol->shown);
}

}  // namespace vorlith
