// Reading a document for --base and every report on it: whatever the bytes, reading either
// fails with a message or gives a document whose comparison with itself finds no change and
// whose CSV has one row per symbol. Read from a file a piece at a time (pieces of 1 to 64 bytes,
// sharing the names of the document read whole), the same bytes give the same document or fail
// with the same message.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include "document.h"
#include "reports.h"

namespace {

bool sameDocument(const vorlith::Document& a, const vorlith::Document& b) {
  if (a.options != b.options || a.recordsOptions != b.recordsOptions ||
      a.groups.size() != b.groups.size() || a.leaves.size() != b.leaves.size()) {
    return false;
  }
  for (size_t k = 0; k < a.groups.size(); ++k) {
    const vorlith::DocGroup& x = a.groups[k];
    const vorlith::DocGroup& y = b.groups[k];
    if (x.name != y.name || x.total != y.total || x.parent != y.parent ||
        x.firstChild != y.firstChild || x.lastChild != y.lastChild ||
        x.nextSibling != y.nextSibling || x.firstLeaf != y.firstLeaf ||
        x.leafCount != y.leafCount) {
      return false;
    }
  }
  for (size_t k = 0; k < a.leaves.size(); ++k) {
    const vorlith::DocLeaf& x = a.leaves[k];
    const vorlith::DocLeaf& y = b.leaves[k];
    if (x.key != y.key || x.size != y.size || x.address != y.address ||
        x.mangledName != y.mangledName || x.demangledName != y.demangledName ||
        x.section() != y.section() || x.kind() != y.kind() || x.object() != y.object() ||
        x.group != y.group) {
      return false;
    }
  }
  return true;
}

// The bytes read from a file in pieces give what they gave read whole: `whole`, or `message`.
void checkReadInPieces(const std::string& text, const vorlith::Document* whole,
                       const std::string& message) {
  // One file for the process, removed when it ends.
  static const struct File {
    std::string path = (std::filesystem::temp_directory_path() /
                        ("vorlith-document-fuzz-" + std::to_string(::getpid()) + ".json"))
                           .string();
    ~File() { std::remove(path.c_str()); }
  } file;
  const std::string& path = file.path;
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  vorlith::DocumentFileReading how;
  how.pieceSize = text.empty() ? 1 : 1 + static_cast<unsigned char>(text.back()) % 64;
  how.sharesNamesWith = whole;
  std::string taken;
  how.takeJson = [&taken](std::string_view json) { taken += json; };
  std::optional<vorlith::Document> read;
  try {
    read = vorlith::readDocumentFile(path, how);
  } catch (const std::runtime_error& wrong) {
    if (whole != nullptr || wrong.what() != path + ": " + message) {
      std::abort();  // refused otherwise than the whole text is
    }
    return;
  }
  if (whole == nullptr || !sameDocument(*read, *whole) || taken != vorlith::documentJson(text)) {
    std::abort();  // read otherwise than the whole text is
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  vorlith::Document doc;
  try {
    std::string_view json = vorlith::documentJson(text);
    doc = vorlith::readDocument(json, static_cast<size_t>(json.data() - text.data()));
  } catch (const std::runtime_error& wrong) {
    checkReadInPieces(text, nullptr, wrong.what());
    return 0;  // not a document: --base says why
  }
  checkReadInPieces(text, &doc, "");
  namespace report = vorlith::report;
  report::Matching m = report::matchBuilds(doc, doc);
  report::ChangeCounts counts = report::countChanges(doc, doc, m);
  std::vector<bool> padding = report::paddingLeaves(doc);
  size_t paddingLeaves = static_cast<size_t>(std::count(padding.begin(), padding.end(), true));
  if (counts.count[report::kSame] + paddingLeaves != doc.leaves.size() ||
      counts.removedCount != 0 || counts.paddingCount != 0) {
    std::abort();  // a build compared with itself must match every symbol and every padding
  }
  (void)report::comparisonJson(doc, "old", doc, "new");
  std::string table = report::csv(doc);
  size_t rows = 0;
  for (size_t at = 0; (at = table.find("\r\n", at)) != std::string::npos; at += 2) {
    ++rows;
  }
  // Fields are quoted when they hold CR or LF, so rows may hold more line ends, never fewer.
  if (rows < doc.leaves.size() + 1) {
    std::abort();
  }
  (void)vorlith::totalsDisagreement(doc);
  (void)report::summary(doc, 20);
  (void)report::comparison(doc, "old", doc, "new", 20, nullptr);
  return 0;
}
