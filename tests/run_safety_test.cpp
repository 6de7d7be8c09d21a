// What a run reads and writes, and what it prints, when the user is careless or the input is
// hostile: outputs never replace inputs, pipes are read whole, and nothing printed can steer the
// terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/run_exe.h"
#include "support/test_dir.h"

namespace fs = std::filesystem;

namespace {

class RunSafety : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = freshTestDirectory("safety"); }
  void TearDown() override { fs::remove_all(dir_); }

  RunResult run(const std::vector<std::string>& argv) { return runVorlith(dir_, argv); }

  fs::path dir_;
};

std::string symbolLine(uint64_t address, const std::string& name) {
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(address));
  return std::string(16, ' ') + "0x" + digits + std::string(16, ' ') + name + "\n";
}

// A GNU ld map of `count` symbols 16 bytes apart: more than 64 KiB from 1,500 on.
std::string mapOf(size_t count, uint64_t step = 16) {
  std::string text;
  for (size_t k = 0; k <= count; ++k) {
    text += symbolLine(0x1000 + step * k, "symbol_" + std::to_string(k));
  }
  return text;
}

// Writes `text` into the FIFO at `path` from a thread, as a shell's process substitution does.
std::thread feedFifo(const fs::path& path, std::string text) {
  ::mkfifo(path.c_str(), 0600);
  return std::thread([path, text = std::move(text)] {
    int fd = ::open(path.c_str(), O_WRONLY);
    for (std::string_view rest = text; fd >= 0 && !rest.empty();) {
      ssize_t wrote = ::write(fd, rest.data(), rest.size());
      if (wrote <= 0) {
        break;
      }
      rest.remove_prefix(static_cast<size_t>(wrote));
    }
    ::close(fd);
  });
}

}  // namespace

TEST_F(RunSafety, RefusesAnOutputThatNamesAnInputBeforeReadingAnything) {
  const std::string map = mapOf(4);
  spit(dir_ / "app.map", map);
  fs::create_hard_link(dir_ / "app.map", dir_ / "hard.map");
  fs::create_symlink("app.map", dir_ / "soft.map");
  struct Case {
    std::vector<std::string> argv;
    std::string err;
  } cases[] = {
      {{"vorlith", "--csv=app.map", "app.map", "out.json"},
       "--csv=app.map names the map that this run reads (app.map): refused, so that it is not "
       "overwritten\n"},
      {{"vorlith", "--html=./app.map", "app.map", "out.json"},
       "--html=./app.map names the map that this run reads (app.map): refused, so that it is "
       "not overwritten\n"},
      {{"vorlith", "app.map", "hard.map"},
       "the output hard.map names the map that this run reads (app.map): refused, so that it "
       "is not overwritten\n"},
      {{"vorlith", "--csv=soft.map", "app.map", "out.json"},
       "--csv=soft.map names the map that this run reads (app.map): refused, so that it is not "
       "overwritten\n"},
      {{"vorlith", "--base=app.map", "--csv=app.map", "new.map", "out.json"},
       "--csv=app.map names the base that this run reads (app.map): refused, so that it is not "
       "overwritten\n"},
      {{"vorlith", "--csv=out.json", "app.map", "out.json"},
       "--csv=out.json names the file of the output out.json: refused, one would overwrite the "
       "other\n"},
      {{"vorlith", "--csv=sub/../x.csv", "--html=x.csv", "app.map", "out.json"},
       "--html=x.csv names the file of --csv=sub/../x.csv: refused, one would overwrite the "
       "other\n"},
  };
  fs::create_directory(dir_ / "sub");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argv[1]);
    RunResult r = run(c.argv);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(slurp(dir_ / "app.map"), map);
    EXPECT_FALSE(fs::exists(dir_ / "out.json"));
    EXPECT_FALSE(fs::exists(dir_ / "x.csv"));
  }
  // The document may replace its base: the base is read whole first. Devices may be named twice.
  EXPECT_EQ(run({"vorlith", "app.map", "base.json"}).status, 0);
  RunResult replaced = run({"vorlith", "--base=base.json", "app.map", "base.json"});
  EXPECT_EQ(replaced.status, 0) << replaced.err;
  RunResult devices =
      run({"vorlith", "--csv=/dev/null", "--html=/dev/null", "app.map", "/dev/null"});
  EXPECT_EQ(devices.status, 0) << devices.err;
}

