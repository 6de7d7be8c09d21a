// --base and --max-growth: what changed since an older build, matched as the treemap page
// matches it (viewer/compare.js), so the terminal and the page never disagree on a change.
//   Old total   120000   117.2 KiB
//   New total   125000   122.1 KiB
//   Change       +5000    +4.9 KiB  +4.17%
#include <algorithm>
#include <charconv>
#include <unordered_map>

#include "reports.h"

namespace vorlith::report {

using std::string;
using std::string_view;

namespace {

__extension__ typedef unsigned __int128 Wide;

// Beyond this many cells, aligning one bucket would cost more than it could be worth (the page's
// own limit, so both give up on the same buckets).
constexpr uint64_t kMaxAlignCells = 1u << 20;

// Whether a JavaScript regular expression's "." would not match the character that starts here:
// LF, CR, U+2028, U+2029. The page's key pattern ^(.*)#(\d+)$ fails on keys that hold one.
bool isLineTerminator(string_view text, size_t at) {
  char c = text[at];
  return c == '\n' || c == '\r' ||
         (text.substr(at, 2) == "\xE2\x80" && at + 2 < text.size() &&
          (text[at + 2] == '\xA8' || text[at + 2] == '\xA9'));
}

bool hasSuffix(string_view key) {
  return splitKey(key).base.size() != key.size();
}

// The page compares names as UTF-16 strings: it differs from comparing UTF-8 bytes only when a
// character past U+FFFF meets one from U+E000 to U+FFFF, where the surrogate sorts first.
bool lessAsUtf16(string_view a, string_view b) {
  size_t k = 0;
  while (k < a.size() && k < b.size() && a[k] == b[k]) {
    ++k;
  }
  if (k == a.size() || k == b.size()) {
    return k == a.size() && a.size() < b.size();
  }
  // Both differing characters start where the shared prefix's last character ends.
  while (k > 0 && (static_cast<unsigned char>(a[k]) & 0xC0) == 0x80) {
    --k;
  }
  auto codePoint = [k](string_view s) {
    auto byte = [&s](size_t at) { return at < s.size() ? static_cast<unsigned char>(s[at]) : 0u; };
    unsigned lead = byte(k);
    int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t cp = length == 1 ? lead : lead & (0x7Fu >> length);
    for (int i = 1; i < length; ++i) {
      cp = (cp << 6) | (byte(k + static_cast<size_t>(i)) & 0x3Fu);
    }
    return cp;
  };
  auto firstUnit = [](uint32_t cp) { return cp >= 0x10000 ? 0xD800 + ((cp - 0x10000) >> 10) : cp; };
  uint32_t x = codePoint(a);
  uint32_t y = codePoint(b);
  return firstUnit(x) != firstUnit(y) ? firstUnit(x) < firstUnit(y) : x < y;
}

// A group's leaves in the page's order: size, largest first, then name.
std::vector<uint32_t> leavesInPageOrder(const Document& doc, uint32_t group) {
  const DocGroup& g = doc.groups[group];
  std::vector<uint32_t> order(g.leafCount);
  for (uint32_t k = 0; k < g.leafCount; ++k) {
    order[k] = g.firstLeaf + k;
  }
  std::sort(order.begin(), order.end(), [&doc](uint32_t a, uint32_t b) {
    const DocLeaf& x = doc.leaves[a];
    const DocLeaf& y = doc.leaves[b];
    return x.size != y.size ? x.size > y.size : lessAsUtf16(x.key, y.key);
  });
  return order;
}

struct Ordered {
  uint32_t leaf;
  double order;
};

// Leaves by base name, each list ordered by the number after "#" (the page's stable sort).
std::unordered_map<string_view, std::vector<Ordered>> leavesByBase(const Document& doc,
                                                                   uint32_t group) {
  std::unordered_map<string_view, std::vector<Ordered>> byBase;
  for (uint32_t leaf : leavesInPageOrder(doc, group)) {
    KeyParts parts = splitKey(doc.leaves[leaf].key);
    byBase[parts.base].push_back({leaf, parts.order});
  }
  for (auto& [base, list] : byBase) {
    std::stable_sort(list.begin(), list.end(),
                     [](const Ordered& a, const Ordered& b) { return a.order < b.order; });
  }
  return byBase;
}

class Matcher {
 public:
  Matcher(const Document& oldDoc, const Document& newDoc) : old_(oldDoc), new_(newDoc) {
    m_.newGroupOf.assign(oldDoc.groups.size(), kUnmatched);
    m_.oldGroupOf.assign(newDoc.groups.size(), kUnmatched);
    m_.newLeafOf.assign(oldDoc.leaves.size(), kUnmatched);
    m_.oldLeafOf.assign(newDoc.leaves.size(), kUnmatched);
  }

