// Whole runs with binaries: a binary as the input, --elf beside a map, --size, --base naming a
// binary, and every refusal leaving no output behind (nor touching one already there).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "document.h"
#include "elf_file.h"
#include "support/run_exe.h"
#include "support/test_dir.h"

namespace fs = std::filesystem;

namespace {

const fs::path kElf = fs::path(VORLITH_TEST_DATA) / "elf";

// The sum of the sizes of a binary's SHF_ALLOC sections: the memory measure's total.
uint64_t loadedBytes(const fs::path& binary) {
  uint64_t loaded = 0;
  for (const vorlith::elf::Section& section : vorlith::elf::readElf(binary.string()).sections) {
    loaded += section.allocated() ? section.size : 0;
  }
  return loaded;
}

class ElfRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!vorlith::elf::canReadElf()) {
      GTEST_SKIP() << "built without libelf";
    }
    dir_ = freshTestDirectory("elf-run");
    for (const char* name : {"gdc-lld.elf", "gdc-lld.map", "gdc-bfd.elf", "gdc-bfd.map",
                             "gcc-bfd-stripped.elf", "gcc-bfd-stripped.map"}) {
      fs::copy_file(kElf / name, dir_ / name);
    }
    fs::copy_file(fs::path(VORLITH_TEST_DATA) / "ld64-lld16.map", dir_ / "ld64.map");
  }
  void TearDown() override {
    if (!dir_.empty()) {
      fs::remove_all(dir_);
    }
  }

  RunResult run(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"vorlith"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runVorlith(dir_, argv);
  }

  vorlith::Document document(const std::string& name) {
    std::string text = slurp(dir_ / name);
    return vorlith::readDocument(vorlith::documentJson(text));
  }

  fs::path dir_;
};

TEST_F(ElfRun, ABinaryIsReadAloneByItsMagicAndByTheModernRules) {
  RunResult alone = run({"gdc-lld.elf", "alone.json"});
  ASSERT_EQ(alone.status, 0) << alone.err;
  RunResult modern = run({"--modern", "gdc-lld.elf", "modern.json"});
  ASSERT_EQ(modern.status, 0) << modern.err;
  EXPECT_EQ(slurp(dir_ / "alone.json"), slurp(dir_ / "modern.json"));
  vorlith::Document doc = document("alone.json");
  EXPECT_EQ(doc.root().total, loadedBytes(dir_ / "gdc-lld.elf"));
  for (const vorlith::DocLeaf& leaf : doc.leaves) {
    EXPECT_FALSE(leaf.section().empty()) << leaf.key;
    EXPECT_FALSE(leaf.kind().empty()) << leaf.key;
  }
  // As a file: the whole file, headers and gaps included.
  RunResult file = run({"--size=file", "gdc-lld.elf", "file.json"});
  ASSERT_EQ(file.status, 0) << file.err;
  EXPECT_EQ(document("file.json").root().total, fs::file_size(dir_ / "gdc-lld.elf"));
}

TEST_F(ElfRun, RefusalsWriteNothingAndKeepWhatWasThere) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::string stripped =
      "gcc-bfd-stripped.elf: the file has no symbol table (it was stripped), so its symbols "
      "cannot be sized: give the program as the linker wrote it, before strip or install -s, and "
      "link without -s (-Wl,-s)\n";
  const Case cases[] = {
      {{"gcc-bfd-stripped.elf"}, stripped},
      {{"--elf=gcc-bfd-stripped.elf", "gcc-bfd-stripped.map"}, stripped},
      {{"--elf=gdc-lld.elf", "gdc-bfd.map"},
       "gdc-lld.elf: the map and the binary are not of the same link: section .interp is at "
       "0x318 with 28 bytes in the map, at 0x2a8 with 28 bytes in the binary\n"},
      {{"--elf=gdc-lld.elf", "ld64.map"},
       "ld64.map: --elf needs an ELF map that lists its sections (GNU ld, gold, ld.lld, mold)\n"},
      {{"--elf=gdc-lld.elf", "gdc-lld.elf"},
       "gdc-lld.elf: --elf goes with a map; a binary is read alone\n"},
      {{"--elf=gdc-lld.map", "gdc-lld.map"}, "gdc-lld.map: not an ELF file"},
      {{"--base=gcc-bfd-stripped.elf", "gdc-lld.elf"}, stripped},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) {
      joined += a + " ";
    }
    SCOPED_TRACE(joined);
    std::vector<std::string> args = c.args;
    args.push_back("new.json");
    RunResult result = run(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.substr(0, c.message.size()), c.message);
    EXPECT_FALSE(fs::exists(dir_ / "new.json"));
    // An earlier output stays as it was.
    spit(dir_ / "kept.json", "earlier");
    args.back() = "kept.json";
    EXPECT_EQ(run(args).status, 1);
    EXPECT_EQ(slurp(dir_ / "kept.json"), "earlier");
  }
  RunResult wrong = run({"--size=disk", "gdc-lld.elf", "new.json"});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.err.rfind("--size=disk: not memory or file\n", 0), 0u)
      << wrong.err;
}

