#include "run_files.h"

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <stdexcept>

namespace vorlith {

namespace {

// What tells two names of one file apart from two files.
struct Identity {
  std::optional<std::pair<dev_t, ino_t>> inode;  // none for a file that does not exist yet
  bool regular = true;                          // a new file will be one
  std::filesystem::path spelled;                // absolute, "." and ".." resolved as written
};

Identity identify(const std::string& path) {
  Identity id;
  struct stat info;
  if (::stat(path.c_str(), &info) == 0) {
    id.inode = std::make_pair(info.st_dev, info.st_ino);
    id.regular = S_ISREG(info.st_mode);
  }
  std::error_code ignored;
  id.spelled = std::filesystem::absolute(path, ignored).lexically_normal();
  return id;
}

bool sameFile(const Identity& a, const Identity& b) {
  if (!a.regular || !b.regular) {
    return false;
  }
  if (a.inode && b.inode) {
    return *a.inode == *b.inode;
  }
  return a.spelled == b.spelled;
}

}  // namespace

void checkRunFiles(const std::vector<RunInput>& inputs, const std::vector<RunOutput>& outputs) {
  std::vector<Identity> written;
  for (const RunOutput& output : outputs) {
    if (output.path == "-") {
      written.emplace_back();
      written.back().regular = false;
      continue;
    }
    Identity id = identify(output.path);
    for (const RunInput& input : inputs) {
      if ((output.isDocument && input.documentMayReplaceIt) || !sameFile(id, identify(input.path))) {
        continue;
      }
      throw std::runtime_error(output.role + output.path + " names " + input.role +
                               " that this run reads (" + input.path +
                               "): refused, so that it is not overwritten");
    }
    for (size_t k = 0; k < written.size(); ++k) {
      if (sameFile(id, written[k])) {
        throw std::runtime_error(output.role + output.path + " names the file of " +
                                 outputs[k].role + outputs[k].path +
                                 ": refused, one would overwrite the other");
      }
    }
    written.push_back(std::move(id));
  }
}

}  // namespace vorlith
