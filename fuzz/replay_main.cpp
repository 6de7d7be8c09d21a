// Runs a fuzz target over saved inputs without libFuzzer, so that the normal test run replays
// every corpus with any compiler:  <target> DIR_OR_FILE...
// Fails when an argument cannot be read or when no input at all was found, so that a mistyped
// corpus path cannot pass by replaying nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A copy of exactly the input's size, so that ASan sees any read past its end.
  std::vector<uint8_t> copy(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(copy.data(), copy.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  size_t replayed = 0;
  for (int a = 1; a < argc; ++a) {
    std::filesystem::path path(argv[a]);
    std::error_code error;
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(path, error)) {
      for (const auto& entry : std::filesystem::directory_iterator(path)) {
        if (entry.is_regular_file()) {
          files.push_back(entry.path());
        }
      }
      std::sort(files.begin(), files.end());  // a failure names the same file every run
    } else {
      files.push_back(path);
    }
    for (const auto& file : files) {
      std::fprintf(stderr, "%s\n", file.c_str());
      if (!replay(file)) {
        return 1;
      }
      ++replayed;
    }
  }
  std::fprintf(stderr, "replayed %zu inputs\n", replayed);
  return replayed == 0 ? 1 : 0;
}
