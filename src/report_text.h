// Text that the terminal reports share: sizes in bytes and in KiB/MiB, shares, names made safe
// to print, and paths shortened in the middle to fit a column.
//      Bytes        Size   Share  Path
//     524288   512.0 KiB   42.4%  std › format › internal › write › writeAligned
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "terminal_text.h"

namespace vorlith::report {

// Wide enough for the difference of two sizes and for a sum of them without wrapping.
__extension__ typedef __int128 Delta;

// The width that reports fit into.
constexpr size_t kLineWidth = 100;

// "0 B", "1023 B", "1.5 KiB", "12.0 MiB", "2.3 GiB": one decimal, rounded half up.
[[nodiscard]] std::string humanSize(uint64_t bytes);
// A change: "+4096" / "-12" / "0".
[[nodiscard]] std::string signedBytes(Delta delta);
// A change in KiB/MiB: "+4.0 KiB", "-12 B", "0 B".
[[nodiscard]] std::string signedHumanSize(Delta delta);
// `part` as a share of `whole` with one decimal: "42.4%"; "-" when `whole` is 0.
[[nodiscard]] std::string share(uint64_t part, uint64_t whole);
// `delta` against `base` with two decimals and a sign: "+4.17%"; "n/a" when `base` is 0.
[[nodiscard]] std::string signedShare(Delta delta, uint64_t base);

// Names are printed through vorlith::printable (terminal_text.h).
using ::vorlith::printable;

// Columns `text` takes: one per character (code point).
[[nodiscard]] size_t columns(std::string_view text);

// `text` itself when it fits `width` columns, else its start and its end around "…", cut at
// characters, never inside one.
[[nodiscard]] std::string shortenMiddle(std::string_view text, size_t width);

// A path joined by " › " that fits `width` columns: whole components are dropped from the left
// behind "…" so that the last one, which says what it is, stays whole ("…internal › write ›
// formatValueImpl!(…)"); a last component too long for the width keeps its head up to its first
// bracket and is shortened in the middle after it.
[[nodiscard]] std::string shortenPath(std::string_view text, size_t width);

// The groups and the leaf key joined by " › ", each made printable.
[[nodiscard]] std::string printablePath(const std::vector<std::string_view>& groups,
                                        std::string_view key);

// `text` padded with spaces on the left (right-aligned) or right to `width` columns.
[[nodiscard]] std::string padLeft(std::string_view text, size_t width);
[[nodiscard]] std::string padRight(std::string_view text, size_t width);

}  // namespace vorlith::report
