// The symbol classifier. Names from a map file are filed by kind:
//   _D3app3runFAAyaZv            app, run            (demangled: "void app.run(...)")
//   _ZN3foo3barEv                C++ symbols, foo, bar
//   __libc_csu_init              C symbols, libc, csu_init
//   /usr/lib/libc.a(printf.o) (.text)   /, usr, lib, libc.a, printf.o, .text
#include "dsym.h"

#include <charconv>
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

namespace {

constexpr char kProtectedSpace = '\xFF';
constexpr char kProtectedDot = '\xFE';

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Inline, and the first byte told before any comparison: most names are tried against many
// prefixes and differ from nearly all of them there.
inline bool startsWith(string_view s, string_view prefix) {
  return prefix.empty() || (!s.empty() && s[0] == prefix[0] && s.starts_with(prefix));
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
// so that they are filed exactly where the mangled name is, into `mangled`. False when `sym` is no
// such name.
bool remangledDPhrase(string_view sym, string& mangled) {
  if (sym == "D main") {
    mangled = "_Dmain";
    return true;
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
      return false;
    }
    qualified = sym.substr(0, sym.size() - kModuleRef.size());
    internal = "11__moduleRefZ";
  }
  if (!isDottedDIdentifiers(qualified)) {
    return false;
  }
  mangled = "_D";
  for (size_t begin = 0;;) {
    size_t dot = qualified.find('.', begin);
    string_view part = qualified.substr(begin, dot == string_view::npos ? dot : dot - begin);
    char digits[24];
    auto written = std::to_chars(digits, digits + sizeof digits, part.size());
    mangled.append(digits, written.ptr);
    mangled += part;
    if (dot == string_view::npos) {
      break;
    }
    begin = dot + 1;
  }
  mangled += internal;
  return true;
}

// What the name rules work with: the builder the segments go to, and scratch kept from name to
// name. `cxx` is given under the modern rules only.
struct Rules {
  NameBuilder& out;
  std::vector<string_view>& parts;
  std::vector<string_view>& more;  // parts set aside while `parts` is used again
  std::vector<string_view>& levels;
  string& text;
  CxxNameSplitter* cxx;
};

// All length-prefixed pieces of `str` into `parts` (emptied first), as rlSplit gives them.
// `levels` is the stack of the template instances open.
void rlSplitInto(string_view str, std::vector<string_view>& parts,
                 std::vector<string_view>& levels) {
  parts.clear();
  levels.assign(1, str);
  // Template instances nest inside pieces; an explicit stack keeps hostile nesting off the call
  // stack. Each entry is the unread rest of one level.
  while (!levels.empty()) {
    string_view& rest = levels.back();
    if (rest.empty()) {
      levels.pop_back();
      continue;
    }
    uint32_t len = 0;
    if (!readLengthPrefix(rest, len) || len > rest.size()) {
      if (rest != "Z") {
        parts.push_back(rest);
      }
      levels.pop_back();
      continue;
    }
    string_view piece = rest.substr(0, len);
    rest.remove_prefix(len);
    if (isMangledTemplateInstance(piece)) {
      levels.push_back(piece.substr(3));  // invalidates `rest`, which is not used again
    } else {
      appendSplit(piece, '/', parts);
    }
  }
}

// rlSplitInto after skipping everything before the first digit; `str` alone when it has none.
void rlSplitForceInto(string_view str, std::vector<string_view>& parts,
                      std::vector<string_view>& levels) {
  size_t firstDigit = 0;
  while (firstDigit < str.size() && !isDigit(str[firstDigit])) {
    ++firstDigit;
  }
  if (firstDigit == str.size()) {
    parts.assign(1, str);
    return;
  }
  rlSplitInto(str.substr(firstDigit), parts, levels);
}

// What the rules on the name itself did with a part of a name.
enum class Ruled {
  Filed,       // segments added; the shown name is left to the caller
  FiledShown,  // segments added, and the rule set the name to show
  Prefix,      // nothing added: the part holds a prefix before ": "
};

// Shows the parts joined by `separator`.
void showJoined(Rules& r, const std::vector<string_view>& parts, string_view separator) {
  r.text.clear();
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k != 0) {
      r.text.append(separator);
    }
    r.text.append(parts[k]);
  }
  r.out.show(r.text);
}

