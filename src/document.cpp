#include "document.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "file_io.h"
#include "keyed_hash.h"
#include "pages.h"
#include "size_tree.h"

#include "zel/utils/text.h"

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
  // Room for every group and leaf at once: the leaves of a large map fill tens of megabytes,
  // which growing by doubling would copy and fault in again several times.
  size_t groups = 1;
  size_t leaves = 0;
  for (std::vector<const TreeNode*> pending{&root}; !pending.empty();) {
    const TreeNode* node = pending.back();
    pending.pop_back();
    groups += node->children.size();
    leaves += node->leaves.size();
    for (const auto& entry : node->children) {
      pending.push_back(&entry.second);
    }
  }
  doc.groups.reserve(groups);
  doc.leaves.reserve(leaves);
  adviseHugePages(doc.leaves.data(), doc.leaves.capacity() * sizeof(DocLeaf));
  // Leaves of one section and object share their place.
  std::unordered_map<uint64_t, const DocPlace*> places;
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
      added.mangledName = leaf.mangledName.view();
      added.demangledName = leaf.demangledName.view();
      added.group = frame.group;
      if (tree != nullptr && leaf.section != kNoSection) {
        auto [at, fresh] =
            places.try_emplace(uint64_t{leaf.section} << 32 | uint64_t{leaf.object}, nullptr);
        if (fresh) {
          DocPlace& place = doc.places.emplace_back();
          place.section = tree->sections[leaf.section].name;
          place.kind = kindId(tree->sections[leaf.section].kind);
          if (leaf.object != kNoObject) {
            place.object = tree->objects[leaf.object];
          }
          at->second = &place;
        }
        added.place = at->second;
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

namespace {

// The names of a document, found by their text for a document read beside it, which then keeps
// a view of each name found rather than a copy of its own. Two builds of one program list most
// names in the same order: a name is looked for first where the last one found puts it (a leaf
// as far from its equal as the last leaf found, a group likewise), and only then in a flat
// table of references to the document's names (a leaf's key, mangled or demangled name, a
// group's name, a place's section, kind or object), made on the first name not found in place.
class NameTable {
 public:
  enum What : uint32_t { kKey, kMangled, kDemangled, kGroup, kSection, kKind, kObject };

  explicit NameTable(const Document& doc) : doc_(doc) {}

  // The document's name equal to `name`, a name of what `what` says of the leaf or group
  // numbered `index` in the document read; or a view without data.
  [[nodiscard]] string_view find(string_view name, What what, uint32_t index) {
    if (name.empty()) {
      return {};
    }
    const bool ofGroup = what == kGroup;
    const int64_t guess = int64_t{index} + (ofGroup ? groupShift_ : leafShift_);
    if (guess >= 0 &&
        guess < static_cast<int64_t>(ofGroup ? doc_.groups.size() : doc_.leaves.size())) {
      if (string_view there = nameAt(static_cast<uint32_t>(guess), what); there == name) {
        return there;
      }
    }
    if (!made_) {
      make();
    }
    if (slots_.empty()) {
      return {};
    }
    for (size_t slot = firstSlot(name);; slot = nextSlot(slot)) {
      if (slots_[slot] == 0) {
        return {};
      }
      if (string_view there = nameOf(slots_[slot]); there == name) {
        const uint32_t found = (slots_[slot] - 1) >> 3;
        const uint32_t kind = (slots_[slot] - 1) & 7;
        if (kind <= kDemangled) {
          leafShift_ = int64_t{found} - index;
        } else if (kind == kGroup) {
          groupShift_ = int64_t{found} - index;
        }
        return there;
      }
    }
  }

 private:
  static uint32_t refer(uint32_t index, What what) { return (index << 3 | what) + 1; }
  // What `what` says of leaf or group `index` (of a leaf's place, for a section, kind or object).
  [[nodiscard]] string_view nameAt(uint32_t index, uint32_t what) const {
    switch (what) {
      case kKey:
        return doc_.leaves[index].key;
      case kMangled:
        return doc_.leaves[index].mangledName;
      case kDemangled:
        return doc_.leaves[index].demangledName;
      case kGroup:
        return doc_.groups[index].name;
      case kSection:
        return doc_.leaves[index].section();
      case kKind:
        return doc_.leaves[index].kind();
      default:
        return doc_.leaves[index].object();
    }
  }
  // The name a reference refers to: in the table, sections, kinds and objects are of places.
  [[nodiscard]] string_view nameOf(uint32_t ref) const {
    uint32_t index = (ref - 1) >> 3;
    switch ((ref - 1) & 7) {
      case kSection:
        return doc_.places[index].section;
      case kKind:
        return doc_.places[index].kind;
      case kObject:
        return doc_.places[index].object;
      default:
        return nameAt(index, (ref - 1) & 7);
    }
  }

  void make() {
    made_ = true;
    // A reference is a leaf's, group's or place's number, times 8, plus what it names, plus 1.
    constexpr size_t kMost = size_t{1} << 28;
    if (doc_.leaves.size() >= kMost || doc_.groups.size() >= kMost || doc_.places.size() >= kMost) {
      return;  // too many to refer to: the table stays empty and shares nothing
    }
    size_t names = doc_.groups.size() + 3 * doc_.places.size();
    for (const DocLeaf& leaf : doc_.leaves) {
      names += 2 + (leaf.demangledName.empty() ? 0 : 1);
    }
    // Full to seven eighths at most: most names are found in a probe or two all the same.
    slots_.assign(names + names / 7 + 1, 0);
    for (uint32_t g = 0; g < doc_.groups.size(); ++g) {
      add(refer(g, kGroup));
    }
    for (uint32_t k = 0; k < doc_.leaves.size(); ++k) {
      add(refer(k, kKey));
      add(refer(k, kMangled));
      add(refer(k, kDemangled));
    }
    for (uint32_t k = 0; k < doc_.places.size(); ++k) {
      add(refer(k, kSection));
      add(refer(k, kKind));
      add(refer(k, kObject));
    }
  }
  void add(uint32_t ref) {
    string_view name = nameOf(ref);
    if (name.empty()) {
      return;
    }
    for (size_t slot = firstSlot(name);; slot = nextSlot(slot)) {
      if (slots_[slot] == 0) {
        slots_[slot] = ref;
        return;
      }
      if (nameOf(slots_[slot]) == name) {
        return;
      }
    }
  }

  // The hash scaled to the table's size, which need not be a power of two.
  [[nodiscard]] size_t firstSlot(string_view name) const {
    __extension__ using Wide = unsigned __int128;
    return static_cast<size_t>((Wide{keyedHash(name)} * slots_.size()) >> 64);
  }
  [[nodiscard]] size_t nextSlot(size_t slot) const {
    return slot + 1 == slots_.size() ? 0 : slot + 1;
  }

  const Document& doc_;
  int64_t leafShift_ = 0;   // where the last leaf found lies, less where it was looked for
  int64_t groupShift_ = 0;  // the same of groups
  bool made_ = false;
  std::vector<uint32_t> slots_;
};

std::string longStringMessage(size_t position, size_t length) {
  return "the string at byte " + std::to_string(position) + " is " + std::to_string(length) +
         " bytes long, more than the 16 MiB that a name may take";
}

// Builds a Document from the reader's events in document order, without a DOM: a 50 MB
// document would take half a gigabyte as a tree of JSON values. Unknown members are skipped.
class DocumentBuilder {
 public:
  // With `viewsIntoJson`, names written without escapes stay views into the text read, which
  // must then live as long as the document; others are copied into the document's arena.
  // Names that `shared` holds are kept as its views rather than copied.
  DocumentBuilder(Document& doc, size_t offset, bool viewsIntoJson, NameTable* shared = nullptr)
      : doc_(doc), viewsIntoJson_(viewsIntoJson), offset_(offset), shared_(shared) {}

  // The bytes of the string about to be handed on as they stand in the text, when it holds no
  // escape (then they are the string); empty otherwise.
  void setRaw(string_view raw) { raw_ = raw; }

  bool null() { return scalar("null"); }
  bool boolean(bool) { return scalar("a boolean"); }
  bool number_integer() { return scalar("a negative number"); }
  bool number_float() { return scalar("a fraction"); }
  bool number_unsigned(uint64_t n) {
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
      return scalar("a number");  // skipped as the value of a member the format does not have
    }
    return true;
  }
  bool string(string_view s) {
    if (skipping()) {
      return true;
    }
    if (stack_.empty()) {
      return misplaced("a string");
    }
    Frame& top = stack_.back();
    if (top.kind == Kind::Options) {
      doc_.options.emplace_back(s);
      return true;
    }
    if (top.kind == Kind::Leaf && (top.key == "mangledName" || top.key == "demangledName")) {
      DocLeaf& leaf = doc_.leaves[top.index];
      const bool mangled = top.key == "mangledName";
      (mangled ? leaf.mangledName : leaf.demangledName) =
          keep(s, raw_, mangled ? NameTable::kMangled : NameTable::kDemangled, top.index);
      top.seen |= top.key == "mangledName" ? unsigned{kMangled} : 0u;
      return true;
    }
    if (top.kind == Kind::Leaf && isSectionMember(top.key)) {
      // Held here until the leaf ends: most leaves share a place made before.
      placeParts_[top.key == "section" ? 0 : top.key == "kind" ? 1 : 2].assign(s);
      top.hasPlace = true;
      return true;
    }
    return scalar("a string");  // skipped as the value of a member the format does not have
  }
  bool start_object() {
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
        return openGroup(
            at, keep(top.key, top.keyRaw, NameTable::kGroup, checkedIndex(doc_.groups.size())));
      case Kind::Leaves:
        for (std::string& part : placeParts_) {
          part.clear();
        }
        doc_.leaves.push_back({});
        doc_.leaves.back().key =
            keep(top.key, top.keyRaw, NameTable::kKey, checkedIndex(doc_.leaves.size() - 1));
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
  bool key(string_view k) {
    if (skipping()) {
      if (!skippedKeys_.empty()) {
        skippedKeys_.back().emplace_back(k);
      }
      return true;
    }
    Frame& top = stack_.back();
    if (top.kind == Kind::Group || top.kind == Kind::Leaf) {
      top.members.add(k);
    }
    top.key = k;
    top.keyRaw = raw_;
    return true;
  }
  bool end_object() {
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
    if (const std::string* twice = top.members.givenTwice()) {
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
    if (top.kind == Kind::Leaf && top.hasPlace) {
      doc_.leaves[top.index].place = placeOf(top.index);
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
  bool start_array() {
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
  bool end_array() {
    if (!skipping() && !stack_.empty() && stack_.back().kind == Kind::Options) {
      stack_.pop_back();
      stack_.back().key.clear();
      return true;
    }
    --skipDepth_;
    return true;
  }
  // `position` counts from 1 at the JSON's first byte.
  bool parse_error(size_t position, string_view what) {
    error_ = "it is not valid JSON (at byte " + std::to_string(offset_ + position) + ": " +
             std::string(what) + ")";
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
  // The member names of a group or a leaf: those of the format as bits, any others listed.
  struct MemberNames {
    static constexpr string_view kKnown[] = {"total",         "children", "leaves",
                                             "size",          "address",  "mangledName",
                                             "demangledName", "section",  "kind",
                                             "object"};
    unsigned seen = 0;
    std::string twice;  // the first in byte order of the known names given twice
    std::vector<std::string> others;

    void add(string_view name) {
      for (unsigned k = 0; k < std::size(kKnown); ++k) {
        if (name == kKnown[k]) {
          if ((seen & (1u << k)) != 0 && (twice.empty() || name < twice)) {
            twice = std::string(name);
          }
          seen |= 1u << k;
          return;
        }
      }
      others.emplace_back(name);
    }
    // As givenTwice of all the names.
    const std::string* givenTwice() {
      const std::string* other = others.size() < 2 ? nullptr : DocumentBuilder::givenTwice(others);
      if (twice.empty()) {
        return other;
      }
      return other != nullptr && *other < twice ? other : &twice;
    }
  };

  struct Frame {
    Kind kind;
    uint32_t index;  // the group, or the leaf
    std::string key = {};
    string_view keyRaw = {};  // as setRaw gave it for the key
    unsigned seen = 0;
    MemberNames members = {};  // of a group or a leaf, to find one given twice
    bool hasPlace = false;     // of a leaf: it names its section, kind or object
  };

  // The document's place of the section, kind and object in placeParts_, of leaf `leaf`, made on
  // its first use.
  const DocPlace* placeOf(uint32_t leaf) {
    placeKey_.clear();
    for (const std::string& part : placeParts_) {
      uint64_t size = part.size();
      placeKey_.append(reinterpret_cast<const char*>(&size), sizeof size);
    }
    for (const std::string& part : placeParts_) {
      placeKey_.append(part);
    }
    const uint64_t hash = keyedHash(placeKey_);
    if ((places_.size() - placesLeft_) * 8 >= places_.size() * 7) {
      growPlaces();
    }
    size_t slot = hash & (places_.size() - 1);
    for (; places_[slot] != nullptr; slot = (slot + 1) & (places_.size() - 1)) {
      const DocPlace& there = *places_[slot];
      if (there.section == placeParts_[0] && there.kind == placeParts_[1] &&
          there.object == placeParts_[2]) {
        return places_[slot];
      }
    }
    DocPlace place;
    place.section = keep(placeParts_[0], {}, NameTable::kSection, leaf);
    place.kind = keep(placeParts_[1], {}, NameTable::kKind, leaf);
    place.object = keep(placeParts_[2], {}, NameTable::kObject, leaf);
    const DocPlace* made = &doc_.places.emplace_back(place);
    places_[slot] = made;
    --placesLeft_;
    return made;
  }
  // Twice the room for places, each where its parts' hash puts it.
  void growPlaces() {
    std::vector<const DocPlace*> old = std::move(places_);
    places_.assign(std::max<size_t>(64, old.size() * 2), nullptr);
    placesLeft_ = places_.size();
    for (const DocPlace* place : old) {
      if (place == nullptr) {
        continue;
      }
      placeKey_.clear();
      for (string_view part : {place->section, place->kind, place->object}) {
        uint64_t size = part.size();
        placeKey_.append(reinterpret_cast<const char*>(&size), sizeof size);
      }
      for (string_view part : {place->section, place->kind, place->object}) {
        placeKey_.append(part);
      }
      size_t slot = keyedHash(placeKey_) & (places_.size() - 1);
      while (places_[slot] != nullptr) {
        slot = (slot + 1) & (places_.size() - 1);
      }
      places_[slot] = place;
      --placesLeft_;
    }
  }

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
  bool openGroup(uint32_t parentIndex, string_view name) {
    uint32_t index = checkedIndex(doc_.groups.size());
    DocGroup group;
    group.name = name;
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

  // A name of the document: a view into the text where it may be one, else the other document's
  // equal name where it has one, else a copy.
  // `what` and `index` say what the name is of which leaf or group, for the other document.
  string_view keep(string_view name, string_view raw, NameTable::What what, uint32_t index) {
    if (viewsIntoJson_ && raw.size() == name.size() && !raw.empty()) {
      return raw;
    }
    if (shared_ != nullptr) {
      if (string_view found = shared_->find(name, what, index); found.data() != nullptr) {
        return found;
      }
    }
    return doc_.text->copy(name);
  }

  Document& doc_;
  bool viewsIntoJson_;
  string_view raw_;
  size_t offset_;  // of the JSON in its file, for positions in messages
  NameTable* shared_;
  std::string placeParts_[3];  // the section, kind and object of the leaf being read
  std::vector<Frame> stack_;
  size_t skipDepth_ = 0;
  std::vector<std::vector<std::string>> skippedKeys_;  // of each object inside a skipped value
  // The places made, in a flat table by the hash of the sizes of their parts and then the parts
  // themselves (placeKey_), a power of two in size, never more than seven eighths full.
  std::vector<const DocPlace*> places_;
  size_t placesLeft_ = 0;  // empty slots
  std::string placeKey_;
  std::string error_;
};

// A name twice in one object: JSON.parse, and so the page, would keep only the last one. vorlith
// never writes that, so such a document is refused rather than read differently from the page.
// The least in byte order of the names that `names` holds twice, or null. A table of positions
// by the run's keyed hash finds them in one pass: sorting each group's names would compare long
// shared beginnings over and over.
const string_view* nameGivenTwice(const std::vector<string_view>& names, std::vector<uint32_t>& table) {
  if (names.size() < 2) {
    return nullptr;
  }
  const size_t mask = std::bit_ceil(names.size() * 2) - 1;
  table.assign(mask + 1, 0);
  const string_view* least = nullptr;
  for (uint32_t k = 0; k < names.size(); ++k) {
    for (size_t slot = keyedHash(names[k]) & mask;; slot = (slot + 1) & mask) {
      if (table[slot] == 0) {
        table[slot] = k + 1;
        break;
      }
      if (names[table[slot] - 1] == names[k]) {
        if (least == nullptr || names[k] < *least) {
          least = &names[k];
        }
        break;
      }
    }
  }
  return least;
}

void requireUniqueNames(const Document& doc) {
  std::vector<string_view> names;
  std::vector<uint32_t> table;
  auto check = [&doc, &names, &table](uint32_t group, const char* what) {
    if (const string_view* twice = nameGivenTwice(names, table)) {
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
// length in all. One pass over the text, no allocation. Returns how many leaves the document
// may hold, to make their list at its size: each has a member "mangledName", and takes at least
// {"size":0,"address":0,"mangledName":""} and its key.
size_t requireBoundedStrings(string_view json, size_t offset) {
  using zel::utils::text::findEitherByte;
  size_t leaves = 0;
  for (size_t at = findEitherByte(json, 0, '"', '"'); at < json.size();
       at = at + 1 < json.size() ? findEitherByte(json, at + 1, '"', '"') : json.size()) {
    size_t start = at++;
    for (;;) {
      at = findEitherByte(json, at, '"', '\\');
      if (at == json.size() || json[at] == '"') {
        break;
      }
      at += 2;  // an escape
      if (at > json.size()) {
        break;
      }
    }
    if (at - start - 1 > kMaxDocumentString) {
      throw std::runtime_error(longStringMessage(offset + start, at - start - 1));
    }
    constexpr string_view kMember = "mangledName\":";
    if (at - start - 1 == kMember.size() - 2 && json.substr(start + 1, kMember.size()) == kMember) {
      ++leaves;
    }
  }
  return std::min(leaves, json.size() / 44 + 1);
}

}  // namespace

namespace {

// Where a JsonEvents that reads a piece at a time gets the next piece.
class JsonPieces {
 public:
  virtual ~JsonPieces() = default;
  // Appends the next piece of the JSON (a byte or more) to `to`; false once all was given.
  virtual bool next(std::string& to) = 0;
};

// Reads JSON text and hands its values to a DocumentBuilder as events, in one pass over the
// bytes, with a stack of its own rather than recursion (documents nest as deep as their names
// do). Checks every byte: structure, numbers, string escapes, UTF-8, nothing after the value.
// The text is whole, or comes in pieces: then the reader holds a window of it, from the value
// being read on, and never more of a string than kMaxDocumentString allows.
class JsonEvents {
 public:
  JsonEvents(string_view json, DocumentBuilder& builder) : json_(json), builder_(builder) {}
  // `offset`: of the JSON in its file, for positions in messages.
  JsonEvents(JsonPieces& pieces, DocumentBuilder& builder, size_t offset)
      : builder_(builder), pieces_(&pieces), offset_(offset) {}

  // False when the text or the builder refused it (the builder holds why).
  bool run() {
    enum class Expect { Value, MemberOrEnd, Member, ElementOrEnd, AfterValue };
    Expect expect = Expect::Value;
    for (;;) {
      skipSpace();
      if (expect == Expect::AfterValue) {
        if (stack_.empty()) {
          return at_ == json_.size() || fail("unexpected text after the document");
        }
        if (at_ == json_.size()) {
          return fail("unexpected end of input");
        }
        char c = json_[at_];
        bool object = stack_.back();
        if (c == ',') {
          ++at_;
          expect = object ? Expect::Member : Expect::Value;
          continue;
        }
        if (c == (object ? '}' : ']')) {
          ++at_;
          stack_.pop_back();
          if (!(object ? builder_.end_object() : builder_.end_array())) {
            return false;
          }
          continue;
        }
        return fail(object ? "expected ',' or '}'" : "expected ',' or ']'");
      }
      if (expect == Expect::MemberOrEnd || expect == Expect::ElementOrEnd) {
        bool object = expect == Expect::MemberOrEnd;
        if (at_ < json_.size() && json_[at_] == (object ? '}' : ']')) {
          ++at_;
          stack_.pop_back();
          if (!(object ? builder_.end_object() : builder_.end_array())) {
            return false;
          }
          expect = Expect::AfterValue;
          continue;
        }
        expect = object ? Expect::Member : Expect::Value;
      }
      if (expect == Expect::Member) {
        if (at_ == json_.size() || json_[at_] != '"') {
          return fail(at_ == json_.size() ? "unexpected end of input" : "expected a member name");
        }
        haveString();
        if (!readString() || (builder_.setRaw(raw_), !builder_.key(value_))) {
          return false;
        }
        skipSpace();
        if (at_ == json_.size() || json_[at_] != ':') {
          return fail(at_ == json_.size() ? "unexpected end of input" : "expected ':'");
        }
        ++at_;
        expect = Expect::Value;
        continue;
      }
      // A value.
      if (at_ == json_.size()) {
        return fail("unexpected end of input");
      }
      char c = json_[at_];
      if (c == '{' || c == '[') {
        ++at_;
        stack_.push_back(c == '{');
        if (!(c == '{' ? builder_.start_object() : builder_.start_array())) {
          return false;
        }
        expect = c == '{' ? Expect::MemberOrEnd : Expect::ElementOrEnd;
        continue;
      }
      bool handed = true;
      if (c == '"') {
        haveString();
        if (!readString()) {
          return false;
        }
        builder_.setRaw(raw_);
        handed = builder_.string(value_);
      } else if (c == '-' || (c >= '0' && c <= '9')) {
        haveNumber();
        if (!readNumber(handed)) {
          return false;
        }
      } else if ((have(5), json_.substr(at_, 4) == "true") || json_.substr(at_, 5) == "false") {
        at_ += c == 't' ? 4 : 5;
        handed = builder_.boolean(c == 't');
      } else if (json_.substr(at_, 4) == "null") {
        at_ += 4;
        handed = builder_.null();
      } else {
        return fail("expected a value");
      }
      if (!handed) {
        return false;
      }
      expect = Expect::AfterValue;
    }
  }

 private:
  void skipSpace() {
    for (;;) {
      while (at_ < json_.size() && isSpace(json_[at_])) {
        ++at_;
      }
      if (at_ < json_.size() || !more()) {
        return;
      }
    }
  }

  bool fail(string_view what) { return builder_.parse_error(dropped_ + at_ + 1, what); }

  // Takes the next piece into the window, and drops what lies before at_: false at the end.
  bool more() {
    if (pieces_ == nullptr) {
      return false;
    }
    window_.erase(0, at_);
    dropped_ += at_;
    at_ = 0;
    bool got = pieces_->next(window_);
    json_ = window_;
    return got;
  }

  // Whether the window holds `n` bytes from at_, taking pieces while it does not.
  bool have(size_t n) {
    while (json_.size() - at_ < n) {
      if (!more()) {
        return false;
      }
    }
    return true;
  }

  // Brings the string at at_ (its opening quote) into the window up to its closing quote (and
  // the bytes after it that an escape may read), or as far as the JSON goes. A string longer
  // than kMaxDocumentString is refused, as requireBoundedStrings refuses it in a whole text.
  void haveString() {
    if (pieces_ == nullptr) {
      return;
    }
    size_t k = at_ + 1;
    for (;;) {
      k = zel::utils::text::findEitherByte(json_, k, '"', '\\');
      if (k < json_.size() && json_[k] == '"') {
        if (k - at_ - 1 > kMaxDocumentString) {
          refuseLongString(k);
        }
        // A \u escape reads four bytes whatever they are: where one of them is this quote,
        // reading it looks past the quote, at most four bytes.
        have(k - at_ + 5);
        return;
      }
      if (k + 1 < json_.size()) {
        k += 2;  // an escape
        continue;
      }
      // At the end of the window, or at an escape's backslash there.
      if (k - at_ - 1 > kMaxDocumentString) {
        refuseLongString(k);
      }
      size_t from = at_;
      if (!more()) {
        return;
      }
      k -= from;
    }
  }

  // Reads on to the end of the string at at_ without holding it, and refuses it with its
  // length. Its bytes before `k` are counted, and k is where a piece of it begins.
  [[noreturn]] void refuseLongString(size_t k) {
    const size_t position = offset_ + dropped_ + at_;
    size_t length = k - at_ - 1;
    at_ = k;
    for (;;) {
      size_t end = zel::utils::text::findEitherByte(json_, at_, '"', '\\');
      if (end < json_.size() && json_[end] == '"') {
        length += end - at_;
        break;
      }
      if (end + 1 < json_.size()) {
        length += end + 2 - at_;
        at_ = end + 2;
        continue;
      }
      length += end - at_;
      at_ = end;
      if (!more()) {
        length += at_ < json_.size() ? 2 : 0;  // a backslash at the very end, as counted whole
        break;
      }
    }
    throw std::runtime_error(longStringMessage(position, length));
  }

  // Brings the number at at_ into the window with the byte after it, or as far as the JSON goes.
  void haveNumber() {
    if (pieces_ == nullptr) {
      return;
    }
    auto inNumber = [](char c) {
      return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
    };
    size_t k = at_;
    for (;;) {
      while (k < json_.size() && inNumber(json_[k])) {
        ++k;
      }
      size_t from = at_;
      if (k < json_.size() || !more()) {
        return;
      }
      k -= from;
    }
  }

  // The string at at_ (its opening quote): value_ is its text, a view into the JSON when it
  // holds no escape, else decoded into text_.
  bool readString() {
    ++at_;
    const size_t first = at_;
    bool escaped = false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(json_.data());
    for (;;) {
      // A run of text up to an escape, the end or a byte that no string holds as it is; its
      // bytes beyond ASCII must be whole UTF-8 characters.
      size_t run = at_;
      for (;;) {
        at_ = zel::utils::text::skipPlainJsonText(json_, at_);
        if (at_ == json_.size() || bytes[at_] < 0x80) {
          break;
        }
        size_t length = zel::utils::text::validUTF8SequenceLength(json_, at_);
        if (length == 0) {
          at_ = run;
          return fail("a string is not valid UTF-8");
        }
        at_ += length;
      }
      if (escaped) {
        text_.append(json_.substr(run, at_ - run));
      }
      if (at_ == json_.size()) {
        return fail("unexpected end of input in a string");
      }
      char c = json_[at_];
      if (c == '"') {
        raw_ = escaped ? string_view() : json_.substr(first, at_ - first);
        value_ = escaped ? string_view(text_) : raw_;
        ++at_;
        return true;
      }
      if (c != '\\') {
        return fail("a control character in a string must be escaped");
      }
      if (!escaped) {
        text_.assign(json_.substr(first, at_ - first));
        escaped = true;
      }
      if (!readEscape()) {
        return false;
      }
    }
  }

  // The escape at at_ (its backslash), appended to text_.
  bool readEscape() {
    if (at_ + 1 >= json_.size()) {
      return fail("unexpected end of input in a string");
    }
    char c = json_[at_ + 1];
    static constexpr string_view kSimple = "\"\\/bfnrt";
    static constexpr string_view kMeaning = "\"\\/\b\f\n\r\t";
    if (size_t k = kSimple.find(c); k != string_view::npos) {
      text_ += kMeaning[k];
      at_ += 2;
      return true;
    }
    if (c != 'u') {
      return fail("an unknown escape in a string");
    }
    uint32_t unit = 0;
    if (!readHex4(at_ + 2, unit)) {
      return false;
    }
    const size_t escape = at_;  // where a lone surrogate is reported
    at_ += 6;
    uint32_t code = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      uint32_t low = 0;
      if (json_.substr(at_, 2) != "\\u" || !readHex4(at_ + 2, low) || low < 0xDC00 ||
          low > 0xDFFF) {
        at_ = escape;
        return fail("a high surrogate escape without its low one");
      }
      at_ += 6;
      code = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      at_ = escape;
      return fail("a low surrogate escape without its high one");
    }
    char utf8[4];
    size_t length = 0;
    if (code < 0x80) {
      utf8[length++] = static_cast<char>(code);
    } else if (code < 0x800) {
      utf8[length++] = static_cast<char>(0xC0 | (code >> 6));
      utf8[length++] = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      utf8[length++] = static_cast<char>(0xE0 | (code >> 12));
      utf8[length++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8[length++] = static_cast<char>(0x80 | (code & 0x3F));
    } else {
      utf8[length++] = static_cast<char>(0xF0 | (code >> 18));
      utf8[length++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      utf8[length++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8[length++] = static_cast<char>(0x80 | (code & 0x3F));
    }
    text_.append(utf8, length);
    return true;
  }

  bool readHex4(size_t from, uint32_t& value) {
    if (from + 4 > json_.size()) {
      at_ = std::min(from, json_.size());
      return fail("unexpected end of input in a string");
    }
    value = 0;
    for (size_t k = from; k < from + 4; ++k) {
      char c = json_[k];
      uint32_t digit = c >= '0' && c <= '9'   ? c - '0'
                       : c >= 'a' && c <= 'f' ? c - 'a' + 10
                       : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                              : 16;
      if (digit == 16) {
        at_ = k;
        return fail("a \\u escape needs four hexadecimal digits");
      }
      value = value * 16 + digit;
    }
    return true;
  }

  // The number at at_, handed on as a whole number, a negative one or a fraction (also a whole
  // number past 64 bits, which only a fraction could hold).
  bool readNumber(bool& handed) {
    auto digit = [this](size_t k) { return k < json_.size() && json_[k] >= '0' && json_[k] <= '9'; };
    size_t k = at_;
    bool negative = json_[k] == '-';
    k += negative ? 1 : 0;
    if (!digit(k)) {
      at_ = k;
      return fail("expected a digit");
    }
    bool fraction = false;
    uint64_t value = 0;
    bool overflow = false;
    if (json_[k] == '0') {
      ++k;
    } else {
      for (; digit(k); ++k) {
        uint64_t d = static_cast<uint64_t>(json_[k] - '0');
        overflow = overflow || value > (UINT64_MAX - d) / 10;
        value = value * 10 + d;
      }
    }
    if (k < json_.size() && json_[k] == '.') {
      fraction = true;
      if (!digit(++k)) {
        at_ = k;
        return fail("expected a digit after '.'");
      }
      while (digit(k)) {
        ++k;
      }
    }
    if (k < json_.size() && (json_[k] == 'e' || json_[k] == 'E')) {
      fraction = true;
      ++k;
      if (k < json_.size() && (json_[k] == '+' || json_[k] == '-')) {
        ++k;
      }
      if (!digit(k)) {
        at_ = k;
        return fail("expected a digit in the exponent");
      }
      while (digit(k)) {
        ++k;
      }
    }
    at_ = k;
    if (fraction || overflow) {
      handed = builder_.number_float();
    } else if (negative) {
      handed = builder_.number_integer();
    } else {
      handed = builder_.number_unsigned(value);
    }
    return true;
  }

  string_view json_;  // the text, or the window of it read in pieces
  DocumentBuilder& builder_;
  JsonPieces* pieces_ = nullptr;
  size_t offset_ = 0;   // of the JSON in its file
  std::string window_;  // read in pieces: the JSON from dropped_ on, as far as it was read
  size_t dropped_ = 0;  // bytes of the JSON before json_'s first
  size_t at_ = 0;
  std::vector<bool> stack_;  // per open container: an object, or an array
  std::string text_;         // the last string read, decoded, when it holds an escape
  string_view value_;        // the last string read: raw_ or text_
  string_view raw_;          // its bytes in the text when it holds no escape, else empty
};

}  // namespace

namespace {

// What every reading does once the events are read: refuses what is wrong with the document.
void finishReading(bool read, const DocumentBuilder& builder, const Document& doc) {
  if (!read) {
    throw std::runtime_error(builder.error().empty() ? "it is not a document" : builder.error());
  }
  if (doc.groups.empty()) {
    throw std::runtime_error("its top level is not an object");
  }
  requireUniqueNames(doc);
}

Document readWholeDocument(string_view json, size_t offset, bool viewsIntoJson, NameTable* shared) {
  size_t leaves = requireBoundedStrings(json, offset);
  Document doc;
  doc.leaves.reserve(leaves);
  adviseHugePages(doc.leaves.data(), doc.leaves.capacity() * sizeof(DocLeaf));
  DocumentBuilder builder(doc, offset, viewsIntoJson, shared);
  bool read = JsonEvents(json, builder).run();
  finishReading(read, builder, doc);
  return doc;
}

}  // namespace

Document readDocument(string_view json, size_t offset, bool viewsIntoJson) {
  return readWholeDocument(json, offset, viewsIntoJson, nullptr);
}

namespace {

// The bytes at each end of a document file that tell where its JSON begins and ends.
constexpr size_t kDocumentEnds = size_t{1} << 20;

// Where a document file's JSON begins (as documentJson finds it) in `head`, its first bytes, or
// all of them (`whole`); nothing when the head ends before that is told.
std::optional<size_t> jsonStart(string_view head, bool whole) {
  string_view text = skipBom(head);
  const size_t bom = head.size() - text.size();
  size_t k = 0;
  bool undecided = false;  // a space or a word of the prefix runs past the head
  auto spaces = [&] {
    while (k < text.size() && isSpace(text[k])) {
      ++k;
    }
    undecided = undecided || (k == text.size() && !whole);
  };
  auto word = [&](string_view w) {
    if (text.size() - k < w.size() + 1 && !whole) {
      undecided = true;  // the word, or the byte after "var"
    }
    if (text.substr(k, w.size()) != w) {
      return false;
    }
    k += w.size();
    return true;
  };
  spaces();
  bool prefixed = word("var") && k < text.size() && isSpace(text[k]);
  if (prefixed) {
    spaces();
    prefixed = word("treeData");
  }
  if (prefixed) {
    spaces();
    prefixed = word("=");
  }
  if (prefixed) {
    spaces();
  }
  if (undecided) {
    return std::nullopt;
  }
  return bom + (prefixed ? k : 0);
}

// How many bytes at the end of a document file follow its JSON (spaces, a ";", spaces), from
// `tail`, its last bytes, or all of them (`whole`); nothing when the tail is only spaces.
std::optional<size_t> bytesAfterJson(string_view tail, bool whole) {
  size_t end = tail.size();
  while (end > 0 && isSpace(tail[end - 1])) {
    --end;
  }
  if (end == 0 && !whole) {
    return std::nullopt;
  }
  if (end > 0 && tail[end - 1] == ';') {
    --end;
  }
  return tail.size() - end;
}

// The pieces of a document file's JSON, from `from` to `end`, read as the reader asks for them;
// each one is also handed to `take`.
class DocumentFilePieces : public JsonPieces {
 public:
  DocumentFilePieces(int fd, uint64_t from, uint64_t end, size_t piece,
                     const std::function<void(string_view)>& take)
      : fd_(fd), at_(from), end_(end), piece_(std::max<size_t>(piece, 1)), take_(take) {}

  bool next(std::string& to) override {
    if (at_ == end_) {
      return false;
    }
    // A piece fills the window up to the piece size, which it then keeps, unless a string or a
    // number needs more.
    size_t room = to.size() < piece_ / 2 ? piece_ - to.size() : piece_;
    size_t size = static_cast<size_t>(std::min<uint64_t>(room, end_ - at_));
    size_t old = to.size();
    to.resize(old + size);
    readExactly(to.data() + old, size, at_);
    at_ += size;
    if (take_) {
      take_(string_view(to).substr(old));
    }
    return true;
  }

  // Reads `size` bytes at `offset`, or fails: the file ends sooner than it did.
  void readExactly(char* to, size_t size, uint64_t offset) const {
    ReadResult read = readFully(fd_, to, size, offset);
    if (read.error != 0) {
      throw std::runtime_error(std::strerror(read.error));
    }
    if (read.got < size) {
      throw std::runtime_error("it shrank while it was read");
    }
  }

 private:
  int fd_;
  uint64_t at_;
  uint64_t end_;
  size_t piece_;
  const std::function<void(string_view)>& take_;
};

Document readDocumentFileText(const std::string& path, const DocumentFileReading& how,
                              NameTable* shared) {
  std::string text = readFile(path);
  string_view json = documentJson(text);
  if (how.takeJson) {
    how.takeJson(json);
  }
  try {
    return readWholeDocument(json, static_cast<size_t>(json.data() - text.data()), false, shared);
  } catch (const std::runtime_error& wrong) {
    throw std::runtime_error(path + ": " + wrong.what());
  }
}

// The document of a regular file of `size` bytes, read in pieces; nothing where its ends are all
// spaces (it is read whole then, as anything would read it). Messages do not name the file.
std::optional<Document> readDocumentInPieces(int fd, uint64_t size, const DocumentFileReading& how,
                                             std::optional<NameTable>& shared) {
  NameTable* names = shared ? &*shared : nullptr;
  // Where the JSON begins and ends, from the file's ends.
  const size_t ends = static_cast<size_t>(std::min<uint64_t>(size, kDocumentEnds));
  DocumentFilePieces reader(fd, 0, 0, 1, how.takeJson);
  std::string head(ends, '\0');
  reader.readExactly(head.data(), head.size(), 0);
  std::optional<size_t> start = jsonStart(head, head.size() == size);
  std::string tail(ends, '\0');
  reader.readExactly(tail.data(), tail.size(), size - tail.size());
  std::optional<size_t> after = bytesAfterJson(tail, tail.size() == size);
  std::string().swap(head);
  if (!start || !after) {
    return std::nullopt;
  }
  const uint64_t end = std::max<uint64_t>(*start, size - *after);
  const std::string trailing = tail.substr(tail.size() - static_cast<size_t>(size - end));
  std::string().swap(tail);

  Document doc;
  // Room for as many leaves as the JSON could hold: only the pages that the leaves fill take
  // memory.
  doc.leaves.reserve(static_cast<size_t>((end - *start) / 44 + 1));
  DocumentBuilder builder(doc, *start, false, names);
  DocumentFilePieces pieces(fd, *start, end, how.pieceSize, how.takeJson);
  bool read = JsonEvents(pieces, builder, *start).run();
  shared.reset();  // room for the checks
  finishReading(read, builder, doc);
  // The file as it was when it was opened, no more and no less.
  std::string rest(trailing.size() + 1, '\0');
  ReadResult got = readFully(fd, rest.data(), rest.size(), end);
  if (got.error != 0) {
    throw std::runtime_error(std::strerror(got.error));
  }
  if (got.got > trailing.size()) {
    throw std::runtime_error("it grew while it was read");
  }
  if (got.got < trailing.size()) {
    throw std::runtime_error("it shrank while it was read");
  }
  if (string_view(rest).substr(0, got.got) != trailing) {
    throw std::runtime_error("it changed while it was read");
  }
  return doc;
}

}  // namespace

Document readDocumentFile(const std::string& path, const DocumentFileReading& how) {
  std::optional<NameTable> shared;
  if (how.sharesNamesWith != nullptr) {
    shared.emplace(*how.sharesNamesWith);
  }
  std::optional<Document> doc;
  {
    InputFile file(path);
    struct stat info;
    if (::fstat(file.fd(), &info) == 0 && S_ISREG(info.st_mode)) {
      try {
        doc = readDocumentInPieces(file.fd(), static_cast<uint64_t>(info.st_size), how, shared);
      } catch (const std::bad_alloc&) {
        throw;
      } catch (const std::runtime_error& wrong) {
        throw std::runtime_error(path + ": " + wrong.what());
      }
    }
  }
  if (!doc) {
    return readDocumentFileText(path, how, shared ? &*shared : nullptr);
  }
  return std::move(*doc);
}

}  // namespace vorlith
