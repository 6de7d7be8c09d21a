// Sizes by output sections under the modern rules: maps alone (excerpts of real maps, and the
// real maps of tests/data/elf), binaries alone and binaries beside their maps.
#include "layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "document.h"
#include "elf_file.h"
#include "mapfile.h"
#include "naming.h"
#include "sections.h"
#include "support/allocations_counted.h"
#include "support/elf_builder.h"
#include "support/expect.h"
#include "vorlith.h"

namespace vorlith {
namespace {

struct Leaf {
  std::string path;  // groups and key joined by " › "
  uint64_t size = 0;
  uint64_t address = 0;
  std::string mangled, section, kind, object;
};

std::vector<Leaf> leavesOf(const SizeTree& tree) {
  Document doc = documentFromTree(tree);
  std::vector<Leaf> out;
  for (const DocLeaf& leaf : doc.leaves) {
    std::string path;
    for (std::string_view group : doc.pathOf(leaf.group)) {
      path += std::string(group) + " › ";
    }
    out.push_back({path + std::string(leaf.key), leaf.size, leaf.address,
                   std::string(leaf.mangledName), std::string(leaf.section()), std::string(leaf.kind()),
                   std::string(leaf.object())});
  }
  std::sort(out.begin(), out.end(), [](const Leaf& a, const Leaf& b) {
    return a.address != b.address ? a.address < b.address : a.path < b.path;
  });
  return out;
}

std::string describe(const std::vector<Leaf>& leaves) {
  std::ostringstream text;
  for (const Leaf& leaf : leaves) {
    text << std::hex << "0x" << leaf.address << std::dec << " " << leaf.size << " " << leaf.path
         << " [" << leaf.section << ", " << leaf.kind << ", " << leaf.object << "]\n";
  }
  return text.str();
}

// The leaf at `address`, in `section` when one is given (sections may share addresses).
const Leaf* leafAt(const std::vector<Leaf>& leaves, uint64_t address,
                   std::string_view section = {}) {
  for (const Leaf& leaf : leaves) {
    if (leaf.address == address && (section.empty() || leaf.section == section)) {
      return &leaf;
    }
  }
  return nullptr;
}

const Leaf* leafNamed(const std::vector<Leaf>& leaves, std::string_view path) {
  for (const Leaf& leaf : leaves) {
    if (leaf.path == path) {
      return &leaf;
    }
  }
  return nullptr;
}

Settings modern(Measure measure = Measure::Memory) {
  Settings settings;
  settings.modern = true;
  settings.measure = measure;
  settings.jobs = 1;
  return settings;
}

// The tree that a modern run makes of map text.
struct MapRun {
  std::unique_ptr<MapFile> map;
  SizeTree tree;
};

MapRun layOut(const std::string& text, Measure measure = Measure::Memory) {
  std::ostringstream echo;
  MapRun run;
  run.map = std::make_unique<MapFile>(MapFile::FromText{}, text, echo, modern(measure));
  EXPECT_TRUE(hasSectionLayout(*run.map));
  run.tree = buildTreeBySections(*run.map, modern(measure));
  return run;
}

std::string dataPath(const std::string& name) {
  return std::string(VORLITH_TEST_DATA) + "/" + name;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Lines 206 to 227 of tests/data/gnu-ld-merged.map: the 2-byte .rodata.cst2 of merged-c2.o and
// merged-c3.o, merged into merged-c1.o's, are listed at the first address of .eh_frame_hdr.
const std::string kMergedExcerpt = R"(.rodata         0x0000000000002000        0x8
 *(.rodata .rodata.* .gnu.linkonce.r.*)
 .rodata.cst4   0x0000000000002000        0x4 /usr/lib/gcc/x86_64-linux-gnu/12/../../../x86_64-linux-gnu/Scrt1.o
                0x0000000000002000                _IO_stdin_used
 .rodata.cst2   0x0000000000002004        0x4 merged-c1.o
                0x0000000000002004                k2
                0x0000000000002004                k3
                0x0000000000002004                k1
                0x0000000000002006                k4
 .rodata.cst2   0x0000000000002008        0x2 merged-c2.o
 .rodata.cst2   0x0000000000002008        0x2 merged-c3.o

.rodata1
 *(.rodata1)

.eh_frame_hdr   0x0000000000002008       0x2c
 *(.eh_frame_hdr)
 .eh_frame_hdr  0x0000000000002008       0x2c /usr/lib/gcc/x86_64-linux-gnu/12/../../../x86_64-linux-gnu/Scrt1.o
                0x0000000000002008                __GNU_EH_FRAME_HDR
 *(.eh_frame_entry .eh_frame_entry.*)

.eh_frame       0x0000000000002038       0xa8
 .eh_frame      0x0000000000002038       0x30 /usr/lib/gcc/x86_64-linux-gnu/12/../../../x86_64-linux-gnu/Scrt1.o
)";

TEST(LayoutOfMap, MergedConstantsListedPastTheirSectionTakeNoBytes) {
  MapRun run = layOut(kMergedExcerpt);
  std::vector<Leaf> leaves = leavesOf(run.tree);
  SCOPED_TRACE(describe(leaves));
  for (const Leaf& leaf : leaves) {
    EXPECT_EQ(leaf.object.find("merged-c2.o"), std::string::npos) << leaf.path;
    EXPECT_EQ(leaf.path.find("merged-c3.o"), std::string::npos) << leaf.path;
  }
  // The bytes at the start of .eh_frame_hdr are the linker's table, whole.
  const Leaf* table = leafAt(leaves, 0x2008);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->path, "Linker-generated › .eh_frame_hdr");
  EXPECT_EQ(table->size, 0x2cu);
  EXPECT_EQ(table->kind, "unwind");
  ASSERT_NE(leafAt(leaves, 0x2006), nullptr);
  EXPECT_EQ(leafAt(leaves, 0x2006)->size, 2u);  // k4, up to the end of .rodata
  EXPECT_EQ(run.tree.root.total, 0x8u + 0x2cu + 0xa8u);

