// TextArena: text that lives as long as its arena, packed into large blocks.
//
// A large map yields a million names, keys and end markers; a std::string each would cost a
// header and an allocation apiece, which is most of the run's memory.
#pragma once

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

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
        left_(std::exchange(other.left_, 0)) {}
  TextArena& operator=(TextArena&& other) noexcept {
    blocks_ = std::move(other.blocks_);
    next_ = std::exchange(other.next_, nullptr);
    left_ = std::exchange(other.left_, 0);
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
      size_t block = size > kBlockSize / 4 ? size : kBlockSize;
      blocks_.push_back(std::make_unique_for_overwrite<char[]>(block));
      if (block == size) {
        return blocks_.back().get();  // a large piece keeps a block of its own
      }
      next_ = blocks_.back().get();
      left_ = block;
    }
    char* at = next_;
    next_ += size;
    left_ -= size;
    return at;
  }

 private:
  static constexpr size_t kBlockSize = 1 << 20;

  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;
  size_t left_ = 0;
};

}  // namespace vorlith
