#include "document.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "size_tree.h"

#ifdef VORLITH_JSON_READER
#include <nlohmann/json.hpp>
#endif

namespace vorlith {

using std::string_view;

namespace {

constexpr string_view kBom = "\xEF\xBB\xBF";

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

string_view skipSpace(string_view text) {
  while (!text.empty() && isSpace(text.front())) {
    text.remove_prefix(1);
  }
  return text;
}

string_view skipBom(string_view text) {
  return text.substr(0, kBom.size()) == kBom ? text.substr(kBom.size()) : text;
}

// "var", space, "treeData", space, "=", as the page accepts it; returns what follows, or nothing.
std::optional<string_view> afterPrefix(string_view text) {
  text = skipSpace(text);
  if (text.substr(0, 3) != "var" || text.size() < 4 || !isSpace(text[3])) {
    return std::nullopt;
  }
  text = skipSpace(text.substr(3));
  if (text.substr(0, 8) != "treeData") {
    return std::nullopt;
  }
  text = skipSpace(text.substr(8));
  if (text.substr(0, 1) != "=") {
    return std::nullopt;
  }
  return skipSpace(text.substr(1));
}

Document buildDocument(const TreeNode& root, const SizeTree* tree, std::vector<std::string> options);

uint32_t checkedIndex(size_t n) {
  if (n >= kNoGroup) {
    throw std::runtime_error("the document has more than 4 billion groups or symbols");
  }
  return static_cast<uint32_t>(n);
}

}  // namespace

std::vector<string_view> Document::pathOf(uint32_t group) const {
  std::vector<string_view> path;
  for (uint32_t g = group; g != 0 && g != kNoGroup; g = groups[g].parent) {
    path.push_back(groups[g].name);
  }
  return {path.rbegin(), path.rend()};
}

Document documentFromTree(const TreeNode& root, std::vector<std::string> options) {
  return buildDocument(root, nullptr, std::move(options));
}

Document documentFromTree(const SizeTree& tree, std::vector<std::string> options) {
  Document doc = buildDocument(tree.root, tree.hasSections ? &tree : nullptr, std::move(options));
  doc.hasKindTotals = tree.hasSections;
  doc.kindTotals = tree.totals;
  return doc;
}

namespace {

// The groups and leaves of `root`, with sections, kinds and objects from `tree` when given.
Document buildDocument(const TreeNode& root, const SizeTree* tree, std::vector<std::string> options) {
  Document doc;
  doc.recordsOptions = true;  // this run knows its options, none included
  doc.options = std::move(options);
  doc.groups.emplace_back();
  // Depth first with an explicit stack, as the tree's own writer does: names nest very deep.
  struct Frame {
    const TreeNode* node;
    uint32_t group;
    size_t next;
  };
  std::vector<Frame> stack{{&root, 0, 0}};
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next < frame.node->children.size()) {
      const auto& [name, child] = *(frame.node->children.begin() + frame.next++);
      uint32_t index = checkedIndex(doc.groups.size());
      DocGroup group;
      group.name = name;
      group.total = child.total;
      group.parent = frame.group;
      DocGroup& parent = doc.groups[frame.group];
      (parent.lastChild == kNoGroup ? parent.firstChild
                                    : doc.groups[parent.lastChild].nextSibling) = index;
      parent.lastChild = index;
      doc.groups.push_back(group);
      stack.push_back({&child, index, 0});  // invalidates `frame`
      continue;
    }
    DocGroup& group = doc.groups[frame.group];
    group.total = frame.node->total;
    group.firstLeaf = checkedIndex(doc.leaves.size());
    for (const auto& [key, leaf] : frame.node->leaves) {
      DocLeaf& added = doc.leaves.emplace_back();
      added.key = key;
      added.size = leaf.size;
      added.address = leaf.address;
      added.mangledName = leaf.mangledName;
      added.demangledName = leaf.demangledName;
      added.group = frame.group;
      if (tree != nullptr && leaf.section != kNoSection) {
        added.section = tree->sections[leaf.section].name;
        added.kind = kindId(tree->sections[leaf.section].kind);
        if (leaf.object != kNoObject) {
          added.object = tree->objects[leaf.object];
        }
      }
    }
    group.leafCount = checkedIndex(doc.leaves.size() - group.firstLeaf);
    stack.pop_back();
  }
  return doc;
}

}  // namespace

