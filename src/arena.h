// TextArena: text that lives as long as its arena, packed into large blocks.
//
// A large map yields a million names, keys and end markers; a std::string each would cost a
// header and an allocation apiece, which is most of the run's memory.
#pragma once

#include <cstddef>
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "pages.h"

namespace vorlith {

class TextArena {
 public:
  TextArena() = default;
  TextArena(const TextArena&) = delete;
  TextArena& operator=(const TextArena&) = delete;
  // Views keep pointing into the blocks, which move with the arena; the arena moved from is
  // left empty, so that it never writes into blocks it no longer owns.
  TextArena(TextArena&& other) noexcept
      : blocks_(std::move(other.blocks_)),
        next_(std::exchange(other.next_, nullptr)),
        populated_(std::exchange(other.populated_, nullptr)),
        left_(std::exchange(other.left_, 0)),
        nextBlock_(std::exchange(other.nextBlock_, kFirstBlockSize)) {}
  TextArena& operator=(TextArena&& other) noexcept {
    blocks_ = std::move(other.blocks_);
    next_ = std::exchange(other.next_, nullptr);
    populated_ = std::exchange(other.populated_, nullptr);
    left_ = std::exchange(other.left_, 0);
    nextBlock_ = std::exchange(other.nextBlock_, kFirstBlockSize);
    return *this;
  }

  // Copies the pieces, one after the other, into the arena and returns a view of the copy.
  std::string_view concat(std::initializer_list<std::string_view> pieces) {
    size_t size = 0;
    for (std::string_view piece : pieces) {
      size += piece.size();
    }
    char* at = allocate(size);
    char* p = at;
    for (std::string_view piece : pieces) {
      if (!piece.empty()) {
        std::memcpy(p, piece.data(), piece.size());
        p += piece.size();
      }
    }
    return std::string_view(at, size);
  }

  std::string_view copy(std::string_view s) { return concat({s}); }

  // Room for `size` bytes that stay where they are until the arena goes.
  char* allocate(size_t size) {
    if (size > left_) {
      size_t block = size > nextBlock_ / 4 ? size : nextBlock_;
      bool huge = blocks_.size() >= kBlocksBeforeHugePages;
      blocks_.push_back(newBlock(block, huge));
      if (block == nextBlock_) {
        nextBlock_ = std::min(nextBlock_ * 2, kBlockSize);
      }
      if (block == size) {
        return blocks_.back().get();  // a large piece keeps a block of its own
      }
      next_ = blocks_.back().get();
      left_ = block;
      // A huge page is faulted in whole anyway; a small block is soon filled.
      populated_ = huge || block < kPopulateStep ? next_ + left_ : next_;
    }
    char* at = next_;
    next_ += size;
    left_ -= size;
    if (next_ > populated_) {
      populateAhead();
    }
    return at;
  }

 private:
  // Blocks double in size from the first to kBlockSize, so that an arena that holds little
  // takes little. A block of kBlockSize is one huge page where the system offers them: filled
  // from end to end, it takes one page fault rather than 512. But the block being filled then
  // takes all of its memory at once, up to 2 MiB more than the text it holds, so only an arena
  // of a dozen blocks asks for them: 2 MiB is a fifteenth of the peak on a D map of 15 MB, while
  // on a C++ map of 75 MB huge pages spare a fifth of the run's page faults.
  static constexpr size_t kFirstBlockSize = size_t{64} << 10;
  static constexpr size_t kBlockSize = size_t{2} << 20;
  static constexpr size_t kBlocksBeforeHugePages = 12;  // about 16 MiB of text and more
  static constexpr size_t kPopulateStep = size_t{256} << 10;

  struct BlockDelete {
    bool aligned = false;  // as a huge page
    void operator()(char* block) const {
      if (aligned) {
        ::operator delete[](block, std::align_val_t{kBlockSize});
      } else {
        ::operator delete[](block);
      }
    }
  };
  using Block = std::unique_ptr<char[], BlockDelete>;

  // Room for `size` bytes; with `huge`, from kBlockSize on aligned as a huge page and asked to
  // be backed by huge pages.
  static Block newBlock(size_t size, bool huge) {
    if (size < kBlockSize || !huge) {
      return Block(new char[size], BlockDelete{false});
    }
    Block block(static_cast<char*>(::operator new[](size, std::align_val_t{kBlockSize})),
                BlockDelete{true});
    adviseHugePages(block.get(), size);
    return block;
  }

  // Faults in the block's pages a step ahead of what is used, one call for each step rather
  // than a fault for each page: no more than a step of them stands unused.
  void populateAhead() {
    char* end = next_ + left_;
    char* to = std::min(end, std::max(next_, populated_ + kPopulateStep));
    populatePages(populated_, to);
    populated_ = to;
  }

  std::vector<Block> blocks_;
  char* next_ = nullptr;
  char* populated_ = nullptr;  // the current block's pages up to here are faulted in
  size_t left_ = 0;
  size_t nextBlock_ = kFirstBlockSize;  // the size of the next block
};

}  // namespace vorlith
