// The reports a run gives after it has written its document: tables on standard output (summary,
// comparison with an older build, the size budget), a CSV file and a self-contained page.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "document.h"
#include "options.h"
#include "report_text.h"
#include "zel/utils/chunked_appender.h"

namespace vorlith::report {

// ---- Summary (report_summary.cpp) ----

// The total, the top-level groups by size with their shares, then the `count` largest symbols
// with their paths; every line fits kLineWidth columns.
struct TemplateTotal;
// `templates`, when given, are templatesByTotal(doc), made once for every report that needs them.
[[nodiscard]] std::string summary(const Document& doc, uint64_t count,
                                  const std::vector<TemplateTotal>* templates = nullptr);

// ---- Templates by total size (report_templates.cpp) ----

// The template a symbol belongs to, from the name it is shown by: the qualified name up to the
// first template marker of its own name ("std.format.write.formattedWrite" of
// "... std.format.write.formattedWrite!(...)(...)", "std::vector" of
// "std::vector<int>::push_back(int const&)") and the instance (the name through the marker's
// arguments). Both are empty when the name is not of a template instance.
struct TemplateOf {
  std::string name;
  std::string instance;
};
[[nodiscard]] TemplateOf templateOf(std::string_view shownName);

// One template over the whole document: its symbols' sizes summed, how many symbols and
// instances, and its largest instances (at most three, with their sums).
struct TemplateTotal {
  std::string name;
  uint64_t total = 0;
  uint64_t symbols = 0;
  uint64_t instances = 0;
  std::vector<std::pair<std::string, uint64_t>> largest;
};
// Every template of the document, largest total first (equal totals by name).
[[nodiscard]] std::vector<TemplateTotal> templatesByTotal(const Document& doc);
// The --summary section "Templates by total size" (the `count` largest), or "" when none.
[[nodiscard]] std::string templatesSection(const Document& doc, uint64_t count,
                                           const std::vector<TemplateTotal>* templates = nullptr);
// The comparison's section "Templates that grew most" (at most `count`), or "" when none grew;
// `newTemplates`, when given, are templatesByTotal(newDoc).
[[nodiscard]] std::string templateGrowthSection(
    const Document& oldDoc, const Document& newDoc, uint64_t count,
    const std::vector<TemplateTotal>* newTemplates = nullptr);

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
// The work a matching did, for tests that keep it in proportion to the documents: the slots of
// every hash table it filled, each counted once.
struct MatchWork {
  uint64_t tableSlots = 0;
};
[[nodiscard]] Matching matchBuilds(const Document& oldDoc, const Document& newDoc,
                                   MatchWork* work = nullptr);

// The hash of the comparison's tables of names: the run's keyed hash, as the tree's tables
// use, since a fixed-seed hash would let a document's author put every name in one chain.
struct NameHash {
  size_t operator()(std::string_view name) const;
};

// `name` with the numbers that compilers make up written "#": numbered suffixes
// (".dynarrayStorage.178", "literal.12", ".isra.0"), local labels (".LC3"), compiler-made
// identifiers ("__lambda3", "__dgliteral12") and C++ lambdas ("{lambda()#2}"). Two builds
// number such things differently, so leaves and groups that find no match by name are matched
// by this. The page's compare.js makes the same names.
[[nodiscard]] std::string numberlessName(std::string_view name);

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
void alignLeaves(std::span<const AlignItem> olds, std::span<const AlignItem> news,
                 std::vector<std::pair<uint32_t, uint32_t>>& pairs);

// Leaf changes by kind, over both builds.
struct ChangeCounts {
  uint64_t count[4] = {};  // unchanged, grown, shrunk, new
  Delta bytes[4] = {};
  uint64_t removedCount = 0;
  Delta removedBytes = 0;  // negative
  // Alignment padding and linker fill ("Afterpadding", "(*fill*)"), counted apart from the
  // symbols: the places whose size changed, and the bytes they changed by.
  uint64_t paddingCount = 0;
  Delta paddingBytes = 0;
};
// Per leaf, whether it is padding or fill: under a top-level "Afterpadding", "(*fill*)" or
// "*fill*", or a "*fill*" at the top level itself (the page's kinds "pad" and "fill").
[[nodiscard]] std::vector<bool> paddingLeaves(const Document& doc);
// "padding and fill: +N bytes in M places"
[[nodiscard]] std::string paddingLine(const ChangeCounts& counts);
enum Status { kSame = 0, kGrown = 1, kShrunk = 2, kNew = 3 };
[[nodiscard]] ChangeCounts countChanges(const Document& oldDoc, const Document& newDoc,
                                        const Matching& matching);

// Whether growing from `oldTotal` to `newTotal` passes `limit` (equal to the limit passes).
[[nodiscard]] bool grewPastLimit(uint64_t oldTotal, uint64_t newTotal, const GrowthLimit& limit);

// One changed group or symbol: its path (groups, then the leaf's key), sizes and kind.
struct ChangeRow {
  Delta delta;
  uint64_t oldSize, newSize;
  std::string_view status;  // "new", "removed", "grown", "shrunk"
  std::vector<std::string_view> path;
  std::string_view mangledName;  // empty for a group
};
// Everything the comparison found: the matching, the counts, the changed top-level groups and
// the changed symbols (padding and fill apart), each list largest change first.
struct Changes {
  Matching matching;
  ChangeCounts counts;
  std::vector<ChangeRow> groups;
  std::vector<ChangeRow> leaves;
};
[[nodiscard]] Changes compare(const Document& oldDoc, const Document& newDoc);

// Lines that warn that the two documents were made with different options (their records
// differ), or nothing when they were not.
[[nodiscard]] std::string optionsWarning(const Document& oldDoc, std::string_view oldName,
                                         const Document& newDoc, std::string_view newName);

// The comparison as JSON for programs (--diff): totals, counts, groups and every change.
[[nodiscard]] std::string comparisonJson(const Document& oldDoc, std::string_view oldName,
                                         const Document& newDoc, std::string_view newName);

// The comparison: totals, changes by kind, the top-level groups and the `count` symbols with
// the largest changes; with a limit, whether it holds and, when not, the groups that grew most.
// The first lines warn when the documents were made with different options; with a limit such
// documents are refused (std::runtime_error), since the verdict would mean nothing.
// `newTemplates`, when given, are templatesByTotal(newDoc).
struct ComparisonText {
  std::string text;
  bool grewTooMuch = false;
};
[[nodiscard]] ComparisonText comparison(const Document& oldDoc, std::string_view oldName,
                                        const Document& newDoc, std::string_view newName,
                                        uint64_t count, const GrowthLimit* limit,
                                        const std::vector<TemplateTotal>* newTemplates = nullptr);

// ---- CSV (report_csv.cpp) ----

// One field as RFC 4180 wants it: quoted when it holds a comma, a quote, CR or LF, quotes doubled.
[[nodiscard]] std::string csvField(std::string_view text);
// A text cell: as csvField, with an apostrophe in front when it begins with "=", "+", "-", "@",
// tab or CR, which a spreadsheet would otherwise read as a formula.
[[nodiscard]] std::string csvTextField(std::string_view text);
// The header and one row per symbol (size, address, group path, key, mangled and shown name;
// for a program laid out by its sections also section, kind and object), lines ended by CRLF,
// written into `out` as they are made.
void writeCsv(zel::utils::appender::ChunkedAppender& out, const Document& doc);
// The same as one string.
[[nodiscard]] std::string csv(const Document& doc);

// ---- Self-contained page (report_html.cpp) ----

// A document for the page: its JSON (without "var treeData = ") and the name it was given as.
struct PageDocument {
  std::string_view json;
  std::string_view name;
};
// A document for the page as it is written: the name it was given as, and what writes its JSON
// (without "var treeData = ") into the page, as it is made.
struct PageSource {
  std::string_view name;
  std::function<void(zel::utils::appender::ChunkedAppender&)> writeJson;
};
// The viewer's page with its scripts and styles inline and the documents in it, from the copy of
// viewer/ built into this program, written into `out` as it is made: no document is ever whole
// in memory for it.
void writeSelfContainedPage(zel::utils::appender::ChunkedAppender& out, const PageSource& document,
                            const PageSource* base);
// The same in three steps, for a document whose JSON is written elsewhere at the same time:
// the page up to the document's JSON; the JSON, a piece at a time, as it is made; then the rest
// of the page, with `base`'s document when given.
void beginSelfContainedPage(zel::utils::appender::ChunkedAppender& out, std::string_view documentName);
void putPageJson(zel::utils::appender::ChunkedAppender& out, std::string_view json);
void endSelfContainedPage(zel::utils::appender::ChunkedAppender& out, const PageSource* base);
// The same as one string.
[[nodiscard]] std::string selfContainedPage(const PageDocument& document, const PageDocument* base);
// The three steps with a base document written into the page as it is read: beginPageBase after the
// document's JSON, then the base's JSON a piece at a time by putPageJson, then endPageAfterBase.
void beginPageBase(zel::utils::appender::ChunkedAppender& out, std::string_view baseName);
void endPageAfterBase(zel::utils::appender::ChunkedAppender& out);
// The element that carries a document: "<" is written \u003c so nothing can end the element.
void writeDocumentElement(zel::utils::appender::ChunkedAppender& out, std::string_view id,
                          std::string_view name,
                          const std::function<void(zel::utils::appender::ChunkedAppender&)>& writeJson);
[[nodiscard]] std::string documentElement(std::string_view id, const PageDocument& document);

}  // namespace vorlith::report
