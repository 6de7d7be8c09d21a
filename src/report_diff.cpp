// --base and --max-growth: what changed since an older build, matched as the treemap page
// matches it (viewer/compare.js), so the terminal and the page never disagree on a change.
//   Old total   120000   117.2 KiB
//   New total   125000   122.1 KiB
//   Change       +5000    +4.9 KiB  +4.17%
#include <algorithm>
#include <charconv>
#include <deque>
#include <unordered_map>

#include "keyed_hash.h"
#include "reports.h"
#include "zel/utils/appender.h"
#include "zel/utils/json.h"
#include "zel/utils/text.h"

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
  auto codePoint = [k](string_view s) {  // names are valid UTF-8; a stray byte is its own value
    size_t length = zel::utils::text::validUTF8SequenceLength(s, k);
    return length == 0 ? uint32_t{static_cast<unsigned char>(s[k])}
                       : zel::utils::text::decodeUTF8(s, k, length);
  };
  auto firstUnit = [](uint32_t cp) { return cp >= 0x10000 ? 0xD800 + ((cp - 0x10000) >> 10) : cp; };
  uint32_t x = codePoint(a);
  uint32_t y = codePoint(b);
  return firstUnit(x) != firstUnit(y) ? firstUnit(x) < firstUnit(y) : x < y;
}

// The page's order of the leaves of one document: size, largest first, then name.
bool beforeInPageOrder(const Document& doc, uint32_t a, uint32_t b) {
  const DocLeaf& x = doc.leaves[a];
  const DocLeaf& y = doc.leaves[b];
  return x.size != y.size ? x.size > y.size : lessAsUtf16(x.key, y.key);
}

// `leaves` (of one group, whose keys differ) put in the page's order.
void sortInPageOrder(const Document& doc, std::vector<uint32_t>& leaves) {
  std::sort(leaves.begin(), leaves.end(),
            [&doc](uint32_t a, uint32_t b) { return beforeInPageOrder(doc, a, b); });
}

