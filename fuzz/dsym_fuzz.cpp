// The classifier (classic and modern rules) and its splitters on any bytes: the classifier gives
// at least one segment and the same answer every time; the splitters' pieces are views into their
// input; demangled C++ names give non-empty scopes under their group.
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

namespace {

void checkViews(const std::vector<std::string_view>& pieces, std::string_view s, const char* what) {
  for (std::string_view piece : pieces) {
    bool inside = piece.data() >= s.data() && piece.data() + piece.size() <= s.data() + s.size();
    check(piece.empty() || inside, what, s);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view name(reinterpret_cast<const char*>(data), size);
  // The classic and the modern rules; a second classifier for the same name must agree, and a
  // classifier that has seen other names before must too (its buffers carry nothing over).
  for (bool modern : {false, true}) {
    vorlith::Settings settings;
    settings.modern = modern;
    vorlith::Classifier classifier(settings);
    vorlith::NameText result = toText(classifier.classify(name));
    check(!result.segments.empty(), "the classifier gave no segment", name);
    if (modern) {
      // Nothing loose at the top but what the D rules file there ("D main").
      bool dName = name.substr(0, 2) == "_D" || name.substr(0, 3) == "__D";
      check(result.segments.size() >= 2 || dName, "a modern leaf at the top", name);
    }
    (void)classifier.classify("_D3app3fooFZv");
    (void)classifier.classify("std::vector<int>::at(unsigned long) const");
    vorlith::NameText again = toText(classifier.classify(name));
    check(again.segments == result.segments, "the classifier is not deterministic", name);
    check(again.shown == result.shown, "the shown name is not deterministic", name);
  }

  std::optional<std::vector<std::string>> parts = vorlith::splitDemangled(name);
  check(vorlith::splitDemangled(name) == parts, "splitDemangled is not deterministic", name);
  check(!parts || !parts->empty(), "splitDemangled gave no segment", name);

  vorlith::CxxNameSplitter cxx;
  if (std::optional<std::vector<std::string>> scopes = cxx.split(name)) {
    check(scopes->size() >= 2 && (*scopes)[0] == "C++ symbols", "C++ scopes without their group",
          name);
    for (size_t k = 1; k < scopes->size(); ++k) {
      check(!(*scopes)[k].empty(), "an empty C++ scope", name);
    }
  }

  checkViews(vorlith::rlSplit(name), name, "rlSplit piece outside its input");
  checkViews(vorlith::rlSplitForce(name), name, "rlSplitForce piece outside its input");
  checkViews(vorlith::rlSubSplit(name), name, "rlSubSplit piece outside its input");
  return 0;
}
