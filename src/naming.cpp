#include "naming.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "naming_budget.h"

namespace vorlith {

using std::string_view;

Placement placeSymbol(const std::vector<Symbol>& symbols, size_t index) {
  Placement place;
  uint64_t address = symbols[index].address;
  uint64_t size = symbols[index + 1].address - address;
  if (address == 0 || size == 0) {
    return place;
  }
  place.counted = true;
  place.size = size;
  string_view name = symbols[index].name;
  place.endMarker = name.starts_with(kEndMarker);
  if (place.endMarker) {
    name.remove_prefix(kEndMarker.size());
    if (name.ends_with("crtend.o (.eh_frame)")) {
      return place;
    }
  }
  place.filed = true;
  place.name = name;
  place.role = place.endMarker ? PieceRole::Padding : PieceRole::Entry;
  place.address = address;
  place.grant = symbols[index].name.size();
  return place;
}

Placement placePiece(const Piece& piece, const std::vector<LayoutSection>& sections) {
  Placement place;
  place.counted = true;
  place.filed = true;
  place.endMarker = piece.role == PieceRole::Padding;
  place.size = piece.size;
  place.name = piece.name;
  place.role = piece.role;
  place.section = piece.section;
  place.object = piece.object;
  if (piece.section != kNoSection) {
    place.sectionName = sections[piece.section].name;
  }
  place.address = piece.address;
  place.grant = piece.name.size();
  return place;
}

namespace {

// A chunk per thread and two more keep every thread busy (the filing thread reads one while the
// next waits named), and each chunk held is memory at the peak: threads beyond the cores this
// process may run on only wait their turn, so their chunks would be buffers held for nothing
// (twice the peak of a benign map with 64 threads on 2 cores). Which chunks exist does not
// depend on this.
size_t chunksInFlight(uint32_t threads) {
  return static_cast<size_t>(std::max<uint32_t>(std::min(threads, availableCores()), 1)) + 2;
}

}  // namespace

ChunkExtent chunkFrom(const PlacementSource& source, size_t begin, size_t end,
                      const ChunkLimits& limits) {
  ChunkExtent extent{begin, 0};
  size_t most = std::max<size_t>(limits.symbols, 1);
  while (extent.end < end && extent.end - begin < most && extent.nameBytes < limits.nameBytes) {
    extent.nameBytes += source.nameBytes(extent.end++);
  }
  return extent;
}

uint32_t usefulThreads(uint32_t threads, size_t symbols, const ChunkLimits& limits) {
  // Counting by symbols alone gives the fewest chunks the map can make.
  size_t chunks = symbols / std::max<size_t>(limits.symbols, 1) + 1;
  return static_cast<uint32_t>(std::clamp<size_t>(chunks, 1, std::max<uint32_t>(threads, 1)));
}

NamingPool::NamingPool(const std::vector<Symbol>& symbols, uint32_t threads,
                       const ChunkLimits& limits, NamerFactory makeNamer)
    : ownSource_(std::make_unique<SortedSymbols>(symbols)),
      source_(*ownSource_),
      limit_(source_.size()),
      limits_{std::max<size_t>(limits.symbols, 1), limits.nameBytes},
      chunks_(chunksInFlight(threads)),
      ownNamer_(makeNamer()) {
  startWorkers(threads, makeNamer);
}

NamingPool::NamingPool(const PlacementSource& source, uint32_t threads, const ChunkLimits& limits,
                       NamerFactory makeNamer)
    : source_(source),
      limit_(source.size()),
      limits_{std::max<size_t>(limits.symbols, 1), limits.nameBytes},
      chunks_(chunksInFlight(threads)),
      ownNamer_(makeNamer()) {
  startWorkers(threads, makeNamer);
}

void NamingPool::startWorkers(uint32_t threads, const NamerFactory& makeNamer) {
  workers_.reserve(threads);  // so that starting a thread is the only thing that can fail below
  for (uint32_t k = 1; k < threads; ++k) {
    try {
      workers_.emplace_back([this, makeNamer] { work(makeNamer); });
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the filing thread names what the others leave
    }
  }
}

NamingPool::~NamingPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) {
    worker.join();
  }
}

NameResult NamingPool::next(size_t index, const Placement& place) {
  while (reading_ == nullptr || index >= reading_->end) {
    if (reading_ != nullptr) {
      release();
    }
    reading_ = &awaitNextChunk();
    nextCount_ = 0;
    nextPiece_ = 0;
  }
  const Chunk& chunk = *reading_;
  const Span* spans = chunk.pieces.data() + nextPiece_;
  const size_t count = chunk.counts[nextCount_++];
  nextPiece_ += count + 1;
  const Span shownSpan = spans[count];
  string_view shown = shownSpan.offset == kItsName
                          ? place.name
                          : string_view(chunk.text).substr(shownSpan.offset, shownSpan.length);
  segments_.clear();
  for (size_t k = 0; k < count; ++k) {
    const Span& span = spans[k];
    string_view text;
    switch (span.origin) {
      case SegmentOrigin::Name:
        text = place.name.substr(span.offset, span.length);
        break;
      case SegmentOrigin::Shown:
        text = shown.substr(span.offset, span.length);
        break;
      case SegmentOrigin::Made:
        text = string_view(chunk.text).substr(span.offset, span.length);
        break;
    }
    segments_.push_back({text, span.origin});
  }
  return {segments_, shown};
}