  // The classic reading keeps what it always made of it: the phantom end of merged-c3.o's
  // section takes the table's bytes, up to the end of the table's input section.
  std::ostringstream echo;
  MapFile classic(MapFile::FromText{}, kMergedExcerpt, echo);
  SizeTree classicTree = buildTree(classic.symbols);
  bool phantom = false;
  for (const DocLeaf& leaf : documentFromTree(classicTree.root).leaves) {
    phantom |= leaf.address == 0x200a && leaf.size == 0x2034 - 0x200a;
  }
  EXPECT_TRUE(phantom);
}

TEST(LayoutOfMap, MergedConstantListedAtTheNextInputSectionEndsNothing) {
  // GNU ld, static Phobos: lifetime.o's .rodata.cst4 was merged away and is listed at the
  // address of memory.o's TypeInfo, 22 bytes long.
  MapRun run = layOut(R"(.rodata         0x00000000000fa000      0x200
 .rodata.cst4   0x00000000000fa0f0        0x4 /usr/lib/gcc/x86_64-linux-gnu/12/libgphobos.a(lt21-lifetime.o)
 .rodata._D33TypeInfo_E4core6memory2GC7BlkAttr6__initZ.1585
                0x00000000000fa0f0       0x16 /usr/lib/gcc/x86_64-linux-gnu/12/libgphobos.a(lt31-memory.o)
                0x00000000000fa0f0                _D33TypeInfo_E4core6memory2GC7BlkAttr6__initZ.1585
 *fill*         0x00000000000fa106        0xa 
 .rodata._D39TypeInfo_S4core6memory2GC12ProfileStats6__initZ.1548
                0x00000000000fa110       0x1e /usr/lib/gcc/x86_64-linux-gnu/12/libgphobos.a(lt31-memory.o)
)");
  std::vector<Leaf> leaves = leavesOf(run.tree);
  SCOPED_TRACE(describe(leaves));
  ASSERT_NE(leafAt(leaves, 0xfa0f0), nullptr);
  EXPECT_EQ(leafAt(leaves, 0xfa0f0)->size, 0x16u);
  EXPECT_EQ(leafAt(leaves, 0xfa0f0)->object,
            "/usr/lib/gcc/x86_64-linux-gnu/12/libgphobos.a(lt31-memory.o)");
  EXPECT_EQ(leafAt(leaves, 0xfa0f4), nullptr);
}

// From the GNU ld map of tests/data/src/phobos/report.d built with gdc -O1 -g and linked as a
// PIE with a static Phobos (`gdc -O1 -g -c report.d -o report.o; gdc -g -static-libphobos -o
// report report.o -Wl,-Map=report.map`): .debug_line lists its input sections at offsets that
// fall inside printFloatE, 4342 bytes long by the symbol table.
const std::string kDebugExcerpt = R"(.text           0x00000000000329e0    0xb5e4c
 .text          0x0000000000036e8a    0x21e8e report.o
                0x000000000004f42c                _D3std6format8internal6floats__T11printFloatEVbi0TSQBx5stdio4File17LockingTextWriterTdTaZQCfFNfKQBuxdSQDwQDv4spec__T10FormatSpecTaZQpAyaimbZv
                0x0000000000050522                _D3std6format8internal5write__T5roundTG1078aZQoFNaNbNiNfKQtmmEQCiQChQCdQBx13RoundingClassbaZb
.debug_line     0x0000000000000000    0x7f120
 *(.debug_line .debug_line.* .debug_line_end)
 .debug_line    0x0000000000000000    0x1109d report.o
 .debug_line    0x000000000004f213      0xa16 /usr/lib/gcc/x86_64-linux-gnu/12/libgphobos.a(monitor_.o)
 .debug_line    0x000000000004fc29       0xcb /usr/lib/gcc/x86_64-linux-gnu/12/libgphobos.a(netdb.o)
 .debug_line    0x000000000004fcf4     0x2e85 /usr/lib/gcc/x86_64-linux-gnu/12/libgphobos.a(object.o)
)";

