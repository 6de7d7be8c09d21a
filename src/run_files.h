// The files one run reads and writes, checked against each other before anything is read: no
// output may replace an input, nor another output.
//   vorlith --csv=app.map app.map size.json   refused: the CSV would replace the map
//   vorlith --base=size.json app.map size.json   allowed: the base is read before the document
//                                                 replaces it
#pragma once

#include <string>
#include <vector>

namespace vorlith {

// A file the run reads, and how a message names it ("the map", "the base").
struct RunInput {
  std::string path;
  std::string role;
  bool documentMayReplaceIt = false;  // read whole before the document is written
};

// A file the run writes, and what a message puts before its path ("--csv=", "the output ");
// "-" is standard output.
struct RunOutput {
  std::string path;
  std::string role;
  bool isDocument = false;
};

// Throws std::runtime_error when an output names an input or another output: the same path, or
// the same file by device and inode (another spelling of the path, a symbolic or hard link).
// Files that are not regular files (devices such as /dev/null, pipes) may be named twice:
// writing them replaces nothing.
void checkRunFiles(const std::vector<RunInput>& inputs, const std::vector<RunOutput>& outputs);

}  // namespace vorlith