TEST_F(ElfRun, ABaseMayBeABinaryAndTheSameOptionsCompareAlike) {
  // The same program as a binary and as a document of it: nothing changed.
  ASSERT_EQ(run({"gdc-lld.elf", "old.json"}).status, 0);
  std::string unchanged = "Symbols: 0 new (0), 0 removed (0), 0 grown (0), 0 shrunk (0), " +
                          std::to_string(document("old.json").leaves.size()) + " unchanged\n";
  for (const char* base : {"--base=gdc-lld.elf", "--base=old.json"}) {
    SCOPED_TRACE(base);
    RunResult same = run({base, "--summary=0", "gdc-lld.elf", "new.json"});
    ASSERT_EQ(same.status, 0) << same.err;
    EXPECT_NE(same.out.find("\nChange            0          0 B  0.00%\n"), std::string::npos)
        << same.out;
    EXPECT_NE(same.out.find(unchanged), std::string::npos) << same.out;
  }
  // Another link of the same program as the base, read alone with the same measure, against
  // this one beside its map: both totals are their loaded images.
  RunResult other = run({"--base=gdc-bfd.elf", "--elf=gdc-lld.elf", "gdc-lld.map", "new.json"});
  ASSERT_EQ(other.status, 0) << other.err;
  EXPECT_NE(other.out.find("Old total      " + std::to_string(loadedBytes(dir_ / "gdc-bfd.elf"))),
            std::string::npos)
      << other.out;
  EXPECT_NE(other.out.find("New total      " + std::to_string(loadedBytes(dir_ / "gdc-lld.elf"))),
            std::string::npos)
      << other.out;
}

TEST_F(ElfRun, SummaryTablesTheKindsInBothMeasures) {
  RunResult mapped = run({"--summary=0", "--elf=gdc-bfd.elf", "gdc-bfd.map", "new.json"});
  ASSERT_EQ(mapped.status, 0) << mapped.err;
  EXPECT_NE(mapped.out.find("Section kind            Memory"), std::string::npos) << mapped.out;
  EXPECT_NE(mapped.out.find("\nfile headers and gaps "), std::string::npos) << mapped.out;
  // Both measures of the whole: the loaded sections, and the file to its last byte.
  std::string all =
      "\nall                       " + std::to_string(loadedBytes(dir_ / "gdc-bfd.elf"));
  size_t at = mapped.out.find(all);
  ASSERT_NE(at, std::string::npos) << mapped.out;
  std::string line = mapped.out.substr(at + 1, mapped.out.find('\n', at + 1) - at - 1);
  EXPECT_NE(line.find(" " + std::to_string(fs::file_size(dir_ / "gdc-bfd.elf")) + " "),
            std::string::npos)
      << line;
  // A map alone knows its sections' bytes but not where the file's headers lie.
  RunResult map = run({"--summary=0", "--modern", "gdc-bfd.map", "new.json"});
  ASSERT_EQ(map.status, 0) << map.err;
  EXPECT_NE(map.out.find("need the binary (--elf)"), std::string::npos) << map.out;
  EXPECT_EQ(map.out.find("file headers and gaps"), std::string::npos) << map.out;
  // The classic run has no sections to table.
  RunResult classic = run({"--summary=0", "gdc-bfd.map", "new.json"});
  ASSERT_EQ(classic.status, 0) << classic.err;
  EXPECT_EQ(classic.out.find("Section kind"), std::string::npos) << classic.out;
}

}  // namespace

namespace {

// A document's record of the options that made it: what a comparison tells apart.
TEST_F(ElfRun, RecordsWhatTheSizesCameFrom) {
  struct Case {
    std::vector<std::string> args;
    std::string record;
  } cases[] = {
      {{"gdc-lld.elf", "out.json"}, R"({"options":["--modern","--elf"],)"},
      {{"--elf=gdc-lld.elf", "gdc-lld.map", "out.json"}, R"({"options":["--modern","--elf"],)"},
      {{"--modern", "gdc-lld.map", "out.json"}, R"({"options":["--modern"],)"},
      {{"--size=file", "gdc-lld.map", "out.json"}, R"({"options":["--modern","--size=file"],)"},
      {{"--size=memory", "gdc-lld.map", "out.json"}, R"({"options":["--modern"],)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    RunResult result = run(c.args);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(slurp(dir_ / "out.json").rfind("var treeData = " + c.record, 0), 0u);
  }
  // The map's sizes against the binary's: compared, and said to differ in how they were made.
  RunResult compared = run({"--elf=gdc-lld.elf", "--base=gdc-lld.map", "gdc-lld.map", "new.json"});
  ASSERT_EQ(compared.status, 0) << compared.err;
  EXPECT_EQ(compared.out.rfind("Warning: the documents were made with different options", 0), 0u)
      << compared.out;
}

}  // namespace
