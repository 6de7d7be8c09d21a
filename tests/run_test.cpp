// End-to-end runs of the vorlith executable: exit status, messages and the written file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/run_exe.h"
#include "support/test_dir.h"

namespace fs = std::filesystem;

namespace {

using Result = RunResult;

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = freshTestDirectory("run"); }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the executable with exactly `argv` (argument 0 included) in the test's directory.
  // Standard output goes to `outPath` (a file the result reads back, or a device).
  Result run(const std::vector<std::string>& argv, std::string outPath = {}) {
    return runVorlith(dir_, argv, std::move(outPath));
  }

  // Starts the executable on `input` with at most `addressSpace` bytes of memory (0: no limit)
  // and returns its process id; stderr goes to the test's directory. A limit needs the tool
  // without the sanitizers, whose shadow memory alone would pass it: VORLITH_PLAIN_EXE, which
  // is VORLITH_EXE itself in a build without them.
  pid_t start(const std::string& input, rlim_t addressSpace = 0) {
    const char* exe = addressSpace != 0 ? VORLITH_PLAIN_EXE : VORLITH_EXE;
    std::string errPath = dir_ / "stderr";
    pid_t pid = ::fork();
    if (pid == 0) {
      int fd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 2);
      int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      if (::chdir(dir_.c_str()) != 0) {
        ::_exit(99);
      }
      if (addressSpace != 0) {
        struct rlimit limit = {addressSpace, addressSpace};
        ::setrlimit(RLIMIT_AS, &limit);
      }
      ::execl(exe, "vorlith", input.c_str(), "out.json", static_cast<char*>(nullptr));
      ::_exit(98);
    }
    return pid;
  }

  // Waits for `pid`: its exit status, or -signal when a signal ended it.
  static int finish(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }

  Result vorlith(const std::string& input, const std::string& output) {
    return run({"vorlith", input, output});
  }

  fs::path dir_;
};

constexpr std::string_view kPrefix = "var treeData = ";

std::string symbolLine(const std::string& address, const std::string& name) {
  return std::string(16, ' ') + "0x" + address + std::string(16, ' ') + name + "\n";
}

// A GNU ld map whose document runs to several chunks of output, with names that need escapes.
std::string manyChunksMap() {
  std::string text;
  for (uint64_t k = 0; k < 30000; ++k) {
    char address[17];
    std::snprintf(address, sizeof address, "%016llx",
                  static_cast<unsigned long long>(0x1000 + 16 * k));
    text += symbolLine(address, "_Z" + std::to_string(k) + "<&\"x\">");
  }
  return text;
}

}  // namespace

TEST_F(RunTest, WrongArgumentCountsPrintUsageWithTheProgramNameAsInvoked) {
  spit(dir_ / "in.map", symbolLine("0000000000001000", "a") + symbolLine("0000000000001010", "b"));
  const std::vector<std::vector<std::string>> commands = {
      {"./odd dir/vorlith"},
      {"/abs/vorlith", "in.map"},
      {"vorlith", "in.map", "out.json", "extra.json"},
  };
  for (const auto& argv : commands) {
    SCOPED_TRACE(argv.size());
    Result r = run(argv);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Usage: " + argv[0] + " input.map output.json"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(dir_ / "out.json"));
  }
}

TEST_F(RunTest, ReportsUnreadableInputWithTheSystemText) {
  Result r = vorlith("missing.map", "out.json");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.map: No such file or directory"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_ / "out.json"));
  fs::create_directory(dir_ / "adir");
  r = vorlith("adir", "out.json");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("adir: Is a directory"), std::string::npos) << r.err;
}

TEST_F(RunTest, ReportsOutputThatCannotBeWrittenInFull) {
  spit(dir_ / "in.map", symbolLine("0000000000001000", "a") + symbolLine("0000000000001010", "b"));
  struct Case {
    std::string output, message;
  } cases[] = {
      {"no/such/dir/out.json", "no/such/dir/out.json: No such file or directory"},
      {".", ".: Is a directory"},
      {"/dev/full", "/dev/full: No space left on device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    Result r = vorlith("in.map", c.output);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

TEST_F(RunTest, EchoesTheMapLineWhoseNumberIsBad) {
  struct Case {
    std::string line, message;
  } cases[] = {
      {symbolLine("00000000000010z0", "bad").substr(0, 53), "Could not parse entire string"},
      {"0x1000\t0x\t[  1] _main", "Unexpected end of input"},
      {"0x11112222333344445\t0x1\t[  1] _big", "Overflow in integral conversion"},
      // A NUL is written "\0" in the message, which goes on past it.
      {std::string("0x\0"
                   "12\t0x1\t[  1] _nul",
                   21),
       "Unexpected '\\0' when converting from type string to type uint64"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    spit(dir_ / "bad.map", symbolLine("0000000000001000", "fine") + c.line + "\n" +
                               symbolLine("0000000000002000", "after"));
    Result r = vorlith("bad.map", "out.json");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.line + "\n");
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "out.json"));
  }
}

TEST_F(RunTest, NeedsAtLeastTwoSymbols) {
  for (std::string text :
       {std::string(), std::string("no map here\n"), symbolLine("0000000000001000", "alone")}) {
    SCOPED_TRACE(text);
    spit(dir_ / "few.map", text);
    Result r = vorlith("few.map", "out.json");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("No symbols\n", 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "out.json"));
  }
}

