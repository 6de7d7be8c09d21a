// Demangled C++ names to scopes. One pass over the name with an explicit stack of open brackets
// finds what stands outside all brackets ("::", spaces, the parameter list, template arguments);
// the scopes are the text between the top-level "::" from where the return type ends.
#include "cxxnames.h"

#include <array>

#include "zel/utils/text.h"

namespace vorlith {

using std::string;
using std::string_view;

namespace {

// A byte of an identifier in a demangled C++ name, where '$' may stand too.
bool isNameChar(char c) {
  return zel::utils::text::isIdentifierChar(c) || c == '$';
}

// `s` begins with `word` as a whole word.
bool startsWithWord(string_view s, string_view word) {
  return s.starts_with(word) && (s.size() == word.size() || !isNameChar(s[word.size()]));
}

// The phrases the demangler writes before an entity that is not the entity itself, and the
// label filed after the leaf.
struct Phrase {
  string_view text;
  string_view label;
};
constexpr std::array<Phrase, 13> kPhrases{{
    {"vtable for ", "vtable"},
    {"typeinfo for ", "typeinfo"},
    {"typeinfo name for ", "typeinfo name"},
    {"VTT for ", "VTT"},
    {"construction vtable for ", "construction vtable"},
    {"guard variable for ", "guard variable"},
    {"non-virtual thunk to ", "non-virtual thunk"},
    {"virtual thunk to ", "virtual thunk"},
    {"covariant return thunk to ", "covariant return thunk"},
    {"TLS init function for ", "TLS init function"},
    {"TLS wrapper function for ", "TLS wrapper function"},
    {"transaction clone for ", "transaction clone"},
    {"non-transaction clone for ", "non-transaction clone"},
}};

// The overloadable operator tokens, longest first so that the first match is the longest.
constexpr std::array<string_view, 38> kOperatorTokens{
    "->*", "<<=", ">>=", "<=>", "()", "[]", "->", "<<", ">>", "<=", ">=", "==", "!=",
    "&&",  "||",  "++",  "--",  "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<",
    ">",   "+",   "-",   "*",   "/",  "%",  "^",  "&",  "|",  "~",  "!",  "=",
};

// Words that may follow a parameter list.
constexpr std::array<string_view, 8> kQualifiers{
    "const", "volatile", "restrict", "__restrict", "noexcept", "transaction_safe", "&&", "&",
};

bool isQualifier(string_view rest) {
  for (string_view q : kQualifiers) {
    if (q[0] == '&' ? rest.starts_with(q) : startsWithWord(rest, q)) {
      return true;
    }
  }
  return false;
}

// The position of the first "-in-" outside all brackets ("X-in-Y" of a construction vtable).
size_t topLevelIn(string_view s) {
  long depth = 0;
  for (size_t k = 0; k < s.size(); ++k) {
    char c = s[k];
    if (c == '(' || c == '<' || c == '[' || c == '{') {
      ++depth;
    } else if (c == ')' || c == '>' || c == ']' || c == '}') {
      --depth;
    } else if (depth == 0 && c == '-' && s.substr(k, 4) == "-in-") {
      return k;
    }
  }
  return string_view::npos;
}

// A symbol version at the end ("@GLIBC_2.2.5", "@@GLIBCXX_3.4"): where it begins, or npos.
size_t versionStart(string_view s) {
  // Nearly every name has none: the whole name is searched, from the end.
  size_t at = zel::utils::text::findLastByte(s, '@');
  if (at == string_view::npos || at + 1 == s.size()) {
    return string_view::npos;
  }
  for (char c : s.substr(at + 1)) {
    if (!isNameChar(c) && c != '.') {
      return string_view::npos;
    }
  }
  return at > 0 && s[at - 1] == '@' ? at - 1 : at;
}

}  // namespace

bool CxxNameSplitter::scan(string_view text) {
  open_.clear();
  events_.clear();
  // The last thing read ends a name, so that a "(" after it opens a parameter list.
  bool afterName = false;
  // While the type of a conversion operator ("operator unsigned int") is read at top level, its
  // spaces and "::" belong to the name; it ends at the parameter list.
  bool conversion = false;
  size_t k = 0;
  while (k < text.size()) {
    char c = text[k];
    bool top = open_.empty();
    bool record = top && !conversion;
    if (isNameChar(c)) {
      size_t end = k;
      while (end < text.size() && isNameChar(text[end])) {
        ++end;
      }
      if (text.substr(k, end - k) == "operator" && end < text.size()) {
        string_view rest = text.substr(end);
        bool token = false;
        for (string_view op : kOperatorTokens) {
          if (rest.starts_with(op)) {
            end += op.size();
            token = true;
            break;
          }
        }
        if (token) {
          // "operator< <int>": the space keeps the token apart from the template arguments.
          if (text.substr(end, 2) == " <") {
            ++end;
          }
        } else if (rest.starts_with("\"\"")) {
          end += 2;  // a literal operator: operator"" _km
          if (end < text.size() && text[end] == ' ') {
            ++end;
          }
          while (end < text.size() && isNameChar(text[end])) {
            ++end;
          }
        } else if (rest[0] == ' ' && (startsWithWord(rest.substr(1), "new") ||
                                      startsWithWord(rest.substr(1), "delete"))) {
          end += rest[1] == 'n' ? 4 : 7;
          if (text.substr(end, 2) == "[]") {
            end += 2;
          }
        } else if (rest[0] == ' ' && top) {
          conversion = true;  // "operator bool", "operator llvm::Twine"
          ++end;
        }
      }
      // "decltype(auto) f()": the parentheses after decltype hold a type, not parameters.
      afterName = text.substr(k, end - k) != "decltype";
      k = end;
      continue;
    }
    switch (c) {
      case '(':
        if (top && (afterName || conversion)) {
          events_.push_back({k, Mark::Params});
          conversion = false;
        }
        open_.push_back(c);
        afterName = false;
        break;
      case '[':
        if (record) {
          events_.push_back({k, Mark::Square});
        }
        open_.push_back(c);
        afterName = false;
        break;
      case '{':
        open_.push_back(c);
        afterName = false;
        break;
      case '<':
        // Inside a parameter list, "<" is only the text of a template argument.
        if (top || open_.back() == '<') {
          if (record) {
            events_.push_back({k, Mark::Angle});
          }
          open_.push_back(c);
        }
        afterName = false;
        break;
      case '>':
        if (top) {
          return false;
        }
        if (open_.back() == '<') {
          open_.pop_back();
          afterName = true;
        }
        break;
      case ')':
      case ']':
      case '}': {
        char opener = c == ')' ? '(' : c == ']' ? '[' : '{';
        if (top || open_.back() != opener) {
          return false;
        }
        open_.pop_back();
        afterName = c != ')';
        break;
      }
      case ':':
        if (top) {
          if (k + 1 >= text.size() || text[k + 1] != ':') {
            return false;
          }
          if (record) {
            events_.push_back({k, Mark::Scope});
          }
          ++k;
        }
        afterName = false;
        break;
      case ' ':
        if (record) {
          events_.push_back({k, Mark::Space});
        }
        afterName = false;
        break;
      case '*':
      case '&':
      case '~':
        afterName = false;
        break;
      default:
        if (top) {
          return false;  // ".", "/", "@", "=", "," and the like never stand outside brackets
        }
        break;
    }
    ++k;
  }
  return open_.empty();
}

bool CxxNameSplitter::splitEntity(string_view entity, std::vector<string_view>& out) {
  if (entity.empty() || !scan(entity)) {
    return false;
  }
  size_t firstParams = events_.size();
  for (size_t e = 0; e < events_.size(); ++e) {
    if (events_[e].mark == Mark::Params) {
      firstParams = e;
      break;
    }
  }
  // A space before the parameter list ends the return type; after it only qualifiers follow.
  // A name without a parameter list has no return type, so no space either.
  size_t nameStart = 0;
  for (size_t e = 0; e < events_.size(); ++e) {
    if (events_[e].mark != Mark::Space) {
      continue;
    }
    if (e < firstParams && firstParams < events_.size()) {
      nameStart = events_[e].at + 1;
    } else if (e > firstParams) {
      if (!isQualifier(entity.substr(events_[e].at + 1))) {
        return false;
      }
    } else {
      return false;
    }
  }
  size_t first = out.size();
  size_t pieceStart = nameStart;
  size_t cut = string_view::npos;  // where the current scope's name ends
  auto emit = [&](size_t pieceEnd) {
    size_t end = cut == string_view::npos ? pieceEnd : cut;
    string_view scope = entity.substr(pieceStart, end - pieceStart);
    while (!scope.empty() && scope.back() == ' ') {
      scope.remove_suffix(1);  // "operator< <int>"
    }
    if (scope.empty()) {
      return false;
    }
    char c = scope[0];
    if (!(isNameChar(c) || c == '~' || c == '(' || c == '{') || (c >= '0' && c <= '9')) {
      return false;
    }
    out.emplace_back(scope);
    return true;
  };
  for (const Event& event : events_) {
    if (event.at < nameStart) {
      continue;
    }
    if (event.mark == Mark::Scope) {
      if (!emit(event.at)) {
        return false;
      }
      pieceStart = event.at + 2;
      cut = string_view::npos;
    } else if (cut == string_view::npos) {
      cut = event.at;
    }
  }
  if (!emit(entity.size())) {
    return false;
  }
  return out.size() > first;
}

std::optional<CxxNameSplitter::Scopes> CxxNameSplitter::scopes(string_view name) {
  string_view text = name;
  size_t version = versionStart(text);
  if (version != string_view::npos) {
    text = text.substr(0, version);
  }
  // Clone suffixes, last first: "f() [clone .constprop.0] [clone .isra.0]".
  while (!text.empty() && text.back() == ']') {
    size_t at = text.rfind(" [clone .");
    if (at == string_view::npos) {
      break;
    }
    string_view inner = text.substr(at + 8, text.size() - at - 9);
    if (inner.find_first_of(" []") != string_view::npos) {
      break;
    }
    text = text.substr(0, at);
  }
  string_view suffix = name.substr(text.size());  // clones and version, as written
  string_view label;
  for (const Phrase& phrase : kPhrases) {
    if (text.starts_with(phrase.text)) {
      label = phrase.label;
      text.remove_prefix(phrase.text.size());
      break;
    }
  }
  if (label.empty() && text.starts_with("reference temporary #")) {
    size_t digits = 21;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
      ++digits;
    }
    if (digits > 21 && text.substr(digits, 5) == " for ") {
      label = text.substr(0, digits);
      text.remove_prefix(digits + 5);
    }
  }
  if (label == "construction vtable") {
    // "X-in-Y" is the part X of the complete object Y: filed with Y, to which it belongs.
    size_t in = topLevelIn(text);
    if (in == string_view::npos) {
      return std::nullopt;
    }
    text.remove_prefix(in + 4);
  }
  std::vector<string_view>& segments = scopes_;
  segments.clear();
  if (!splitEntity(text, segments)) {
    // The type information of a type that is no name ("bool (*)(int)") is filed as the type.
    if (!label.starts_with("typeinfo") || text.empty() || !scan(text)) {
      return std::nullopt;
    }
    segments.clear();
    segments.emplace_back(text);
  }
  if (label.empty()) {
    // Without a phrase, only a scope, a parameter list, template arguments or an ABI tag tell
    // C++ from a plain C name.
    bool structured = segments.size() > 1;
    for (const Event& event : events_) {
      structured = structured || event.mark == Mark::Params || event.mark == Mark::Angle ||
                   (event.mark == Mark::Square && text.substr(event.at, 5) == "[abi:");
    }
    if (!structured) {
      return std::nullopt;
    }
  }
  return Scopes{segments, label, suffix};
}

std::optional<std::vector<string>> CxxNameSplitter::split(string_view name) {
  std::optional<Scopes> found = scopes(name);
  if (!found) {
    return std::nullopt;
  }
  std::vector<string> segments{"C++ symbols"};
  segments.insert(segments.end(), found->scopes.begin(), found->scopes.end());
  string& leaf = segments.back();
  if (!found->label.empty()) {
    leaf.append(" (").append(found->label).append(")");
  }
  leaf.append(found->suffix);
  return segments;
}

}  // namespace vorlith
