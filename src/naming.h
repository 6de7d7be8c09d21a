// Naming symbols on several threads while one thread files them in map order.
//
// Naming a symbol (demangling, splitting into groups) depends on nothing but its name, so worker
// threads name whole chunks of the map ahead of the filing thread; filing stays on one thread
// because the tree keeps insertion order. The filing thread names chunks itself when it would
// otherwise wait, so any number of workers, even none, finishes.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "name_result.h"
#include "layout.h"
#include "mapfile.h"
#include "pages.h"

namespace vorlith {

// How the tree takes symbol `index` of a sorted list: its size up to the next symbol, the name to
// classify (an end marker without its prefix) and whether it is filed at all. A symbol at
// address 0 or of size 0 is not counted; one that is counted but not filed (the end of
// crtend.o's .eh_frame) still grants its name's bytes to the tree's allowance.
struct Placement {
  bool counted = false;
  bool filed = false;
  bool endMarker = false;  // role is PieceRole::Padding
  uint64_t size = 0;
  std::string_view name;  // a view of the symbol's name
  // Under the modern rules, with sections: what else the leaf carries and how it is filed.
  PieceRole role = PieceRole::Entry;
  uint32_t section = kNoSection;
  uint32_t object = kNoObject;
  std::string_view sectionName;  // the section's name, for the section's own bytes
  uint64_t address = 0;
  uint64_t grant = 0;  // the bytes of the name it grants the tree's allowance when counted
};
[[nodiscard]] Placement placeSymbol(const std::vector<Symbol>& symbols, size_t index);

// The entries a tree is built from, each with its placement: the symbols of a sorted map list
// sized by the next address, or the pieces of a layout by sections.
class PlacementSource {
 public:
  virtual ~PlacementSource() = default;
  // The entries that may be filed are [0, size()).
  [[nodiscard]] virtual size_t size() const = 0;
  [[nodiscard]] virtual Placement place(size_t index) const = 0;
  // The bytes of entry `index`'s name, which chunks of naming work are measured in.
  [[nodiscard]] virtual size_t nameBytes(size_t index) const = 0;
  // Entries before `end` are placed no more. A source made to use up its list gives the memory
  // of their whole pages back (they read as zeros after); others keep it.
  virtual void releaseBefore([[maybe_unused]] size_t end) const {}
};

// Gives back the memory of the whole pages that hold list[0, end).
template <typename T>
void releaseListBefore(const std::vector<T>& list, size_t end) {
  end = std::min(end, list.size());
  releasePages(list.data(), list.data() + end);
}

// A sorted map list as the classic rules size it: each symbol up to the next one's address.
class SortedSymbols : public PlacementSource {
 public:
  // With `usedUp`, the list is the caller's to lose: releaseBefore gives its memory back.
  explicit SortedSymbols(const std::vector<Symbol>& symbols, bool usedUp = false)
      : symbols_(symbols), usedUp_(usedUp) {}
  [[nodiscard]] size_t size() const override { return symbols_.empty() ? 0 : symbols_.size() - 1; }
  [[nodiscard]] Placement place(size_t index) const override {
    return placeSymbol(symbols_, index);
  }
  [[nodiscard]] size_t nameBytes(size_t index) const override {
    return symbols_[index].name.size();
  }
  void releaseBefore(size_t end) const override {
    if (usedUp_) {
      releaseListBefore(symbols_, end);
    }
  }

 private:
  const std::vector<Symbol>& symbols_;
  bool usedUp_;
};

// The placement of a piece of a layout: every piece is counted and filed.
[[nodiscard]] Placement placePiece(const Piece& piece, const std::vector<LayoutSection>& sections);

// The symbols of a map laid out by its sections (after dropUnsized: every one is filed).
class MapPlacements : public PlacementSource {
 public:
  // With `usedUp`, the symbols and the layout's sizes (and `objects`) are the caller's to lose,
  // as for SortedSymbols. `objects`, when given, holds each symbol's object
  // (objectsOfMapSymbols), so that the map's input sections may be gone.
  MapPlacements(const std::vector<Symbol>& symbols, const MapLayout& layout,
                const MapSections& sections, bool usedUp = false,
                const std::vector<uint32_t>* objects = nullptr)
      : symbols_(symbols),
        layout_(layout),
        sections_(sections),
        usedUp_(usedUp),
        objects_(objects) {}
  [[nodiscard]] size_t size() const override { return symbols_.size(); }
  [[nodiscard]] Placement place(size_t index) const override {
    Piece piece = objects_ != nullptr
                      ? pieceOfMapSymbol(symbols_, layout_.sizes, layout_, sections_, index,
                                         (*objects_)[index])
                      : pieceOfMapSymbol(symbols_, layout_.sizes, layout_, sections_, index);
    return placePiece(piece, layout_.sections);
  }
  [[nodiscard]] size_t nameBytes(size_t index) const override {
    return symbols_[index].name.size();
  }
  void releaseBefore(size_t end) const override {
    if (usedUp_) {
      releaseListBefore(symbols_, end);
      releaseListBefore(layout_.sizes, end);
      if (objects_ != nullptr) {
        releaseListBefore(*objects_, end);
      }
    }
  }

