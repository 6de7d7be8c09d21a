// Reading a document for --base and every report on it: whatever the bytes, reading either
// fails with a message or gives a document whose comparison with itself finds no change and
// whose CSV has one row per symbol.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "document.h"
#include "reports.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  vorlith::Document doc;
  try {
    doc = vorlith::readDocument(vorlith::documentJson(text));
  } catch (const std::runtime_error&) {
    return 0;  // not a document: --base says why
  }
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
