// Templates by total size: every template, D and C++, with the sum over the symbols of all its
// instances, wherever they are filed. A symbol belongs to the outermost template instance of its
// qualified name, read from the name it is shown by:
//   pure @safe void std.format.internal.write.formatValueImpl!(Appender!string, double, char)...
//   -> template "std.format.internal.write.formatValueImpl", instance "...formatValueImpl!(...)"
// The page's templates.js reads names the same way, so both rank the same templates.
#include <algorithm>
#include <array>
#include <unordered_map>

#include "reports.h"

namespace vorlith::report {

using std::string;
using std::string_view;

namespace {

constexpr string_view kPhrases[] = {
    "vtable for ",          "typeinfo for ",           "typeinfo name for ",
    "VTT for ",             "construction vtable for ", "guard variable for ",
    "non-virtual thunk to ", "virtual thunk to ",       "covariant return thunk to ",
    "thunk for ",
};

bool isNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// The text without what surrounds the entity's name: "typeid(...)", a phrase such as
// "vtable for ", a clone suffix " [clone .isra.0]".
string_view entityText(string_view text) {
  for (bool again = true; again;) {
    again = false;
    for (string_view phrase : kPhrases) {
      if (!text.empty() && text.front() == phrase.front() &&
          text.substr(0, phrase.size()) == phrase) {
        text.remove_prefix(phrase.size());
        again = true;
      }
    }
  }
  if (!text.empty() && text.back() == ')' && text.substr(0, 7) == "typeid(") {
    text = text.substr(7, text.size() - 8);
  }
  if (!text.empty() && text.back() == ']') {
    if (size_t clone = text.rfind(" [clone "); clone != string_view::npos) {
      text = text.substr(0, clone);
    }
  }
  return text;
}

// Where the bracket that opens at `at` closes, or npos. `operator<` and `->` are no brackets.
class Brackets {
 public:
  explicit Brackets(string_view text) : text_(text) {}
  // The depth change of the character at `at`: +1, -1 or 0.
  [[nodiscard]] int step(size_t at) const {
    char c = text_[at];
    if (c == '(' || c == '[' || (c == '<' && !inOperator(at))) {
      return 1;
    }
    if (c == ')' || c == ']' || (c == '>' && !inOperator(at) && !(at > 0 && text_[at - 1] == '-'))) {
      return -1;
    }
    return 0;
  }

