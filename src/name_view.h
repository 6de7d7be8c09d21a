// A view of a name in 12 bytes rather than a std::string_view's 16: the tree's leaves and a
// document's hold millions of them.
#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string_view>
#include <type_traits>

namespace vorlith {

// Reads as the std::string_view it was made from; the text lives elsewhere (a map's names, a
// tree's or a document's arena). Its length takes 4 bytes: a name of 4 GiB or more is refused
// with std::length_error rather than cut.
#pragma pack(push, 4)
class NameView {
 public:
  NameView() = default;
  // Implicit, as it stands for a std::string_view: made from what makes one.
  template <typename T,
            typename = std::enable_if_t<std::is_convertible_v<const T&, std::string_view>>>
  NameView(const T& text)  // NOLINT(google-explicit-constructor)
      : data_(std::string_view(text).data()), size_(checkedSize(std::string_view(text).size())) {}

  operator std::string_view() const { return {data_, size_}; }  // NOLINT
  [[nodiscard]] std::string_view view() const { return {data_, size_}; }
  [[nodiscard]] const char* data() const { return data_; }
  [[nodiscard]] size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  [[nodiscard]] size_t find(std::string_view s, size_t from = 0) const {
    return view().find(s, from);
  }
  [[nodiscard]] bool starts_with(std::string_view s) const { return view().starts_with(s); }
  [[nodiscard]] bool ends_with(std::string_view s) const { return view().ends_with(s); }
  friend bool operator==(const NameView& a, const NameView& b) { return a.view() == b.view(); }
  // Against anything that reads as a view, literals and strings included, without a conversion
  // that would make the comparison ambiguous.
  template <typename T>
    requires(std::is_convertible_v<const T&, std::string_view> && !std::is_same_v<T, NameView>)
  friend bool operator==(const NameView& a, const T& b) {
    return a.view() == std::string_view(b);
  }
  friend std::ostream& operator<<(std::ostream& out, NameView name) { return out << name.view(); }

 private:
  static uint32_t checkedSize(size_t size) {
    if (size > UINT32_MAX) {
      throw std::length_error("a name of 4 GiB or more");
    }
    return static_cast<uint32_t>(size);
  }

  const char* data_ = nullptr;
  uint32_t size_ = 0;
};
#pragma pack(pop)
static_assert(sizeof(NameView) == 12);

}  // namespace vorlith
