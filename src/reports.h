// The reports a run gives after it has written its document: tables on standard output (summary,
// comparison with an older build, the size budget), a CSV file and a self-contained page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "document.h"
#include "options.h"
#include "report_text.h"

namespace vorlith::report {

// ---- Summary (report_summary.cpp) ----

// The total, the top-level groups by size with their shares, then the `count` largest symbols
// with their paths; every line fits kLineWidth columns.
[[nodiscard]] std::string summary(const Document& doc, uint64_t count);

// ---- Comparison (report_diff.cpp) ----

constexpr uint32_t kUnmatched = UINT32_MAX;

// Which group and leaf of one build is which of the other, found as the treemap page finds it
// (viewer/compare.js): groups by name under matched parents, leaves by key, where keys "f",
// "f#1", "f#2" share the base name "f" and are paired first among the same mangled name along
// equal sizes, then in order.
struct Matching {
  std::vector<uint32_t> newGroupOf;  // per old group: its match in the new build, or kUnmatched
  std::vector<uint32_t> oldGroupOf;  // per new group
  std::vector<uint32_t> newLeafOf;   // per old leaf
  std::vector<uint32_t> oldLeafOf;   // per new leaf
};
[[nodiscard]] Matching matchBuilds(const Document& oldDoc, const Document& newDoc);

// The base name and order of a leaf key: "f#12" is ("f", 12), "f" is ("f", 0).
struct KeyParts {
  std::string_view base;
  double order = 0;  // a number as the page reads it, so long digit strings agree
};
[[nodiscard]] KeyParts splitKey(std::string_view key);

// Pairs `olds` and `news` (leaf numbers, in the page's order) along equal sizes, then the rest
// in order between them; `pair` is called once per pair.
struct AlignItem {
  uint32_t leaf;
  uint64_t size;
};
void alignLeaves(const std::vector<AlignItem>& olds, const std::vector<AlignItem>& news,
                 std::vector<std::pair<uint32_t, uint32_t>>& pairs);

// Leaf changes by kind, over both builds.
struct ChangeCounts {
  uint64_t count[4] = {};  // unchanged, grown, shrunk, new
  Delta bytes[4] = {};
  uint64_t removedCount = 0;
  Delta removedBytes = 0;  // negative
};
enum Status { kSame = 0, kGrown = 1, kShrunk = 2, kNew = 3 };
[[nodiscard]] ChangeCounts countChanges(const Document& oldDoc, const Document& newDoc,
                                        const Matching& matching);

// Whether growing from `oldTotal` to `newTotal` passes `limit` (equal to the limit passes).
[[nodiscard]] bool grewPastLimit(uint64_t oldTotal, uint64_t newTotal, const GrowthLimit& limit);

// The comparison: totals, changes by kind, the top-level groups and the `count` symbols with
// the largest changes; with a limit, whether it holds and, when not, the groups that grew most.
struct ComparisonText {
  std::string text;
  bool grewTooMuch = false;
};
[[nodiscard]] ComparisonText comparison(const Document& oldDoc, std::string_view oldName,
                                        const Document& newDoc, std::string_view newName,
                                        uint64_t count, const GrowthLimit* limit);

// ---- CSV (report_csv.cpp) ----

// One field as RFC 4180 wants it: quoted when it holds a comma, a quote, CR or LF, quotes doubled.
[[nodiscard]] std::string csvField(std::string_view text);
// The header and one row per symbol (size, address, group path, key, mangled and shown name;
// for a program laid out by its sections also section, kind and object), lines ended by CRLF.
[[nodiscard]] std::string csv(const Document& doc);

// ---- Self-contained page (report_html.cpp) ----

// A document for the page: its JSON (without "var treeData = ") and the name it was given as.
struct PageDocument {
  std::string_view json;
  std::string_view name;
};
// The viewer's page with its scripts and styles inline and the documents in it, from the copy of
// viewer/ built into this program.
[[nodiscard]] std::string selfContainedPage(const PageDocument& document, const PageDocument* base);
// The element that carries a document: "<" is written \u003c so nothing can end the element.
[[nodiscard]] std::string documentElement(std::string_view id, const PageDocument& document);

}  // namespace vorlith::report
