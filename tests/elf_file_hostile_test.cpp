// Hostile ELF files: shapes chosen to make the reader's work or memory grow faster than the
// file. Work is counted where it can be (bytes searched for the ends of names); whole readings
// are timed against a benign file of the same size in the same test, never against a fixed
// time; memory is measured in a process of its own (tests/tools/elf_probe.cpp).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "elf_file.h"
#include "elf_file_internal.h"
#include "support/best_of.h"
#include "support/elf_builder.h"

using elftest::ElfBuilder;

namespace {

// As in the map reader's hostile tests: a linear path stays well within this many times the
// benign time, a quadratic one at these sizes is thousands of times slower.
constexpr double kWideRatio = 500;
constexpr double kBenignFloor = 0.02;

// A 64-bit file whose .symtab holds `count` symbols named at `offsets` in `strings`.
std::string fileOfSymbols(const std::vector<uint32_t>& offsets, const std::string& strings) {
  ElfBuilder builder;
  builder.add({.name = ".text", .type = 1, .flags = 6, .bytes = std::string(64, '\0')});
  std::string entries(24 * (offsets.size() + 1), '\0');
  for (size_t i = 0; i < offsets.size(); ++i) {
    size_t at = 24 * (i + 1);
    builder.put(entries, at, 4, offsets[i]);
    builder.put(entries, at + 4, 1, 0x12);  // STB_GLOBAL, STT_FUNC
    builder.put(entries, at + 6, 2, 1);
    builder.put(entries, at + 8, 8, 0x1000 + i);
  }
  uint32_t names = builder.add({.name = ".strtab", .type = 3, .bytes = strings});
  builder.add({.name = ".symtab",
               .type = 2,
               .bytes = entries,
               .link = names,
               .info = 1,
               .alignment = 8,
               .entrySize = 24});
  return builder.build();
}

// Distinct names "s0", "s1"... and, of the same total size, one long string into which every
// offset points, the later symbols nearer its start: name by name, each search would run to
// the string's end.
struct SymbolFiles {
  std::string benign, hostile;
  size_t count;
  size_t longest;
};

SymbolFiles millionSymbols() {
  constexpr size_t kCount = 1000000;
  std::string strings(1, '\0');
  std::vector<uint32_t> offsets;
  offsets.reserve(kCount);
  for (size_t i = 0; i < kCount; ++i) {
    offsets.push_back(static_cast<uint32_t>(strings.size()));
    strings.append("s").append(std::to_string(i)).push_back('\0');
  }
  SymbolFiles files;
  files.count = kCount;
  files.benign = fileOfSymbols(offsets, strings);
  std::string one(strings.size(), 'x');
  one.front() = '\0';
  one.back() = '\0';
  for (size_t i = 0; i < kCount; ++i) {
    offsets[i] = static_cast<uint32_t>(kCount - i);
  }
  files.longest = one.size() - 1 - kCount;  // the first symbol's name
  files.hostile = fileOfSymbols(offsets, one);
  return files;
}

// The peak resident memory of elf_probe reading `path`, in bytes, as the probe measures it,
// and whether the file was read. The probe is built without the sanitizers, whose shadow
// memory would hide the reader's.
std::pair<long, bool> peakMemoryOfProbe(const std::string& path) {
  std::string report = path + ".peak";
  pid_t pid = ::fork();
  if (pid == 0) {
    int out = ::open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::execl(VORLITH_ELF_PLAIN_PROBE, "elf_probe", "--peak", path.c_str(), static_cast<char*>(nullptr));
    ::_exit(98);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << path << ": status " << status;
  std::ifstream in(report);
  std::string word, outcome;
  long peak = 0;
  in >> word >> peak >> outcome;
  std::filesystem::remove(report);
  return {peak, outcome == "read"};
}

[[maybe_unused]] std::string writeTemporary(const std::string& bytes, const std::string& tag) {
  std::string path = std::filesystem::temp_directory_path() /
                     ("vorlith-elf-" + tag + "-" + std::to_string(::getpid()) + ".elf");
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

}  // namespace

TEST(HostileElf, NamesSharingOneLongStringAreSearchedOnce) {
  // A million offsets into one string of 8 MB without a NUL until its end: searched name by
  // name that is 4 * 10^12 bytes. Counted: at most the budget of the first pass plus one sweep.
  std::string table(8 << 20, 'x');
  table.front() = '\0';
  table.back() = '\0';
  for (bool descending : {true, false}) {
    std::vector<uint32_t> offsets;
    for (uint32_t i = 0; i < 1000000; ++i) {
      offsets.push_back(descending ? 1000000 - i : 1 + i);
    }
    if (!descending) {
      std::shuffle(offsets.begin(), offsets.end(), std::mt19937(7));
    }
    std::vector<std::string_view> names;
    size_t outside = 0;
    uint64_t scanned = 0;
    ASSERT_TRUE(vorlith::elf::detail::namesInTable(table, offsets, names, &outside, &scanned));
    EXPECT_LE(scanned, 3 * table.size() + 64 * offsets.size());
    for (size_t i : {size_t{0}, size_t{4711}, offsets.size() - 1}) {
      EXPECT_EQ(names[i].size(), table.size() - 1 - offsets[i]);
    }
  }
  // Names of their own are searched once each, and the first pass never gives up on them.
  std::string own;
  std::vector<uint32_t> offsets;
  for (int i = 0; i < 100000; ++i) {
    offsets.push_back(static_cast<uint32_t>(own.size()));
    own.append("name").append(std::to_string(i)).push_back('\0');
  }
  std::vector<std::string_view> names;
  size_t outside = 0;
  uint64_t scanned = 0;
  ASSERT_TRUE(vorlith::elf::detail::namesInTable(own, offsets, names, &outside, &scanned));
  EXPECT_EQ(scanned, own.size());
}

TEST(HostileElf, AMillionSymbolsReadInLinearTime) {
  if (!vorlith::elf::canReadElf()) {
    GTEST_SKIP() << "built without libelf";
  }
  SymbolFiles files = millionSymbols();
  ASSERT_EQ(files.benign.size(), files.hostile.size());
  vorlith::elf::Image image;
  double benign = bestOf(3, [&] { image = vorlith::elf::readElf(files.benign, "benign"); });
  ASSERT_EQ(image.symbols.size(), files.count);
  EXPECT_EQ(image.symbols.back().name, "s999999");
  double hostile = bestOf(3, [&] { image = vorlith::elf::readElf(files.hostile, "hostile"); });
  ASSERT_EQ(image.symbols.size(), files.count);
  EXPECT_EQ(image.symbols.front().name.size(), files.longest);
  std::printf("[ hostile  ] a million symbols in one long name: %.3f s (benign %.3f s)\n", hostile,
              benign);
  EXPECT_LE(hostile, kWideRatio * std::max(benign, kBenignFloor));
}

TEST(HostileElf, MemoryStaysInProportionToTheFile) {
  if (!vorlith::elf::canReadElf()) {
    GTEST_SKIP() << "built without libelf";
  }
  // What a header claims costs nothing until it is checked against the file: a count of 2^40
  // sections, a zero-initialised section of 2^62 bytes. What the file holds costs a fixed
  // multiple of it: a million symbols, 200,000 sections.
  constexpr long kFixed = 48L << 20;
  constexpr long kPerFileByte = 8;
  struct Case {
    const char* label;
    std::string bytes;
    bool read;  // or refused
  };
  std::vector<Case> cases;
  {
    ElfBuilder builder;
    builder.add({.name = ".huge", .type = 8, .flags = 3, .noBitsSize = uint64_t{1} << 62});
    cases.push_back({"a NOBITS section of 2^62 bytes", builder.build(), true});
    std::string file = builder.build();
    builder.put(file, builder.shnumAt(), 2, 0);
    builder.put(file, builder.sectionHeaderOf(file, 0) + builder.shSizeAt(), 8, uint64_t{1} << 40);
    cases.push_back({"a count of 2^40 sections", file, false});
  }
  cases.push_back({"a million symbols", millionSymbols().hostile, true});
  {
    ElfBuilder builder;
    for (int i = 0; i < 200000; ++i) {
      builder.add({.type = 1, .bytes = "x"});
    }
    cases.push_back({"200,000 sections", builder.build(), true});
  }
  long baseline = 0;
  {
    ElfBuilder builder;
    std::string path = writeTemporary(builder.build(), "empty");
    baseline = peakMemoryOfProbe(path).first;
    std::filesystem::remove(path);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string path = writeTemporary(c.bytes, "hostile");
    auto [peak, read] = peakMemoryOfProbe(path);
    std::filesystem::remove(path);
    EXPECT_EQ(read, c.read);
    std::printf("[ hostile  ] %-34s file %9zu bytes, peak %10ld bytes (empty file %ld)\n", c.label,
                c.bytes.size(), peak, baseline);
    EXPECT_LE(peak - baseline, kPerFileByte * static_cast<long>(c.bytes.size()) + kFixed);
  }
}