struct Ordered {
  uint32_t leaf;
  double order;
};

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isHex(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Names without their compiler-made numbers, made once per name that has any and kept for the
// lifetime of a matching step (a deque never moves its strings).
class NumberlessNames {
 public:
  string_view of(string_view name) {
    string numberless = numberlessName(name);
    if (numberless == name) {
      return name;
    }
    return made_.emplace_back(std::move(numberless));
  }

 private:
  std::deque<string> made_;
};

template <typename Value>
using NameMap = std::unordered_map<string_view, Value, NameHash>;

// Where the run of a list's items ends, in a side's items sorted by list.
struct ListRun {
  uint32_t list;
  uint32_t end;
};

// A leaf of a group with the list of its key's base name: the page puts each list in the order
// of the number after "#", and leaves of equal numbers ("f#1", "f#01") in the page's order.
struct BaseEntry {
  uint32_t list;
  uint32_t leaf;
  double order;
};

void sortByList(const Document& doc, std::vector<BaseEntry>& entries) {
  std::sort(entries.begin(), entries.end(), [&doc](const BaseEntry& a, const BaseEntry& b) {
    if (a.list != b.list) {
      return a.list < b.list;
    }
    if (a.order != b.order) {
      return a.order < b.order;
    }
    return beforeInPageOrder(doc, a.leaf, b.leaf);
  });
}

// Pairs the items of two lists that share a name (by `nameOf`), aligned on their sizes in the
// order given; with `rest`, those of a name that alignment left on both sides then pair in
// order. `pair` receives the two items of each pair.
template <typename NameOf, typename Pair>
void pairAlike(std::span<const AlignItem> olds, std::span<const AlignItem> news, NameOf nameOf,
               Pair pair, MatchWork& work, bool rest = true) {
  if (olds.empty() || news.empty()) {
    return;
  }
  // Each name's items by their positions in `olds` and `news`, in the order given.
  struct Bucket {
    std::vector<uint32_t> olds, news;
  };
  NameMap<Bucket> buckets;  // grown as it fills: the items often share one name or a few
  for (uint32_t i = 0; i < olds.size(); ++i) {
    buckets[nameOf(true, olds[i].leaf)].olds.push_back(i);
  }
  for (uint32_t j = 0; j < news.size(); ++j) {
    if (auto b = buckets.find(nameOf(false, news[j].leaf)); b != buckets.end()) {
      b->second.news.push_back(j);
    }
  }
  work.tableSlots += buckets.bucket_count();
  std::vector<std::pair<uint32_t, uint32_t>> pairs;
  std::vector<bool> oldPaired, newPaired;
  // A bucket's items, unless it holds all of a list (all paddings share one name, say): then
  // that list itself.
  std::vector<AlignItem> someOld, someNew;
  auto itemsOf = [](std::span<const AlignItem> all, const std::vector<uint32_t>& positions,
                    std::vector<AlignItem>& some) -> std::span<const AlignItem> {
    if (positions.size() == all.size()) {
      return all;
    }
    some.clear();
    some.reserve(positions.size());
    for (uint32_t k : positions) {
      some.push_back(all[k]);
    }
    return some;
  };
  for (const auto& [name, bucket] : buckets) {
    if (bucket.news.empty()) {
      continue;
    }
    std::span<const AlignItem> bucketOlds = itemsOf(olds, bucket.olds, someOld);
    std::span<const AlignItem> bucketNews = itemsOf(news, bucket.news, someNew);
    pairs.clear();
    pairs.reserve(std::min(bucketOlds.size(), bucketNews.size()));
    alignLeaves(bucketOlds, bucketNews, pairs);
    for (auto [a, b] : pairs) {
      pair(a, b);
    }
    if (!rest || pairs.size() == std::min(bucketOlds.size(), bucketNews.size())) {
      continue;
    }
    // The buckets' items are in the order given, so a pair's items are found by position.
    oldPaired.assign(bucketOlds.size(), false);
    newPaired.assign(bucketNews.size(), false);
    size_t i = 0;
    size_t j = 0;
    for (auto [a, b] : pairs) {
      while (bucketOlds[i].leaf != a) {
        ++i;
      }
      while (bucketNews[j].leaf != b) {
        ++j;
      }
      oldPaired[i] = true;
      newPaired[j] = true;
    }
    for (i = 0, j = 0;; ++i, ++j) {
      while (i < oldPaired.size() && oldPaired[i]) {
        ++i;
      }
      while (j < newPaired.size() && newPaired[j]) {
        ++j;
      }
      if (i == oldPaired.size() || j == newPaired.size()) {
        break;
      }
      pair(bucketOlds[i].leaf, bucketNews[j].leaf);
    }
  }
}

class Matcher {
 public:
  Matcher(const Document& oldDoc, const Document& newDoc, MatchWork& work)
      : old_(oldDoc), new_(newDoc), work_(work) {
    m_.newGroupOf.assign(oldDoc.groups.size(), kUnmatched);
    m_.oldGroupOf.assign(newDoc.groups.size(), kUnmatched);
    m_.newLeafOf.assign(oldDoc.leaves.size(), kUnmatched);
    m_.oldLeafOf.assign(newDoc.leaves.size(), kUnmatched);
  }

  Matching run() && {
    // Group pairs wait on a stack rather than in recursion: names nest thousands deep.
    std::vector<std::pair<uint32_t, uint32_t>> pending;
    pairGroups(0, 0, pending);
    while (!pending.empty()) {
      auto [o, n] = pending.back();
      pending.pop_back();
      matchChildren(o, n, pending);
      matchLeaves(o, n);
      matchNumberedLeaves(o, n);
    }
    matchMovedLeaves();
    return std::move(m_);
  }

 private:
  void pair(uint32_t oldLeaf, uint32_t newLeaf) {
    m_.newLeafOf[oldLeaf] = newLeaf;
    m_.oldLeafOf[newLeaf] = oldLeaf;
  }
  void pairGroups(uint32_t o, uint32_t n, std::vector<std::pair<uint32_t, uint32_t>>& pending) {
    m_.newGroupOf[o] = n;
    m_.oldGroupOf[n] = o;
    pending.emplace_back(o, n);
  }

  // Sub-groups by name; then those left on both sides by their name without compiler-made
  // numbers (numberlessName), largest first and aligned on their totals. A fresh table per
  // group: clearing one that a large group once filled would cost its whole size every time.
  void matchChildren(uint32_t o, uint32_t n, std::vector<std::pair<uint32_t, uint32_t>>& pending) {
    NameMap<uint32_t> oldChildren;
    old_.forEachChild(o, [&](uint32_t c) { oldChildren.emplace(old_.groups[c].name, c); });
    work_.tableSlots += oldChildren.bucket_count();
    if (oldChildren.empty()) {
      return;
    }
    std::vector<uint32_t> restNew;
    new_.forEachChild(n, [&](uint32_t c) {
      auto found = oldChildren.find(new_.groups[c].name);
      if (found != oldChildren.end()) {
        pairGroups(found->second, c, pending);
      } else {
        restNew.push_back(c);
      }
    });
    if (restNew.empty()) {
      return;
    }
    std::vector<uint32_t> restOld;
    old_.forEachChild(o, [&](uint32_t c) {
      if (m_.newGroupOf[c] == kUnmatched) {
        restOld.push_back(c);
      }
    });
    auto inPageOrder = [](const Document& doc, std::vector<uint32_t>& groups) {
      std::sort(groups.begin(), groups.end(), [&doc](uint32_t a, uint32_t b) {
        const DocGroup& x = doc.groups[a];
        const DocGroup& y = doc.groups[b];
        return x.total != y.total ? x.total > y.total : lessAsUtf16(x.name, y.name);
      });
      std::vector<AlignItem> items;
      for (uint32_t g : groups) {
        items.push_back({g, doc.groups[g].total});
      }
      return items;
    };
    NumberlessNames names;
    pairAlike(
        inPageOrder(old_, restOld), inPageOrder(new_, restNew),
        [&](bool isOld, uint32_t g) {
          return names.of((isOld ? old_ : new_).groups[g].name);
        },
        [&](uint32_t a, uint32_t b) { pairGroups(a, b, pending); }, work_);
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

  // Whether both groups list the same leaves in the same order: the same keys, sizes and
  // mangled names, all that matching leaves by their keys' bases reads. Most often so.
  bool sameLeaves(uint32_t o, uint32_t n) const {
    const DocGroup& og = old_.groups[o];
    const DocGroup& ng = new_.groups[n];
    if (og.leafCount != ng.leafCount) {
      return false;
    }
    for (uint32_t k = 0; k < og.leafCount; ++k) {
      const DocLeaf& a = old_.leaves[og.firstLeaf + k];
      const DocLeaf& b = new_.leaves[ng.firstLeaf + k];
      if (a.size != b.size || a.key != b.key || a.mangledName != b.mangledName) {
        return false;
      }
    }
    return true;
  }

  // Most groups have no numbered key on either side: there a key matches its equal.
  void matchUniqueLeaves(uint32_t o, uint32_t n) {
    const DocGroup& og = old_.groups[o];
    const DocGroup& ng = new_.groups[n];
    // Most often both list the same keys in the same order: then each key's equal is the one at
    // its place (keys are unique in a group), and no table is needed.
    if (og.leafCount == ng.leafCount) {
      uint32_t k = 0;
      while (k < og.leafCount &&
             old_.leaves[og.firstLeaf + k].key == new_.leaves[ng.firstLeaf + k].key) {
        ++k;
      }
      if (k == og.leafCount) {
        for (k = 0; k < og.leafCount; ++k) {
          pair(og.firstLeaf + k, ng.firstLeaf + k);
        }
        return;
      }
    }
    NameMap<uint32_t> byKey;
    byKey.reserve(og.leafCount);
    for (uint32_t k = 0; k < og.leafCount; ++k) {
      byKey.emplace(old_.leaves[og.firstLeaf + k].key, og.firstLeaf + k);
    }
    work_.tableSlots += byKey.bucket_count();
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
    if (sameLeaves(o, n)) {
      // Each side's entries below would be sorted alike, and each list aligned pair by pair
      // from its first item on equal sizes: every leaf's match is the one at its place.
      const DocGroup& og = old_.groups[o];
      const DocGroup& ng = new_.groups[n];
      for (uint32_t k = 0; k < og.leafCount; ++k) {
        pair(og.firstLeaf + k, ng.firstLeaf + k);
      }
      return;
    }
    // The leaves of both sides by their key's base: one list per base of the old side, each
    // side's entries sorted by list and then in the list's order. New leaves whose base the old
    // side lacks have no match here.
    const DocGroup& og = old_.groups[o];
    const DocGroup& ng = new_.groups[n];
    NameMap<uint32_t> lists;  // grown as it fills: a group's keys often share a few bases
    std::vector<BaseEntry> olds, news;
    olds.reserve(og.leafCount);
    news.reserve(ng.leafCount);
    for (uint32_t k = 0; k < og.leafCount; ++k) {
      KeyParts parts = splitKey(old_.leaves[og.firstLeaf + k].key);
      auto [at, added] = lists.try_emplace(parts.base, static_cast<uint32_t>(lists.size()));
      olds.push_back({at->second, og.firstLeaf + k, parts.order});
    }
    for (uint32_t k = 0; k < ng.leafCount; ++k) {
      KeyParts parts = splitKey(new_.leaves[ng.firstLeaf + k].key);
      if (auto found = lists.find(parts.base); found != lists.end()) {
        news.push_back({found->second, ng.firstLeaf + k, parts.order});
      }
    }
    work_.tableSlots += lists.bucket_count();
    sortByList(old_, olds);
    sortByList(new_, news);
    // Each side in that order as the items that alignment reads, and where each list's run of
    // them ends; the entries go, which were needed only to sort them.
    auto itemsOf = [](const Document& doc, std::vector<BaseEntry>& entries,
                      std::vector<AlignItem>& items, std::vector<ListRun>& runs) {
      items.reserve(entries.size());
      for (size_t k = 0; k < entries.size(); ++k) {
        items.push_back({entries[k].leaf, doc.leaves[entries[k].leaf].size});
        if (k + 1 == entries.size() || entries[k + 1].list != entries[k].list) {
          runs.push_back({entries[k].list, static_cast<uint32_t>(k + 1)});
        }
      }
      std::vector<BaseEntry>().swap(entries);
    };
    std::vector<AlignItem> oldItems, newItems;
    std::vector<ListRun> oldRuns, newRuns;
    itemsOf(old_, olds, oldItems, oldRuns);
    itemsOf(new_, news, newItems, newRuns);
    std::vector<uint32_t> restOld, restNew;
    for (size_t i = 0, j = 0; i < oldRuns.size() && j < newRuns.size();) {
      if (oldRuns[i].list != newRuns[j].list) {
        (oldRuns[i].list < newRuns[j].list ? i : j) += 1;
        continue;
      }
      auto runOf = [](const std::vector<AlignItem>& items, const std::vector<ListRun>& runs,
                      size_t k) {
        uint32_t begin = k == 0 ? 0 : runs[k - 1].end;
        return std::span<const AlignItem>(items).subspan(begin, runs[k].end - begin);
      };
      matchBase(runOf(oldItems, oldRuns, i), runOf(newItems, newRuns, j), restOld, restNew);
      ++i;
      ++j;
    }
  }

  // Pairs the leaves of one base, `olds` with `news`: first those of the same
  // mangled name, aligned on sizes; then whatever is left, in order.
  void matchBase(std::span<const AlignItem> olds, std::span<const AlignItem> news,
                 std::vector<uint32_t>& restOld, std::vector<uint32_t>& restNew) {
    if (olds.size() == 1 && news.size() == 1) {
      pair(olds[0].leaf, news[0].leaf);  // paired by name or, failing that, in order
      return;
    }
    auto mangledName = [&](bool isOld, uint32_t leaf) {
      return string_view((isOld ? old_ : new_).leaves[leaf].mangledName);
    };
    // Often all have one mangled name (the paddings of a group): then the lists are aligned as
    // they are, as pairAlike would align its one bucket, without its tables.
    string_view first = mangledName(true, olds[0].leaf);
    auto isFirst = [&](bool isOld) {
      return [&, isOld](const AlignItem& item) { return mangledName(isOld, item.leaf) == first; };
    };
    if (std::all_of(olds.begin(), olds.end(), isFirst(true)) &&
        std::all_of(news.begin(), news.end(), isFirst(false))) {
      std::vector<std::pair<uint32_t, uint32_t>> pairs;
      pairs.reserve(std::min(olds.size(), news.size()));
      alignLeaves(olds, news, pairs);
      for (auto [a, b] : pairs) {
        pair(a, b);
      }
    } else {
      pairAlike(
          olds, news, mangledName, [&](uint32_t a, uint32_t b) { pair(a, b); }, work_, false);
    }
    restOld.clear();
    restNew.clear();
    for (const AlignItem& item : olds) {
      if (m_.newLeafOf[item.leaf] == kUnmatched) {
        restOld.push_back(item.leaf);
      }
    }
    for (const AlignItem& item : news) {
      if (m_.oldLeafOf[item.leaf] == kUnmatched) {
        restNew.push_back(item.leaf);
      }
    }
    for (size_t k = 0; k < std::min(restOld.size(), restNew.size()); ++k) {
      pair(restOld[k], restNew[k]);
    }
  }

  // The leaves of a group pair that found no match by key, matched by their key's base without
  // compiler-made numbers (".dynarrayStorage.178" is ".dynarrayStorage.192" of the next build),
  // in the page's order and aligned on their sizes.
  void matchNumberedLeaves(uint32_t o, uint32_t n) {
    auto rest = [](const Document& doc, uint32_t group, const std::vector<uint32_t>& other) {
      std::vector<AlignItem> items;
      const DocGroup& g = doc.groups[group];
      bool any = false;
      for (uint32_t k = 0; k < g.leafCount && !any; ++k) {
        any = other[g.firstLeaf + k] == kUnmatched;
      }
      if (any) {
        std::vector<uint32_t> leaves;
        for (uint32_t k = 0; k < g.leafCount; ++k) {
          if (other[g.firstLeaf + k] == kUnmatched) {
            leaves.push_back(g.firstLeaf + k);
          }
        }
        sortInPageOrder(doc, leaves);
        for (uint32_t leaf : leaves) {
          items.push_back({leaf, doc.leaves[leaf].size});
        }
      }
      return items;
    };
    std::vector<AlignItem> olds = rest(old_, o, m_.newLeafOf);
    if (olds.empty()) {
      return;
    }
    std::vector<AlignItem> news = rest(new_, n, m_.oldLeafOf);
    NumberlessNames names;
    pairAlike(
        olds, news,
        [&](bool isOld, uint32_t leaf) {
          return names.of(splitKey((isOld ? old_ : new_).leaves[leaf].key).base);
        },
        [&](uint32_t a, uint32_t b) { pair(a, b); }, work_);
  }

  // Leaves still unmatched on both sides, wherever they are filed, by their mangled name: a
  // symbol filed under another path in the new build (its group renamed, or the names filed
  // differently) is still the same symbol. Each side in the order of size, address and key.
  void matchMovedLeaves() {
    auto rest = [](const Document& doc, const std::vector<uint32_t>& other) {
      std::vector<uint32_t> leaves;
      for (uint32_t k = 0; k < doc.leaves.size(); ++k) {
        if (other[k] == kUnmatched && !doc.leaves[k].mangledName.empty()) {
          leaves.push_back(k);
        }
      }
      std::sort(leaves.begin(), leaves.end(), [&doc](uint32_t a, uint32_t b) {
        const DocLeaf& x = doc.leaves[a];
        const DocLeaf& y = doc.leaves[b];
        if (x.size != y.size) {
          return x.size > y.size;
        }
        if (x.address != y.address) {
          return x.address < y.address;
        }
        return lessAsUtf16(x.key, y.key);
      });
      std::vector<AlignItem> items;
      for (uint32_t leaf : leaves) {
        items.push_back({leaf, doc.leaves[leaf].size});
      }
      return items;
    };
    std::vector<AlignItem> olds = rest(old_, m_.newLeafOf);
    if (olds.empty()) {
      return;
    }
    pairAlike(
        olds, rest(new_, m_.oldLeafOf),
        [&](bool isOld, uint32_t leaf) { return (isOld ? old_ : new_).leaves[leaf].mangledName; },
        [&](uint32_t a, uint32_t b) { pair(a, b); }, work_);
  }

  const Document& old_;
  const Document& new_;
  MatchWork& work_;
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
           padLeft(newSize, bytes) + "  " + shortenPath(name, nameWidth()) + "\n";
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
  std::vector<bool> oldPadding = paddingLeaves(oldDoc);
  std::vector<bool> newPadding = paddingLeaves(newDoc);
  for (uint32_t k = 0; k < newDoc.leaves.size(); ++k) {
    uint32_t o = m.oldLeafOf[k];
    if (newPadding[k] || (o != kUnmatched && oldPadding[o])) {
      continue;
    }
    const DocLeaf& leaf = newDoc.leaves[k];
    Change c{0, o == kUnmatched ? 0 : oldDoc.leaves[o].size, leaf.size, "", "", k};
    c.delta = deltaOf(c.oldSize, c.newSize);
    if (c.delta != 0) {
      c.status = o == kUnmatched ? "new" : c.delta > 0 ? "grown" : "shrunk";
      changes.push_back(std::move(c));
    }
  }
  for (uint32_t k = 0; k < oldDoc.leaves.size(); ++k) {
    if (m.newLeafOf[k] == kUnmatched && oldDoc.leaves[k].size != 0 && !oldPadding[k]) {
      uint64_t size = oldDoc.leaves[k].size;
      changes.push_back({-Delta(size), size, 0, "removed", "", newDoc.leaves.size() + k});
    }
  }
  return changes;
}

// The document and leaf that a leaf change names.
std::pair<const Document*, const DocLeaf*> leafOf(const Change& c, const Document& oldDoc,
                                                  const Document& newDoc) {
  bool removed = c.order >= newDoc.leaves.size();
  const Document& doc = removed ? oldDoc : newDoc;
  return {&doc, &doc.leaves[removed ? c.order - newDoc.leaves.size() : c.order]};
}

// What one side of a comparison says of its options.
string optionsText(const Document& doc) {
  if (doc.options.empty()) {
    return doc.recordsOptions ? "made without options"
                              : "no record of options (made without options, or by an earlier "
                                "vorlith)";
  }
  string text = "made with";
  for (const std::string& option : doc.options) {
    text += " " + printable(option);
  }
  return text;
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

size_t NameHash::operator()(string_view name) const {
  return static_cast<size_t>(keyedHash(name));
}

string numberlessName(string_view name) {
  // Local labels (".LC12", ".L.str.5", ".Lswitch.table.3") are numbered through and through.
  bool local = name.substr(0, 2) == ".L";
  string out;
  out.reserve(name.size());
  size_t identifierStart = 0;
  for (size_t k = 0; k < name.size();) {
    char c = name[k];
    // A piece of a section at an offset that moves ("app.o:(.eh_frame+0x5e60)").
    if (c == '+' && name.substr(k + 1, 2) == "0x" && k + 3 < name.size() && isHex(name[k + 3])) {
      out += "+0x#";
      for (k += 3; k < name.size() && isHex(name[k]);) {
        ++k;
      }
      identifierStart = k;
      continue;
    }
    if (!isDigit(c)) {
      if (!zel::utils::text::isIdentifierChar(c)) {
        identifierStart = k + 1;
      }
      out += c;
      ++k;
      continue;
    }
    size_t end = k;
    while (end < name.size() && isDigit(name[end])) {
      ++end;
    }
    char before = k > 0 ? name[k - 1] : '\0';
    char after = end < name.size() ? name[end] : '\0';
    bool numbered =
        local ||
        // A numbered suffix: "literal.123", ".dynarrayStorage.178", ".isra.0", "[clone .part.1]".
        (before == '.' && (after == '\0' || string_view(". ])@#").find(after) != string_view::npos)) ||
        // A numbered C++ lambda or unnamed type: "{lambda(int)#2}".
        (before == '#' && (after == '}' || after == ')')) ||
        // A compiler-made identifier: "__lambda3", "__dgliteral12", "__foreachbody4".
        (isLetter(before) && name.substr(identifierStart, 2) == "__");
    if (numbered) {
      out += '#';
    } else {
      out.append(name.substr(k, end - k));
    }
    k = end;
  }
  return out;
}

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

void alignLeaves(std::span<const AlignItem> olds, std::span<const AlignItem> news,
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
  // Longest common subsequence of sizes, table filled from the ends. Where both lists begin
  // alike, each common subsequence of the rest is one item longer with the first pair, so the
  // walk below anchors the common beginning pair by pair: the table covers only what follows it.
  std::vector<std::pair<size_t, size_t>> anchors;
  size_t same = 0;
  while (same < n && same < m && olds[same].size == news[same].size) {
    anchors.emplace_back(same, same);
    ++same;
  }
  size_t width = m - same + 1;
  std::vector<uint32_t> table((n - same + 1) * width, 0);
  auto at = [&](size_t i, size_t j) -> uint32_t& { return table[(i - same) * width + (j - same)]; };
  for (size_t i = n; i-- > same;) {
    for (size_t j = m; j-- > same;) {
      at(i, j) = olds[i].size == news[j].size ? at(i + 1, j + 1) + 1
                                              : std::max(at(i + 1, j), at(i, j + 1));
    }
  }
  for (size_t i = same, j = same; i < n && j < m;) {
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

Matching matchBuilds(const Document& oldDoc, const Document& newDoc, MatchWork* work) {
  MatchWork ignored;
  return Matcher(oldDoc, newDoc, work != nullptr ? *work : ignored).run();
}

std::vector<bool> paddingLeaves(const Document& doc) {
  // Groups come before their sub-groups, so one pass hands the flag down.
  std::vector<bool> group(doc.groups.size(), false);
  for (uint32_t g = 1; g < doc.groups.size(); ++g) {
    uint32_t parent = doc.groups[g].parent;
    string_view name = doc.groups[g].name;
    group[g] = parent == 0 ? name == "Afterpadding" || name == "(*fill*)" || name == "*fill*"
                           : parent < g && group[parent];
  }
  std::vector<bool> leaves(doc.leaves.size(), false);
  for (uint32_t k = 0; k < doc.leaves.size(); ++k) {
    const DocLeaf& leaf = doc.leaves[k];
    if (leaf.group == 0) {
      string_view base = splitKey(leaf.key).base;
      leaves[k] = base == "*fill*" || base == "(*fill*)";
    } else {
      leaves[k] = group[leaf.group];
    }
  }
  return leaves;
}

ChangeCounts countChanges(const Document& oldDoc, const Document& newDoc, const Matching& m) {
  ChangeCounts counts;
  std::vector<bool> oldPadding = paddingLeaves(oldDoc);
  std::vector<bool> newPadding = paddingLeaves(newDoc);
  for (uint32_t k = 0; k < newDoc.leaves.size(); ++k) {
    uint32_t o = m.oldLeafOf[k];
    uint64_t size = newDoc.leaves[k].size;
    uint64_t oldSize = o == kUnmatched ? 0 : oldDoc.leaves[o].size;
    if (newPadding[k] || (o != kUnmatched && oldPadding[o])) {
      counts.paddingCount += size != oldSize || o == kUnmatched;
      counts.paddingBytes += deltaOf(oldSize, size);
      continue;
    }
    Status status = o == kUnmatched  ? kNew
                    : size > oldSize ? kGrown
                    : size < oldSize ? kShrunk
                                     : kSame;
    ++counts.count[status];
    counts.bytes[status] += deltaOf(oldSize, size);
  }
  for (uint32_t k = 0; k < oldDoc.leaves.size(); ++k) {
    if (m.newLeafOf[k] == kUnmatched) {
      if (oldPadding[k]) {
        ++counts.paddingCount;
        counts.paddingBytes -= Delta(oldDoc.leaves[k].size);
        continue;
      }
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

string optionsWarning(const Document& oldDoc, string_view oldName, const Document& newDoc,
                      string_view newName) {
  // A document without a record is taken as made without options: so it was, unless an
  // earlier vorlith made it, and the text says both.
  if (oldDoc.options == newDoc.options) {
    return "";
  }
  return "Warning: the documents were made with different options; some differences may come "
         "from that.\n  old: " +
         printable(oldName) + ": " + optionsText(oldDoc) + "\n  new: " + printable(newName) +
         ": " + optionsText(newDoc) + "\n";
}

Changes compare(const Document& oldDoc, const Document& newDoc) {
  Changes result;
  result.matching = matchBuilds(oldDoc, newDoc);
  result.counts = countChanges(oldDoc, newDoc, result.matching);
  std::vector<Change> groups = topLevelChanges(oldDoc, newDoc, result.matching);
  sortChanges(groups, groups.size());
  std::vector<Change> leaves = leafChanges(oldDoc, newDoc, result.matching);
  sortChanges(leaves, leaves.size());
  auto rows = [&](std::vector<Change>& changes, bool isLeaf) {
    std::vector<ChangeRow> out;
    out.reserve(changes.size());
    for (Change& c : changes) {
      ChangeRow row{c.delta, c.oldSize, c.newSize, c.status, {}, {}};
      if (isLeaf) {
        auto [doc, leaf] = leafOf(c, oldDoc, newDoc);
        row.path = doc->pathOf(leaf->group);
        row.path.push_back(leaf->key);
        row.mangledName = leaf->mangledName;
      } else {
        bool removed = c.order >= newDoc.groups.size();
        const Document& doc = removed ? oldDoc : newDoc;
        row.path.push_back(doc.groups[removed ? c.order - newDoc.groups.size() : c.order].name);
      }
      out.push_back(std::move(row));
    }
    return out;
  };
  result.groups = rows(groups, false);
  result.leaves = rows(leaves, true);
  return result;
}

ComparisonText comparison(const Document& oldDoc, string_view oldName, const Document& newDoc,
                          string_view newName, uint64_t count, const GrowthLimit* limit,
                          const std::vector<TemplateTotal>* newTemplates) {
  string warning = optionsWarning(oldDoc, oldName, newDoc, newName);
  if (limit != nullptr && !warning.empty()) {
    // A verdict on sizes read by different rules would fail or pass a build for no reason.
    throw std::runtime_error(
        "Cannot check the size budget: the two documents were made with different options.\n"
        "  old: " +
        printable(oldName) + ": " + optionsText(oldDoc) + "\n  new: " + printable(newName) +
        ": " + optionsText(newDoc) +
        "\nCompare documents made with the same options (make the old one again with this "
        "vorlith and the new one's options).");
  }
  Changes changes = compare(oldDoc, newDoc);
  const ChangeCounts& counts = changes.counts;
  uint64_t oldTotal = oldDoc.root().total;
  uint64_t newTotal = newDoc.root().total;
  Delta change = deltaOf(oldTotal, newTotal);

  ComparisonText result;
  string& out = result.text;
  out += warning;
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
  out += paddingLine(counts) + "\n";

  Table table{width};
  auto asChanges = [](const std::vector<ChangeRow>& rows, size_t keep) {
    std::vector<Change> list;
    for (size_t k = 0; k < std::min(keep, rows.size()); ++k) {
      const ChangeRow& r = rows[k];
      list.push_back({r.delta, r.oldSize, r.newSize, r.status, printablePath(
                          std::vector<string_view>(r.path.begin(), r.path.end() - 1), r.path.back()),
                      k});
    }
    return list;
  };
  std::vector<Change> groups = asChanges(changes.groups, changes.groups.size());
  if (!groups.empty()) {
    out += "\n" + table.rows(groups, "Top-level group");
  }
  std::vector<Change> leaves =
      asChanges(changes.leaves, static_cast<size_t>(std::min<uint64_t>(count, SIZE_MAX)));
  if (!leaves.empty()) {
    out += "\n" + table.rows(leaves, "Largest changes (path › key)");
  }
  out += templateGrowthSection(oldDoc, newDoc, count, newTemplates);

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
      out += "Groups that grew most:\n";
      for (const Change& c : groups) {
        if (c.delta > 0) {
          out += "  " + padLeft(signedBytes(c.delta), width + 1) + "  " +
                 padLeft(signedHumanSize(c.delta), 11) + "  " +
                 shortenPath(c.name, kLineWidth - width - 18) + "\n";
        }
      }
    }
  }
  return result;
}

namespace {

// A JSON writer for the comparison, with the few shapes it needs.
struct JsonOut {
  zel::utils::json::CustomJsonWriter<zel::utils::appender::FastAppender> writer;
  bool first = true;  // no member written yet in the current object or array

  void separate() {
    if (!first) {
      writer.output.put(',');
    }
    first = false;
  }
  void key(string_view name) {
    separate();
    writer.putString(name);
    writer.output.put(':');
  }
  void open(char bracket) {
    writer.output.put(bracket);
    first = true;
  }
  void close(char bracket) {
    writer.output.put(bracket);
    first = false;
  }
  void number(Delta n) {
    string text = signedBytes(n);
    writer.output.put(string_view(text).substr(text[0] == '+' ? 1 : 0));
  }
  void member(string_view name, Delta n) {
    key(name);
    number(n);
  }
  void member(string_view name, string_view text) {
    key(name);
    writer.putString(text);
  }
  void strings(const std::vector<string_view>& list) {
    open('[');
    for (string_view text : list) {
      separate();
      writer.putString(text);
    }
    close(']');
  }
  void side(string_view name, const Document& doc) {
    open('{');
    member("name", name);
    member("total", Delta(doc.root().total));
    key("options");
    if (doc.recordsOptions) {
      strings(std::vector<string_view>(doc.options.begin(), doc.options.end()));
    } else {
      writer.output.put("null");
    }
    close('}');
  }
  void tally(string_view name, uint64_t count, Delta bytes) {
    key(name);
    open('{');
    member("count", Delta(count));
    member("bytes", bytes);
    close('}');
  }
  void rows(const std::vector<ChangeRow>& list, bool leaves) {
    open('[');
    for (const ChangeRow& row : list) {
      separate();
      open('{');
      key("path");
      strings(row.path);
      member("old", Delta(row.oldSize));
      member("new", Delta(row.newSize));
      member("change", row.delta);
      member("kind", row.status);
      if (leaves) {
        member("mangledName", row.mangledName);
      }
      close('}');
    }
    close(']');
  }
};

}  // namespace

string comparisonJson(const Document& oldDoc, string_view oldName, const Document& newDoc,
                      string_view newName) {
  Changes changes = compare(oldDoc, newDoc);
  const ChangeCounts& counts = changes.counts;
  JsonOut out;
  out.open('{');
  out.key("old");
  out.side(oldName, oldDoc);
  out.key("new");
  out.side(newName, newDoc);
  out.member("change", deltaOf(oldDoc.root().total, newDoc.root().total));
  string warning = optionsWarning(oldDoc, oldName, newDoc, newName);
  out.key("warning");
  if (warning.empty()) {
    out.writer.output.put("null");
  } else {
    out.writer.putString(warning);
  }
  out.key("symbols");
  out.open('{');
  out.tally("new", counts.count[kNew], counts.bytes[kNew]);
  out.tally("removed", counts.removedCount, counts.removedBytes);
  out.tally("grown", counts.count[kGrown], counts.bytes[kGrown]);
  out.tally("shrunk", counts.count[kShrunk], counts.bytes[kShrunk]);
  out.tally("unchanged", counts.count[kSame], 0);
  out.close('}');
  out.tally("paddingAndFill", counts.paddingCount, counts.paddingBytes);
  out.key("groups");
  out.rows(changes.groups, false);
  out.key("changes");
  out.rows(changes.leaves, true);
  out.close('}');
  out.writer.output.put('\n');
  return string(out.writer.output.get());
}

string paddingLine(const ChangeCounts& counts) {
  return "padding and fill: " + signedBytes(counts.paddingBytes) + " bytes in " +
         std::to_string(counts.paddingCount) + (counts.paddingCount == 1 ? " place" : " places");
}

}  // namespace vorlith::report