void addAll(NameBuilder& out, const std::vector<string_view>& parts, size_t from = 0) {
  for (size_t k = from; k < parts.size(); ++k) {
    out.add(parts[k]);
  }
}

// The mangled D rule: the length-prefixed pieces of the name, with type information filed
// under the type it describes.
void mangledDSegments(string_view sym, Rules& r) {
  rlSplitInto(sym.substr(2), r.parts, r.levels);
  showJoined(r, r.parts, ".");  // before the type information is moved about
  if (r.parts.empty() || !startsWith(r.parts[0], "TypeInfo_")) {
    addAll(r.out, r.parts);
    return;
  }
  // The rest of the parts are views of `sym`: they outlive the split of the type.
  std::vector<string_view>& rest = r.more;
  rest.assign(r.parts.begin() + 1, r.parts.end());
  string_view type = r.parts[0].substr(9);
  rlSplitForceInto(type, r.parts, r.levels);
  if (r.parts.size() > 1) {
    addAll(r.out, r.parts);
    r.out.add("TypeInfo");
  } else {
    r.out.add("TypeInfo");
    addAll(r.out, r.parts);
  }
  addAll(r.out, rest);
}

// "?bar@Foo@@QAEXXZ" is Foo::bar.
Ruled microsoftSegments(string_view sym, Rules& r) {
  if (sym.find("@@") == string_view::npos) {
    r.out.add("C++ symbols");
    r.out.add(sym);
    return Ruled::Filed;
  }
  string_view s = sym;
  while (!s.empty() && s[0] == '?') {
    s.remove_prefix(1);
  }
  while (!s.empty() && isDigit(s[0])) {
    s.remove_prefix(1);
  }
  s = s.substr(0, s.find("@@"));
  r.parts.clear();
  appendSplit(s, '@', r.parts);
  std::reverse(r.parts.begin(), r.parts.end());
  showJoined(r, r.parts, "::");
  r.out.add("C++ symbols");
  addAll(r.out, r.parts);
  return Ruled::FiledShown;
}

// "_ZN3foo3barEv" is foo::bar; the last piece holds the signature and is dropped.
void itaniumSegments(string_view sym, Rules& r) {
  rlSplitForceInto(sym.substr(2), r.parts, r.levels);
  if (r.parts.empty()) {
    r.out.show({});  // the parts, joined: none ("_Z0")
    return;
  }
  r.parts.pop_back();
  showJoined(r, r.parts, "::");
  r.out.add("C++ symbols");
  addAll(r.out, r.parts);
}

void cSymbolSegments(string_view sym, NameBuilder& out) {
  string_view s = sym;
  while (!s.empty() && s[0] == '_') {
    s.remove_prefix(1);
  }
  out.add("C symbols");
  size_t underscore = s.find('_');
  if (underscore == string_view::npos) {
    out.add(s);
    return;
  }
  out.add(s.substr(0, underscore));
  out.add(s.substr(underscore + 1));
}

// "/usr/lib/libc.a(printf.o) (.text)": directories, archive, member and section. A relative path
// ("obj/app.o (.text)") goes under ".", the directory the linker ran in.
void objectPathSegments(string_view sym, Rules& r, bool relative = false) {
  // The path is cut at "/" and "(", and its ")" and the space before each "(" go: a part is a
  // piece of the name unless a ")" stands inside it, when it is made without them (in `made`,
  // which is reserved so that it never moves).
  std::vector<string_view>& parts = r.parts;
  parts.clear();
  string& made = r.text;
  made.clear();
  made.reserve(sym.size());
  if (sym.find_first_not_of(')') != string_view::npos) {
    size_t begin = 0;
    for (size_t k = 0; k <= sym.size(); ++k) {
      if (k < sym.size() && sym[k] != '/' && sym[k] != '(') {
        continue;
      }
      size_t end = k;
      if (k < sym.size() && sym[k] == '(' && end > begin && sym[end - 1] == ' ') {
        --end;  // " (" is "(", which is "/"
      }
      while (begin < end && sym[begin] == ')') {
        ++begin;
      }
      while (end > begin && sym[end - 1] == ')') {
        --end;
      }
      string_view piece = sym.substr(begin, end - begin);
      if (piece.find(')') == string_view::npos) {
        parts.push_back(piece);
      } else {
        size_t at = made.size();
        for (char c : piece) {
          if (c != ')') {
            made += c;
          }
        }
        parts.push_back(string_view(made).substr(at));
      }
      begin = k + 1;
    }
  }
  NameBuilder& out = r.out;
  const size_t root = out.size();
  out.add(relative ? "." : "/");
  // A ".." removes the part before it; at the root it only goes itself, as in a file system.
  // Above the linker's directory there is more, so a relative path keeps its leading "..".
  for (size_t k = relative ? 0 : 1; k < parts.size(); ++k) {
    if (relative && parts[k] == "." && k + 1 < parts.size()) {
      continue;
    }
    if (parts[k] != "..") {
      out.add(parts[k]);
    } else if (out.size() > root + 1 && out.last() != "..") {
      out.removeLast();
    } else if (relative) {
      out.add(parts[k]);
    }
  }
}

