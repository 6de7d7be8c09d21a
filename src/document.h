// A size document as the reports read it: the groups and leaves of one build, flat and in the
// document's order, from the tree of this run or from a document file that vorlith wrote:
//   var treeData = {"total":48,"children":{"app":{"total":48,"children":{},"leaves":{"main":
//     {"size":48,"address":65536,"mangledName":"main","demangledName":""}}}},"leaves":{}}
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "arena.h"
#include "layout.h"
#include "name_view.h"

namespace vorlith {

struct TreeNode;

// Where a symbol lies in the program, under the modern rules where known: the output section,
// its kind ("code", "rodata", ...) and the object file; empty otherwise. Leaves that lie alike
// share one.
struct DocPlace {
  std::string_view section;
  std::string_view kind;
  std::string_view object;
};
inline constexpr DocPlace kUnknownPlace{};

struct DocLeaf {
  NameView key;  // the name it is filed under in its group ("f", "f#2")
  NameView mangledName;
  NameView demangledName;  // empty when it is the mangled name
  uint32_t group = 0;      // the group that holds it
  uint64_t size = 0;
  uint64_t address = 0;
  const DocPlace* place = &kUnknownPlace;  // the document's, or kUnknownPlace

  // The name a reader is shown: the demangled name, else the mangled one.
  [[nodiscard]] std::string_view shownName() const {
    return demangledName.empty() ? mangledName : demangledName;
  }
  [[nodiscard]] std::string_view section() const { return place->section; }
  [[nodiscard]] std::string_view kind() const { return place->kind; }
  [[nodiscard]] std::string_view object() const { return place->object; }
};

static_assert(sizeof(void*) != 8 || sizeof(DocLeaf) == 64);

constexpr uint32_t kNoGroup = UINT32_MAX;

// How the names of a group path are joined into one text, in the reports, the CSV and the size
// history: "std › format › internal".
constexpr std::string_view kPathSeparator = " \xE2\x80\xBA ";

struct DocGroup {
  std::string_view name;  // empty for the root
  uint64_t total = 0;
  uint32_t parent = kNoGroup;
  uint32_t firstChild = kNoGroup;  // sub-groups in document order, linked by nextSibling
  uint32_t lastChild = kNoGroup;
  uint32_t nextSibling = kNoGroup;
  uint32_t firstLeaf = 0;  // its own leaves are leaves[firstLeaf, firstLeaf + leafCount)
  uint32_t leafCount = 0;
};

// Group 0 is the root. Names are views into the tree's arena or into the document's own.
struct Document {
  std::vector<DocGroup> groups;
  std::vector<DocLeaf> leaves;
  // The sizes of the program's sections by kind in both measures, when this run laid it out by
  // its sections (a document read from a file does not carry them).
  bool hasKindTotals = false;
  KindTotals kindTotals;
  std::unique_ptr<TextArena> text = std::make_unique<TextArena>();  // names read from a file
  // The places its leaves point to (a deque never moves them, nor does moving the document).
  std::deque<DocPlace> places;
  // The options that made it ("--modern"), from the record at its top. A document file without
  // a record was made without options or by a vorlith that kept none: `recordsOptions` is false
  // then. A document of this run knows its options, none or some.
  std::vector<std::string> options;
  bool recordsOptions = false;

  [[nodiscard]] const DocGroup& root() const { return groups.front(); }
  // The names of the groups from the top level down to `group` (the root's path is empty).
  [[nodiscard]] std::vector<std::string_view> pathOf(uint32_t group) const;
  // Visits the sub-groups of `group` in document order.
  template <typename Visit>
  void forEachChild(uint32_t group, Visit visit) const {
    for (uint32_t c = groups[group].firstChild; c != kNoGroup; c = groups[c].nextSibling) {
      visit(c);
    }
  }
};

// The document of a tree this run built with `options` (documentOptions: empty for the classic
// document, which has no record); its names stay views into the tree's arena.
[[nodiscard]] Document documentFromTree(const TreeNode& root,
                                        std::vector<std::string> options = {});
// The same with the leaves' sections, kinds and objects and the kinds' totals.
struct SizeTree;
[[nodiscard]] Document documentFromTree(const SizeTree& tree,
                                        std::vector<std::string> options = {});

// Whether a file that begins with `head` is a document (JSON, optionally behind "var treeData =")
// rather than a map.
[[nodiscard]] bool looksLikeDocument(std::string_view head);

// The JSON text of a document file: without a byte order mark, "var treeData =" and a final ";".
[[nodiscard]] std::string_view documentJson(std::string_view fileText);

// The longest string (a name, a key) a document may hold, in bytes as written. Far more than
// any real symbol's name; it keeps what reading a document costs in proportion to its size.
constexpr size_t kMaxDocumentString = size_t{16} << 20;

// Reads a document's JSON (documentJson's result), which begins `offset` bytes into its file.
// Throws std::runtime_error saying what is wrong (not JSON, with the byte; a string longer than
// kMaxDocumentString, a member given twice in one object).
// With `viewsIntoJson`, names written without escapes are views into `json`, which must then
// live as long as the document (no copy of what the text holds anyway); else all are copied.
[[nodiscard]] Document readDocument(std::string_view json, size_t offset = 0,
                                    bool viewsIntoJson = false);

// How readDocumentFile reads a document file.
struct DocumentFileReading {
  // Given the document's JSON (documentJson's part of the file) a piece at a time, in order, as
  // it is read: the file is never whole in memory.
  std::function<void(std::string_view)> takeJson;
  // A document whose names the one read takes where they are equal, as views into its storage
  // (which must then outlive the document read), rather than copies: two builds of one program
  // share most of their names.
  const Document* sharesNamesWith = nullptr;
  // The bytes read at once.
  size_t pieceSize = size_t{1} << 20;
};

// Reads the document file at `path` as readDocument reads its JSON, with the same checks and the
// same messages (byte offsets counted in the file), but a piece at a time: the names are copied
// into the document's own storage (or shared), the text goes. A file that grows or shrinks while
// it is read is refused. Throws std::runtime_error "path: what is wrong".
[[nodiscard]] Document readDocumentFile(const std::string& path,
                                        const DocumentFileReading& how = {});

// The first group, in document order, whose total is not the sum of its groups' totals and its
// symbols' sizes (sums wrap as the tree's do), as "group "a / b" says 10 bytes, its groups and
// symbols add up to 12"; empty when every total agrees. A document vorlith wrote always agrees.
[[nodiscard]] std::string totalsDisagreement(const Document& doc);

}  // namespace vorlith