  Matching run() && {
    // Group pairs wait on a stack rather than in recursion: names nest thousands deep.
    std::vector<std::pair<uint32_t, uint32_t>> pending{{0, 0}};
    std::unordered_map<string_view, uint32_t> oldChildren;
    while (!pending.empty()) {
      auto [o, n] = pending.back();
      pending.pop_back();
      m_.newGroupOf[o] = n;
      m_.oldGroupOf[n] = o;
      oldChildren.clear();
      old_.forEachChild(o, [&](uint32_t c) { oldChildren[old_.groups[c].name] = c; });
      new_.forEachChild(n, [&](uint32_t c) {
        if (auto found = oldChildren.find(new_.groups[c].name); found != oldChildren.end()) {
          pending.emplace_back(found->second, c);
        }
      });
      matchLeaves(o, n);
    }
    return std::move(m_);
  }

 private:
  void pair(uint32_t oldLeaf, uint32_t newLeaf) {
    m_.newLeafOf[oldLeaf] = newLeaf;
    m_.oldLeafOf[newLeaf] = oldLeaf;
  }

  bool anySuffix(const Document& doc, uint32_t group) const {
    const DocGroup& g = doc.groups[group];
    for (uint32_t k = 0; k < g.leafCount; ++k) {
      if (hasSuffix(doc.leaves[g.firstLeaf + k].key)) {
        return true;
      }
    }
    return false;
  }

  // Most groups have no numbered key on either side: there a key matches its equal.
  void matchUniqueLeaves(uint32_t o, uint32_t n) {
    const DocGroup& og = old_.groups[o];
    const DocGroup& ng = new_.groups[n];
    std::unordered_map<string_view, uint32_t> byKey;
    byKey.reserve(og.leafCount);
    for (uint32_t k = 0; k < og.leafCount; ++k) {
      byKey.emplace(old_.leaves[og.firstLeaf + k].key, og.firstLeaf + k);
    }
    for (uint32_t k = 0; k < ng.leafCount; ++k) {
      if (auto found = byKey.find(new_.leaves[ng.firstLeaf + k].key); found != byKey.end()) {
        pair(found->second, ng.firstLeaf + k);
      }
    }
  }

