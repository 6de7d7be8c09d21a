#include "size_tree.h"

#include <cstring>
#include <functional>
#include <string>

#include "zel/utils/chunked_appender.h"
#include "zel/utils/json.h"
#include "zel/utils/text.h"

namespace vorlith {

using std::string_view;
using zel::utils::appender::ChunkedAppender;
using zel::utils::text::forceValidUTF8;

namespace {

// Stores a new leaf under the first key of base, base#1, base#2 ... that `node` does not hold
// yet. The bytes of `base` outlive the tree. Numbered keys go into `tree`'s text through its
// leafKeys: the same "front (.text)#1" comes back in group after group.
TreeLeaf& insertLeaf(SizeTree& tree, TreeNode& node, string_view base) {
  if (auto [leaf, inserted] = node.leaves.tryEmplace(base, nullptr); inserted) {
    return *leaf;
  }
  if (!node.lastLeafNumber) {
    node.lastLeafNumber = std::make_unique<OrderedMap<uint64_t>>();
  }
  uint64_t& n = *node.lastLeafNumber->tryEmplace(base, nullptr).first;
  std::string candidate;
  for (;;) {
    ++n;
    candidate.assign(base);
    candidate += '#';
    candidate += std::to_string(n);
    string_view key = tree.leafKeys.keep(candidate, tree.text);
    if (auto [leaf, inserted] = node.leaves.tryEmplace(key, nullptr); inserted) {
      return *leaf;
    }
  }
}

// `name` itself when it is valid UTF-8 (the caller keeps it), else a repaired copy in `text`.
string_view keptValidUTF8(string_view name, TextArena& text) {
  if (zel::utils::text::isValidUTF8(name)) {
    return name;
  }
  return text.copy(zel::utils::text::rawToUTF8(name));
}

// Whether the bytes of `piece` lie within those of `text` (as addresses: `piece` may lie anywhere).
bool liesWithin(string_view piece, string_view text) {
  std::less_equal<const char*> notAfter;
  return !piece.empty() && notAfter(text.data(), piece.data()) &&
         notAfter(piece.data() + piece.size(), text.data() + text.size());
}

}  // namespace

string_view KeptKeys::keep(string_view key, TextArena& text) {
  if (key.size() < kShortest) {
    return text.copy(key);
  }
  if (recent_.empty()) {
    recent_.resize(size_t{1} << kRecentBits);
  }
  // Its place is told by its length and its first and last 8 bytes: keys that differ only
  // between them share one and take turns in it.
  static_assert(kShortest >= 8);
  uint64_t head, tail;
  std::memcpy(&head, key.data(), 8);
  std::memcpy(&tail, key.data() + key.size() - 8, 8);
  const uint64_t mixed =
      ((head * 0x9E3779B97F4A7C15ull) ^ tail ^ key.size()) * 0xC2B2AE3D27D4EB4Full;
  string_view& slot = recent_[static_cast<size_t>(mixed >> (64 - kRecentBits))];
  if (slot != key) {
    slot = text.copy(key);
  }
  return slot;
}

TreeNode::~TreeNode() {
  // Children are moved out into a list before they go, so no destructor runs another.
  std::vector<TreeNode> pending;
  auto adopt = [&pending](TreeNode& node) {
    for (auto& entry : node.children) {
      pending.push_back(std::move(entry.second));
    }
  };
  adopt(*this);
  while (!pending.empty()) {
    TreeNode node = std::move(pending.back());
    pending.pop_back();
    adopt(node);
  }
}

TreeLeaf& fileSymbol(SizeTree& tree, std::span<const NameSegment> segments, uint64_t size,
                     uint64_t address, string_view name, string_view demangledName,
                     TreeAllowance* allowance, string_view keptShown) {
  auto affordable = [allowance](uint64_t bytes) {
    return allowance == nullptr || allowance->spend(bytes);
  };
  TreeNode* node = &tree.root;
  std::string repaired;
  const size_t groups = std::min(segments.size() - 1, kMaxGroupsPerSymbol);
  size_t k = 0;
  // Totals wrap like every sum of sizes.
  for (; k < groups; ++k) {
    string_view key = forceValidUTF8(segments[k].text, repaired);
    TreeNode* child = node->children.find(key);
    if (child == nullptr) {
      if (!affordable(kGroupCost + key.size())) {
        break;
      }
      child = node->children.tryEmplace(key, &tree.text).first;
    }
    node->total += size;
    node = child;
  }
  node->total += size;
  string_view mangledName = keptValidUTF8(name, tree.text);  // lives as long as the tree
  string_view base;
  std::string joined;
  const NameSegment* leafSegment = nullptr;
  if (k + 1 == segments.size()) {
    leafSegment = &segments.back();
    base = forceValidUTF8(leafSegment->text, repaired);
  } else {
    // Past a bound: what is left of the path stays visible in the leaf's name.
    for (size_t j = k; j < segments.size(); ++j) {
      if (j != k) {
        joined += '/';
      }
      joined.append(forceValidUTF8(segments[j].text, repaired));
    }
    base = joined;
  }
  // A name filed whole (a C++ name as GNU ld writes it) is its own key: no second copy.
  bool whole = base == mangledName || !affordable(base.size());
  string_view shown;
  bool shownAsGiven = false;  // `shown` holds the bytes of demangledName as they are
  if (demangledName != name && affordable(demangledName.size())) {
    std::string repairedShown;  // `base` may be a view of `repaired`
    string_view valid = forceValidUTF8(demangledName, repairedShown);
    shownAsGiven = valid.data() == demangledName.data();
    shown = !keptShown.empty() && keptShown == valid ? keptShown : tree.text.copy(valid);
  }
  string_view key = whole ? mangledName : base;
  bool shared = whole;
  // A leaf's key that is a piece of the name or of the readable name, whose bytes the tree keeps
  // anyway, shares them: that spares a third of the tree's text on a D program's map.
  if (!shared && leafSegment != nullptr && base.data() == leafSegment->text.data()) {
    if (leafSegment->origin == SegmentOrigin::Name && mangledName.data() == name.data() &&
        liesWithin(base, name)) {
      shared = true;  // a view of `name`, which the tree keeps
    } else if (leafSegment->origin == SegmentOrigin::Shown && shownAsGiven &&
               liesWithin(base, demangledName)) {
      key = shown.substr(static_cast<size_t>(base.data() - demangledName.data()), base.size());
      shared = true;
    }
  }
  // A key made while naming is most often found in the readable name as it stands
  // ("opSlice!()" in "... Take.opSlice!().opSlice(ulong, ulong)"), which the tree keeps. One
  // that names what the entry is apart from the name ("save (.text)", "Result (initializer)")
  // was joined from pieces that lie apart there, and is not looked for.
  if (!shared && !whole && !base.empty() && base.size() <= shown.size() &&
      base.find(" (") == string_view::npos) {
    if (size_t at = shown.find(base); at != string_view::npos) {
      key = shown.substr(at, base.size());
      shared = true;
    }
  }
  if (!shared) {
    key = tree.leafKeys.keep(key, tree.text);  // made while naming: often made before
  }
  TreeLeaf& leaf = insertLeaf(tree, *node, key);
  leaf.size = size;
  leaf.address = address;
  leaf.mangledName = mangledName;
  leaf.demangledName = shown;
  return leaf;
}

TreeLeaf& fileSymbol(SizeTree& tree, const std::vector<std::string>& segments, uint64_t size,
                     uint64_t address, string_view name, string_view demangledName,
                     TreeAllowance* allowance) {
  std::vector<NameSegment> made;
  made.reserve(segments.size());
  for (const std::string& segment : segments) {
    made.push_back({segment, SegmentOrigin::Made});
  }
  return fileSymbol(tree, made, size, address, name, demangledName, allowance);
}

void writeDocument(ChunkedAppender& sink, const TreeNode& tree,
                   const std::vector<std::string>& options) {
  sink.put(kDocumentPrefix);
  zel::utils::json::CustomJsonWriter<ChunkedAppender&> writer{sink};
  writeTreeJson(writer, tree, nullptr, options);
  sink.flush();
}

void writeDocument(ChunkedAppender& sink, const SizeTree& tree,
                   const std::vector<std::string>& options) {
  sink.put(kDocumentPrefix);
  zel::utils::json::CustomJsonWriter<ChunkedAppender&> writer{sink};
  writeTreeJson(writer, tree.root, tree.hasSections ? &tree : nullptr, options);
  sink.flush();
}

}  // namespace vorlith