TEST(LayoutOfMap, SectionsThatAreNotLoadedNeverCutCode) {
  for (Measure measure : {Measure::Memory, Measure::File}) {
    SCOPED_TRACE(measure == Measure::Memory ? "memory" : "file");
    MapRun run = layOut(kDebugExcerpt, measure);
    std::vector<Leaf> leaves = leavesOf(run.tree);
    SCOPED_TRACE(describe(leaves));
    const Leaf* printFloatE = nullptr;
    uint64_t debugBytes = 0;
    for (const Leaf& leaf : leaves) {
      if (leaf.mangled.find("printFloatEVbi0") != std::string::npos) {
        printFloatE = &leaf;
      }
      debugBytes += leaf.section == ".debug_line" ? leaf.size : 0;
      EXPECT_EQ(leaf.kind, leaf.section == ".debug_line" ? "unloaded" : "code");
    }
    ASSERT_NE(printFloatE, nullptr);
    EXPECT_EQ(printFloatE->size, 4342u);
    EXPECT_EQ(printFloatE->object, "report.o");
    // Debug information takes file bytes, never memory.
    EXPECT_EQ(debugBytes, measure == Measure::File ? 0x7f120u : 0u);
    EXPECT_EQ(run.tree.root.total, 0xb5e4cu + debugBytes);
  }
}

TEST(LayoutOfMap, MeasuresCountLoadedOrFileBytesAndSizesStopAtTheirSection) {
  // .text ends 0x20 before .fini begins; .bss has no file bytes, .comment no memory.
  const std::string text = R"(.text           0x0000000000001000       0x30
 .text          0x0000000000001000       0x30 app.o
                0x0000000000001000                start
                0x0000000000001010                main
.fini           0x0000000000001050        0x8
 .fini          0x0000000000001050        0x8 crti.o
.bss            0x0000000000004000      0x100
 .bss           0x0000000000004000      0x100 app.o
                0x0000000000004000                buffer
.comment        0x0000000000000000       0x27
 .comment       0x0000000000000000       0x27 app.o
)";
  struct Case {
    Measure measure;
    uint64_t total;
    std::vector<std::string> kinds;
  };
  for (const Case& c : {Case{Measure::Memory, 0x30 + 0x8 + 0x100, {"code", "bss"}},
                        Case{Measure::File, 0x30 + 0x8 + 0x27, {"code", "unloaded"}}}) {
    MapRun run = layOut(text, c.measure);
    std::vector<Leaf> leaves = leavesOf(run.tree);
    SCOPED_TRACE(describe(leaves));
    EXPECT_EQ(run.tree.root.total, c.total);
    ASSERT_NE(leafAt(leaves, 0x1010), nullptr);
    EXPECT_EQ(leafAt(leaves, 0x1010)->size, 0x20u);  // main stops at the end of .text
    for (const Leaf& leaf : leaves) {
      EXPECT_NE(std::find(c.kinds.begin(), c.kinds.end(), leaf.kind), c.kinds.end()) << leaf.path;
    }
    // The totals by kind hold both measures, whichever is laid out.
    EXPECT_EQ(run.tree.totals.memory[static_cast<size_t>(SectionKind::ZeroInitialised)], 0x100u);
    EXPECT_EQ(run.tree.totals.file[static_cast<size_t>(SectionKind::ZeroInitialised)], 0u);
    EXPECT_EQ(run.tree.totals.file[static_cast<size_t>(SectionKind::NotLoaded)], 0x27u);
  }
}