  void matchLeaves(uint32_t o, uint32_t n) {
    if (old_.groups[o].leafCount == 0 || new_.groups[n].leafCount == 0) {
      return;
    }
    if (!anySuffix(old_, o) && !anySuffix(new_, n)) {
      matchUniqueLeaves(o, n);
      return;
    }
    auto olds = leavesByBase(old_, o);
    auto news = leavesByBase(new_, n);
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (const auto& [base, newList] : news) {
      auto found = olds.find(base);
      if (found == olds.end()) {
        continue;
      }
      const std::vector<Ordered>& oldList = found->second;
      // First the same mangled name, aligned on sizes; then whatever is left, in order.
      struct Bucket {
        std::vector<AlignItem> olds, news;
      };
      std::unordered_map<string_view, Bucket> byName;
      for (const Ordered& x : oldList) {
        byName[old_.leaves[x.leaf].mangledName].olds.push_back({x.leaf, old_.leaves[x.leaf].size});
      }
      for (const Ordered& x : newList) {
        if (auto b = byName.find(new_.leaves[x.leaf].mangledName); b != byName.end()) {
          b->second.news.push_back({x.leaf, new_.leaves[x.leaf].size});
        }
      }
      for (const auto& [name, bucket] : byName) {
        if (!bucket.news.empty()) {
          pairs.clear();
          alignLeaves(bucket.olds, bucket.news, pairs);
          for (auto [a, b] : pairs) {
            pair(a, b);
          }
        }
      }
      std::vector<uint32_t> restOld, restNew;
      for (const Ordered& x : oldList) {
        if (m_.newLeafOf[x.leaf] == kUnmatched) {
          restOld.push_back(x.leaf);
        }
      }
      for (const Ordered& x : newList) {
        if (m_.oldLeafOf[x.leaf] == kUnmatched) {
          restNew.push_back(x.leaf);
        }
      }
      for (size_t k = 0; k < std::min(restOld.size(), restNew.size()); ++k) {
        pair(restOld[k], restNew[k]);
      }
    }
  }

  const Document& old_;
  const Document& new_;
  Matching m_;
};

Delta deltaOf(uint64_t oldSize, uint64_t newSize) {
  return Delta(newSize) - Delta(oldSize);
}

Wide magnitude(Delta delta) {
  return delta < 0 ? -static_cast<Wide>(delta) : Wide(delta);
}

// One changed group or symbol of the tables.
struct Change {
  Delta delta;
  uint64_t oldSize, newSize;
  string_view status;  // "new", "removed", "grown", "shrunk"
  string name;         // printable path
  uint64_t order;      // document order, for equal changes
};

// Largest change first; of equal size, growth before shrinkage, then document order.
void sortChanges(std::vector<Change>& changes, size_t keep) {
  auto before = [](const Change& a, const Change& b) {
    Wide x = magnitude(a.delta);
    Wide y = magnitude(b.delta);
    if (x != y) {
      return x > y;
    }
    return a.delta != b.delta ? a.delta > b.delta : a.order < b.order;
  };
  keep = std::min(keep, changes.size());
  std::partial_sort(changes.begin(), changes.begin() + static_cast<ptrdiff_t>(keep), changes.end(),
                    before);
  changes.resize(keep);
}

string_view statusOf(const Change& c, bool matched) {
  if (!matched) {
    return c.newSize == 0 && c.oldSize != 0 ? "removed" : "new";
  }
  return c.delta > 0 ? "grown" : "shrunk";
}

struct Table {
  size_t bytes;  // width of an old or new size
  static constexpr size_t kStatus = 7;
  static constexpr size_t kHuman = 11;

