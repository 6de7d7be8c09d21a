// The whole run, map bytes in and document out: reader, classifier, tree and JSON writer.
// Checks the tree and the document it gives, not only that nothing crashed.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>

#include "fuzz_check.h"
#include "mapfile.h"
#include "vorlith.h"
#include "zel/utils/json.h"
#include "zel/utils/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::ostringstream echo;
  try {
    vorlith::MapFile map(vorlith::MapFile::FromText{}, text, echo);
    if (map.symbols.size() < 2) {
      return 0;  // "No symbols": the run stops before any tree
    }
    vorlith::TreeNode root = vorlith::buildTree(map.symbols);
    fuzzcheck::checkTree(root);
    zel::utils::appender::FastAppender json = zel::utils::json::toJson(root);
    fuzzcheck::checkDocument(json.get());
  } catch (const zel::utils::text::ConvException&) {
    // A bad number in the map: an expected failure of the run.
  }
  return 0;
}