TEST_F(RunTest, NamesTheMapFormsReadWhenAFileGaveNoSymbols) {
  // An empty file says only what is wrong; a file in some other form also learns what is read.
  spit(dir_ / "empty.map", "");
  Result empty = vorlith("empty.map", "out.json");
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.err, "No symbols\n");

  spit(dir_ / "text.map", "no map here\n");
  const std::vector<std::vector<std::string>> commands = {
      {"vorlith", "text.map", "out.json"},
      {"vorlith", "--modern", "text.map", "out.json"},
      // lld 14's ld64 table has no size column, a form that is not read.
      {"vorlith", std::string(VORLITH_TEST_DATA) + "/ld64-lld.map", "out.json"},
  };
  for (const auto& argv : commands) {
    SCOPED_TRACE(argv[argv.size() - 2]);
    Result r = run(argv);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(r.err.rfind("No symbols\n", 0), 0u) << r.err;
    std::string hint = r.err.substr(std::string("No symbols\n").size());
    // Exactly one more line, naming each form and what needs --modern.
    EXPECT_EQ(hint.find('\n'), hint.size() - 1) << hint;
    for (const char* form :
         {"Publics by Value", "GNU ld", "ld64", "--modern also ld.lld", "mold"}) {
      EXPECT_NE(hint.find(form), std::string::npos) << form << " in " << hint;
    }
  }
}

TEST_F(RunTest, WritesTheDocumentToStandardOutputForADash) {
  int maps = 0;
  for (const auto& entry : fs::directory_iterator(VORLITH_TEST_DATA)) {
    if (entry.path().extension() != ".map" || entry.path().filename() == "ld64-lld.map") {
      continue;
    }
    SCOPED_TRACE(entry.path().string());
    ++maps;
    // --modern reads every map here, the ELF maps of ld.lld and mold included.
    Result file = run({"vorlith", "--modern", entry.path(), "file.json"});
    ASSERT_EQ(file.status, 0) << file.err;
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{"vorlith", "--modern", entry.path(), "-"},
          std::vector<std::string>{"vorlith", "--modern", "--", entry.path(), "-"}}) {
      Result piped = run(argv);
      EXPECT_EQ(piped.status, 0) << piped.err;
      EXPECT_EQ(piped.err, "");
      // The document and nothing else, byte for byte what the file holds.
      EXPECT_TRUE(piped.out == slurp(dir_ / "file.json"));
      EXPECT_FALSE(fs::exists(dir_ / "-"));
    }
  }
  EXPECT_GE(maps, 5);
}

TEST_F(RunTest, WritesNoPartOfTheDocumentToStandardOutputOnFailure) {
  spit(dir_ / "bad.map", symbolLine("0000000000001000", "fine") + "0x1000\t0x\t[  1] _main\n" +
                             symbolLine("0000000000002000", "after"));
  Result bad = vorlith("bad.map", "-");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "0x1000\t0x\t[  1] _main\n");  // the echoed line only

  spit(dir_ / "few.map", "no map here\n");
  Result few = vorlith("few.map", "-");
  EXPECT_EQ(few.status, 1);
  EXPECT_EQ(few.out, "");

  // A full device: the loss is reported, not ignored.
  spit(dir_ / "in.map", symbolLine("0000000000001000", "a") + symbolLine("0000000000001010", "b"));
  Result full = run({"vorlith", "in.map", "-"}, "/dev/full");
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("standard output: No space left on device"), std::string::npos)
      << full.err;
  EXPECT_FALSE(fs::exists(dir_ / "-"));
}