std::string totalsDisagreement(const Document& doc) {
  std::vector<uint64_t> sums(doc.groups.size(), 0);
  for (const DocLeaf& leaf : doc.leaves) {
    sums[leaf.group] += leaf.size;
  }
  for (uint32_t g = 1; g < doc.groups.size(); ++g) {
    sums[doc.groups[g].parent] += doc.groups[g].total;
  }
  for (uint32_t g = 0; g < doc.groups.size(); ++g) {
    if (sums[g] != doc.groups[g].total) {
      std::string where = "the whole program";
      if (g != 0) {
        where = "group \"";
        bool first = true;
        for (string_view name : doc.pathOf(g)) {
          where += first ? "" : " / ";
          where += name;
          first = false;
        }
        where += '"';
      }
      return where + " says " + std::to_string(doc.groups[g].total) + " bytes, its groups and " +
             "symbols add up to " + std::to_string(sums[g]);
    }
  }
  return {};
}

bool looksLikeDocument(string_view head) {
  string_view text = skipSpace(skipBom(head));
  return text.substr(0, 1) == "{" || afterPrefix(text).has_value();
}

string_view documentJson(string_view fileText) {
  string_view text = skipBom(fileText);
  if (auto rest = afterPrefix(text)) {
    text = *rest;
  }
  while (!text.empty() && isSpace(text.back())) {
    text.remove_suffix(1);
  }
  if (!text.empty() && text.back() == ';') {
    text.remove_suffix(1);
  }
  return text;
}

#ifdef VORLITH_JSON_READER

namespace {

// Builds a Document from the parser's events in document order, without a DOM: a 50 MB
// document would take half a gigabyte as a tree of JSON values. Unknown members are skipped.
class DocumentBuilder : public nlohmann::json_sax<nlohmann::json> {
 public:
  DocumentBuilder(Document& doc, size_t offset) : doc_(doc), offset_(offset) {}