bool NamingPool::allClaimed() const {
  return nextSymbol_ >= limit_;
}

bool NamingPool::canClaim() const {
  return !allClaimed() && claimed_ < released_ + chunks_.size();
}

NamingPool::Chunk& NamingPool::claim() {
  Chunk& chunk = chunks_[claimed_ % chunks_.size()];
  chunk.state = State::Claimed;
  chunk.begin = nextSymbol_;
  ChunkExtent extent = chunkFrom(source_, chunk.begin, limit_, limits_);
  chunk.end = extent.end;
  chunk.nameBytes = extent.nameBytes;
  nextSymbol_ = extent.end;
  ++claimed_;
  return chunk;
}

void NamingPool::nameChunk(Chunk& chunk, const NameFunction& name) {
  chunk.text.clear();
  chunk.pieces.clear();
  chunk.counts.clear();
  NamingWindow window(chunk.nameBytes);  // the chunk's share of naming's allowance
  NameBuilder& builder = chunk.builder;
  for (size_t i = chunk.begin; i < chunk.end; ++i) {
    Placement place = source_.place(i);
    if (!place.filed) {
      continue;
    }
    namePlacement(place, name, builder);
    NameResult named = builder.result();
    chunk.counts.push_back(static_cast<uint32_t>(named.segments.size()));
    for (const NameSegment& segment : named.segments) {
      const string_view text = segment.text;
      switch (segment.origin) {
        case SegmentOrigin::Name:
          chunk.pieces.push_back(
              {static_cast<size_t>(text.data() - place.name.data()), text.size(), segment.origin});
          break;
        case SegmentOrigin::Shown:
          chunk.pieces.push_back(
              {static_cast<size_t>(text.data() - named.shown.data()), text.size(), segment.origin});
          break;
        case SegmentOrigin::Made:
          chunk.pieces.push_back({chunk.text.size(), text.size(), segment.origin});
          chunk.text.append(text);
          break;
      }
    }
    if (named.shown == place.name) {
      chunk.pieces.push_back({kItsName, 0, SegmentOrigin::Name});  // most names show as they are
    } else {
      chunk.pieces.push_back({chunk.text.size(), named.shown.size(), SegmentOrigin::Made});
      chunk.text.append(named.shown);
    }
  }
}

NamingPool::Chunk& NamingPool::awaitNextChunk() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (failure_) {
      std::rethrow_exception(failure_);
    }
    if (released_ < claimed_) {
      Chunk& chunk = chunks_[released_ % chunks_.size()];
      if (chunk.state == State::Named) {
        return chunk;
      }
    }
    if (canClaim()) {
      // Rather than wait for the chunk a worker is naming, name the next one.
      Chunk& mine = claim();
      lock.unlock();
      nameChunk(mine, ownNamer_);
      lock.lock();
      mine.state = State::Named;
      continue;
    }
    if (released_ == claimed_) {
      throw std::logic_error("NamingPool::next: a symbol past the end");
    }
    changed_.wait(lock);
  }
}

void NamingPool::release() {
  {
    std::lock_guard lock(mutex_);
    reading_->state = State::Free;
    ++released_;
  }
  reading_ = nullptr;
  changed_.notify_all();
}

void NamingPool::work(const NamerFactory& makeNamer) {
  // Failures travel to the filing thread, which rethrows them from next(); std::bad_alloc is
  // the one expected.
  std::exception_ptr failure;
  NameFunction name;
  try {
    name = makeNamer();
  } catch (const std::exception&) {
    failure = std::current_exception();
  }
  std::unique_lock lock(mutex_);
  while (!failure) {
    changed_.wait(lock, [this] { return stopping_ || failure_ || allClaimed() || canClaim(); });
    if (stopping_ || failure_ || !canClaim()) {
      return;
    }
    Chunk& chunk = claim();
    lock.unlock();
    try {
      nameChunk(chunk, name);
    } catch (const std::exception&) {
      failure = std::current_exception();
    }
    lock.lock();
    if (!failure) {
      chunk.state = State::Named;
    }
    changed_.notify_all();
  }
  if (!failure_) {
    failure_ = failure;
  }
  changed_.notify_all();
}

}  // namespace vorlith