TEST(LayoutOfMap, WhatTheLinkerMadeIsOneLeafPerSectionWithEveryLinker) {
  struct Case {
    const char* linker;
    std::string text;
  };
  const Case cases[] = {
      {"GNU ld charges it to the first object",
       ".dynstr         0x0000000000000458       0x88\n"
       " *(.dynstr)\n"
       " .dynstr        0x0000000000000458       0x88 "
       "/usr/lib/gcc/x86_64-linux-gnu/12/../../../x86_64-linux-gnu/Scrt1.o\n"
       ".got            0x0000000000003fc0       0x28\n"
       " .got           0x0000000000003fc0       0x28 "
       "/usr/lib/gcc/x86_64-linux-gnu/12/../../../x86_64-linux-gnu/Scrt1.o\n"
       "                0x0000000000003fc8                _GLOBAL_OFFSET_TABLE_\n"},
      {"ld.lld names it <internal>",
       "             VMA              LMA     Size Align Out     In      Symbol\n"
       "             458              458       88     1 .dynstr\n"
       "             458              458       88     1         <internal>:(.dynstr)\n"
       "            3fc0             3fc0       28     8 .got\n"
       "            3fc0             3fc0       28     8         <internal>:(.got)\n"
       "            3fc8             3fc8        0     1                 _GLOBAL_OFFSET_TABLE_\n"},
      {"mold lists the section alone",
       "               VMA       Size Align Out     In      Symbol\n"
       "             0x458        136     1 .dynstr\n"
       "            0x3fc0         40     8 .got\n"
       "            0x3fc8          0     0                 _GLOBAL_OFFSET_TABLE_\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.linker);
    MapRun run = layOut(c.text);
    std::vector<Leaf> leaves = leavesOf(run.tree);
    SCOPED_TRACE(describe(leaves));
    ASSERT_EQ(leaves.size(), 2u);
    EXPECT_EQ(leaves[0].path, "Linker-generated › .dynstr");
    EXPECT_EQ(leaves[0].size, 0x88u);
    EXPECT_EQ(leaves[0].kind, "dynamic");
    EXPECT_EQ(leaves[0].object, "");
    EXPECT_EQ(leaves[1].path, "Linker-generated › .got");
    EXPECT_EQ(leaves[1].size, 0x28u);
  }
}

TEST(LayoutOfMap, EntriesOutsideEverySectionTakeNoBytes) {
  // gold lists the file's headers before the first section, and GNU ld discarded sections.
  MapRun run = layOut(R"(Discarded input sections
 .text          0x0000000000000000        0x0 app.o
Memory map
 ** file header
                0x0000000000000000       0x40
 ** segment headers
                0x0000000000000040      0x268
.interp         0x00000000000002a8       0x1c
 ** fill        0x00000000000002a8       0x1c
)");
  std::vector<Leaf> leaves = leavesOf(run.tree);
  SCOPED_TRACE(describe(leaves));
  EXPECT_EQ(run.tree.root.total, 0x1cu);
  ASSERT_EQ(leaves.size(), 1u);
  EXPECT_EQ(leaves[0].path, "Linker-generated › .interp");
}

// ---- Real programs and their maps (tests/data/elf) -------------------------------------------

bool readsElf() {
  return elf::canReadElf();
}

struct Sized {
  uint64_t address = 0;
  uint64_t size = 0;
  std::string section;
};

// The address of every sized symbol of `image` that holds data or code, by name: where a map
// run must put it (thread-local ones at their place in the block).
std::map<std::string, Sized> sizedSymbols(const elf::Image& image) {
  uint64_t tlsBase = UINT64_MAX;
  for (const elf::Section& section : image.sections) {
    if (section.allocated() && (section.flags & 0x400) != 0 && section.size != 0) {
      tlsBase = std::min(tlsBase, section.address);
    }
  }
  std::map<std::string, Sized> out;
  for (const elf::Symbol& symbol : image.symbols) {
    if ((symbol.type == 1 || symbol.type == 2 || symbol.type == 6) && symbol.size != 0 &&
        symbol.inSection()) {
      uint64_t address = symbol.type == 6 ? tlsBase + symbol.value : symbol.value;
      out[std::string(symbol.name)] = {address, symbol.size,
                                       std::string(image.sections[symbol.sectionIndex].name)};
    }
  }
  return out;
}

TEST(LayoutOfMap, ThreadLocalDataHasItsSizeWithEveryLinker) {
  if (!readsElf()) {
    GTEST_SKIP() << "built without libelf";
  }
  // ld.lld and gold list the thread-local variables at their offsets in the block (0 for
  // firstTls, which the classic reading drops); GNU ld and mold list .tbss at the addresses of
  // the sections after it, where the vtables are.
  for (const char* linker : {"bfd", "gold", "lld", "mold"}) {
    SCOPED_TRACE(linker);
    std::string name = std::string("elf/tls-") + linker;
    MapRun run = layOut(readText(dataPath(name + ".map")));
    elf::Image image = elf::readElf(dataPath(name + ".elf"));
    auto symbols = sizedSymbols(image);
    std::vector<Leaf> leaves = leavesOf(run.tree);
    SCOPED_TRACE(describe(leaves));
    for (const char* wanted : {"_D3tls6bigTlsG2048i", "_D3tls8firstTlsi", "_D3tls5Shape6__vtblZ",
                               "_D3tls6Square6__vtblZ"}) {
      SCOPED_TRACE(wanted);
      ASSERT_EQ(symbols.count(wanted), 1u);
      const Sized& symbol = symbols[wanted];
      const Leaf* leaf = leafAt(leaves, symbol.address, symbol.section);
      ASSERT_NE(leaf, nullptr);
      EXPECT_EQ(leaf->size, symbol.size);
    }
    uint64_t loaded = 0;
    for (const elf::Section& section : image.sections) {
      loaded += section.allocated() ? section.size : 0;
    }
    EXPECT_EQ(run.tree.root.total, loaded);
  }
}

TEST(LayoutOfMap, KindsFromNamesAgreeWithTheBinariesFlags) {
  if (!readsElf()) {
    GTEST_SKIP() << "built without libelf";
  }
  // Every section of every real program, told by its name as a map gives it and at the address
  // a map lists it, is what its type and flags say.
  for (const auto& entry : std::filesystem::directory_iterator(dataPath("elf"))) {
    if (entry.path().extension() != ".elf" ||
        entry.path().filename().string().find("stripped") != std::string::npos) {
      continue;
    }
    elf::Image image = elf::readElf(entry.path().string());
    for (const elf::Section& section : image.sections) {
      if (section.type == 0 || section.size == 0) {
        continue;
      }
      SCOPED_TRACE(entry.path().filename().string() + " " + std::string(section.name));
      SectionTraits byName = traitsOfSectionName(section.name, section.address);
      SectionTraits byFlags = traitsOfElfSection(section.name, section.type, section.flags);
      EXPECT_EQ(kindId(byName.kind), kindId(byFlags.kind));
      EXPECT_EQ(byName.loaded, byFlags.loaded);
      EXPECT_EQ(byName.fileBytes, byFlags.fileBytes);
      EXPECT_EQ(byName.linkerMade, byFlags.linkerMade);
    }
  }
}

TEST(LayoutOfMap, TheSameDocumentForAnyNumberOfThreads) {
  if (!readsElf()) {
    GTEST_SKIP() << "built without libelf";
  }
  // A static Phobos makes thousands of entries: several chunks of naming work.
  const std::string map = dataPath("elf/gdc-bfd-static.map");
  elf::Image image = elf::readElf(dataPath("elf/gdc-bfd-static.elf"));
  const elf::Image* none = nullptr;
  for (const elf::Image* binary : {none, static_cast<const elf::Image*>(&image)}) {
    SCOPED_TRACE(binary == nullptr ? "map alone" : "map and binary");
    std::string documents[2];
    for (uint32_t jobs : {1u, 4u}) {
      Settings settings = modern();
      settings.jobs = jobs;
      std::ostringstream echo;
      MapFile read(map, echo, settings);
      SizeTree tree = buildTreeBySections(read, settings, binary, "gdc-bfd-static.elf");
      documents[jobs == 1 ? 0 : 1] = std::string(zel::utils::json::toJson(tree).get());
    }
    EXPECT_GT(documents[0].size(), 100000u);
    EXPECT_TRUE(documents[0] == documents[1]);
  }
}

TEST(LayoutOfMap, ObjectsFoundAheadFileEveryEntryAsTheInputSectionsDo) {
  // Every linker's map: each entry's object, found before the input sections go, files it as
  // the input sections did, and so does every other part of its placement.
  for (const char* name : {"gnu-ld-gdc.map", "gnu-ld-sections.map", "gold-c.map", "lld-gdc.map",
                           "lld-ldc2.map", "lld-gdc-32.map", "mold-gdc.map"}) {
    SCOPED_TRACE(name);
    std::ostringstream echo;
    MapFile map(dataPath(name), echo, modern());
    ASSERT_TRUE(hasSectionLayout(map));
    addSectionStarts(map.symbols, map.sections());
    MapLayout layout = layoutMap(map.symbols, map.sections(), Measure::Memory);
    dropUnsized(map.symbols, layout.sizes);
    std::vector<Placement> looked;
    MapPlacements lookingUp(map.symbols, layout, map.sections());
    for (size_t i = 0; i < lookingUp.size(); ++i) {
      looked.push_back(lookingUp.place(i));
    }
    std::vector<uint32_t> objects = objectsOfMapSymbols(map.symbols, map.sections());
    map.releaseInputSections();
    EXPECT_TRUE(map.sections().inputs().empty());
    MapPlacements given(map.symbols, layout, map.sections(), false, &objects);
    ASSERT_EQ(given.size(), looked.size());
    size_t withObject = 0;
    for (size_t i = 0; i < given.size(); ++i) {
      Placement place = given.place(i);
      const Placement& before = looked[i];
      EXPECT_EQ(place.object, before.object) << i;
      EXPECT_EQ(place.section, before.section) << i;
      EXPECT_EQ(place.role, before.role) << i;
      EXPECT_EQ(place.size, before.size) << i;
      EXPECT_EQ(place.address, before.address) << i;
      EXPECT_EQ(place.name, before.name) << i;
      withObject += place.object != kNoObject ? 1 : 0;
    }
    EXPECT_GT(withObject, given.size() / 4);  // most entries lie in an object's input section
  }
}

// An ld.lld map of one output section of `count` input sections from 64 objects, each of them a
// D function followed by padding; every fourth begins with bytes of its own.
std::string lldMapOf(size_t count) {
  std::string text = "             VMA              LMA     Size Align Out     In      Symbol\n";
  auto row = [&text](uint64_t address, uint64_t size, int align, const char* indent,
                     const std::string& name) {
    char columns[64];
    std::snprintf(columns, sizeof columns, "%16llx %16llx %8llx %5d ",
                  static_cast<unsigned long long>(address),
                  static_cast<unsigned long long>(address), static_cast<unsigned long long>(size),
                  align);
    text.append(columns).append(indent).append(name).append("\n");
  };
  const uint64_t start = 0x10000;
  row(start, 0x20 * count, 16, "", ".text");
  for (size_t k = 0; k < count; ++k) {
    const uint64_t at = start + 0x20 * k;
    const std::string module = "m" + std::to_string(k);
    const std::string symbol = "_D3app" + std::to_string(module.size()) + module + "3fooFiZi";
    row(at, 0x20, 16, "        ",
        "/build/obj/part" + std::to_string(k % 64) + ".o:(.text." + symbol + ")");
    const uint64_t own = k % 4 == 0 ? 4 : 0;
    row(at + own, 0x18 - own, 1, "                ", symbol);
  }
  return text;
}

TEST(PeakMemory, AnLdLldMapHoldsItsNamesAloneBesideItsTree) {
  // Counted in bytes held through operator new: once its tree is built, a map holds the names
  // that the tree's leaves refer to and a few blocks, nothing for each of its lines (its input
  // sections, a list as long as the map has lines, go before the tree grows).
  const size_t count = 20000;
  const std::string text = lldMapOf(count);
  std::ostringstream echo;
  auto map = std::make_unique<MapFile>(MapFile::FromText{}, text, echo, modern());
  ASSERT_GE(map->sections().inputs().size(), count);
  std::optional<SizeTree> tree;
  tree.emplace(buildTreeBySections(*map, modern()));
  EXPECT_TRUE(map->sections().inputs().empty());
  // The names kept: each leaf's, and an end marker's prefix before each padding's.
  size_t names = 0, leaves = 0;
  std::vector<std::pair<const TreeNode*, bool>> pending{{&tree->root, false}};
  while (!pending.empty()) {
    auto [node, padding] = pending.back();
    pending.pop_back();
    for (const auto& [key, child] : node->children) {
      pending.push_back({&child, padding || (node == &tree->root && key == "Afterpadding")});
    }
    for (const auto& [key, leaf] : node->leaves) {
      names += leaf.mangledName.size() + (padding ? kEndMarker.size() : 0);
      ++leaves;
    }
  }
  EXPECT_GE(leaves, 2 * count);  // every function and its padding
  tree.reset();
  std::vector<Symbol>().swap(map->symbols);
  // What the map holds is what goes with it (the naming's scratch, kept for the next map, stays).
  const size_t held = heldBytes();
  map.reset();
  const size_t mapHolds = held - heldBytes();
  const size_t blocks = size_t{128} << 10;  // the first blocks of the sections' and objects' text
  std::printf("[ peak     ] map %zu bytes: it holds %zu bytes beside its tree, %zu of them names\n",
              text.size(), mapHolds, names);
  EXPECT_GE(mapHolds, names);
  EXPECT_LE(mapHolds, names + blocks);
}

// ---- Binaries ---------------------------------------------------------------------------------

struct BinaryRun {
  elf::Image image;
  std::unique_ptr<MapFile> map;
  SizeTree tree;
};

BinaryRun layOutBinary(const std::string& name, bool withMap, Measure measure) {
  BinaryRun run{elf::readElf(dataPath("elf/" + name + ".elf")), nullptr, {}};
  if (withMap) {
    std::ostringstream echo;
    run.map = std::make_unique<MapFile>(dataPath("elf/" + name + ".map"), echo, modern(measure));
    run.tree = buildTreeBySections(*run.map, modern(measure), &run.image, name + ".elf");
  } else {
    run.tree = buildTreeOfBinary(run.image, name + ".elf", modern(measure));
  }
  return run;
}

TEST(LayoutOfBinary, TheMapNamesTheObjectsAndFilesWhatNoSymbolCovers) {
  if (!readsElf()) {
    GTEST_SKIP() << "built without libelf";
  }
  BinaryRun alone = layOutBinary("gdc-bfd", false, Measure::Memory);
  BinaryRun mapped = layOutBinary("gdc-bfd", true, Measure::Memory);
  std::vector<Leaf> aloneLeaves = leavesOf(alone.tree);
  std::vector<Leaf> mappedLeaves = leavesOf(mapped.tree);
  SCOPED_TRACE(describe(mappedLeaves));
  auto symbols = sizedSymbols(alone.image);
  // The C part's static table is in no GNU ld map; the binary gives it its size, and the map
  // its object.
  ASSERT_EQ(symbols.count("weights"), 1u);
  const Sized& weights = symbols["weights"];
  for (const std::vector<Leaf>* leaves : {&aloneLeaves, &mappedLeaves}) {
    const Leaf* leaf = leafAt(*leaves, weights.address);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->size, weights.size);
    EXPECT_EQ(leaf->section, ".rodata");
    EXPECT_EQ(leaf->kind, "rodata");
  }
  EXPECT_EQ(leafAt(aloneLeaves, weights.address)->object, "");
  EXPECT_EQ(leafAt(mappedLeaves, weights.address)->object, "part-c.o");
  // Alone, the bytes between symbols are the section's own; beside the map, they go to the
  // map's entries (input sections, fills) and none is left unattributed in .text.
  auto unattributed = [](const std::vector<Leaf>& leaves) {
    uint64_t bytes = 0;
    for (const Leaf& leaf : leaves) {
      bytes += leaf.path == "Unattributed › .text (unattributed)" ? leaf.size : 0;
    }
    return bytes;
  };
  EXPECT_GT(unattributed(aloneLeaves), 0u);
  EXPECT_EQ(unattributed(mappedLeaves), 0u);
  EXPECT_EQ(alone.tree.root.total, mapped.tree.root.total);
}

