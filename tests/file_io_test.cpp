// Files read whole through short and interrupted reads, and the messages of files that cannot be.
#include "file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/expect.h"
#include "support/run_exe.h"
#include "support/test_dir.h"

namespace fs = std::filesystem;
using namespace vorlith;

namespace {

class FileIoTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = freshTestDirectory("io"); }
  void TearDown() override { fs::remove_all(dir_); }

  // Bytes that differ from position to position, so that a piece read twice or skipped shows.
  static std::string pattern(size_t size) {
    std::string text(size, '\0');
    for (size_t k = 0; k < size; ++k) {
      text[k] = static_cast<char>((k * 7 + k / 251) & 0xFF);
    }
    return text;
  }

  fs::path dir_;
};

TEST_F(FileIoTest, ReadsWholeFilesOfEverySizeAroundTheStep) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{65535}, size_t{65536}, size_t{65537},
                      size_t{3} << 16, (size_t{1} << 20) + 3}) {
    SCOPED_TRACE(size);
    std::string text = pattern(size);
    spit(dir_ / "f", text);
    EXPECT_EQ(readFile((dir_ / "f").string()), text);
  }
}

TEST_F(FileIoTest, ALimitGivesAPrefixOfAtLeastThatMany) {
  std::string text = pattern(size_t{5} << 16);
  spit(dir_ / "f", text);
  for (size_t limit :
       {size_t{0}, size_t{4}, size_t{4096}, size_t{1} << 16, (size_t{1} << 16) + 1}) {
    SCOPED_TRACE(limit);
    std::string head = readFile((dir_ / "f").string(), limit);
    EXPECT_GE(head.size(), limit);
    EXPECT_LT(head.size(), text.size());  // it stopped early
    EXPECT_EQ(head, text.substr(0, head.size()));
  }
  EXPECT_EQ(readFile((dir_ / "f").string(), 10), text.substr(0, size_t{1} << 16));  // one step
}

TEST_F(FileIoTest, ReadsAPipeWrittenInSmallPiecesToItsEnd) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string text = pattern(300000);
  std::thread writer([&] {
    // Pieces of odd sizes: every read of the pipe comes back short.
    for (size_t at = 0; at < text.size();) {
      size_t piece = std::min<size_t>(text.size() - at, 1 + at % 4093);
      ssize_t wrote = ::write(fds[1], text.data() + at, piece);
      if (wrote < 0 && errno == EINTR) {
        continue;
      }
      ASSERT_GT(wrote, 0);
      at += static_cast<size_t>(wrote);
    }
    ::close(fds[1]);
  });
  std::string got = "kept:";
  readToEnd(fds[0], got, "pipe");
  writer.join();
  ::close(fds[0]);
  EXPECT_EQ(got, "kept:" + text);
}

TEST_F(FileIoTest, ReadsAtAnOffsetWithoutMovingThePosition) {
  std::string text = pattern(1000);
  spit(dir_ / "f", text);
  InputFile file((dir_ / "f").string());
  char buffer[100];
  ReadResult at = readFully(file.fd(), buffer, 100, 950);
  EXPECT_EQ(at.error, 0);
  EXPECT_EQ(std::string(buffer, at.got), text.substr(950));  // short only at the end
  ReadResult next = readFully(file.fd(), buffer, 10);
  EXPECT_EQ(std::string(buffer, next.got), text.substr(0, 10));
}

TEST_F(FileIoTest, NamesTheFileAndTheSystemsReason) {
  fs::create_directories(dir_ / "adir");
  std::string missing = (dir_ / "missing").string();
  std::string adir = (dir_ / "adir").string();
  expectThrowsWithMessage<std::runtime_error>([&] { InputFile file(missing); },
                                              missing + ": No such file or directory");
  expectThrowsWithMessage<std::runtime_error>([&] { (void)readFile(adir); },
                                              adir + ": Is a directory");
  InputFile dir(adir);
  char byte;
  EXPECT_EQ(readFully(dir.fd(), &byte, 1).error, EISDIR);
  expectThrowsWithMessage<std::runtime_error>([] { failOnFile("standard output", ENOSPC); },
                                              "standard output: No space left on device");
}

}  // namespace
