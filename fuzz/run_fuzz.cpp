// The whole run, map bytes in and document out: reader, classifier, tree and JSON writer, and
// under the modern rules the layout by sections. Checks the tree and the document it gives, not
// only that nothing crashed.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "layout.h"
#include "mapfile.h"
#include "vorlith.h"
#include "zel/utils/json.h"
#include "zel/utils/text.h"

namespace {

// Under the modern rules only a D name, filed by the D rules, may stand at the top ("D main");
// every other name goes into a group.
bool modernTopIsGrouped(const vorlith::TreeNode& root) {
  for (const auto& [key, leaf] : root.leaves) {
    std::string_view name = leaf.mangledName;
    if (name.substr(0, 2) != "_D" && name.substr(0, 3) != "__D") {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::ostringstream echo;
  try {
    vorlith::MapFile map(vorlith::MapFile::FromText{}, text, echo);
    if (map.symbols.size() < 2) {
      return 0;  // "No symbols": the run stops before any tree
    }
    // The classic and the modern rules of filing.
    for (bool modern : {false, true}) {
      vorlith::Settings settings;
      settings.modern = modern;
      vorlith::SizeTree tree = vorlith::buildTree(map.symbols, settings);
      const vorlith::TreeNode& root = tree.root;
      fuzzcheck::checkTree(root);
      if (modern) {
        fuzzcheck::check(modernTopIsGrouped(root), "a modern leaf at the top", text);
      }
      zel::utils::appender::FastAppender json = zel::utils::json::toJson(root);
      fuzzcheck::checkDocument(json.get());
    }
    // Read by the modern rules, a map that lists its sections is laid out by them, in both
    // measures.
    for (vorlith::Measure measure : {vorlith::Measure::Memory, vorlith::Measure::File}) {
      vorlith::Settings settings;
      settings.modern = true;
      settings.measure = measure;
      settings.jobs = 1;
      vorlith::MapFile modern(vorlith::MapFile::FromText{}, text, echo, settings);
      if (!vorlith::hasSectionLayout(modern)) {
        break;
      }
      vorlith::SizeTree tree = vorlith::buildTreeBySections(modern, settings);
      fuzzcheck::checkTree(tree.root);
      fuzzcheck::checkDocument(zel::utils::json::toJson(tree).get());
    }
  } catch (const zel::utils::text::ConvException&) {
    // A bad number in the map: an expected failure of the run.
  }
  return 0;
}
