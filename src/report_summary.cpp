// --summary: where the bytes are, on standard output.
//   Total: 1234567 bytes (1.2 MiB) in 5432 symbols
//
//   Top-level groups      Bytes        Size   Share
//   std                  524288   512.0 KiB   42.4%
// preceded, for a program laid out by its sections, by its sections' sizes by kind.
#include <algorithm>
#include <numeric>

#include "reports.h"

namespace vorlith::report {

using std::string;
using std::string_view;

namespace {

// Largest first; equal sizes by name, so the output never depends on the sort's whims.
template <typename Item, typename Size, typename Name>
void sortBySize(std::vector<Item>& items, Size size, Name name) {
  std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
    return size(a) != size(b) ? size(a) > size(b) : name(a) < name(b);
  });
}

// Columns: bytes, size, share, then the name in whatever is left of the line.
struct Columns {
  size_t bytes;
  static constexpr size_t kSize = 10;
  static constexpr size_t kShare = 6;

  [[nodiscard]] size_t nameWidth() const { return kLineWidth - (bytes + kSize + kShare + 6); }
  [[nodiscard]] string row(string_view bytesText, string_view size, string_view shareText,
                           string_view name) const {
    return padLeft(bytesText, bytes) + "  " + padLeft(size, kSize) + "  " +
           padLeft(shareText, kShare) + "  " + shortenMiddle(name, nameWidth()) + "\n";
  }
};

// The sections' sizes by kind, loaded and in the file, whichever the tree counts:
//   Section kind                Memory        Size          File        Size
//   code                          1234     1.2 KiB          1234     1.2 KiB
string kindTable(const KindTotals& totals) {
  uint64_t memory = 0, file = 0;
  for (int k = 0; k < kSectionKinds; ++k) {
    memory += totals.memory[k];
    file += totals.file[k];
  }
  size_t bytes = std::max<size_t>(6, std::to_string(std::max(memory, file)).size());
  auto row = [bytes](string_view label, string_view memoryBytes, string_view memorySize,
                     string_view fileBytes, string_view fileSize) {
    return padRight(label, 22) + "  " + padLeft(memoryBytes, bytes) + "  " +
           padLeft(memorySize, 10) + "  " + padLeft(fileBytes, bytes) + "  " +
           padLeft(fileSize, 10) + "\n";
  };
  string out = row("Section kind", "Memory", "Size", "File", "Size");
  for (int k = 0; k < kSectionKinds; ++k) {
    if (totals.memory[k] == 0 && totals.file[k] == 0) {
      continue;
    }
    out +=
        row(kindLabel(static_cast<SectionKind>(k)), std::to_string(totals.memory[k]),
            humanSize(totals.memory[k]), std::to_string(totals.file[k]), humanSize(totals.file[k]));
  }
  out +=
      row("all", std::to_string(memory), humanSize(memory), std::to_string(file), humanSize(file));
  out += totals.measure == Measure::Memory
             ? "The tree counts memory, the loaded image (--size=file counts the file).\n"
             : "The tree counts the file's bytes (--size=memory counts the loaded image).\n";
  if (!totals.wholeFile) {
    out +=
        "File: the sections' bytes; the headers and the gaps between them need the binary "
        "(--elf).\n";
  }
  return out;
}

}  // namespace

string summary(const Document& doc, uint64_t count, const std::vector<TemplateTotal>* templates) {
  uint64_t total = doc.root().total;
  Columns columns{std::max<size_t>(5, std::to_string(total).size())};
  string out = "Total: " + std::to_string(total) + " bytes (" + humanSize(total) + ") in " +
               std::to_string(doc.leaves.size()) + " symbols\n\n";
  if (doc.hasKindTotals) {
    out += kindTable(doc.kindTotals) + "\n";
  }

  // Top-level groups, and the symbols filed at the top level itself as one line.
  std::vector<uint32_t> tops;
  doc.forEachChild(0, [&tops](uint32_t g) { tops.push_back(g); });
  sortBySize(
      tops, [&doc](uint32_t g) { return doc.groups[g].total; },
      [&doc](uint32_t g) { return doc.groups[g].name; });
  out += columns.row("Bytes", "Size", "Share", "Top-level group");
  for (uint32_t g : tops) {
    uint64_t size = doc.groups[g].total;
    out += columns.row(std::to_string(size), humanSize(size), share(size, total),
                       printable(doc.groups[g].name));
  }
  const DocGroup& root = doc.root();
  if (root.leafCount != 0) {
    uint64_t loose = 0;
    for (uint32_t k = 0; k < root.leafCount; ++k) {
      loose += doc.leaves[root.firstLeaf + k].size;
    }
    out += columns.row(std::to_string(loose), humanSize(loose), share(loose, total),
                       "(" + std::to_string(root.leafCount) +
                           (root.leafCount == 1 ? " symbol" : " symbols") + " at the top level)");
  }

  if (count == 0) {
    return out;
  }
  // The largest symbols: a partial sort, since a large program has a million of them.
  std::vector<uint32_t> order(doc.leaves.size());
  std::iota(order.begin(), order.end(), 0u);
  auto larger = [&doc](uint32_t a, uint32_t b) {
    const DocLeaf& x = doc.leaves[a];
    const DocLeaf& y = doc.leaves[b];
    return x.size != y.size ? x.size > y.size : a < b;
  };
  size_t shown = static_cast<size_t>(std::min<uint64_t>(count, order.size()));
  std::partial_sort(order.begin(), order.begin() + static_cast<ptrdiff_t>(shown), order.end(),
                    larger);
  out += "\n";
  out += columns.row("Bytes", "Size", "Share",
                     "Largest " + std::to_string(shown) + " symbols (path › key)");
  for (size_t k = 0; k < shown; ++k) {
    const DocLeaf& leaf = doc.leaves[order[k]];
    out += columns.row(std::to_string(leaf.size), humanSize(leaf.size), share(leaf.size, total),
                       printablePath(doc.pathOf(leaf.group), leaf.key));
  }
  return out + templatesSection(doc, count, templates);
}

}  // namespace vorlith::report