// The names no classic rule takes, under the modern rules: C names, relative object paths, and
// a group for the rest, so that nothing is loose at the top.
void otherNameSegments(string_view sym, Rules& r) {
  if (size_t name = plainCNameLength(sym); name != 0) {
    size_t underscore = sym.substr(0, name).find('_');
    r.out.add("C symbols");
    if (underscore == string_view::npos) {
      r.out.add(sym);
      return;
    }
    r.out.add(sym.substr(0, underscore));
    r.out.add(sym.substr(underscore + 1));
    return;
  }
  if (isRelativeObjectPath(sym)) {
    objectPathSegments(sym, r, true);
    return;
  }
  r.out.add("Other symbols");
  r.out.add(sym);
}

// Adds a group and a piece of the name after the group's prefix.
void groupAndRest(NameBuilder& out, string_view group, string_view rest) {
  out.add(group);
  out.add(rest);
}

// The rules on the name itself, for names the demangler did not decode. On Ruled::Prefix,
// `prefixEnd` is where the name's prefix ends.
Ruled nameRuleSegments(string_view sym, Rules& r, size_t& prefixEnd) {
  NameBuilder& out = r.out;
  if (sym.size() >= 4 && startsWith(sym, "_D") && isDigit(sym[2])) {
    mangledDSegments(sym, r);
    return Ruled::FiledShown;
  }
  // Prefixes that name a group, the rest of the name its leaf (none begins another).
  struct PrefixGroup {
    string_view prefix;
    string_view group;
  };
  static constexpr PrefixGroup kPrefixGroups[] = {{"__d_", "D internals"},
                                                  {"_d_", "D internals"},
                                                  {"__imp__", "Imports"},
                                                  {"_TMP", "TMP"},
                                                  {"__HandlerTable", "Exception handler tables"}};
  for (const PrefixGroup& rule : kPrefixGroups) {
    if (startsWith(sym, rule.prefix)) {
      groupAndRest(out, rule.group, sym.substr(rule.prefix.size()));
      return Ruled::Filed;
    }
  }
  if (startsWith(sym, "?")) {
    return microsoftSegments(sym, r);
  }
  if (startsWith(sym, "_Z")) {
    itaniumSegments(sym, r);
    return Ruled::FiledShown;
  }
  size_t colon = sym.find(": ");
  if (colon != string_view::npos && colon > 0) {
    prefixEnd = colon;
    return Ruled::Prefix;
  }
  if (r.cxx != nullptr) {
    if (std::optional<CxxNameSplitter::Scopes> scopes = r.cxx->scopes(sym)) {
      out.add("C++ symbols");
      for (string_view scope : scopes->scopes) {
        out.add(scope);
      }
      if (!scopes->label.empty()) {
        out.appendToLast(" (");
        out.appendToLast(scopes->label);
        out.appendToLast(")");
      }
      if (!scopes->suffix.empty()) {
        out.appendToLast(scopes->suffix);
      }
      return Ruled::Filed;
    }
  }
  if (startsWith(sym, "_")) {
    cSymbolSegments(sym, out);
    return Ruled::Filed;
  }
  if (startsWith(sym, "gc_")) {
    groupAndRest(out, "gc", sym);
    return Ruled::Filed;
  }
  if (startsWith(sym, "/")) {
    objectPathSegments(sym, r);
    return Ruled::Filed;
  }
  if (endsWith(sym, " (*fill*)")) {
    groupAndRest(out, "(*fill*)", sym);
    return Ruled::Filed;
  }
  if (sym == "internal" || sym == "anon") {
    out.add(sym);
    out.add({});
    return Ruled::Filed;
  }
  if (r.cxx != nullptr) {
    otherNameSegments(sym, r);
    return Ruled::Filed;
  }
  out.add(sym);
  return Ruled::Filed;
}

