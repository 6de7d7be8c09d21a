// Runs a program and prints its peak resident memory in bytes: peak_rss PROGRAM [ARG...]
// The program's output goes to /dev/null; peak_rss exits with the program's status (128 plus
// the signal's number when a signal ended it).
//
// A process starts with the resident pages of the process it was forked from, and the kernel
// keeps that as its peak across exec. A test that forks the program itself therefore measures
// at least the test's own size (under the sanitizers, hundreds of megabytes of shadow memory
// and quarantined blocks); forked from this small process instead, the program is measured
// from nearly nothing. Built without the sanitizers, whatever the build.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: peak_rss PROGRAM [ARG...]\n");
    return 2;
  }
  pid_t pid = ::fork();
  if (pid < 0) {
    std::perror("peak_rss: fork");
    return 2;
  }
  if (pid == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(argv[1], argv + 1);
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage = {};
  if (::wait4(pid, &status, 0, &usage) != pid) {
    std::perror("peak_rss: wait4");
    return 2;
  }
  std::printf("%ld\n", usage.ru_maxrss * 1024L);  // ru_maxrss is in KiB on Linux
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