// Pipes and process substitution can be read only once: a base from one is read whole, so
// the comparison is the same as with the file itself.
TEST_F(RunSafety, ReadsABaseFromAPipeWhole) {
  const std::string oldMap = mapOf(8000, 32);  // 256 KB, several reads of a pipe
  spit(dir_ / "old.map", oldMap);
  spit(dir_ / "new.map", mapOf(8000, 40));
  RunResult fromFile = run({"vorlith", "--base=old.map", "new.map", "file.json"});
  ASSERT_EQ(fromFile.status, 0) << fromFile.err;
  EXPECT_NE(fromFile.out.find("+25.00%"), std::string::npos) << fromFile.out;

  std::thread feeder = feedFifo(dir_ / "map.fifo", oldMap);
  RunResult fromPipe = run({"vorlith", "--base=map.fifo", "new.map", "pipe.json"});
  feeder.join();
  EXPECT_EQ(fromPipe.status, 0) << fromPipe.err;
  EXPECT_EQ(fromPipe.out.substr(fromPipe.out.find('\n')),
            fromFile.out.substr(fromFile.out.find('\n')));  // the first line names the base

  // The map itself through a pipe gives the document the file gives.
  feeder = feedFifo(dir_ / "new.fifo", slurp(dir_ / "new.map"));
  RunResult mapFromPipe = run({"vorlith", "new.fifo", "piped-map.json"});
  feeder.join();
  EXPECT_EQ(mapFromPipe.status, 0) << mapFromPipe.err;
  EXPECT_TRUE(slurp(dir_ / "piped-map.json") == slurp(dir_ / "file.json"));

  feeder = feedFifo(dir_ / "doc.fifo", slurp(dir_ / "file.json"));
  RunResult documentFromPipe = run({"vorlith", "--base=doc.fifo", "new.map", "pipe2.json"});
  feeder.join();
  EXPECT_EQ(documentFromPipe.status, 0) << documentFromPipe.err;
  EXPECT_NE(documentFromPipe.out.find("0.00%"), std::string::npos) << documentFromPipe.out;
}

TEST_F(RunSafety, MessagesNameTheFileAndLineAndCannotSteerTheTerminal) {
  std::string bad = symbolLine(0x1000, "good") + symbolLine(0x1010, "x") +
                    std::string(16, ' ') + "0x00000000000010z0" + std::string(16, ' ') +
                    "evil\x1B]0;owned\x07\n";
  std::string name = "m\x1B[2Jap\xE2\x80\xAE.map";  // clears the screen, reverses the text
  spit(dir_ / name, bad);
  RunResult r = run({"vorlith", name, "out.json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "m\\x1B[2Jap\\u{202E}.map:3: Could not parse entire string\n");
  // Standard output is a file here: the echoed line keeps its bytes.
  EXPECT_EQ(r.out, bad.substr(bad.rfind("                0x")));

  RunResult missing = run({"vorlith", "no\x1B[8mne\xE2\x80\x8B.map", "out.json"});
  EXPECT_EQ(missing.err, "no\\x1B[8mne\\u{200B}.map: No such file or directory\n");
}

// The echoed line on a terminal: escaped, in the same place. Run on a pseudo-terminal.
TEST_F(RunSafety, EscapesTheEchoedLineOnATerminal) {
  spit(dir_ / "in.map", symbolLine(0x1000, "a") + std::string(16, ' ') + "0x00000000000010z0" +
                            std::string(16, ' ') + "b\x1B[31m\xC2\x9B\n");
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(slave, 1);
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    if (::chdir(dir_.c_str()) != 0) {
      ::_exit(99);
    }
    ::execl(VORLITH_EXE, "vorlith", "in.map", "out.json", static_cast<char*>(nullptr));
    ::_exit(98);
  }
  // The line is far shorter than the terminal's buffer: it waits there until the run is over.
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(slave);
  std::string shown;
  char buffer[4096];
  for (ssize_t got; (got = ::read(master, buffer, sizeof buffer)) > 0;) {
    shown.append(buffer, static_cast<size_t>(got));
  }
  ::close(master);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(shown, std::string(16, ' ') + "0x00000000000010z0" + std::string(16, ' ') +
                       "b\\x1B[31m\\u{009B}\r\n");  // the terminal ends the line with CR LF
}

// A base document whose totals disagree with what its groups hold is compared as written, and
// the run says so on standard error, as the page says it above the map.
TEST_F(RunSafety, SaysWhenABaseDocumentsTotalsDisagree) {
  spit(dir_ / "new.map", mapOf(4));
  const std::string leaf = R"({"size":16,"address":4096,"mangledName":"f","demangledName":""})";
  spit(dir_ / "old.json", R"(var treeData = {"total":16,"children":{"a":{"total":40,"children":{},)"
                          R"("leaves":{"f":)" + leaf + R"(}}},"leaves":{}})");
  RunResult r = run({"vorlith", "--base=old.json", "new.map", "out.json"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "old.json: the totals disagree with what the groups hold (the whole program says 16 "
            "bytes, its groups and symbols add up to 40); the comparison takes them as written\n");
  spit(dir_ / "agrees.json", slurp(dir_ / "out.json"));
  EXPECT_EQ(run({"vorlith", "--base=agrees.json", "new.map", "out2.json"}).err, "");
}
