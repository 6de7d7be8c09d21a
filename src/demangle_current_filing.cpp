// Filing of current-ABI D names: the groups and the leaf a symbol goes under, and the rows
// with rules of their own.
//
//   _D3pkg3mod__T5twiceTiZQjFNaNbNiNfiZi        pkg > mod > twice > "twice!(int)"
//   _D4shop5stock__T5StockTiVii8ZQn3putMFiKiZv  shop > stock > Stock > "Stock!(int, 8)" > put
//   _D3app5Shape6__vtblZ                        app > Shape > "Shape (vtable)"
//   _D11TypeInfo_Ai6__initZ                     TypeInfo > "int[]", shown typeid(int[])
//   _DThn16_3app1C4areaMxFZd                    app > C > "area (thunk)", shown thunk for ...
//   _D3app3runFZv.isra.0                        app > "run.isra.0", shown ... [clone .isra.0]
//   _Dmain                                      Other symbols > "D main" (the tree files it
//                                               under the module of its object when it can)
//
// One group per qualified-name component, named by the identifier (a template instance by its
// template's name), so all instances of a template share a group; below it each instance has a
// group of its own, named by its text, which holds its members under their own names. An
// instance that is the symbol itself (a template function, an eponymous member) is the leaf.
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
    leaf += path[k].fullText();
  }
  return leaf;
}

}  // namespace currentd