 private:
  [[nodiscard]] bool inOperator(size_t at) const {
    size_t k = at;
    while (k > 0 && (text_[k - 1] == '<' || text_[k - 1] == '>' || text_[k - 1] == '=')) {
      --k;
    }
    return k >= 8 && text_[k - 1] == 'r' && text_.substr(k - 8, 8) == "operator";
  }
  string_view text_;
};

}  // namespace

namespace {

// Byte classes for the scans below: the bytes that end a token or open or close a bracket, and
// those a template marker is made of. Runs of other bytes change nothing and are skipped at once.
enum : uint8_t { kToken = 1, kMarker = 2, kBracket = 4 };
constexpr std::array<uint8_t, 256> kByteClass = [] {
  std::array<uint8_t, 256> table{};
  for (unsigned char c : string_view("()[]<>")) {
    table[c] = kToken | kMarker | kBracket;
  }
  table[' '] = kToken;
  table['!'] = kMarker;
  return table;
}();

// The first byte at or after `at` of class `mask`, or text.size().
size_t skipTo(string_view text, size_t at, uint8_t mask) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  while (at < text.size() && (kByteClass[bytes[at]] & mask) == 0) {
    ++at;
  }
  return at;
}

// templateOf's result as views into the name.
struct TemplateView {
  string_view name;
  string_view instance;
};

TemplateView templateViewOf(string_view shownName) {
  string_view text = entityText(shownName);
  if (text.empty() || text.size() > (1u << 20)) {
    return {};
  }
  Brackets brackets(text);
  // Tokens at depth 0 between spaces; the name is the last one holding a parameter list, or
  // the last one of all (data).
  size_t nameStart = 0, nameEnd = text.size();
  size_t tokenStart = 0;
  bool found = false;
  int depth = 0;
  bool tokenHasParameters = false;
  for (size_t k = skipTo(text, 0, kToken);; k = skipTo(text, k + 1, kToken)) {
    if (k == text.size() || (depth == 0 && text[k] == ' ')) {
      if (tokenHasParameters || (!found && k == text.size())) {
        nameStart = tokenStart;
        nameEnd = k;
        found = found || tokenHasParameters;
      }
      if (k == text.size()) {
        break;
      }
      tokenStart = k + 1;
      tokenHasParameters = false;
      continue;
    }
    int step = brackets.step(k);
    if (step > 0 && depth == 0 && text[k] == '(') {
      tokenHasParameters = true;
    }
    depth = std::max(0, depth + step);
  }
  string_view name = text.substr(nameStart, nameEnd - nameStart);
  // The first template marker at depth 0 of the name: "!" (D) or "<" (C++) after a name.
  depth = 0;
  size_t offset = nameStart;
  for (size_t k = skipTo(name, 0, kMarker); k < name.size(); k = skipTo(name, k + 1, kMarker)) {
    char c = name[k];
    bool marker = depth == 0 && k > 0 && isNameChar(name[k - 1]) &&
                  ((c == '!' && k + 1 < name.size() && (name[k + 1] == '(' || isNameChar(name[k + 1]))) ||
                   (c == '<' && brackets.step(offset + k) > 0));
    if (marker) {
      size_t end = k + 1;
      if (c == '!' && name[end] != '(') {
        while (end < name.size() && isNameChar(name[end])) {
          ++end;
        }
      } else {
        end = c == '<' ? k : end;  // the bracket itself opens the arguments
        int inner = 0;
        for (; end < name.size(); end = skipTo(name, end + 1, kBracket)) {
          inner += brackets.step(offset + end);
          if (inner == 0) {
            ++end;
            break;
          }
        }
      }
      return {name.substr(0, k), name.substr(0, end)};
    }
    depth = std::max(0, depth + brackets.step(offset + k));
    if (depth == 0 && (c == '(' || c == ')')) {
      break;  // the parameters: no template in the name itself
    }
  }
  return {};
}

}  // namespace

TemplateOf templateOf(string_view shownName) {
  TemplateView of = templateViewOf(shownName);
  return {string(of.name), string(of.instance)};
}

std::vector<TemplateTotal> templatesByTotal(const Document& doc) {
  // Names and instances are views into the document's names until the lists are made.
  struct Sum {
    string_view name;
    uint64_t total = 0;
    uint64_t symbols = 0;
    std::unordered_map<string_view, uint64_t, NameHash> instances;
  };
  std::unordered_map<string_view, size_t, NameHash> index;  // template -> position in `all`
  std::vector<Sum> sums;
  for (const DocLeaf& leaf : doc.leaves) {
    TemplateView of = templateViewOf(leaf.shownName());
    if (of.name.empty()) {
      continue;
    }
    auto [at, added] = index.try_emplace(of.name, sums.size());
    if (added) {
      sums.push_back({of.name, 0, 0, {}});
    }
    Sum& sum = sums[at->second];
    sum.total += leaf.size;
    ++sum.symbols;
    sum.instances[of.instance] += leaf.size;
  }
  std::unordered_map<string_view, size_t, NameHash>().swap(index);
  std::vector<TemplateTotal> all;
  all.reserve(sums.size());
  for (Sum& sum : sums) {
    std::vector<std::pair<string_view, uint64_t>> list(sum.instances.begin(), sum.instances.end());
    size_t keep = std::min<size_t>(3, list.size());
    auto larger = [](const auto& a, const auto& b) {
      return a.second != b.second ? a.second > b.second : a.first < b.first;
    };
    std::partial_sort(list.begin(), list.begin() + static_cast<ptrdiff_t>(keep), list.end(), larger);
    TemplateTotal& t = all.emplace_back();
    t.name = string(sum.name);
    t.total = sum.total;
    t.symbols = sum.symbols;
    t.instances = sum.instances.size();
    for (size_t k = 0; k < keep; ++k) {
      t.largest.emplace_back(string(list[k].first), list[k].second);
    }
    decltype(sum.instances)().swap(sum.instances);
  }
  std::sort(all.begin(), all.end(), [](const TemplateTotal& a, const TemplateTotal& b) {
    return a.total != b.total ? a.total > b.total : a.name < b.name;
  });
  return all;
}