// "app.o (.text._D3app3runFZv)": an input section named after a D function or variable, as
// -ffunction-sections and -fdata-sections make them, whose bytes no symbol line of the map
// covers (GNU ld lists no local symbols). Filed like the symbol it is named after, the section's
// kind in the leaf ("run (.text)"), and shown as that symbol with where its bytes come from:
// "void app.run() in app.o (.text)". False, and nothing added, for any other name, relocation
// sections included.
bool dSectionSymbol(string_view sym, CurrentDNames& names, NameBuilder& out) {
  string_view object = contributionObject(sym);
  if (object.empty()) {
    return false;
  }
  string_view section = sym.substr(object.size() + 2, sym.size() - object.size() - 3);
  size_t at = section.find("._D");
  if (at == 0 || at == string_view::npos || section[0] != '.') {
    return false;
  }
  string_view kind = section.substr(0, at);
  if (startsWith(kind, ".rel")) {
    return false;  // relocations (in .rela.dyn), which GNU ld lists under the first object
  }
  if (!names.classify(section.substr(at + 1), out)) {
    return false;
  }
  for (string_view piece : {string_view(" ("), kind, string_view(")")}) {
    out.appendToLast(piece);
  }
  for (string_view piece :
       {string_view(" in "), object, string_view(" ("), kind, string_view(")")}) {
    out.appendToShown(piece);
  }
  return true;
}

// The segments of demangled text as spans (offset, length) of it into `spans`; false when a
// component is a raw template instance. `text` is scratch. A segment is the span's bytes but for
// the stand-in bytes of protected spaces and dots that `dem` holds already: those come out as the
// space and the dot (madeOfStandIns).
bool splitDemangledInto(string_view dem, string& text,
                        std::vector<std::pair<size_t, size_t>>& spans) {
  text.assign(dem);
  spans.clear();
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
  // The components, each a span of `text` (and so of `dem`, which has the same bytes but for
  // the protected ones).
  const string_view whole(text);
  size_t begin = 0;
  for (size_t at = 0;; ++at) {
    if (at != whole.size() && whole[at] != '.') {
      continue;
    }
    spans.emplace_back(begin, at - begin);
    begin = at + 1;
    if (at == whole.size()) {
      break;
    }
  }
  for (auto [offset, length] : spans) {
    if (isMangledTemplateInstance(whole.substr(offset, length))) {
      return false;
    }
  }
  for (auto& [offset, length] : spans) {
    string_view component = whole.substr(offset, length);
    if (startsWith(component, "extern (C) ")) {
      component.remove_prefix(11);
    }
    size_t lastSpace = component.rfind(' ');
    if (lastSpace != string_view::npos) {
      component.remove_prefix(lastSpace + 1);
    }
    component = component.substr(0, component.find('('));
    component = component.substr(0, component.find('!'));
    offset = static_cast<size_t>(component.data() - whole.data());
    length = component.size();
  }
  return true;
}

// Whether `piece` holds the stand-in bytes that splitDemangledInto converts.
bool madeOfStandIns(string_view piece) {
  return piece.find_first_of(string_view("\xFE\xFF", 2)) != string_view::npos;
}

// `piece` with its stand-in bytes converted, into `out`.
void convertStandIns(string_view piece, string& out) {
  out.assign(piece);
  for (char& c : out) {
    if (c == kProtectedSpace) {
      c = ' ';
    } else if (c == kProtectedDot) {
      c = '.';
    }
  }
}

}  // namespace

bool isMangledTemplateInstance(string_view s) {
  return s.size() > 4 && startsWith(s, "__T") && isDigit(s[3]);
}

