// Files read through interrupted calls, and the failure every file operation reports:
// "app.map: No such file or directory".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlith {

// Throws std::runtime_error "name: " and the system's text for `error` (an errno value).
[[noreturn]] void failOnFile(std::string_view name, int error);

// A descriptor open for reading, closed when it goes.
class InputFile {
 public:
  // Opens `name`, or fails as failOnFile does.
  explicit InputFile(const std::string& name);
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  [[nodiscard]] int fd() const { return fd_; }

 private:
  int fd_;
};

struct ReadResult {
  size_t got = 0;  // bytes read
  int error = 0;   // the errno value of the read that failed, or 0
};

// Reads up to `size` bytes into `at`, from the file's position or, given `offset`, from there
// without moving it, calling again where a call is interrupted or reads less. It stops short
// only at the end of the file or at a failure, which it returns rather than throws.
[[nodiscard]] ReadResult readFully(int fd, char* at, size_t size,
                                   std::optional<uint64_t> offset = std::nullopt);

// Appends what is left of `fd` to `text`, in steps of 64 KiB or more, or stops at the first step
// that brings `text` to `limit` bytes. Fails as failOnFile does, naming `name`.
void readToEnd(int fd, std::string& text, std::string_view name, size_t limit = SIZE_MAX);

// The named file's bytes: all of them, or its first step of readToEnd that reaches `limit`.
[[nodiscard]] std::string readFile(const std::string& name, size_t limit = SIZE_MAX);

}  // namespace vorlith