TEST(LayoutOfBinary, TheFileMeasureShowsHeadersAndGaps) {
  if (!readsElf()) {
    GTEST_SKIP() << "built without libelf";
  }
  BinaryRun run = layOutBinary("gdc-lld", false, Measure::File);
  std::vector<Leaf> leaves = leavesOf(run.tree);
  SCOPED_TRACE(describe(leaves));
  EXPECT_EQ(run.tree.root.total, run.image.fileSize);
  const Leaf* header = leafNamed(leaves, "Linker-generated › ELF header");
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->address, 0u);
  EXPECT_EQ(header->size, 64u);
  EXPECT_EQ(header->kind, "headers");
  std::vector<std::string> structure;
  for (const Leaf& leaf : leaves) {
    if (leaf.kind == "headers") {
      structure.push_back(leaf.path);
    }
  }
  std::sort(structure.begin(), structure.end());
  EXPECT_EQ(structure,
            (std::vector<std::string>{
                "Linker-generated › ELF header", "Linker-generated › gaps between sections",
                "Linker-generated › program headers", "Linker-generated › section headers"}));
}

TEST(LayoutOfBinary, RefusesStrippedFilesAndMapsOfAnotherLink) {
  if (!readsElf()) {
    GTEST_SKIP() << "built without libelf";
  }
  const std::string stripped =
      "gcc-bfd-stripped.elf: the file has no symbol table (it was stripped), so its symbols "
      "cannot be sized: give the program as the linker wrote it, before strip or install -s, and "
      "link without -s (-Wl,-s)";
  expectThrowsWithMessage<std::runtime_error>(
      [] { (void)layOutBinary("gcc-bfd-stripped", false, Measure::Memory); }, stripped);
  expectThrowsWithMessage<std::runtime_error>(
      [] { (void)layOutBinary("gcc-bfd-stripped", true, Measure::Memory); }, stripped);
  // gdc-lld's binary beside gdc-bfd's map: the first section listed, .interp, lies elsewhere.
  elf::Image other = elf::readElf(dataPath("elf/gdc-lld.elf"));
  std::ostringstream echo;
  MapFile map(dataPath("elf/gdc-bfd.map"), echo, modern());
  expectThrowsWithMessage<std::runtime_error>(
      [&] { (void)buildTreeBySections(map, modern(), &other, "gdc-lld.elf"); },
      "gdc-lld.elf: the map and the binary are not of the same link: section .interp is at "
      "0x318 with 28 bytes in the map, at 0x2a8 with 28 bytes in the binary");
}