std::vector<string_view> rlSplit(string_view str) {
  std::vector<string_view> parts;
  std::vector<string_view> levels;
  rlSplitInto(str, parts, levels);
  return parts;
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

std::optional<std::vector<string>> splitDemangled(string_view dem) {
  string text;
  std::vector<std::pair<size_t, size_t>> spans;
  if (!splitDemangledInto(dem, text, spans)) {
    return std::nullopt;
  }
  std::vector<string> segments;
  for (auto [offset, length] : spans) {
    convertStandIns(dem.substr(offset, length), segments.emplace_back());
  }
  return segments;
}

Classifier::Classifier(const Settings& settings) : modern_(settings.modern) {}

std::optional<Classifier::Prefix> Classifier::classifyPart(string_view passed, NameBuilder& out) {
  string_view sym = passed;
  // A name of letters, digits and "_" only is its own expansion, and one with another byte
  // below 0x80 is never taken: only names with a byte of 0x80 or above need the decoder.
  if (mayBeCompressed(sym)) {
    size_t position = 0;
    string decoded = decodeDmdString(sym, position);
    if (!decoded.empty() && position == sym.size()) {
      sym = expanded_.emplace_back(std::move(decoded));
    }
  }
  if (startsWith(sym, "__D")) {
    sym.remove_prefix(1);
  }
  CxxNameSplitter* cxx = modern_ ? &cxx_ : nullptr;
  if (cxx != nullptr) {
    if (startsWith(sym, "_D") && currentD_.classify(sym, out)) {
      return std::nullopt;
    }
    if (endsWith(sym, ")") && dSectionSymbol(sym, currentD_, out)) {
      return std::nullopt;
    }
    if (remangledDPhrase(sym, text_) && currentD_.classify(text_, out)) {
      return std::nullopt;
    }
  }
  const size_t base = out.size();
  // Only "_D" or "D" and a digit can begin a D name, and no D name holds ": " (the grammar
  // takes neither byte), so most names skip the demangler, and a name made of many prefixes
  // costs no copy of its rest per prefix.
  string_view demangled = sym;
  if (mayBeMangledD(sym) && sym.find(": ") == string_view::npos) {
    demangled = demangle(sym, demangleBuffer_);
    if (demangled != sym && splitDemangledInto(demangled, text_, spans_)) {
      out.show(demangled);
      for (auto [offset, length] : spans_) {
        string_view piece = demangled.substr(offset, length);
        if (madeOfStandIns(piece)) {
          convertStandIns(piece, text_);
          out.add(text_);
        } else {
          out.addPieceOfShown(offset, length);
        }
      }
      if (cxx != nullptr && out.size() - base < 2) {
        out.insert(base, "Other symbols");  // nothing loose at the top
      }
      return std::nullopt;
    }
  }
  Rules rules{out, parts_, moreParts_, levels_, text_, cxx};
  size_t prefixEnd = string_view::npos;
  Ruled ruled = nameRuleSegments(sym, rules, prefixEnd);
  if (ruled == Ruled::Prefix) {
    return Prefix{sym.substr(0, prefixEnd), sym.substr(prefixEnd + 2)};  // shown from the rest
  }
  if (ruled == Ruled::Filed) {
    out.show(demangled);
  }
  if (out.size() == base) {
    // Nothing readable was left ("_D0Z", "_Z0"): the name itself is the leaf.
    out.add(passed);
  }
  if (cxx != nullptr && out.size() - base < 2) {
    // Nothing loose at the top: a leaf named after its group ("_Zfoo" gives only "C++ symbols")
    // gets the name as its leaf, any other goes under "Other symbols".
    if (out.segment(base) == "C++ symbols") {
      out.add(passed);
      out.show(passed);  // the rule read no name out of it: nothing to show either
    } else {
      out.insert(base, "Other symbols");
    }
  }
  return std::nullopt;
}

void Classifier::classify(string_view name, NameBuilder& out) {
  out.start(name);
  expanded_.clear();
  prefixText_.clear();
  // "app.obj: _main" files _main under the group app.obj. Prefixes are peeled in a loop, not
  // by recursion, so that a name of many prefixes cannot exhaust the stack.
  string_view rest = name;
  while (std::optional<Prefix> prefix = classifyPart(rest, out)) {
    out.add(prefix->prefix);
    prefixText_.append(prefix->prefix).append(": ");
    rest = prefix->after;
  }
  if (!prefixText_.empty()) {
    out.prependToShown(prefixText_);
  }
}

NameResult Classifier::classify(string_view name) {
  classify(name, own_);
  return own_.result();
}

}  // namespace vorlith
