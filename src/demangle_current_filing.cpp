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

void appendLeafName(Workspace& work, Path path) {
  size_t innermost = path.count;
  for (size_t k = path.count; k-- > 0;) {
    if (work.at(path, k).instance) {
      innermost = k;
      break;
    }
  }
  std::string& text = work.text;
  // Copied by offset from the text's own bytes, as it may move while it grows.
  auto appendText = [&](const Component& component) {
    if (component.instance) {
      text.append(text, component.text.offset, component.text.length);
    } else {
      text += component.name;
    }
  };
  if (innermost == path.count) {
    text += work.at(path, path.count - 1).name;
    return;
  }
  appendText(work.at(path, innermost));
  for (size_t k = innermost + 1; k < path.count; ++k) {
    if (k == innermost + 1 && work.at(path, k).name == work.at(path, innermost).name) {
      continue;  // the eponymous member: D calls it by the instance's name
    }
    text += '.';
    appendText(work.at(path, k));
  }
}

}  // namespace currentd

namespace {

using currentd::Budget;
using currentd::Component;
using currentd::CurrentParser;
using currentd::DecodedSymbol;
using currentd::Path;
using currentd::Workspace;

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
void addSteps(const Workspace& work, Path path, size_t count, NameBuilder& out) {
  for (size_t k = 0; k < count; ++k) {
    const Component& component = work.at(path, k);
    if (k > 0 && work.at(path, k - 1).instance && !component.instance &&
        component.name == work.at(path, k - 1).name) {
      continue;
    }
    out.add(component.name);
    if (component.instance) {
      out.add(work.view(component.text));
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
void addSegmentsOf(const Workspace& work, const DecodedSymbol& symbol, NameBuilder& out) {
  const Path path = symbol.path;
  std::string_view kind =
      path.count >= 2 ? internalKind(work.at(path, path.count - 1).name) : std::string_view();
  if (kind.empty()) {
    addSteps(work, path, path.count, out);
    return;
  }
  const size_t base = out.size();
  addSteps(work, path, path.count - 1, out);
  const Component& owner = work.at(path, path.count - 2);
  if (path.count == 2 && kind != "ModuleInfo" && !owner.instance) {
    out.insert(base, "object");
  }
  out.addJoined({owner.name, " (", kind, ")"});
}

// "_D12TypeInfo_Ai6__initZ": the type behind a TypeInfo's name, or nullopt when the name is an
// ordinary symbol (TypeInfo_Struct is a class of the runtime, not a TypeInfo of a type). Files
// it into `out` and returns true, or returns false and adds nothing.
bool typeInfoOf(Workspace& work, const DecodedSymbol& symbol, Budget& budget, NameBuilder& out) {
  constexpr std::string_view kPrefix = "TypeInfo_";
  const Path path = symbol.path;
  if (path.count != 2 || work.at(path, 0).instance || work.at(path, 1).name != "__init" ||
      !work.at(path, 0).name.starts_with(kPrefix)) {
    return false;
  }
  std::string_view mangledType = work.at(path, 0).name;
  mangledType.remove_prefix(kPrefix.size());
  Path named;
  CurrentParser parser(mangledType, budget, work);
  currentd::Span type = parser.parseWholeType(&named);
  if (parser.failed) {
    return false;
  }
  constexpr std::string_view kShownBefore = "typeid(";
  out.show(work.view(type));
  out.prependToShown(kShownBefore);
  out.appendToShown(")");
  const size_t base = out.size();
  addSteps(work, named, named.count, out);
  if (named.count == 1 && !work.at(named, 0).instance) {
    // Only the members of module object are mangled without their module (C6Object).
    out.insert(base, "object");
  }
  out.add("TypeInfo");
  out.addPieceOfShown(kShownBefore.size(), type.length);
  return true;
}

// A mangled name of the current ABI without its "_D" and without thunk or clone suffix, into
// `out`; false, and nothing added, when it cannot be read.
bool classifyMangled(std::string_view mangled, Workspace& work, Budget& budget,
                     NameBuilder& out) {
  if (mangled.empty()) {
    return false;
  }
  CurrentParser parser(mangled, budget, work);
  DecodedSymbol symbol = parser.parseSymbol();
  if (parser.failed) {
    return false;
  }
  if (typeInfoOf(work, symbol, budget, out)) {
    return true;
  }
  addSegmentsOf(work, symbol, out);
  out.show(work.view(symbol.text));
  return true;
}

// "_DThn16_3app1C3fooMFZv": a this-adjusting thunk; the rest is the target without its "_D".
bool classifyThunk(std::string_view name, Workspace& work, Budget& budget, NameBuilder& out) {
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
  if (!classifyMangled(rest, work, budget, out)) {
    return false;
  }
  out.appendToLast(" (thunk)");
  out.prependToShown("thunk for ");
  return true;
}

// ".isra.0.constprop.1" is shown " [clone .isra.0] [clone .constprop.1]". Whether `suffix` is
// made of the pieces compilers append (a word with an optional number, or a number); with `out`,
// also appends what is shown for it.
bool cloneSuffix(std::string_view suffix, NameBuilder* out) {
  while (!suffix.empty()) {
    if (suffix[0] != '.') {
      return false;
    }
    size_t end = 1;
    while (end < suffix.size() && suffix[end] != '.') {
      ++end;
    }
    std::string_view word = suffix.substr(1, end - 1);
    if (word.empty() || !std::all_of(word.begin(), word.end(), isIdentifierByteAscii)) {
      return false;
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
    if (out != nullptr) {
      out->appendToShown(" [clone ");
      out->appendToShown(suffix.substr(0, end));
      out->appendToShown("]");
    }
    suffix.remove_prefix(end);
  }
  return true;
}

}  // namespace

CurrentDNames::CurrentDNames() : work_(std::make_unique<Workspace>()) {}
CurrentDNames::~CurrentDNames() = default;

bool CurrentDNames::classify(std::string_view name, NameBuilder& out) {
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
  if (!cloneSuffix(suffix, nullptr)) {
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
    work_->clear();
    bool filed = name.starts_with("_DT") ? classifyThunk(name, *work_, budget, out)
                 : name.size() >= 3     ? classifyMangled(name.substr(2), *work_, budget, out)
                                        : false;
    NamingWindow::spend(budget.work, budget.output);
    work_->trim();
    if (!filed) {
      return false;
    }
  }
  if (!suffix.empty()) {
    out.appendToLast(suffix);
    (void)cloneSuffix(suffix, &out);
  }
  return true;
}

std::optional<NameText> classifyCurrentD(std::string_view name) {
  CurrentDNames names;
  NameBuilder out;
  out.start(name);
  if (!names.classify(name, out)) {
    return std::nullopt;
  }
  return toText(out.result());
}

std::optional<std::string> demangleCurrent(std::string_view name) {
  CurrentDNames names;
  NameBuilder out;
  out.start(name);
  if (!names.classify(name, out)) {
    return std::nullopt;
  }
  return std::string(out.shown());
}

}  // namespace vorlith