  [[nodiscard]] size_t nameWidth() const {
    return kLineWidth - (kStatus + 3 * bytes + 1 + kHuman + 10);
  }
  [[nodiscard]] string row(string_view status, string_view change, string_view human,
                           string_view oldSize, string_view newSize, string_view name) const {
    return padRight(status, kStatus) + "  " + padLeft(change, bytes + 1) + "  " +
           padLeft(human, kHuman) + "  " + padLeft(oldSize, bytes) + "  " +
           padLeft(newSize, bytes) + "  " + shortenMiddle(name, nameWidth()) + "\n";
  }
  [[nodiscard]] string rows(const std::vector<Change>& changes, string_view title) const {
    string out = row("Status", "Change", "Size", "Old", "New", title);
    for (const Change& c : changes) {
      out += row(c.status, signedBytes(c.delta), signedHumanSize(c.delta),
                 std::to_string(c.oldSize), std::to_string(c.newSize), c.name);
    }
    return out;
  }
};

std::vector<Change> topLevelChanges(const Document& oldDoc, const Document& newDoc,
                                    const Matching& m) {
  std::vector<Change> changes;
  newDoc.forEachChild(0, [&](uint32_t g) {
    uint32_t o = m.oldGroupOf[g];
    Change c{0, o == kUnmatched ? 0 : oldDoc.groups[o].total, newDoc.groups[g].total, "", "", g};
    c.delta = deltaOf(c.oldSize, c.newSize);
    if (c.delta != 0 || o == kUnmatched) {
      c.status = statusOf(c, o != kUnmatched);
      c.name = printable(newDoc.groups[g].name);
      changes.push_back(std::move(c));
    }
  });
  oldDoc.forEachChild(0, [&](uint32_t g) {
    if (m.newGroupOf[g] == kUnmatched) {
      uint64_t size = oldDoc.groups[g].total;
      changes.push_back({-Delta(size), size, 0, "removed", printable(oldDoc.groups[g].name),
                         newDoc.groups.size() + g});
    }
  });
  return changes;
}

std::vector<Change> leafChanges(const Document& oldDoc, const Document& newDoc, const Matching& m) {
  std::vector<Change> changes;
  for (uint32_t k = 0; k < newDoc.leaves.size(); ++k) {
    uint32_t o = m.oldLeafOf[k];
    const DocLeaf& leaf = newDoc.leaves[k];
    Change c{0, o == kUnmatched ? 0 : oldDoc.leaves[o].size, leaf.size, "", "", k};
    c.delta = deltaOf(c.oldSize, c.newSize);
    if (c.delta != 0) {
      c.status = o == kUnmatched ? "new" : c.delta > 0 ? "grown" : "shrunk";
      changes.push_back(std::move(c));
    }
  }
  for (uint32_t k = 0; k < oldDoc.leaves.size(); ++k) {
    if (m.newLeafOf[k] == kUnmatched && oldDoc.leaves[k].size != 0) {
      uint64_t size = oldDoc.leaves[k].size;
      changes.push_back({-Delta(size), size, 0, "removed", "", newDoc.leaves.size() + k});
    }
  }
  return changes;
}

// Paths are made only for the rows that are shown: a large build has a million changes.
void namePaths(std::vector<Change>& changes, const Document& oldDoc, const Document& newDoc) {
  for (Change& c : changes) {
    bool removed = c.order >= newDoc.leaves.size();
    const Document& doc = removed ? oldDoc : newDoc;
    const DocLeaf& leaf = doc.leaves[removed ? c.order - newDoc.leaves.size() : c.order];
    c.name = printablePath(doc.pathOf(leaf.group), leaf.key);
  }
}

string limitText(const GrowthLimit& limit, uint64_t oldTotal) {
  if (!limit.percent) {
    return limit.text + " (" + std::to_string(limit.bytes) + " bytes)";
  }
  Wide scale = 100;
  for (uint32_t k = 0; k < limit.percentDecimals; ++k) {
    scale *= 10;
  }
  Wide allowed = Wide(oldTotal) * limit.percentDigits / scale;
  string bytes;
  do {
    bytes.insert(bytes.begin(), static_cast<char>('0' + static_cast<int>(allowed % 10)));
    allowed /= 10;
  } while (allowed != 0);
  return limit.text + " of the old total (" + bytes + " bytes)";
}

}  // namespace

KeyParts splitKey(string_view key) {
  size_t digits = key.size();
  while (digits > 0 && key[digits - 1] >= '0' && key[digits - 1] <= '9') {
    --digits;
  }
  if (digits == key.size() || digits == 0 || key[digits - 1] != '#') {
    return {key, 0};
  }
  string_view base = key.substr(0, digits - 1);
  for (size_t k = 0; k < base.size(); ++k) {
    if (isLineTerminator(base, k)) {
      return {key, 0};
    }
  }
  KeyParts parts{base, 0};
  string_view number = key.substr(digits);
  // Parsed as a double, as the page's Number() does: long digit strings round alike.
  std::from_chars(number.data(), number.data() + number.size(), parts.order);
  return parts;
}

void alignLeaves(const std::vector<AlignItem>& olds, const std::vector<AlignItem>& news,
                 std::vector<std::pair<uint32_t, uint32_t>>& pairs) {
  size_t n = olds.size();
  size_t m = news.size();
  auto pair = [&](size_t i, size_t j) { pairs.emplace_back(olds[i].leaf, news[j].leaf); };
  if (uint64_t(n) * m > kMaxAlignCells || n == 1 || m == 1) {
    if (n == 1 && m > 1) {
      // One old symbol among several new ones: its equal-sized twin, if any, is the match.
      size_t j = 0;
      while (j < m && news[j].size != olds[0].size) {
        ++j;
      }
      pair(0, j < m ? j : 0);
      return;
    }
    if (m == 1 && n > 1) {
      size_t i = 0;
      while (i < n && olds[i].size != news[0].size) {
        ++i;
      }
      pair(i < n ? i : 0, 0);
      return;
    }
    for (size_t k = 0; k < std::min(n, m); ++k) {
      pair(k, k);
    }
    return;
  }
  // Longest common subsequence of sizes, table filled from the ends.
  size_t width = m + 1;
  std::vector<uint32_t> table((n + 1) * width, 0);
  auto at = [&](size_t i, size_t j) -> uint32_t& { return table[i * width + j]; };
  for (size_t i = n; i-- > 0;) {
    for (size_t j = m; j-- > 0;) {
      at(i, j) = olds[i].size == news[j].size ? at(i + 1, j + 1) + 1
                                              : std::max(at(i + 1, j), at(i, j + 1));
    }
  }
  std::vector<std::pair<size_t, size_t>> anchors;
  for (size_t i = 0, j = 0; i < n && j < m;) {
    if (olds[i].size == news[j].size && at(i, j) == at(i + 1, j + 1) + 1) {
      anchors.emplace_back(i++, j++);
    } else if (at(i + 1, j) >= at(i, j + 1)) {
      ++i;
    } else {
      ++j;
    }
  }
  anchors.emplace_back(n, m);
  size_t pi = 0;
  size_t pj = 0;
  for (auto [ai, aj] : anchors) {
    for (size_t k = 0; pi + k < ai && pj + k < aj; ++k) {
      pair(pi + k, pj + k);
    }
    if (ai < n) {
      pair(ai, aj);
    }
    pi = ai + 1;
    pj = aj + 1;
  }
}

Matching matchBuilds(const Document& oldDoc, const Document& newDoc) {
  return Matcher(oldDoc, newDoc).run();
}

ChangeCounts countChanges(const Document& oldDoc, const Document& newDoc, const Matching& m) {
  ChangeCounts counts;
  for (uint32_t k = 0; k < newDoc.leaves.size(); ++k) {
    uint32_t o = m.oldLeafOf[k];
    uint64_t size = newDoc.leaves[k].size;
    uint64_t oldSize = o == kUnmatched ? 0 : oldDoc.leaves[o].size;
    Status status = o == kUnmatched  ? kNew
                    : size > oldSize ? kGrown
                    : size < oldSize ? kShrunk
                                     : kSame;
    ++counts.count[status];
    counts.bytes[status] += deltaOf(oldSize, size);
  }
  for (uint32_t k = 0; k < oldDoc.leaves.size(); ++k) {
    if (m.newLeafOf[k] == kUnmatched) {
      ++counts.removedCount;
      counts.removedBytes -= Delta(oldDoc.leaves[k].size);
    }
  }
  return counts;
}

bool grewPastLimit(uint64_t oldTotal, uint64_t newTotal, const GrowthLimit& limit) {
  if (newTotal <= oldTotal) {
    return false;
  }
  Wide growth = newTotal - oldTotal;
  if (!limit.percent) {
    return growth > limit.bytes;
  }
  // growth > old * digits / (100 * 10^decimals), without rounding anything.
  Wide scale = 100;
  for (uint32_t k = 0; k < limit.percentDecimals; ++k) {
    scale *= 10;
  }
  return growth * scale > Wide(oldTotal) * limit.percentDigits;
}

ComparisonText comparison(const Document& oldDoc, string_view oldName, const Document& newDoc,
                          string_view newName, uint64_t count, const GrowthLimit* limit) {
  Matching m = matchBuilds(oldDoc, newDoc);
  ChangeCounts counts = countChanges(oldDoc, newDoc, m);
  uint64_t oldTotal = oldDoc.root().total;
  uint64_t newTotal = newDoc.root().total;
  Delta change = deltaOf(oldTotal, newTotal);

  ComparisonText result;
  string& out = result.text;
  out += "Comparison of " + printable(newName) + " with " + printable(oldName) + "\n";
  size_t width =
      std::max<size_t>({6, std::to_string(oldTotal).size(), std::to_string(newTotal).size()});
  auto totalRow = [&](string_view label, string_view bytes, string_view human, string_view rest) {
    out += padRight(label, 10) + "  " + padLeft(bytes, width + 1) + "  " + padLeft(human, 11) +
           (rest.empty() ? "" : "  ") + string(rest) + "\n";
  };
  totalRow("Old total", std::to_string(oldTotal), humanSize(oldTotal), "");
  totalRow("New total", std::to_string(newTotal), humanSize(newTotal), "");
  totalRow("Change", signedBytes(change), signedHumanSize(change), signedShare(change, oldTotal));
  out += "Symbols: " + std::to_string(counts.count[kNew]) + " new (" +
         signedBytes(counts.bytes[kNew]) + "), " + std::to_string(counts.removedCount) +
         " removed (" + signedBytes(counts.removedBytes) + "), " +
         std::to_string(counts.count[kGrown]) + " grown (" + signedBytes(counts.bytes[kGrown]) +
         "), " + std::to_string(counts.count[kShrunk]) + " shrunk (" +
         signedBytes(counts.bytes[kShrunk]) + "), " + std::to_string(counts.count[kSame]) +
         " unchanged\n";

  Table table{width};
  std::vector<Change> groups = topLevelChanges(oldDoc, newDoc, m);
  sortChanges(groups, groups.size());
  if (!groups.empty()) {
    out += "\n" + table.rows(groups, "Top-level group");
  }
  std::vector<Change> leaves = leafChanges(oldDoc, newDoc, m);
  sortChanges(leaves, static_cast<size_t>(std::min<uint64_t>(count, leaves.size())));
  namePaths(leaves, oldDoc, newDoc);
  if (!leaves.empty()) {
    out += "\n" + table.rows(leaves, "Largest changes (path › key)");
  }

  if (limit != nullptr) {
    result.grewTooMuch = grewPastLimit(oldTotal, newTotal, *limit);
    out += "\n";
    if (!result.grewTooMuch) {
      out += "Within the size budget: " + signedBytes(change) + " bytes, limit " +
             limitText(*limit, oldTotal) + "\n";
    } else {
      out += "SIZE BUDGET EXCEEDED: the total grew by " + signedBytes(change) + " bytes (" +
             signedHumanSize(change) + ", " + signedShare(change, oldTotal) + "), more than " +
             limitText(*limit, oldTotal) + "\n";
      std::vector<Change> grown;
      for (Change& c : groups) {
        if (c.delta > 0) {
          grown.push_back(c);
        }
      }
      out += "Groups that grew most:\n";
      for (const Change& c : grown) {
        out += "  " + padLeft(signedBytes(c.delta), width + 1) + "  " +
               padLeft(signedHumanSize(c.delta), 11) + "  " +
               shortenMiddle(c.name, kLineWidth - width - 18) + "\n";
      }
    }
  }
  return result;
}

}  // namespace vorlith::report
