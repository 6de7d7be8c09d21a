// Naming symbols on several threads: the document must not depend on how many, or on where the
// chunks of work begin and end, and a failure on any thread must reach the caller.
#include "naming.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "mapfile.h"
#include "support/expect.h"
#include "vorlith.h"
#include "zel/utils/json.h"

namespace vorlith {
namespace {

namespace fs = std::filesystem;

Settings withJobs(bool modern, uint32_t jobs) {
  Settings settings = readingSettings(modern);
  settings.jobs = jobs;
  return settings;
}

std::string documentOf(const std::vector<Symbol>& symbols, const Settings& settings,
                       const ChunkLimits& chunks) {
  SizeTree tree = buildTree(symbols, settings, chunks);
  return std::string(zel::utils::json::toJson(tree.root).get());
}

// Every real map of the project: those its linkers wrote and the fixture maps.
std::vector<fs::path> realMaps() {
  std::vector<fs::path> maps;
  fs::path data = VORLITH_TEST_DATA;
  for (const fs::path& dir : {data, data / "fixtures"}) {
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path().extension() == ".map") {
        maps.push_back(entry.path());
      }
    }
  }
  maps.push_back(data / "../../examples/sample.map");
  std::sort(maps.begin(), maps.end());
  return maps;
}

TEST(NamingThreads, GiveTheSameDocumentOnEveryRealMap) {
  // Tiny chunks cross hundreds of chunk boundaries even on these small maps, and a window of
  // 2 * threads chunks wraps many times; the default chunks cover the larger maps.
  const ChunkLimits kChunkings[] = {{1, 1 << 20}, {7, 1 << 20}, {64, 300}, {}};
  std::vector<fs::path> maps = realMaps();
  ASSERT_GE(maps.size(), 20u);
  size_t multiChunk = 0;
  for (const fs::path& path : maps) {
    for (bool modern : {false, true}) {
      SCOPED_TRACE(path.filename().string() + (modern ? " --modern" : ""));
      std::ostringstream echo;
      MapFile map(path.string(), echo, readingSettings(modern));
      if (map.symbols.size() < 2) {
        continue;  // lld 14's ld64 map is read by no rule
      }
      multiChunk += map.symbols.size() > ChunkLimits{}.symbols ? 1 : 0;
      std::string inline1 = documentOf(map.symbols, withJobs(modern, 1), ChunkLimits{});
      for (const ChunkLimits& chunks : kChunkings) {
        for (uint32_t jobs : {1u, 2u, 8u}) {
          SCOPED_TRACE(std::to_string(jobs) + " threads, chunks of " +
                       std::to_string(chunks.symbols) + " symbols, " +
                       std::to_string(chunks.nameBytes) + " bytes");
          EXPECT_TRUE(documentOf(map.symbols, withJobs(modern, jobs), chunks) == inline1);
        }
      }
    }
  }
  EXPECT_GE(multiChunk, 1u);  // at least one map is named in default chunks on two threads
}

// Symbols that reuse the names of a real D map at fresh addresses, `count` in all: repeated
// names are numbered "#1", "#2" in the order they are filed, which shows any reordering.
std::vector<Symbol> symbolsOfRealNames(const MapFile& map, size_t count) {
  std::vector<Symbol> symbols;
  for (size_t i = 0; i < count; ++i) {
    const Symbol& from = map.symbols[i % (map.symbols.size() - 1)];
    symbols.push_back({0x1000 + 0x10 * i, from.name, i});
  }
  return symbols;
}

TEST(NamingThreads, GiveTheSameDocumentAroundChunkBoundaries) {
  std::ostringstream echo;
  MapFile map(std::string(VORLITH_TEST_DATA) + "/gnu-ld-gdc.map", echo);
  struct Case {
    ChunkLimits chunks;
    size_t chunkSize;
  };
  const Case cases[] = {{{16, 1 << 20}, 16}, {{}, ChunkLimits{}.symbols}};
  for (const Case& c : cases) {
    // A map of n symbols sizes n - 1 of them: the counts land just under, on and over one and
    // two chunks' worth.
    for (size_t sized : {c.chunkSize - 1, c.chunkSize, c.chunkSize + 1, 2 * c.chunkSize - 1,
                         2 * c.chunkSize, 2 * c.chunkSize + 1, 5 * c.chunkSize + 3}) {
      std::vector<Symbol> symbols = symbolsOfRealNames(map, sized + 1);
      for (bool modern : {false, true}) {
        SCOPED_TRACE(std::to_string(sized) + " sized symbols, chunks of " +
                     std::to_string(c.chunkSize) + (modern ? ", --modern" : ""));
        std::string expected = documentOf(symbols, withJobs(modern, 1), c.chunks);
        EXPECT_NE(expected.find("#1"), std::string::npos);
        for (uint32_t jobs : {2u, 3u, 8u}) {
          EXPECT_TRUE(documentOf(symbols, withJobs(modern, jobs), c.chunks) == expected) << jobs;
        }
      }
    }
  }
}

TEST(NamingThreads, StartOnlyAsManyThreadsAsThereAreChunks) {
  struct Case {
    uint32_t threads;
    size_t symbols;
    uint32_t useful;
  };
  const Case cases[] = {
      {8, 2, 1},    {8, 100, 1},  {8, 1024, 2}, {8, 1023, 1},      {2, 4096, 2},
      {8, 4096, 5}, {1, 9999, 1}, {0, 9999, 1}, {64, 1 << 20, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.threads) + " threads, " + std::to_string(c.symbols));
    EXPECT_EQ(usefulThreads(c.threads, c.symbols, ChunkLimits{}), c.useful);
  }
}

