// The current-ABI D demangler and its filing on any bytes: nullopt or a non-empty text, the
// same on every call, output bounded linearly by the input, and the filing consistent with it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "demangle_current.h"
#include "fuzz_check.h"

using fuzzcheck::check;

namespace {

// Generous beside the demangler's own budget, so that a change to it shows here first.
constexpr size_t kOutputPerByte = 300;
constexpr size_t kOutputSlack = 20000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view name(reinterpret_cast<const char*>(data), size);
  auto shown = vorlith::demangleCurrent(name);
  auto symbol = vorlith::classifyCurrentD(name);
  check(shown.has_value() == symbol.has_value(), "demangling and filing disagree", name);
  if (!shown) {
    check(name != "_Dmain", "D main was refused", name);
    return 0;
  }
  check(!shown->empty(), "an empty rendering", name);
  check(shown->size() <= kOutputPerByte * size + kOutputSlack, "output beyond the bound", name);
  check(*shown == symbol->shown, "the filing shows another text", name);
  check(!symbol->segments.empty(), "no segments", name);
  for (const std::string& segment : symbol->segments) {
    check(!segment.empty(), "an empty segment", name);
  }
  check(vorlith::demangleCurrent(name) == shown, "two results for one name", name);
  auto again = vorlith::classifyCurrentD(name);
  check(again->segments == symbol->segments, "two filings for one name", name);
  return 0;
}
