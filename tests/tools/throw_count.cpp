// Counts the C++ exceptions a program throws, for tests/tools/count-throws.sh: preloaded with the
// tests' own counter (tests/support/exceptions_thrown.cpp), which stands in for the runtime's
// __cxa_allocate_exception, it writes the count to standard error when the program ends.
#include <cstdio>

#include "exceptions_thrown.h"

namespace {

struct Report {
  ~Report() { std::fprintf(stderr, "exceptions thrown: %zu\n", exceptionsThrown()); }
} report;

}  // namespace