// A namer for NamingPool that throws on worker threads and, on the filing thread, names only
// once some worker has thrown: so the failure surely happens off the filing thread.
class WorkerFailure {
 public:
  template <typename Failure>
  NamerFactory factory(Failure failure) {
    return [this, failure, filing = std::this_thread::get_id()] {
      bool onFilingThread = std::this_thread::get_id() == filing;
      return NameFunction([this, failure, onFilingThread](std::string_view name, NameBuilder& out) {
        if (!onFilingThread) {
          {
            std::lock_guard lock(mutex_);
            thrown_ = true;
          }
          thrownChanged_.notify_all();
          throw failure;
        }
        std::unique_lock lock(mutex_);
        thrownChanged_.wait(lock, [this] { return thrown_; });
        out.start(name);
        out.add("C symbols");
        out.add(name);
      });
    };
  }

 private:
  std::mutex mutex_;
  std::condition_variable thrownChanged_;
  bool thrown_ = false;
};

// Asks `pool` for every filed symbol in order, as buildTree does.
void nameAll(NamingPool& pool, const std::vector<Symbol>& symbols) {
  for (size_t i = 0; i + 1 < symbols.size(); ++i) {
    Placement place = placeSymbol(symbols, i);
    if (place.filed) {
      (void)pool.next(i, place);
    }
  }
}

TEST(NamingThreads, PassAWorkersFailureToTheCaller) {
  std::ostringstream echo;
  MapFile map(std::string(VORLITH_TEST_DATA) + "/gnu-ld-gdc.map", echo);
  std::vector<Symbol> symbols = symbolsOfRealNames(map, 200);
  const ChunkLimits chunks{8, 1 << 20};
  {
    WorkerFailure failure;
    NamingPool pool(symbols, 2, chunks, failure.factory(std::bad_alloc()));
    EXPECT_THROW(nameAll(pool, symbols), std::bad_alloc);
  }
  {
    WorkerFailure failure;
    NamingPool pool(symbols, 4, chunks, failure.factory(std::runtime_error("worker failed")));
    expectThrowsWithMessage<std::runtime_error>([&] { nameAll(pool, symbols); }, "worker failed");
  }
}

TEST(NamingThreads, PassTheFilingThreadsOwnFailureToTheCaller) {
  std::ostringstream echo;
  MapFile map(std::string(VORLITH_TEST_DATA) + "/gnu-ld-gdc.map", echo);
  std::vector<Symbol> symbols = symbolsOfRealNames(map, 200);
  auto filing = std::this_thread::get_id();
  // Workers wait until the filing thread has failed, so that it must name a chunk itself (the
  // workers hold two at most of the six in flight). Then the pool must still stop and join them.
  std::mutex mutex;
  std::condition_variable changed;
  bool failed = false;
  NamerFactory factory = [&, filing] {
    bool onFilingThread = std::this_thread::get_id() == filing;
    return NameFunction([&, onFilingThread](std::string_view name, NameBuilder& out) {
      std::unique_lock lock(mutex);
      if (onFilingThread) {
        failed = true;
        changed.notify_all();
        throw std::bad_alloc();
      }
      changed.wait(lock, [&] { return failed; });
      out.start(name);
      out.add("C symbols");
      out.add(name);
    });
  };
  NamingPool pool(symbols, 3, ChunkLimits{4, 1 << 20}, factory);
  EXPECT_THROW(nameAll(pool, symbols), std::bad_alloc);
}

TEST(NamingThreads, NameEachSymbolOnceInMapOrder) {
  std::ostringstream echo;
  MapFile map(std::string(VORLITH_TEST_DATA) + "/lld-gdc.map", echo, readingSettings(true));
  const std::vector<Symbol>& symbols = map.symbols;
  std::mutex mutex;
  size_t calls = 0;
  NamerFactory factory = [&] {
    return NameFunction([&](std::string_view name, NameBuilder& out) {
      std::lock_guard lock(mutex);
      ++calls;
      // The shown name is the name itself on every other symbol, and the leaf made text on every
      // third: each way of storing them.
      out.start(name);
      out.add("group");
      if (calls % 3 == 0) {
        out.add(name);
      } else {
        out.addJoined({name, "!"});
      }
      if (calls % 2 != 0) {
        out.show(name);
        out.prependToShown("shown ");
      }
    });
  };
  NamingPool pool(symbols, 3, ChunkLimits{5, 200}, factory);
  size_t filed = 0;
  for (size_t i = 0; i + 1 < symbols.size(); ++i) {
    Placement place = placeSymbol(symbols, i);
    if (!place.filed) {
      continue;
    }
    ++filed;
    NameResult named = pool.next(i, place);
    SCOPED_TRACE(symbols[i].name);
    std::vector<std::string> expected{"group", std::string(place.name) + "!"};
    std::vector<std::string> plain{"group", std::string(place.name)};
    if (place.endMarker) {
      expected.insert(expected.begin(), "Afterpadding");
      plain.insert(plain.begin(), "Afterpadding");
    }
    NameText got = toText(named);
    EXPECT_TRUE(got.segments == expected || got.segments == plain);
    // A piece of the name is handed on as a view of it, not a copy.
    if (got.segments == plain) {
      EXPECT_EQ(named.segments.back().origin, SegmentOrigin::Name);
      EXPECT_EQ(named.segments.back().text.data(), place.name.data());
    }
    EXPECT_TRUE(named.shown == place.name || named.shown == "shown " + std::string(place.name));
  }
  EXPECT_GT(filed, 100u);
  EXPECT_EQ(calls, filed);
}

}  // namespace
}  // namespace vorlith