namespace {

using currentd::Budget;
using currentd::Component;
using currentd::CurrentParser;
using currentd::DecodedSymbol;

bool isIdentifierByteAscii(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The path a qualified name is filed along, added to `out`: one step per component, named by
// the identifier, and for a template instance its template's name, then the instance's own text,
// so that every instance of a template shares one group and has one of its own below it. An
// eponymous member right after its instance is the instance itself, as D refers to it, and adds
// no step:
//   shop.stock.Stock!(int, 8).Stock.put  ->  shop, stock, Stock, "Stock!(int, 8)", put
//   pkg.mod.twice!(int).twice            ->  pkg, mod, twice, "twice!(int)"
void addSteps(const std::vector<Component>& path, size_t count, NameBuilder& out) {
  for (size_t k = 0; k < count; ++k) {
    const Component& component = path[k];
    if (k > 0 && path[k - 1].instance && !component.instance &&
        component.name == path[k - 1].name) {
      continue;
    }
    out.add(component.name);
    if (component.instance) {
      out.add(component.text);
    }
  }
}

// The internal symbols that compilers make for an aggregate or a module ("_D3app5Shape6__vtblZ"),
// by the kind their leaf names, as ld.lld writes them demangled ("vtable for app.Shape").
std::string_view internalKind(std::string_view name) {
  if (name == "__vtbl") {
    return "vtable";
  }
  if (name == "__init") {
    return "initializer";
  }
  if (name == "__Class") {
    return "ClassInfo";
  }
  if (name == "__Interface") {
    return "Interface";
  }
  if (name == "__ModuleInfo") {
    return "ModuleInfo";
  }
  return {};
}

// The groups and the leaf of a decoded symbol. An internal symbol is filed in its owner's group,
// its leaf named by the owner and the kind: app > Shape > "Shape (vtable)", app > "app
// (ModuleInfo)". Classes of the runtime that the compilers mangle without their module
// ("_D14TypeInfo_Class6__vtblZ", "_D9Exception6__vtblZ") go under object, where the language
// declares them, not each in a group at the top.
void addSegmentsOf(const DecodedSymbol& symbol, NameBuilder& out) {
  const std::vector<Component>& path = symbol.path;
  std::string_view kind = path.size() >= 2 ? internalKind(path.back().name) : std::string_view();
  if (kind.empty()) {
    addSteps(path, path.size(), out);
    return;
  }
  const size_t base = out.size();
  addSteps(path, path.size() - 1, out);
  const Component& owner = path[path.size() - 2];
  if (path.size() == 2 && kind != "ModuleInfo" && !owner.instance) {
    out.insert(base, "object");
  }
  out.addJoined({owner.name, " (", kind, ")"});
}

// "_D12TypeInfo_Ai6__initZ": the type behind a TypeInfo's name, or nullopt when the name is an
// ordinary symbol (TypeInfo_Struct is a class of the runtime, not a TypeInfo of a type). Files
// it into `out` and returns true, or returns false and adds nothing.
bool typeInfoOf(const DecodedSymbol& symbol, Budget& budget, NameBuilder& out) {
  constexpr std::string_view kPrefix = "TypeInfo_";
  if (symbol.path.size() != 2 || symbol.path[0].instance || symbol.path[1].name != "__init" ||
      !symbol.path[0].name.starts_with(kPrefix)) {
    return false;
  }
  std::string_view mangledType = symbol.path[0].name;
  mangledType.remove_prefix(kPrefix.size());
  std::vector<Component> named;
  CurrentParser parser(mangledType, budget);
  std::string type = parser.parseWholeType(&named);
  if (parser.failed) {
    return false;
  }
  constexpr std::string_view kShownBefore = "typeid(";
  out.show(type);
  out.prependToShown(kShownBefore);
  out.appendToShown(")");
  const size_t base = out.size();
  addSteps(named, named.size(), out);
  if (named.size() == 1 && !named[0].instance) {
    // Only the members of module object are mangled without their module (C6Object).
    out.insert(base, "object");
  }
  out.add("TypeInfo");
  out.addPieceOfShown(kShownBefore.size(), type.size());
  return true;
}

// A name of the current ABI without thunk or clone suffix, into `out`; false, and nothing
// added, when it cannot be read.
bool classifyPlain(std::string_view name, Budget& budget, NameBuilder& out) {
  if (name.size() < 3 || name[0] != '_' || name[1] != 'D') {
    return false;
  }
  CurrentParser parser(name.substr(2), budget);
  DecodedSymbol symbol = parser.parseSymbol();
  if (parser.failed) {
    return false;
  }
  if (typeInfoOf(symbol, budget, out)) {
    return true;
  }
  addSegmentsOf(symbol, out);
  out.show(symbol.text);
  return true;
}

// "_DThn16_3app1C3fooMFZv": a this-adjusting thunk; the rest is the target without its "_D".
bool classifyThunk(std::string_view name, Budget& budget, NameBuilder& out) {
  size_t at = 3;  // after "_DT"
  while (at < name.size() && name[at] >= 'a' && name[at] <= 'z') {
    ++at;
  }
  size_t digits = at;
  while (at < name.size() && CurrentParser::isDigit(name[at])) {
    ++at;
  }
  if (at == digits || at >= name.size() || name[at] != '_') {
    return false;
  }
  // ldc2 writes the target without its "_D" ("_DThn16_3app..."), gdc with it ("_DTi16_D3app...").
  std::string_view rest = name.substr(at + 1);
  if (rest.starts_with("D")) {
    rest.remove_prefix(1);
  }
  std::string target = "_D";
  target += rest;
  if (!classifyPlain(target, budget, out)) {
    return false;
  }
  out.appendToLast(" (thunk)");
  out.prependToShown("thunk for ");
  return true;
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

bool classifyCurrentD(std::string_view name, NameBuilder& out) {
  if (name.starts_with("__D")) {
    name.remove_prefix(1);  // Mach-O and 32-bit Windows put one more underscore in front
  }
  if (!name.starts_with("_D")) {
    return false;
  }
  std::string_view suffix;
  if (size_t dot = name.find('.'); dot != std::string_view::npos) {
    suffix = name.substr(dot);
    name = name.substr(0, dot);
  }
  std::string clone = cloneText(suffix);
  if (!suffix.empty() && clone.empty()) {
    return false;
  }
  if (name == "_Dmain") {
    out.add(kDMainGroup);
    out.add(kDMain);
    out.show(kDMain);
  } else {
    if (NamingWindow::spent()) {
      return false;  // the run's allowance for these names is spent (naming_budget.h)
    }
    Budget budget(name.size());
    NamingWindow::clamp(budget.workLimit, budget.outputLimit);
    bool filed = name.starts_with("_DT") ? classifyThunk(name, budget, out)
                                         : classifyPlain(name, budget, out);
    NamingWindow::spend(budget.work, budget.output);
    if (!filed) {
      return false;
    }
  }
  if (!suffix.empty()) {
    out.appendToLast(suffix);
    out.appendToShown(clone);
  }
  return true;
}

std::optional<NameText> classifyCurrentD(std::string_view name) {
  NameBuilder out;
  out.start(name);
  if (!classifyCurrentD(name, out)) {
    return std::nullopt;
  }
  return toText(out.result());
}

std::optional<std::string> demangleCurrent(std::string_view name) {
  NameBuilder out;
  out.start(name);
  if (!classifyCurrentD(name, out)) {
    return std::nullopt;
  }
  return std::string(out.shown());
}

}  // namespace vorlith
