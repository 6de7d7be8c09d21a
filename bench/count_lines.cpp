// Counts the line feeds of a file with read() and memchr: the floor that bench/run.sh compares
// vorlith's time with, since no reader of the map can touch its bytes for less.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s file\n", argv[0]);
    return 2;
  }
  int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "%s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  constexpr size_t kChunk = 1 << 20;  // large enough that the calls cost nothing next to memchr
  auto buffer = std::make_unique<char[]>(kChunk);
  unsigned long long lines = 0;
  for (;;) {
    ssize_t got = ::read(fd, buffer.get(), kChunk);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      std::fprintf(stderr, "%s: %s\n", argv[1], std::strerror(errno));
      return 1;
    }
    if (got == 0) {
      break;
    }
    const char* p = buffer.get();
    const char* end = p + got;
    while (const void* found = std::memchr(p, '\n', static_cast<size_t>(end - p))) {
      ++lines;
      p = static_cast<const char*>(found) + 1;
    }
  }
  ::close(fd);
  std::printf("%llu\n", lines);
  return 0;
}
