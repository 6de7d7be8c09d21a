// Naming symbols on several threads while one thread files them in map order.
//
// Naming a symbol (demangling, splitting into groups) depends on nothing but its name, so worker
// threads name whole chunks of the map ahead of the filing thread; filing stays on one thread
// because the tree keeps insertion order. The filing thread names chunks itself when it would
// otherwise wait, so any number of workers, even none, finishes.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "dsym.h"
#include "mapfile.h"

namespace vorlith {

// How the tree takes symbol `index` of a sorted list: its size up to the next symbol, the name to
// classify (an end marker without its prefix) and whether it is filed at all. A symbol at
// address 0 or of size 0 is not counted; one that is counted but not filed (the end of
// crtend.o's .eh_frame) still grants its name's bytes to the tree's allowance.
struct Placement {
  bool counted = false;
  bool filed = false;
  bool endMarker = false;
  uint64_t size = 0;
  std::string_view name;  // a view of the symbol's name
};
[[nodiscard]] Placement placeSymbol(const std::vector<Symbol>& symbols, size_t index);

// Where one symbol is filed: the groups, then the leaf's name ("Afterpadding" first for an end
// marker), and the name to show. Views into storage of whoever returned it.
struct Naming {
  const std::vector<std::string>& segments;
  std::string_view shown;
};

// Names one symbol, as Classifier::classify does. Each thread calls its own.
using NameFunction = std::function<NameResult(std::string_view)>;
// Makes a NameFunction; called once on each naming thread, so scratch stays per thread.
using NamerFactory = std::function<NameFunction()>;

// How much naming work is handed out at once: a chunk ends at whichever limit comes first, so
// that its names and results stay in cache and the chunks in flight stay few.
struct ChunkLimits {
  size_t symbols = 1024;
  size_t nameBytes = size_t{64} << 10;
};

// The chunk that begins at symbol `begin` of `symbols`: it ends before `end` or sooner, at
// whichever of `limits` comes first, and holds `nameBytes` bytes of names. Chunks are cut the
// same way whatever the number of threads: naming's allowance (naming_budget.h) is counted
// chunk by chunk.
struct ChunkExtent {
  size_t end = 0;
  uint64_t nameBytes = 0;
};
[[nodiscard]] ChunkExtent chunkFrom(const std::vector<Symbol>& symbols, size_t begin, size_t end,
                                    const ChunkLimits& limits);

// The threads worth starting for `symbols` when `threads` are allowed: one per chunk at most, so
// a small map is named inline.
[[nodiscard]] uint32_t usefulThreads(uint32_t threads, size_t symbols, const ChunkLimits& limits);

// Names every filed symbol of `symbols` on threads - 1 workers and the calling thread, which
// takes the names in map order through next(). At most 2 * threads + 2 chunks are in flight,
// and no more than for as many threads as there are cores to run them.
// The destructor stops and joins the workers.
class NamingPool {
 public:
  NamingPool(const std::vector<Symbol>& symbols, uint32_t threads, const ChunkLimits& limits,
             NamerFactory makeNamer);
  NamingPool(const NamingPool&) = delete;
  NamingPool& operator=(const NamingPool&) = delete;
  ~NamingPool();

  // The naming of symbol `index`, whose placement is `place` (filed). Symbols must be asked for
  // in increasing order. The views stay valid until the next call. Rethrows what naming threw,
  // on whichever thread it ran.
  [[nodiscard]] Naming next(size_t index, const Placement& place);

 private:
  // Offsets into a chunk's text; kItsName stands for the symbol's own name.
  struct Span {
    size_t offset;
    size_t length;
  };
  static constexpr size_t kItsName = SIZE_MAX;

  enum class State { Free, Claimed, Named };

  // The results of symbols [begin, end), packed: for each filed symbol its segment count in
  // `counts`, then its segments and shown name as spans of `text` in `pieces`. One buffer per
  // chunk rather than a string per segment; the buffers are reused by later chunks.
  struct Chunk {
    State state = State::Free;
    size_t begin = 0;
    size_t end = 0;
    uint64_t nameBytes = 0;
    std::string text;
    std::vector<Span> pieces;
    std::vector<uint32_t> counts;
  };

  void work(const NamerFactory& makeNamer);
  [[nodiscard]] bool canClaim() const;
  [[nodiscard]] bool allClaimed() const;
  Chunk& claim();
  void nameChunk(Chunk& chunk, const NameFunction& name);
  Chunk& awaitNextChunk();
  void release();

  const std::vector<Symbol>& symbols_;
  const size_t limit_;  // symbols before this one are sized and may be filed
  const ChunkLimits limits_;

  std::mutex mutex_;
  std::condition_variable changed_;  // a chunk was named or freed, or the pool is stopping
  std::vector<Chunk> chunks_;        // a ring: chunk number n lives at n % size
  size_t claimed_ = 0;               // chunks handed out
  size_t released_ = 0;              // chunks filed and freed
  size_t nextSymbol_ = 0;            // the first symbol of the next chunk handed out
  bool stopping_ = false;
  std::exception_ptr failure_;  // what a worker threw

  // The filing thread's side.
  NameFunction ownNamer_;
  Chunk* reading_ = nullptr;
  size_t nextCount_ = 0;
  size_t nextPiece_ = 0;
  std::vector<std::string> segments_;  // the current symbol's segments, reused

  std::vector<std::thread> workers_;  // last: started once everything above is ready
};

}  // namespace vorlith
