// The classifier under --modern and the splitter of demangled C++ names on any bytes: at least
// two segments (nothing loose at the top) unless the D rules file the name, the same answer
// every time, and C++ scopes that are never empty and do not change when a clone suffix is added.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cxxnames.h"
#include "dsym.h"
#include "fuzz_check.h"

using fuzzcheck::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view name(reinterpret_cast<const char*>(data), size);
  // One classifier for every input, as a run keeps one for a whole map: what one name leaves in
  // its buffers must not change the next name's result.
  static vorlith::Classifier shared(vorlith::readingSettings(true));
  vorlith::Classifier fresh(vorlith::readingSettings(true));
  vorlith::NameText result = toText(shared.classify(name));
  vorlith::NameText again = toText(fresh.classify(name));
  check(again.segments == result.segments, "the classifier depends on earlier names", name);
  check(again.shown == result.shown, "the shown name depends on earlier names", name);
  bool dName = name.substr(0, 2) == "_D" || name.substr(0, 3) == "__D";
  check(result.segments.size() >= 2 || (dName && !result.segments.empty()),
        "a modern leaf at the top", name);

  vorlith::CxxNameSplitter cxx;
  std::optional<std::vector<std::string>> scopes = cxx.split(name);
  if (!scopes) {
    return 0;
  }
  check(scopes->size() >= 2 && (*scopes)[0] == "C++ symbols", "C++ scopes without their group",
        name);
  for (const std::string& scope : *scopes) {
    check(!scope.empty(), "an empty C++ scope", name);
  }
  // A clone suffix goes to the leaf and changes nothing else (before a symbol version only).
  if (name.find('@') == std::string_view::npos) {
    std::string cloned = std::string(name) + " [clone .isra.0]";
    std::optional<std::vector<std::string>> withClone = cxx.split(cloned);
    std::vector<std::string> expected = *scopes;
    expected.back() += " [clone .isra.0]";
    check(withClone == expected, "a clone suffix changed the scopes", name);
  }
  return 0;
}