TEST_F(RunTest, WritesADocumentOfManyChunksAlikeToAFileToStandardOutputAndBesideAPage) {
  spit(dir_ / "big.map", manyChunksMap());
  Result file = vorlith("big.map", "file.json");
  ASSERT_EQ(file.status, 0) << file.err;
  std::string document = slurp(dir_ / "file.json");
  EXPECT_GT(document.size(), size_t{3} << 20);
  EXPECT_EQ(document.substr(0, kPrefix.size() + 1), std::string(kPrefix) + "{");
  EXPECT_EQ(document.back(), '}');
  // Written to standard output, or made whole for the page as well, it is the same bytes.
  Result piped = vorlith("big.map", "-");
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_TRUE(piped.out == document);
  Result paged = run({"vorlith", "--html=page.html", "big.map", "paged.json"});
  EXPECT_EQ(paged.status, 0) << paged.err;
  EXPECT_TRUE(slurp(dir_ / "paged.json") == document);
  // The page writes the document again, chunk by chunk, into its element: all of it, once.
  std::string page = slurp(dir_ / "page.html");
  std::string element = "data-name=\"paged.json\">" + document.substr(kPrefix.size()) + "</script>";
  EXPECT_NE(page.find(element), std::string::npos);
}

TEST_F(RunTest, FailsWhenTheOutputFillsInTheMiddleOfTheDocument) {
  spit(dir_ / "big.map", manyChunksMap());
  Result full = vorlith("big.map", "/dev/full");
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "/dev/full: No space left on device\n");
  Result piped = run({"vorlith", "big.map", "-"}, "/dev/full");
  EXPECT_EQ(piped.status, 1);
  EXPECT_EQ(piped.err, "standard output: No space left on device\n");

  // A file that may not grow past 1.5 MiB: a later chunk is cut short, and the run fails with
  // the file's name rather than calling it done.
  constexpr rlim_t kLimit = rlim_t{3} << 19;
  pid_t pid = ::fork();
  if (pid == 0) {
    struct rlimit limit = {kLimit, kLimit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of ending the process
    std::string errPath = dir_ / "stderr";
    int fd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, 2);
    if (::chdir(dir_.c_str()) != 0) {
      ::_exit(99);
    }
    ::execl(VORLITH_EXE, "vorlith", "big.map", "out.json", static_cast<char*>(nullptr));
    ::_exit(98);
  }
  EXPECT_EQ(finish(pid), 1);
  EXPECT_EQ(slurp(dir_ / "stderr"), "out.json: File too large\n");
  // Nothing half written is left: no document, no temporary file beside it.
  EXPECT_FALSE(fs::exists(dir_ / "out.json"));
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().filename().string().find("out.json"), std::string::npos);
  }
}

TEST_F(RunTest, WritesTheDocumentAsAScriptAssignment) {
  spit(dir_ / "in.map", symbolLine("0000000000001000", "_Dmain") +
                            symbolLine("0000000000001030", "gc_init") +
                            symbolLine("0000000000001040", "end"));
  spit(dir_ / "out.json", std::string(100000, 'x'));  // truncated, not overwritten in place
  Result r = vorlith("in.map", "out.json");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(
      slurp(dir_ / "out.json"),
      std::string(kPrefix) +
          R"({"total":64,"children":{"C symbols":{"total":48,"children":{},"leaves":)"
          R"({"Dmain":{"size":48,"address":4096,"mangledName":"_Dmain","demangledName":""}}},)"
          R"("gc":{"total":16,"children":{},"leaves":{"gc_init":{"size":16,"address":4144,)"
          R"("mangledName":"gc_init","demangledName":""}}}},"leaves":{}})");
}

TEST_F(RunTest, ReadsEveryRealMapTheSameWayTwice) {
  int maps = 0, elfMaps = 0;
  for (const auto& entry : fs::directory_iterator(VORLITH_TEST_DATA)) {
    if (entry.path().extension() != ".map" || entry.path().filename() == "ld64-lld.map") {
      continue;
    }
    SCOPED_TRACE(entry.path().string());
    ++maps;
    // The ELF maps of ld.lld and mold are read only with --modern; the classic reading finds
    // nothing in them.
    std::string text = slurp(entry.path());
    bool elf = text.substr(0, text.find('\n')).find("VMA ") != std::string::npos;
    elfMaps += elf;
    for (bool modern : {false, true}) {
      SCOPED_TRACE(modern ? "--modern" : "classic");
      std::vector<std::string> argv = {"vorlith", entry.path(), "a.json"};
      if (modern) {
        argv.insert(argv.begin() + 1, "--modern");
      }
      Result first = run(argv);
      argv.back() = "b.json";
      Result second = run(argv);
      if (elf && !modern) {
        EXPECT_EQ(first.status, 1);
        EXPECT_NE(first.err.find("No symbols"), std::string::npos) << first.err;
        continue;
      }
      EXPECT_EQ(first.status, 0) << first.err;
      EXPECT_EQ(second.status, 0) << second.err;
      std::string a = slurp(dir_ / "a.json");
      EXPECT_EQ(a.substr(0, kPrefix.size() + 1), std::string(kPrefix) + "{");
      EXPECT_EQ(a.back(), '}');
      EXPECT_EQ(a, slurp(dir_ / "b.json"));
    }
  }
  EXPECT_GE(maps, 5);
  EXPECT_GE(elfMaps, 4);
}