  bool null() override { return scalar("null"); }
  bool boolean(bool) override { return scalar("a boolean"); }
  bool number_integer(number_integer_t) override { return scalar("a negative number"); }
  bool number_float(number_float_t, const string_t&) override { return scalar("a fraction"); }
  bool binary(binary_t&) override { return scalar("binary"); }
  bool number_unsigned(number_unsigned_t n) override {
    if (skipping()) {
      return true;
    }
    if (inOptions()) {
      return scalar("a number");
    }
    if (stack_.empty()) {
      return misplaced("a number");
    }
    Frame& top = stack_.back();
    if (top.kind == Kind::Group && top.key == "total") {
      doc_.groups[top.index].total = n;
      top.seen |= kTotal;
    } else if (top.kind == Kind::Leaf && (top.key == "size" || top.key == "address")) {
      DocLeaf& leaf = doc_.leaves[top.index];
      (top.key == "size" ? leaf.size : leaf.address) = n;
      top.seen |= top.key == "size" ? unsigned{kSize} : unsigned{kAddress};
    } else {
      return misplaced("a number");
    }
    return true;
  }
  bool string(string_t& s) override {
    if (skipping()) {
      return true;
    }
    if (stack_.empty()) {
      return misplaced("a string");
    }
    Frame& top = stack_.back();
    if (top.kind == Kind::Options) {
      doc_.options.push_back(s);
      return true;
    }
    if (top.kind == Kind::Leaf && (top.key == "mangledName" || top.key == "demangledName")) {
      DocLeaf& leaf = doc_.leaves[top.index];
      (top.key == "mangledName" ? leaf.mangledName : leaf.demangledName) = doc_.text->copy(s);
      top.seen |= top.key == "mangledName" ? unsigned{kMangled} : 0u;
      return true;
    }
    if (top.kind == Kind::Leaf && isSectionMember(top.key)) {
      DocLeaf& leaf = doc_.leaves[top.index];
      (top.key == "section" ? leaf.section
       : top.key == "kind"  ? leaf.kind
                            : leaf.object) = doc_.text->copy(s);
      return true;
    }
    return misplaced("a string");
  }
  bool start_object(std::size_t) override {
    if (inOptions()) {
      return scalar("an object");
    }
    if (skipping() || (!stack_.empty() && isUnknown(stack_.back()))) {
      ++skipDepth_;
      skippedKeys_.emplace_back();
      return true;
    }
    if (stack_.empty()) {
      doc_.groups.emplace_back();
      stack_.push_back({Kind::Group, 0});
      return true;
    }
    Frame& top = stack_.back();
    uint32_t at = top.index;
    switch (top.kind) {
      case Kind::Group:
        if (top.key == "children") {
          top.seen |= kChildren;
          stack_.push_back({Kind::Children, at});
        } else if (top.key == "leaves") {
          if (top.seen & kLeaves) {
            return fail("a group has two \"leaves\" objects");
          }
          top.seen |= kLeaves;
          doc_.groups[at].firstLeaf = checkedIndex(doc_.leaves.size());
          stack_.push_back({Kind::Leaves, at});
        } else {
          return misplaced("an object");
        }
        return true;
      case Kind::Children:
        return openGroup(at, top.key);
      case Kind::Leaves:
        doc_.leaves.push_back({});
        doc_.leaves.back().key = doc_.text->copy(top.key);
        doc_.leaves.back().group = at;
        stack_.push_back({Kind::Leaf, checkedIndex(doc_.leaves.size() - 1)});
        return true;
      case Kind::Leaf:
        return misplaced("an object");
      case Kind::Options:
        return scalar("an object");
    }
    return true;
  }
  bool key(string_t& k) override {
    if (skipping()) {
      if (!skippedKeys_.empty()) {
        skippedKeys_.back().push_back(k);
      }
      return true;
    }
    Frame& top = stack_.back();
    if (top.kind == Kind::Group || top.kind == Kind::Leaf) {
      top.keys.push_back(k);
    }
    top.key = k;
    return true;
  }
  bool end_object() override {
    if (skipping()) {
      --skipDepth_;
      std::vector<std::string> keys = std::move(skippedKeys_.back());
      skippedKeys_.pop_back();
      if (const std::string* twice = givenTwice(keys)) {
        return fail("the member \"" + *twice + "\" is twice in one object");
      }
      return true;
    }
    Frame top = std::move(stack_.back());
    stack_.pop_back();
    if (const std::string* twice = givenTwice(top.keys)) {
      return fail("the member \"" + *twice + "\" is twice in " +
                  (top.kind == Kind::Group ? where(top.index)
                                           : "symbol \"" + std::string(doc_.leaves[top.index].key) +
                                                 "\" in " + where(doc_.leaves[top.index].group)));
    }
    if (top.kind == Kind::Group && top.seen != (kTotal | kChildren | kLeaves)) {
      return fail(where(top.index) + " lacks \"total\", \"children\" or \"leaves\"");
    }
    if (top.kind == Kind::Leaf &&
        (top.seen & (kSize | kAddress | kMangled)) != (kSize | kAddress | kMangled)) {
      return fail("symbol \"" + std::string(doc_.leaves[top.index].key) + "\" in " +
                  where(doc_.leaves[top.index].group) +
                  " lacks \"size\", \"address\" or \"mangledName\"");
    }
    if (top.kind == Kind::Leaves) {
      DocGroup& group = doc_.groups[top.index];
      group.leafCount = checkedIndex(doc_.leaves.size() - group.firstLeaf);
    }
    if (!stack_.empty()) {
      stack_.back().key.clear();
    }
    return true;
  }
  bool start_array(std::size_t) override {
    if (inOptions()) {
      return scalar("an array");
    }
    if (!skipping() && stack_.size() == 1 && stack_.back().key == kOptions) {
      if (doc_.recordsOptions) {
        return fail("the root has two \"options\" records");
      }
      doc_.recordsOptions = true;
      stack_.push_back({Kind::Options, 0});
      return true;
    }
    if (skipping() || (!stack_.empty() && isUnknown(stack_.back()))) {
      ++skipDepth_;
      return true;
    }
    return misplaced("an array");
  }
  bool end_array() override {
    if (!skipping() && !stack_.empty() && stack_.back().kind == Kind::Options) {
      stack_.pop_back();
      stack_.back().key.clear();
      return true;
    }
    --skipDepth_;
    return true;
  }
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& error) override {
    error_ = "it is not valid JSON (at byte " + std::to_string(offset_ + position) + ": " +
             error.what() + ")";
    return false;
  }

