#include "naming_budget.h"

#include <algorithm>
#include <cstdint>

namespace vorlith {

namespace {

struct Window {
  bool open = false;
  uint64_t work = 0;    // left
  uint64_t output = 0;  // left
};

// One per thread: a window is named on one thread from its first name to its last.
thread_local Window current;

uint64_t takeFrom(uint64_t left, size_t used) {
  return used >= left ? 0 : left - used;
}

}  // namespace

NamingWindow::NamingWindow(uint64_t nameBytes) {
  current = {true, kDemangleFreePerWindow + kDemangleWorkPerNameByte * nameBytes,
             kDemangleFreePerWindow + kDemangleOutputPerNameByte * nameBytes};
}

NamingWindow::~NamingWindow() {
  current = Window{};
}

void NamingWindow::clamp(size_t& workLimit, size_t& outputLimit) {
  if (current.open) {
    workLimit = static_cast<size_t>(std::min<uint64_t>(workLimit, current.work));
    outputLimit = static_cast<size_t>(std::min<uint64_t>(outputLimit, current.output));
  }
}

void NamingWindow::spend(size_t work, size_t output) {
  if (current.open) {
    current.work = takeFrom(current.work, work);
    current.output = takeFrom(current.output, output);
  }
}

bool NamingWindow::spent() {
  return current.open && (current.work == 0 || current.output == 0);
}

uint64_t NamingWindow::workLeft() {
  return current.open ? current.work : UINT64_MAX;
}

uint64_t NamingWindow::outputLeft() {
  return current.open ? current.output : UINT64_MAX;
}

}  // namespace vorlith
