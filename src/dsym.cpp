// The symbol classifier. Names from a map file are filed by kind:
//   _D3app3runFAAyaZv            app, run            (demangled: "void app.run(...)")
//   _ZN3foo3barEv                C++ symbols, foo, bar
//   __libc_csu_init              C symbols, libc, csu_init
//   /usr/lib/libc.a(printf.o) (.text)   /, usr, lib, libc.a, printf.o, .text
#include "dsym.h"

#include <cstdint>
#include <deque>
#include <optional>

#include "demangle.h"
#include "demangle_current.h"
#include "dmodules.h"
#include "zel/utils/text.h"

namespace vorlith {

using std::string;
using std::string_view;
using zel::utils::text::isIdentifierChar;
using Segments = std::vector<string>;

namespace {

constexpr char kProtectedSpace = '\xFF';
constexpr char kProtectedDot = '\xFE';

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool startsWith(string_view s, string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

bool endsWith(string_view s, string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Appends the parts of `s` cut at every `d`; an empty `s` gives none.
template <typename Out>
void appendSplit(string_view s, char d, Out& out) {
  if (s.empty()) {
    return;
  }
  size_t begin = 0;
  for (size_t at; (at = s.find(d, begin)) != string_view::npos; begin = at + 1) {
    out.emplace_back(s.substr(begin, at - begin));
  }
  out.emplace_back(s.substr(begin));
}

string join(const std::vector<string_view>& parts, string_view separator) {
  string out;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k != 0) {
      out.append(separator);
    }
    out.append(parts[k]);
  }
  return out;
}

Segments toStrings(const std::vector<string_view>& parts) {
  return Segments(parts.begin(), parts.end());
}

// Reads the length prefix at the front of `str`, removing the digits it reads. Fails (returns
// false) when `str` does not begin with a digit, when the number would pass 2^32 - 1, and at
// a byte that begins no well-formed UTF-8 character; the digits already read stay removed.
bool readLengthPrefix(string_view& str, uint32_t& len) {
  if (str.empty() || !isDigit(str[0])) {
    return false;
  }
  uint64_t value = 0;
  while (!str.empty()) {
    char c = str[0];
    if (isDigit(c)) {
      uint64_t next = value * 10 + static_cast<uint64_t>(c - '0');
      if (next > UINT32_MAX) {
        return false;
      }
      value = next;
      str.remove_prefix(1);
    } else if (zel::utils::text::validUTF8SequenceLength(str, 0) == 0) {
      return false;
    } else {
      break;
    }
  }
  len = static_cast<uint32_t>(value);
  return true;
}

// The mangled D rule: the length-prefixed pieces of the name, with type information filed
// under the type it describes.
Segments mangledDSegments(string_view sym, std::optional<string>& dem) {
  std::vector<string_view> parts = rlSplit(sym.substr(2));
  dem = join(parts, ".");  // before the type information is moved about
  if (parts.empty() || !startsWith(parts[0], "TypeInfo_")) {
    return toStrings(parts);
  }
  std::vector<string_view> typeParts = rlSplitForce(parts[0].substr(9));
  Segments segments;
  if (typeParts.size() > 1) {
    segments = toStrings(typeParts);
    segments.emplace_back("TypeInfo");
  } else {
    segments.emplace_back("TypeInfo");
    segments.insert(segments.end(), typeParts.begin(), typeParts.end());
  }
  segments.insert(segments.end(), parts.begin() + 1, parts.end());
  return segments;
}

// "?bar@Foo@@QAEXXZ" is Foo::bar.
Segments microsoftSegments(string_view sym, std::optional<string>& dem) {
  if (sym.find("@@") == string_view::npos) {
    return {"C++ symbols", string(sym)};
  }
  string_view s = sym;
  while (!s.empty() && s[0] == '?') {
    s.remove_prefix(1);
  }
  while (!s.empty() && isDigit(s[0])) {
    s.remove_prefix(1);
  }
  s = s.substr(0, s.find("@@"));
  std::vector<string_view> parts;
  appendSplit(s, '@', parts);
  std::vector<string_view> reversed(parts.rbegin(), parts.rend());
  dem = join(reversed, "::");
  Segments segments{"C++ symbols"};
  segments.insert(segments.end(), reversed.begin(), reversed.end());
  return segments;
}

// "_ZN3foo3barEv" is foo::bar; the last piece holds the signature and is dropped.
Segments itaniumSegments(string_view sym, std::optional<string>& dem) {
  std::vector<string_view> parts = rlSplitForce(sym.substr(2));
  if (parts.empty()) {
    dem.emplace();  // the parts, joined: none ("_Z0")
    return {};
  }
  parts.pop_back();
  dem = join(parts, "::");
  Segments segments{"C++ symbols"};
  segments.insert(segments.end(), parts.begin(), parts.end());
  return segments;
}

Segments cSymbolSegments(string_view sym) {
  string_view s = sym;
  while (!s.empty() && s[0] == '_') {
    s.remove_prefix(1);
  }
  size_t underscore = s.find('_');
  if (underscore == string_view::npos) {
    return {"C symbols", string(s)};
  }
  return {"C symbols", string(s.substr(0, underscore)), string(s.substr(underscore + 1))};
}

// "/usr/lib/libc.a(printf.o) (.text)": directories, archive, member and section. A relative path
// ("obj/app.o (.text)") goes under ".", the directory the linker ran in.
Segments objectPathSegments(string_view sym, bool relative = false) {
  string t;
  t.reserve(sym.size());
  for (size_t k = 0; k < sym.size(); ++k) {
    char c = sym[k];
    if (c == ' ' && k + 1 < sym.size() && sym[k + 1] == '(') {
      continue;  // " (" is "(", which is "/"
    }
    if (c == '(') {
      t += '/';
    } else if (c != ')') {
      t += c;
    }
  }
  std::vector<string_view> parts;
  appendSplit(t, '/', parts);
  Segments segments{relative ? "." : "/"};
  // A ".." removes the part before it; at the root it only goes itself, as in a file system.
  // Above the linker's directory there is more, so a relative path keeps its leading "..".
  for (size_t k = relative ? 0 : 1; k < parts.size(); ++k) {
    if (relative && parts[k] == "." && k + 1 < parts.size()) {
      continue;
    }
    if (parts[k] != "..") {
      segments.emplace_back(parts[k]);
    } else if (segments.size() > 1 && segments.back() != "..") {
      segments.pop_back();
    } else if (relative) {
      segments.emplace_back(parts[k]);
    }
  }
  return segments;
}

// "memcpy@@GLIBC_2.14", "LLVMRunPasses", "main": a C name as ELF writes it, with no leading
// underscore and perhaps a symbol version. Returns the length of the name before the version,
// or 0 when `sym` is not such a name.
size_t plainCNameLength(string_view sym) {
  size_t name = 0;
  while (name < sym.size() && isIdentifierChar(sym[name])) {
    ++name;
  }
  if (name == 0 || name == sym.size()) {
    return name;
  }
  if (sym[name] != '@') {
    return 0;
  }
  size_t k = name + 1;
  if (k < sym.size() && sym[k] == '@') {
    ++k;
  }
  if (k == sym.size()) {
    return 0;
  }
  for (; k < sym.size(); ++k) {
    if (!isIdentifierChar(sym[k]) && sym[k] != '.') {
      return 0;
    }
  }
  return name;
}

// "app.o (.text)", "obj/util.o", "libfoo.a(bar.o) (.data)": an object file named by a relative
// path, perhaps with an archive member and a section.
bool isRelativeObjectPath(string_view sym) {
  string_view path = sym;
  bool marked = false;  // a member or a section says that the path names a file
  if (endsWith(path, ")")) {
    size_t open = path.rfind(" (");
    if (open != string_view::npos) {
      string_view section = path.substr(open + 2, path.size() - open - 3);
      if (section.empty() || section.find_first_of(" ()") != string_view::npos) {
        return false;
      }
      path = path.substr(0, open);
      marked = true;
    }
  }
  if (endsWith(path, ")")) {
    size_t open = path.rfind('(');
    if (open == string_view::npos) {
      return false;
    }
    string_view member = path.substr(open + 1, path.size() - open - 2);
    if (member.empty() || member.find_first_of(" ()") != string_view::npos) {
      return false;
    }
    path = path.substr(0, open);
    marked = true;
  }
  if (path.empty() || path[0] == '/' || path.find_first_of(" ()") != string_view::npos) {
    return false;
  }
  return marked || path.find('/') != string_view::npos || endsWith(path, ".o") ||
         endsWith(path, ".obj") || endsWith(path, ".a") || endsWith(path, ".lib");
}

// The names no classic rule takes, under the modern rules: C names, relative object paths, and
// a group for the rest, so that nothing is loose at the top.
Segments otherNameSegments(string_view sym) {
  if (size_t name = plainCNameLength(sym); name != 0) {
    size_t underscore = sym.substr(0, name).find('_');
    if (underscore == string_view::npos) {
      return {"C symbols", string(sym)};
    }
    return {"C symbols", string(sym.substr(0, underscore)), string(sym.substr(underscore + 1))};
  }
  if (isRelativeObjectPath(sym)) {
    return objectPathSegments(sym, true);
  }
  return {"Other symbols", string(sym)};
}

// The rules on the name itself, for names the demangler did not decode. Sets `dem` where a rule
// makes a name of its own. Sets `prefixEnd` and returns nothing when the name holds a prefix
// before ": ", which the caller peels off.
// `cxx` is given under the modern rules only.
Segments nameRuleSegments(string_view sym, std::optional<string>& dem, size_t& prefixEnd,
                          CxxNameSplitter* cxx) {
  if (sym.size() >= 4 && startsWith(sym, "_D") && isDigit(sym[2])) {
    return mangledDSegments(sym, dem);
  }
  if (startsWith(sym, "__d_")) {
    return {"D internals", string(sym.substr(4))};
  }
  if (startsWith(sym, "_d_")) {
    return {"D internals", string(sym.substr(3))};
  }
  if (startsWith(sym, "?")) {
    return microsoftSegments(sym, dem);
  }
  if (startsWith(sym, "_Z")) {
    return itaniumSegments(sym, dem);
  }
  if (startsWith(sym, "__imp__")) {
    return {"Imports", string(sym.substr(7))};
  }
  if (startsWith(sym, "_TMP")) {
    return {"TMP", string(sym.substr(4))};
  }
  if (startsWith(sym, "__HandlerTable")) {
    return {"Exception handler tables", string(sym.substr(14))};
  }
  size_t colon = sym.find(": ");
  if (colon != string_view::npos && colon > 0) {
    prefixEnd = colon;
    return {};
  }
  if (cxx != nullptr) {
    if (std::optional<Segments> scopes = cxx->split(sym)) {
      return std::move(*scopes);
    }
  }
  if (startsWith(sym, "_")) {
    return cSymbolSegments(sym);
  }
  if (startsWith(sym, "gc_")) {
    return {"gc", string(sym)};
  }
  if (startsWith(sym, "/")) {
    return objectPathSegments(sym);
  }
  if (endsWith(sym, " (*fill*)")) {
    return {"(*fill*)", string(sym)};
  }
  if (sym == "internal" || sym == "anon") {
    return {string(sym), string()};
  }
  if (cxx != nullptr) {
    return otherNameSegments(sym);
  }
  return {string(sym)};
}

bool mayBeMangledD(string_view s) {
  if (!s.empty() && s[0] == '_') {
    s.remove_prefix(1);
  }
  return s.size() >= 2 && s[0] == 'D' && isDigit(s[1]);
}

// True when the name holds a byte of 0x80 or above before any other byte that stops the
// compressed-name decoder.
bool mayBeCompressed(string_view s) {
  for (char c : s) {
    auto b = static_cast<unsigned char>(c);
    if (b >= 0x80) {
      return true;
    }
    if (!((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '_')) {
      return false;
    }
  }
  return false;
}

// The names ld.lld writes already demangled from D internal symbols ("vtable for app.Shape",
// "ModuleInfo for app", "D main", "app.__moduleRef"), mangled again ("_D3app5Shape6__vtblZ"),
// so that they are filed exactly where the mangled name is. Nothing when `sym` is no such name.
std::optional<string> remangledDPhrase(string_view sym) {
  if (sym == "D main") {
    return string("_Dmain");
  }
  struct Phrase {
    string_view lead;
    string_view internal;
  };
  static constexpr Phrase kPhrases[] = {{"initializer for ", "6__initZ"},
                                        {"vtable for ", "6__vtblZ"},
                                        {"ClassInfo for ", "7__ClassZ"},
                                        {"Interface for ", "11__InterfaceZ"},
                                        {"ModuleInfo for ", "12__ModuleInfoZ"}};
  string_view qualified;
  string_view internal;
  for (const Phrase& phrase : kPhrases) {
    if (startsWith(sym, phrase.lead)) {
      qualified = sym.substr(phrase.lead.size());
      internal = phrase.internal;
      break;
    }
  }
  if (internal.empty()) {
    constexpr string_view kModuleRef = ".__moduleRef";
    if (!endsWith(sym, kModuleRef)) {
      return std::nullopt;
    }
    qualified = sym.substr(0, sym.size() - kModuleRef.size());
    internal = "11__moduleRefZ";
  }
  auto parts = dottedDIdentifiers(qualified);
  if (!parts) {
    return std::nullopt;
  }
  string mangled = "_D";
  for (string_view part : *parts) {
    mangled += std::to_string(part.size());
    mangled += part;
  }
  mangled += internal;
  return mangled;
}

// "app.o (.text._D3app3runFZv)": an input section named after a D function or variable, as
// -ffunction-sections and -fdata-sections make them, whose bytes no symbol line of the map
// covers (GNU ld lists no local symbols). Filed like the symbol it is named after, the section's
// kind in the leaf ("run (.text)"), and shown as that symbol with where its bytes come from:
// "void app.run() in app.o (.text)". Nothing for any other name, relocation sections included.
std::optional<CurrentDSymbol> dSectionSymbol(string_view sym) {
  string_view object = contributionObject(sym);
  if (object.empty()) {
    return std::nullopt;
  }
  string_view section = sym.substr(object.size() + 2, sym.size() - object.size() - 3);
  size_t at = section.find("._D");
  if (at == 0 || at == string_view::npos || section[0] != '.') {
    return std::nullopt;
  }
  string_view kind = section.substr(0, at);
  if (startsWith(kind, ".rel")) {
    return std::nullopt;  // relocations (in .rela.dyn), which GNU ld lists under the first object
  }
  std::optional<CurrentDSymbol> symbol = classifyCurrentD(section.substr(at + 1));
  if (!symbol) {
    return std::nullopt;
  }
  string& leaf = symbol->segments.back();
  leaf.append(" (").append(kind).append(")");
  symbol->shown.append(" in ").append(object).append(" (").append(kind).append(")");
  return symbol;
}

// One name without its ": " prefixes. When the name has such a prefix, returns nothing and sets
// `prefix` and `after` to the text before and after the ": ". `storage` keeps expanded names.
// `cxx` is given under the modern rules only.
Segments classify(string_view passed, string& dem, std::optional<string_view>& prefix,
                  string_view& after, std::deque<string>& storage,
                  std::vector<char>& demangleBuffer, CxxNameSplitter* cxx) {
  string_view sym = passed;
  // A name of letters, digits and "_" only is its own expansion, and one with another byte
  // below 0x80 is never taken: only names with a byte of 0x80 or above need the decoder.
  if (mayBeCompressed(sym)) {
    size_t position = 0;
    string decoded = decodeDmdString(sym, position);
    if (!decoded.empty() && position == sym.size()) {
      sym = storage.emplace_back(std::move(decoded));
    }
  }
  if (startsWith(sym, "__D")) {
    sym.remove_prefix(1);
  }
  if (cxx != nullptr && startsWith(sym, "_D")) {
    if (std::optional<CurrentDSymbol> d = classifyCurrentD(sym)) {
      dem = std::move(d->shown);
      return std::move(d->segments);
    }
  }
  if (cxx != nullptr && endsWith(sym, ")")) {
    if (std::optional<CurrentDSymbol> d = dSectionSymbol(sym)) {
      dem = std::move(d->shown);
      return std::move(d->segments);
    }
  }
  if (cxx != nullptr) {
    if (std::optional<string> mangled = remangledDPhrase(sym)) {
      if (std::optional<CurrentDSymbol> d = classifyCurrentD(*mangled)) {
        dem = std::move(d->shown);
        return std::move(d->segments);
      }
    }
  }
  // Only "_D" or "D" and a digit can begin a D name, and no D name holds ": " (the grammar
  // takes neither byte), so most names skip the demangler, and a name made of many prefixes
  // costs no copy of its rest per prefix.
  string_view demangled = sym;
  bool decoded = false;
  if (mayBeMangledD(sym) && sym.find(": ") == string_view::npos) {
    demangled = demangle(sym, demangleBuffer);
    decoded = demangled != sym;
  }
  if (decoded) {
    if (std::optional<Segments> segments = splitDemangled(demangled)) {
      dem.assign(demangled);
      if (cxx != nullptr && segments->size() < 2) {
        segments->insert(segments->begin(), "Other symbols");  // nothing loose at the top
      }
      return std::move(*segments);
    }
  }
  size_t prefixEnd = string_view::npos;
  std::optional<string> ruleDem;
  Segments segments = nameRuleSegments(sym, ruleDem, prefixEnd, cxx);
  if (prefixEnd != string_view::npos) {
    prefix = sym.substr(0, prefixEnd);
    after = sym.substr(prefixEnd + 2);
    return segments;  // `dem` comes from the text after the prefix
  }
  if (ruleDem) {
    dem = std::move(*ruleDem);
  } else {
    dem.assign(demangled);
  }
  if (segments.empty()) {
    // Nothing readable was left ("_D0Z", "_Z0"): the name itself is the leaf.
    segments.emplace_back(passed);
  }
  if (cxx != nullptr && segments.size() < 2) {
    // Nothing loose at the top: a leaf named after its group ("_Zfoo" gives only "C++ symbols")
    // gets the name as its leaf, any other goes under "Other symbols".
    if (segments[0] == "C++ symbols") {
      segments.emplace_back(passed);
      dem.assign(passed);  // the rule read no name out of it: nothing to show either
    } else {
      segments.insert(segments.begin(), "Other symbols");
    }
  }
  return segments;
}

}  // namespace

bool isMangledTemplateInstance(string_view s) {
  return s.size() > 4 && startsWith(s, "__T") && isDigit(s[3]);
}

std::vector<string_view> rlSplit(string_view str) {
  std::vector<string_view> segments;
  // Template instances nest inside pieces; an explicit stack keeps hostile nesting off the
  // call stack. Each entry is the unread rest of one level.
  std::vector<string_view> levels{str};
  while (!levels.empty()) {
    string_view& rest = levels.back();
    if (rest.empty()) {
      levels.pop_back();
      continue;
    }
    uint32_t len = 0;
    if (!readLengthPrefix(rest, len) || len > rest.size()) {
      if (rest != "Z") {
        segments.push_back(rest);
      }
      levels.pop_back();
      continue;
    }
    string_view piece = rest.substr(0, len);
    rest.remove_prefix(len);
    if (isMangledTemplateInstance(piece)) {
      levels.push_back(piece.substr(3));  // invalidates `rest`, which is not used again
    } else {
      appendSplit(piece, '/', segments);
    }
  }
  return segments;
}

std::vector<string_view> rlSplitForce(string_view str) {
  size_t firstDigit = 0;
  while (firstDigit < str.size() && !isDigit(str[firstDigit])) {
    ++firstDigit;
  }
  if (firstDigit == str.size()) {
    return {str};
  }
  return rlSplit(str.substr(firstDigit));
}

std::vector<string_view> rlSubSplit(string_view s) {
  if (isMangledTemplateInstance(s)) {
    return rlSplit(s.substr(3));
  }
  std::vector<string_view> parts;
  appendSplit(s, '/', parts);
  return parts;
}

std::optional<Segments> splitDemangled(string_view dem) {
  string text(dem);
  // Spaces and dots inside parentheses belong to parameter lists and template arguments.
  int plevel = 0;
  for (char& c : text) {
    if (c == '(') {
      ++plevel;
    } else if (c == ')') {
      --plevel;
    } else if (plevel != 0 && c == ' ') {
      c = kProtectedSpace;
    } else if (plevel != 0 && c == '.') {
      c = kProtectedDot;
    }
  }
  for (size_t at = 0; (at = text.find("...", at)) != string::npos; at += 3) {
    text.replace(at, 3, 3, kProtectedDot);
  }
  std::vector<string_view> components;
  size_t begin = 0;
  for (size_t at; (at = text.find('.', begin)) != string::npos; begin = at + 1) {
    components.emplace_back(string_view(text).substr(begin, at - begin));
  }
  components.emplace_back(string_view(text).substr(begin));
  for (string_view component : components) {
    if (isMangledTemplateInstance(component)) {
      return std::nullopt;
    }
  }
  Segments segments;
  for (string_view component : components) {
    if (startsWith(component, "extern (C) ")) {
      component.remove_prefix(11);
    }
    size_t lastSpace = component.rfind(' ');
    if (lastSpace != string_view::npos) {
      component.remove_prefix(lastSpace + 1);
    }
    component = component.substr(0, component.find('('));
    component = component.substr(0, component.find('!'));
    string& segment = segments.emplace_back(component);
    for (char& c : segment) {
      if (c == kProtectedSpace) {
        c = ' ';
      } else if (c == kProtectedDot) {
        c = '.';
      }
    }
  }
  return segments;
}

Classifier::Classifier(const Settings& settings) : modern_(settings.modern) {}

NameResult Classifier::classify(string_view sym) {
  NameResult result;
  string& dem = result.shown;
  expanded_.clear();
  CxxNameSplitter* cxx = modern_ ? &cxx_ : nullptr;
  // "app.obj: _main" files _main under the group app.obj. Prefixes are peeled in a loop, not
  // by recursion, so that a name of many prefixes cannot exhaust the stack.
  Segments prefixes;
  string demPrefix;
  string_view rest = sym;
  for (;;) {
    std::optional<string_view> prefix;
    string_view after;
    Segments segments =
        vorlith::classify(rest, dem, prefix, after, expanded_, demangleBuffer_, cxx);
    if (!prefix) {
      if (prefixes.empty()) {
        result.segments = std::move(segments);
        return result;
      }
      dem.insert(0, demPrefix);
      prefixes.insert(prefixes.end(), std::make_move_iterator(segments.begin()),
                      std::make_move_iterator(segments.end()));
      result.segments = std::move(prefixes);
      return result;
    }
    prefixes.emplace_back(*prefix);
    demPrefix.append(*prefix).append(": ");
    rest = after;
  }
}

}  // namespace vorlith