  [[nodiscard]] const std::string& error() const { return error_; }

 private:
  enum class Kind { Group, Children, Leaves, Leaf, Options };
  // The record of the options that made the document: an array of strings at the root.
  static constexpr string_view kOptions = "options";
  enum Seen : unsigned {
    kTotal = 1,
    kChildren = 2,
    kLeaves = 4,
    kSize = 8,
    kAddress = 16,
    kMangled = 32
  };
  struct Frame {
    Kind kind;
    uint32_t index;  // the group, or the leaf
    std::string key = {};
    unsigned seen = 0;
    std::vector<std::string> keys = {};  // of a group or a leaf, to find one given twice
  };

  // A member name that `keys` holds twice, or null; sorts `keys`. JSON.parse, and so the page,
  // keeps only the last of two members of one name; vorlith never writes that, so such a
  // document is refused rather than read otherwise than the page reads it. (The names in
  // "children" and "leaves" are checked once the document is read.)
  static const std::string* givenTwice(std::vector<std::string>& keys) {
    std::sort(keys.begin(), keys.end());
    auto twice = std::adjacent_find(keys.begin(), keys.end());
    return twice == keys.end() ? nullptr : &*twice;
  }

  [[nodiscard]] bool skipping() const { return skipDepth_ > 0; }
  [[nodiscard]] bool inOptions() const {
    return !skipping() && !stack_.empty() && stack_.back().kind == Kind::Options;
  }
  static bool isSectionMember(const std::string& key) {
    return key == "section" || key == "kind" || key == "object";
  }
  // A member whose name the document format does not have; its value is skipped whole.
  static bool isUnknown(const Frame& frame) {
    switch (frame.kind) {
      case Kind::Group:
        return frame.key != "total" && frame.key != "children" && frame.key != "leaves";
      case Kind::Leaf:
        return frame.key != "size" && frame.key != "address" && frame.key != "mangledName" &&
               frame.key != "demangledName" && !isSectionMember(frame.key);
      default:
        return false;
    }
  }
  bool scalar(const char* what) {
    if (inOptions()) {
      return fail(std::string("\"options\" of the root holds ") + what + ", not only strings");
    }
    return skipping() || (!stack_.empty() && isUnknown(stack_.back())) || misplaced(what);
  }
  bool misplaced(const char* what) {
    if (stack_.empty()) {
      return fail("its top level is not an object");
    }
    const Frame& top = stack_.back();
    if (top.kind == Kind::Leaf) {
      return fail("\"" + top.key + "\" of symbol \"" + std::string(doc_.leaves[top.index].key) +
                  "\" in " + where(doc_.leaves[top.index].group) + " is " + what);
    }
    if (top.kind == Kind::Group) {
      return fail("\"" + top.key + "\" of " + where(top.index) + " is " + what);
    }
    return fail("\"" + top.key + "\" in " + where(top.index) + " is " + what + ", not an object");
  }
  bool openGroup(uint32_t parentIndex, const std::string& name) {
    uint32_t index = checkedIndex(doc_.groups.size());
    DocGroup group;
    group.name = doc_.text->copy(name);
    group.parent = parentIndex;
    DocGroup& parent = doc_.groups[parentIndex];
    (parent.lastChild == kNoGroup ? parent.firstChild : doc_.groups[parent.lastChild].nextSibling) =
        index;
    parent.lastChild = index;
    doc_.groups.push_back(group);
    stack_.push_back({Kind::Group, index});
    return true;
  }
  std::string where(uint32_t group) const {
    if (group == 0) {
      return "the root";
    }
    std::string text = "group \"";
    bool first = true;
    for (string_view name : doc_.pathOf(group)) {
      text += first ? "" : " / ";
      text += name;
      first = false;
    }
    return text + "\"";
  }
  bool fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  Document& doc_;
  size_t offset_;  // of the JSON in its file, for positions in messages
  std::vector<Frame> stack_;
  size_t skipDepth_ = 0;
  std::vector<std::vector<std::string>> skippedKeys_;  // of each object inside a skipped value
  std::string error_;
};

