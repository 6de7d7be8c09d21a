#include "file_io.h"

#include "pages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vorlith {

void failOnFile(std::string_view name, int error) {
  std::string message(name);
  message += ": ";
  message += std::strerror(error);
  throw std::runtime_error(message);
}

InputFile::InputFile(const std::string& name) : fd_(::open(name.c_str(), O_RDONLY | O_CLOEXEC)) {
  if (fd_ < 0) {
    failOnFile(name, errno);
  }
}

InputFile::~InputFile() {
  ::close(fd_);
}

ReadResult readFully(int fd, char* at, size_t size, std::optional<uint64_t> offset) {
  ReadResult result;
  while (result.got < size) {
    size_t left = size - result.got;
    ssize_t n = offset
                    ? ::pread(fd, at + result.got, left, static_cast<off_t>(*offset + result.got))
                    : ::read(fd, at + result.got, left);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      result.error = errno;
      break;
    }
    if (n == 0) {
      break;
    }
    result.got += static_cast<size_t>(n);
  }
  return result;
}

void readToEnd(int fd, std::string& text, std::string_view name, size_t limit) {
  constexpr size_t kStep = size_t{1} << 16;
  size_t size = text.size();
  while (size < limit) {
    // Room at least doubles, so that a large input costs few calls and copies.
    if (text.size() - size < kStep) {
      text.resize(size + std::max(kStep, size));
    }
    size_t room = text.size() - size;
    ReadResult read = readFully(fd, text.data() + size, room);
    size += read.got;
    if (read.error != 0) {
      failOnFile(name, read.error);
    }
    if (read.got < room) {
      break;  // the end of the file
    }
  }
  text.resize(size);
}

std::string readFile(const std::string& name, size_t limit) {
  InputFile file(name);
  std::string text;
  struct stat info;
  if (limit == SIZE_MAX && ::fstat(file.fd(), &info) == 0 && S_ISREG(info.st_mode) &&
      info.st_size > 0) {
    // A whole regular file is read into room of its size and a byte more, where its end shows:
    // grown by doubling, the text would take up to twice its size. A file that grows meanwhile
    // is read on as any other.
    text.reserve(static_cast<size_t>(info.st_size) + 1);
    adviseHugePages(text.data(), text.capacity());
    text.resize(static_cast<size_t>(info.st_size) + 1);
    ReadResult read = readFully(file.fd(), text.data(), text.size());
    if (read.error != 0) {
      failOnFile(name, read.error);
    }
    text.resize(read.got);
    if (read.got < static_cast<size_t>(info.st_size) + 1) {
      return text;
    }
  }
  readToEnd(file.fd(), text, name, limit);
  return text;
}

}  // namespace vorlith