 private:
  const std::vector<Symbol>& symbols_;
  const MapLayout& layout_;
  const MapSections& sections_;
  bool usedUp_;
  const std::vector<uint32_t>* objects_;
};

// The pieces of a layout made from a binary.
class PiecePlacements : public PlacementSource {
 public:
  explicit PiecePlacements(const PieceLayout& layout) : layout_(layout) {}
  [[nodiscard]] size_t size() const override { return layout_.pieces.size(); }
  [[nodiscard]] Placement place(size_t index) const override {
    return placePiece(layout_.pieces[index], layout_.sections);
  }
  [[nodiscard]] size_t nameBytes(size_t index) const override {
    return layout_.pieces[index].name.size();
  }

 private:
  const PieceLayout& layout_;
};

// Names a filed placement into `out`, `classify` (a NameFunction) naming its name where its role
// asks for it (an entry, or the padding behind one).
template <typename Classify>
void namePlacement(const Placement& place, Classify&& classify, NameBuilder& out) {
  switch (place.role) {
    case PieceRole::SectionOwn:
      out.start(place.name);
      out.add(kUnattributedGroup);
      out.addJoined({place.sectionName, kUnattributedSuffix});
      return;
    case PieceRole::LinkerMade:
      out.start(place.name);
      out.add(kLinkerGroup);
      out.add(place.sectionName);
      return;
    case PieceRole::Padding:
      classify(place.name, out);
      out.insert(0, "Afterpadding");
      return;
    case PieceRole::Entry:
      break;
  }
  classify(place.name, out);
}

// Makes a NameFunction; called once on each naming thread, so scratch stays per thread.
using NamerFactory = std::function<NameFunction()>;

// How much naming work is handed out at once: a chunk ends at whichever limit comes first, so
// that its names and results stay in cache and the chunks in flight stay few. The results of a
// chunk of D names take several times their names (the shown names are longer), and all chunks
// in flight hold theirs at once: 8 KiB of names keeps that to a small part of a large map's
// peak memory, and a chunk still takes long enough that handing it out costs nothing to speak of.
struct ChunkLimits {
  size_t symbols = 1024;
  size_t nameBytes = size_t{8} << 10;
};

// The chunk that begins at entry `begin` of `source`: it ends before `end` or sooner, at
// whichever of `limits` comes first, and holds `nameBytes` bytes of names. Chunks are cut the
// same way whatever the number of threads: naming's allowance (naming_budget.h) is counted
// chunk by chunk.
struct ChunkExtent {
  size_t end = 0;
  uint64_t nameBytes = 0;
};
[[nodiscard]] ChunkExtent chunkFrom(const PlacementSource& source, size_t begin, size_t end,
                                    const ChunkLimits& limits);

// The threads worth starting for `symbols` when `threads` are allowed: one per chunk at most, so
// a small map is named inline.
[[nodiscard]] uint32_t usefulThreads(uint32_t threads, size_t symbols, const ChunkLimits& limits);

// Names every filed symbol of `symbols` on threads - 1 workers and the calling thread, which
// takes the names in map order through next(). At most threads + 2 chunks are in flight,
// and no more than for as many threads as there are cores to run them.
// The destructor stops and joins the workers.
class NamingPool {
 public:
  NamingPool(const std::vector<Symbol>& symbols, uint32_t threads, const ChunkLimits& limits,
             NamerFactory makeNamer);
  // The same over any source of placements, which must outlive the pool.
  NamingPool(const PlacementSource& source, uint32_t threads, const ChunkLimits& limits,
             NamerFactory makeNamer);
  NamingPool(const NamingPool&) = delete;
  NamingPool& operator=(const NamingPool&) = delete;
  ~NamingPool();

  // The naming of symbol `index`, whose placement is `place` (filed). Symbols must be asked for
  // in increasing order. The views stay valid until the next call: they are pieces of the
  // placement's name and of the chunk's text. Rethrows what naming threw, on whichever thread it
  // ran.
  [[nodiscard]] NameResult next(size_t index, const Placement& place);

 private:
  // Where a segment or a shown name is: offsets into the symbol's name, its shown name or the
  // chunk's text, as `origin` says; a shown name at kItsName is the symbol's own name.
  struct Span {
    size_t offset;
    size_t length;
    SegmentOrigin origin;
  };
  static constexpr size_t kItsName = SIZE_MAX;

  enum class State { Free, Claimed, Named };

  // The results of symbols [begin, end), packed: for each filed symbol its segment count in
  // `counts`, then its segments and shown name as spans in `pieces`; what the naming made is
  // copied into `text`, pieces of the name stay where they are. One buffer per chunk rather than
  // a string per segment; the buffers are reused by later chunks.
  struct Chunk {
    State state = State::Free;
    size_t begin = 0;
    size_t end = 0;
    uint64_t nameBytes = 0;
    std::string text;
    std::vector<Span> pieces;
    std::vector<uint32_t> counts;
    NameBuilder builder;  // the naming thread's, while it names the chunk
  };

  void startWorkers(uint32_t threads, const NamerFactory& makeNamer);
  void work(const NamerFactory& makeNamer);
  [[nodiscard]] bool canClaim() const;
  [[nodiscard]] bool allClaimed() const;
  Chunk& claim();
  void nameChunk(Chunk& chunk, const NameFunction& name);
  Chunk& awaitNextChunk();
  void release();

  std::unique_ptr<SortedSymbols> ownSource_;  // when made from a symbol list
  const PlacementSource& source_;
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
  std::vector<NameSegment> segments_;  // the current symbol's segments, reused

  std::vector<std::thread> workers_;  // last: started once everything above is ready
};

}  // namespace vorlith