string templatesSection(const Document& doc, uint64_t count,
                        const std::vector<TemplateTotal>* templates) {
  std::vector<TemplateTotal> made;
  if (templates == nullptr) {
    made = templatesByTotal(doc);
    templates = &made;
  }
  const std::vector<TemplateTotal>& all = *templates;
  if (all.empty() || count == 0) {
    return "";
  }
  uint64_t total = doc.root().total;
  size_t shown = static_cast<size_t>(std::min<uint64_t>(count, all.size()));
  string out = "\nTemplates by total size: " + std::to_string(all.size()) + " templates\n";
  size_t bytes = std::max<size_t>(5, std::to_string(all.front().total).size());
  auto row = [&](string_view a, string_view b, string_view c, string_view d, string_view name) {
    size_t used = bytes + 10 + 6 + 9 + 8;
    return padLeft(a, bytes) + "  " + padLeft(b, 10) + "  " + padLeft(c, 6) + "  " + padLeft(d, 9) +
           "  " + shortenPath(name, kLineWidth - used) + "\n";
  };
  out += row("Bytes", "Size", "Share", "Instances", "Template (largest instance)");
  for (size_t k = 0; k < shown; ++k) {
    const TemplateTotal& t = all[k];
    out += row(std::to_string(t.total), humanSize(t.total), share(t.total, total),
               std::to_string(t.instances), printable(t.name));
    if (!t.largest.empty()) {
      out += "    " + shortenPath(printable(t.largest.front().first) + " (" +
                                      humanSize(t.largest.front().second) + ")",
                                  kLineWidth - 4) +
             "\n";
    }
  }
  return out;
}

string templateGrowthSection(const Document& oldDoc, const Document& newDoc, uint64_t count,
                             const std::vector<TemplateTotal>* newTemplates) {
  if (count == 0) {
    return "";
  }
  std::vector<TemplateTotal> before = templatesByTotal(oldDoc);
  std::vector<TemplateTotal> made;
  if (newTemplates == nullptr) {
    made = templatesByTotal(newDoc);
    newTemplates = &made;
  }
  const std::vector<TemplateTotal>& after = *newTemplates;
  std::unordered_map<string_view, const TemplateTotal*, NameHash> old;
  for (const TemplateTotal& t : before) {
    old.emplace(t.name, &t);
  }
  struct Growth {
    Delta delta;
    uint64_t oldSize, newSize, oldInstances, newInstances;
    string_view name;
  };
  std::vector<Growth> grown;
  for (const TemplateTotal& t : after) {
    auto found = old.find(t.name);
    uint64_t was = found == old.end() ? 0 : found->second->total;
    Delta delta = Delta(t.total) - Delta(was);
    if (delta > 0) {
      grown.push_back({delta, was, t.total, found == old.end() ? 0 : found->second->instances,
                       t.instances, t.name});
    }
  }
  if (grown.empty() || count == 0) {
    return "";
  }
  std::sort(grown.begin(), grown.end(), [](const Growth& a, const Growth& b) {
    return a.delta != b.delta ? a.delta > b.delta : a.name < b.name;
  });
  grown.resize(static_cast<size_t>(std::min<uint64_t>(count, grown.size())));
  size_t bytes = std::max<size_t>(6, std::to_string(grown.front().newSize).size());
  auto row = [&](string_view a, string_view b, string_view c, string_view d, string_view e,
                 string_view name) {
    size_t used = (bytes + 1) + 11 + 2 * bytes + 11 + 10;
    return padLeft(a, bytes + 1) + "  " + padLeft(b, 11) + "  " + padLeft(c, bytes) + "  " +
           padLeft(d, bytes) + "  " + padLeft(e, 11) + "  " + shortenPath(name, kLineWidth - used) +
           "\n";
  };
  string out = "\n" + row("Change", "Size", "Old", "New", "Instances", "Templates that grew most");
  for (const Growth& g : grown) {
    out += row(signedBytes(g.delta), signedHumanSize(g.delta), std::to_string(g.oldSize),
               std::to_string(g.newSize),
               std::to_string(g.oldInstances) + " > " + std::to_string(g.newInstances),
               printable(g.name));
  }
  return out;
}

}  // namespace vorlith::report
