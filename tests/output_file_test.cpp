// Output files replace their target only when complete: failures, limits and signals leave the
// old file byte for byte, and no temporary file behind.
#include "output_file.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_exe.h"
#include "support/test_dir.h"

namespace fs = std::filesystem;
using vorlith::OutputFile;

namespace {

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = freshTestDirectory("out"); }
  void TearDown() override { fs::remove_all(dir_); }

  // The names in the test's directory: what a failed write must not leave behind.
  std::vector<std::string> entries() const { return entriesOf(dir_); }
  static std::vector<std::string> entriesOf(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Runs `body` in a child process and returns how it ended: its exit status, or -signal.
  template <typename Body>
  static int inChild(Body body) {
    pid_t pid = ::fork();
    if (pid == 0) {
      body();
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }

  fs::path dir_;
};

const std::string kOld = "var treeData = {\"old\":1}";

// A GNU ld map of `count` symbols, whose document is far larger than 100 KB.
std::string bigMap(size_t count) {
  std::string text;
  for (size_t k = 0; k < count; ++k) {
    char address[17];
    std::snprintf(address, sizeof address, "%016zx", 0x1000 + 16 * k);
    text += std::string(16, ' ') + "0x" + address + std::string(16, ' ') + "symbol_" +
            std::to_string(k) + "\n";
  }
  return text;
}

}  // namespace

TEST_F(OutputFileTest, TheTargetChangesOnlyOnCommit) {
  fs::path target = dir_ / "out.json";
  spit(target, kOld);
  {
    OutputFile file(target.string());
    file.write("new ");
    file.write("text");
    EXPECT_EQ(slurp(target), kOld);
    EXPECT_EQ(entries().size(), 2u);  // the target and the temporary beside it
    file.commit();
  }
  EXPECT_EQ(slurp(target), "new text");
  EXPECT_EQ(entries(), std::vector<std::string>{"out.json"});
  {
    OutputFile file(target.string());
    file.write("lost");
  }  // a run that fails before commit
  EXPECT_EQ(slurp(target), "new text");
  EXPECT_EQ(entries(), std::vector<std::string>{"out.json"});
}

TEST_F(OutputFileTest, KeepsTheModeOfAReplacedFileAndGivesNewOnesTheUmasks) {
  fs::path kept = dir_ / "kept.json";
  spit(kept, kOld);
  ::chmod(kept.c_str(), 0640);
  vorlith::writeWholeFile(kept.string(), "x");
  struct stat info;
  ASSERT_EQ(::stat(kept.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);

  mode_t before = ::umask(027);
  vorlith::writeWholeFile((dir_ / "new.json").string(), "x");
  ::umask(before);
  ASSERT_EQ(::stat((dir_ / "new.json").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);  // 0666 less 027
}

TEST_F(OutputFileTest, ASymbolicLinkKeepsLinkingToTheFileItNames) {
  fs::create_directory(dir_ / "real");
  spit(dir_ / "real" / "out.json", kOld);
  fs::create_symlink("real/out.json", dir_ / "link.json");
  vorlith::writeWholeFile((dir_ / "link.json").string(), "new");
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.json"));
  EXPECT_EQ(slurp(dir_ / "real" / "out.json"), "new");
  EXPECT_EQ(entriesOf(dir_ / "real"), std::vector<std::string>{"out.json"});
}

TEST_F(OutputFileTest, FailuresNameThePathAndLeaveNothing) {
  struct Case {
    std::string path, message;
  } cases[] = {
      {(dir_ / "no" / "out.json").string(), "/no/out.json: No such file or directory"},
      {dir_.string(), ": Is a directory"},
      {"/dev/full", "/dev/full: No space left on device"},  // written as a stream
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      vorlith::writeWholeFile(c.path, "text");
      ADD_FAILURE() << "no failure";
    } catch (const std::runtime_error& failure) {
      EXPECT_NE(std::string(failure.what()).find(c.message), std::string::npos) << failure.what();
    }
  }
  EXPECT_TRUE(entries().empty());
}

TEST_F(OutputFileTest, ASignalRemovesTheTemporaryFile) {
  fs::path target = dir_ / "out.json";
  spit(target, kOld);
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
    SCOPED_TRACE(signal);
    int ended = inChild([&] {
      // The parent's dispositions are inherited: start from the defaults.
      for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGQUIT}) {
        std::signal(s, SIG_DFL);
      }
      vorlith::protectOutputFiles();
      OutputFile file(target.string());
      file.write("half of a document");
      ::raise(signal);
      ::_exit(5);  // not reached: the signal ends the process
    });
    EXPECT_EQ(ended, -signal);
    EXPECT_EQ(slurp(target), kOld);
    EXPECT_EQ(entries(), std::vector<std::string>{"out.json"});
  }
}

// The whole program under a file-size limit: the write fails with a message, and the document
// that was there stays, byte for byte.
TEST_F(OutputFileTest, AFileSizeLimitFailsTheRunAndKeepsTheOldDocument) {
  spit(dir_ / "big.map", bigMap(20000));
  spit(dir_ / "out.json", kOld);
  int ended = inChild([&] {
    struct rlimit limit = {100 << 10, 100 << 10};  // as "ulimit -f 100" sets it
    ::setrlimit(RLIMIT_FSIZE, &limit);
    RunResult r = runVorlith(dir_, {"vorlith", "big.map", "out.json"});
    ::_exit(r.status == 1 && r.err == "out.json: File too large\n" ? 0 : 10);
  });
  EXPECT_EQ(ended, 0) << slurp(dir_ / "stderr");
  EXPECT_EQ(slurp(dir_ / "out.json"), kOld);
  std::vector<std::string> left = entries();
  EXPECT_EQ(left, (std::vector<std::string>{"big.map", "out.json", "stderr", "stdout"}));
}

// The same on a full disk: a tmpfs of 64 KiB, mounted in a mount namespace of a child of
// this test. Where that is not allowed (no privilege) the test says so and is skipped.
TEST_F(OutputFileTest, AFullDiskFailsTheRunAndKeepsTheOldDocument) {
  spit(dir_ / "big.map", bigMap(20000));
  fs::path disk = dir_ / "disk";
  fs::create_directory(disk);
  int ended = inChild([&] {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("vorlith-test", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
      ::_exit(77);
    }
    spit(disk / "out.json", kOld);
    RunResult r = runVorlith(disk, {"vorlith", (dir_ / "big.map").string(), "out.json"});
    bool intact = slurp(disk / "out.json") == kOld;
    std::vector<std::string> left = entriesOf(disk);
    bool clean = left == std::vector<std::string>{"out.json", "stderr", "stdout"};
    bool said = r.err == "out.json: No space left on device\n";
    ::_exit(r.status == 1 && intact && clean && said ? 0 : 10);
  });
  if (ended == 77) {
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root or a user namespace)";
  }
  EXPECT_EQ(ended, 0);
}