// A program made here, section by section: `.text` with the given symbols.
elf::Image builtImage(const std::vector<elftest::SymbolSpec>& symbols, const char* textName,
                      std::string& bytes) {
  elftest::ElfBuilder builder;
  builder.add({.name = textName,
               .type = 1,
               .flags = 0x6,
               .address = 0x1000,
               .bytes = std::string(0x40, '\x90'),
               .alignment = 16});
  builder.addSymbolTable(symbols);
  bytes = builder.build();
  return elf::readElf(bytes, "built.elf");
}

TEST(LayoutOfBinary, OverlappingSymbolsTakeEachByteOnce) {
  if (!readsElf()) {
    GTEST_SKIP() << "built without libelf";
  }
  constexpr uint8_t kFunc = 2, kGlobal = 1, kWeak = 2, kLocal = 0;
  struct Case {
    const char* what;
    const char* section;
    std::vector<elftest::SymbolSpec> symbols;
    std::vector<std::pair<uint64_t, uint64_t>> pieces;  // address and size of the symbols' leaves
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"aliases: the global one of equal size",
       ".text",
       {{"local_alias", 0x1000, 0x10, kFunc, kLocal, 1},
        {"weak_alias", 0x1000, 0x10, kFunc, kWeak, 1},
        {"strong", 0x1000, 0x10, kFunc, kGlobal, 1}},
       {{0x1000, 0x10}},
       {"strong"}},
      {"a symbol inside another: the outer one",
       ".text",
       {{"inner", 0x1008, 0x4, kFunc, kGlobal, 1}, {"outer", 0x1000, 0x20, kFunc, kGlobal, 1}},
       {{0x1000, 0x20}},
       {"outer"}},
      {"one past another's end: what lies past it",
       ".text",
       {{"first", 0x1000, 0x20, kFunc, kGlobal, 1}, {"second", 0x1010, 0x20, kFunc, kGlobal, 1}},
       {{0x1000, 0x20}, {0x1020, 0x10}},
       {"first", "second"}},
      {"64-bit PowerPC descriptors: each to the next",
       ".opd",
       {{"f", 0x1000, 0x30, kFunc, kGlobal, 1}, {"g", 0x1018, 0x40, kFunc, kGlobal, 1}},
       {{0x1000, 0x18}, {0x1018, 0x28}},
       {"f", "g"}},
      {"a symbol running past its section's end: cut there",
       ".text",
       {{"long", 0x1030, 0x100, kFunc, kGlobal, 1}},
       {{0x1030, 0x10}},
       {"long"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes;
    elf::Image image = builtImage(c.symbols, c.section, bytes);
    SizeTree tree = buildTreeOfBinary(image, "built.elf", modern());
    std::vector<Leaf> leaves = leavesOf(tree);
    SCOPED_TRACE(describe(leaves));
    std::vector<std::pair<uint64_t, uint64_t>> pieces;
    std::vector<std::string> names;
    uint64_t sum = 0;
    for (const Leaf& leaf : leaves) {
      sum += leaf.size;
      if (leaf.path.find("(unattributed)") == std::string::npos) {
        pieces.push_back({leaf.address, leaf.size});
        names.push_back(leaf.mangled);
      }
    }
    EXPECT_EQ(pieces, c.pieces);
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(sum, 0x40u);  // every byte of the section once
  }
}

}  // namespace
}  // namespace vorlith