TEST_F(RunTest, WritesTheSameBytesOnAnyNumberOfThreads) {
  // The largest real map here spans several chunks of naming work.
  std::string map = std::string(VORLITH_TEST_DATA) + "/fixtures/gnu-ld-c-static.map";
  for (bool modern : {false, true}) {
    SCOPED_TRACE(modern ? "--modern" : "classic");
    std::string one;
    for (std::string jobs : {"1", "2", "8"}) {
      SCOPED_TRACE(jobs);
      std::vector<std::string> argv = {"vorlith", "--jobs=" + jobs, map, "out.json"};
      if (modern) {
        argv.insert(argv.begin() + 1, "--modern");
      }
      Result r = run(argv);
      ASSERT_EQ(r.status, 0) << r.err;
      std::string document = slurp(dir_ / "out.json");
      if (one.empty()) {
        one = document;
        EXPECT_GT(one.size(), 100000u);
      }
      EXPECT_TRUE(document == one);
    }
  }
}

TEST_F(RunTest, RejectsAnLd64MapWithoutSizes) {
  // lld 14 writes its symbol table without the size column, which is not a form that is read.
  Result r = vorlith(std::string(VORLITH_TEST_DATA) + "/ld64-lld.map", "out.json");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("No symbols"), std::string::npos) << r.err;
}

TEST_F(RunTest, AnswersHelpVersionAndUnknownOptionsWithoutReading) {
  Result help = run({"vorlith", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: vorlith [options] input.map output.json\n", 0), 0u);
  EXPECT_EQ(help.err, "");

  Result version = run({"vorlith", "--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("vorlith ", 0), 0u);
  EXPECT_EQ(version.out.find('\n'), version.out.size() - 1);
  EXPECT_GT(version.out.size(), std::string("vorlith \n").size());

  Result unknown = run({"vorlith", "--frobnicate", "missing.map", "out.json"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.err, "Unknown option: --frobnicate\nUsage: vorlith input.map output.json\n");
  EXPECT_EQ(unknown.out, "");
  EXPECT_FALSE(fs::exists(dir_ / "out.json"));

  std::string map = std::string(VORLITH_TEST_DATA) + "/gnu-ld-c.map";
  for (std::string jobs : {"--jobs=0", "--jobs=-1", "--jobs=2x", "--jobs="}) {
    SCOPED_TRACE(jobs);
    Result wrong = run({"vorlith", jobs, map, "out.json"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err.rfind(jobs + ": ", 0), 0u) << wrong.err;
    EXPECT_NE(wrong.err.find("\nUsage: vorlith input.map output.json\n"), std::string::npos);
    EXPECT_EQ(wrong.out, "");
    EXPECT_FALSE(fs::exists(dir_ / "out.json"));
  }
}

TEST_F(RunTest, ReadsPathsAfterTheEndOfOptions) {
  spit(dir_ / "--in.map",
       symbolLine("0000000000001000", "a") + symbolLine("0000000000001010", "b"));
  Result r = run({"vorlith", "--", "--in.map", "out.json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir_ / "out.json"));
}

TEST_F(RunTest, SaysOutOfMemoryAndNamesTheInput) {
  // /dev/zero never ends; 256 MB of address space run out long before the machine's memory.
  pid_t pid = start("/dev/zero", rlim_t{256} << 20);
  EXPECT_EQ(finish(pid), 1);
  EXPECT_EQ(slurp(dir_ / "stderr"), "/dev/zero: out of memory\n");
}

TEST_F(RunTest, AMapThatShrinksWhileReadEndsWithAMessageNotASignal) {
  // A map of 16 MB cut to a few lines at several moments of the run: wherever the cut falls,
  // the run ends by itself, either on the text it read whole or with the map's name.
  std::string text;
  text.reserve(16 << 20);
  for (uint64_t k = 0; text.size() < (16 << 20); ++k) {
    char address[17];
    std::snprintf(address, sizeof address, "%016llx",
                  static_cast<unsigned long long>(0x1000 + 16 * k));
    text += symbolLine(address, "_D3app4mainFZv");
  }
  for (int delayMs : {0, 20, 80, 200, 500}) {
    SCOPED_TRACE(delayMs);
    spit(dir_ / "shrinks.map", text);
    pid_t pid = start("shrinks.map");
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    fs::resize_file(dir_ / "shrinks.map", 4096);
    int status = finish(pid);
    ASSERT_GE(status, 0) << "ended by signal " << -status;
    std::string err = slurp(dir_ / "stderr");
    if (status != 0) {
      EXPECT_EQ(status, 1);
      EXPECT_NE(err.find("shrinks.map: "), std::string::npos) << err;
    }
  }
}
