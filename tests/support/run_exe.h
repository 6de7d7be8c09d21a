// Running the vorlith executable from a test, with its standard output and error kept apart.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

struct RunResult {
  int status = -1;  // the exit status, or -1 when it did not exit
  std::string out, err;
};

inline std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void spit(const std::filesystem::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Runs the executable with exactly `argv` (argument 0 included) in `dir`. Its standard error is
// kept in the file "stderr" there, its standard output in "stdout" or in `outPath` (a file read
// back, or a device such as /dev/full).
inline RunResult runVorlith(const std::filesystem::path& dir, const std::vector<std::string>& argv,
                            std::string outPath = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outPath.empty()) {
    outPath = dir / "stdout";
  }
  std::string errPath = dir / "stderr";
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  std::vector<char*> args;
  for (const std::string& a : argv) {
    args.push_back(const_cast<char*>(a.c_str()));
  }
  args.push_back(nullptr);
  pid_t pid;
  int spawned = posix_spawn(&pid, VORLITH_EXE, &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(spawned, 0);
  int status = 0;
  waitpid(pid, &status, 0);
  RunResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = std::filesystem::is_regular_file(outPath) ? slurp(outPath) : std::string();
  result.err = slurp(errPath);
  return result;
}
