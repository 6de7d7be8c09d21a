// peak_rss PROGRAM ARG...: runs PROGRAM and prints its peak resident memory in bytes on
// standard error's last line ("peak BYTES"), exiting with its status.
//
// A test that forks to run a program sees, as the child's peak, at least the test's own memory:
// the forked copy counts all the pages it shares with its parent until it executes the program.
// This small process stands between them, so the peak it reads is the program's alone.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: peak_rss PROGRAM ARG...\n");
    return 2;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execv(argv[1], argv + 1);
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage = {};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) {
    return 2;
  }
  std::fprintf(stderr, "peak %ld\n", usage.ru_maxrss * 1024L);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
