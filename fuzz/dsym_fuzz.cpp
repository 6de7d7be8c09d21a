// The classifier and its splitters on any bytes: parseDSymbol gives at least one segment and
// the same answer every time; the splitters' pieces are views into their input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
  std::string dem = "stale";
  std::vector<std::string> segments = vorlith::parseDSymbol(name, dem);
  check(!segments.empty(), "parseDSymbol gave no segment", name);
  std::string demAgain = "other";
  check(vorlith::parseDSymbol(name, demAgain) == segments, "parseDSymbol is not deterministic",
        name);
  check(demAgain == dem, "the shown name is not deterministic", name);

  std::vector<std::string> parts{"stale"};
  bool split = vorlith::splitDemangled(name, parts);
  std::vector<std::string> partsAgain;
  check(vorlith::splitDemangled(name, partsAgain) == split, "splitDemangled is not deterministic");
  if (split) {
    check(parts == partsAgain && !parts.empty(), "splitDemangled gave different segments", name);
  }

  checkViews(vorlith::rlSplit(name), name, "rlSplit piece outside its input");
  checkViews(vorlith::rlSplitForce(name), name, "rlSplitForce piece outside its input");
  checkViews(vorlith::rlSubSplit(name), name, "rlSubSplit piece outside its input");
  return 0;
}