// A name twice in one object: JSON.parse, and so the page, would keep only the last one. vorlith
// never writes that, so such a document is refused rather than read differently from the page.
void requireUniqueNames(const Document& doc) {
  std::vector<string_view> names;
  auto check = [&doc, &names](uint32_t group, const char* what) {
    std::sort(names.begin(), names.end());
    auto twice = std::adjacent_find(names.begin(), names.end());
    if (twice != names.end()) {
      std::string where =
          group == 0 ? "the root" : "group \"" + std::string(doc.groups[group].name) + "\"";
      throw std::runtime_error(std::string(what) + " \"" + std::string(*twice) + "\" is twice in " +
                               where);
    }
  };
  for (uint32_t g = 0; g < doc.groups.size(); ++g) {
    names.clear();
    doc.forEachChild(g, [&](uint32_t c) { names.push_back(doc.groups[c].name); });
    check(g, "group");
    names.clear();
    const DocGroup& group = doc.groups[g];
    for (uint32_t k = 0; k < group.leafCount; ++k) {
      names.push_back(doc.leaves[group.firstLeaf + k].key);
    }
    check(g, "symbol");
  }
}

// Refuses a string longer than kMaxDocumentString before the parser sees it: the parser would
// build it in a buffer that grows by doubling, and the reader copies it again, four times its
// length in all. One pass over the text, no allocation.
void requireBoundedStrings(string_view json, size_t offset) {
  for (size_t at = 0; at < json.size(); ++at) {
    if (json[at] != '"') {
      continue;
    }
    size_t start = at++;
    while (at < json.size() && json[at] != '"') {
      at += json[at] == '\\' ? 2 : 1;
    }
    if (at - start - 1 > kMaxDocumentString) {
      throw std::runtime_error("the string at byte " + std::to_string(offset + start) + " is " +
                               std::to_string(at - start - 1) +
                               " bytes long, more than the 16 MiB that a name may take");
    }
  }
}

}  // namespace

bool canReadDocuments() {
  return true;
}

Document readDocument(string_view json, size_t offset) {
  requireBoundedStrings(json, offset);
  Document doc;
  DocumentBuilder builder(doc, offset);
  if (!nlohmann::json::sax_parse(json.begin(), json.end(), &builder)) {
    throw std::runtime_error(builder.error().empty() ? "it is not a document" : builder.error());
  }
  if (doc.groups.empty()) {
    throw std::runtime_error("its top level is not an object");
  }
  requireUniqueNames(doc);
  return doc;
}

#else

bool canReadDocuments() {
  return false;
}

Document readDocument(string_view, size_t) {
  throw std::runtime_error(
      "this vorlith was built without a JSON reader, so it cannot read documents (build it "
      "with nlohmann-json installed, Debian package nlohmann-json3-dev), but it reads maps");
}

#endif

}  // namespace vorlith
