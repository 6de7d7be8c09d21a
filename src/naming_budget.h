// A bound on what demangling costs over a whole run, in proportion to the names of the map.
//
// Each name has a bound of its own (demangle_current_internal.h), but a bound per name allows
// a fixed amount even to the shortest name, so a map of short names built to expand could cost
// a hundred times a benign map of its size. Here the symbols are cut into windows (the chunks
// that naming threads take, cut the same way on one thread), and the names of one window may
// together take at most kDemangleFreePerWindow plus, for each byte of their names,
// kDemangleWorkPerNameByte steps of work and kDemangleOutputPerNameByte bytes of text made. A name that finds the window spent
// is not decoded by the current rules and is filed as the classic rules file it. Each window is
// named on one thread in map order, so the document is the same for any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlith {

// Real maps come to a fifth of these at most (the costliest chunk of a 16 MB gdc map: 3 steps
// and 13 bytes of text per byte of names), so no real name is left undecoded.
inline constexpr uint64_t kDemangleWorkPerNameByte = 16;
inline constexpr uint64_t kDemangleOutputPerNameByte = 64;
inline constexpr uint64_t kDemangleFreePerWindow = uint64_t{64} << 10;

// The window open on this thread, if any. Windows do not nest: opening one replaces the last.
class NamingWindow {
 public:
  // Opens a window for names of `nameBytes` bytes in all, on this thread.
  explicit NamingWindow(uint64_t nameBytes);
  NamingWindow(const NamingWindow&) = delete;
  NamingWindow& operator=(const NamingWindow&) = delete;
  // Closes it: demangling on this thread is bounded by each name's own limits alone.
  ~NamingWindow();

  // Lowers the limits of one name to what the open window has left; nothing without one.
  static void clamp(size_t& workLimit, size_t& outputLimit);
  // Takes what one name spent from the open window.
  static void spend(size_t work, size_t output);
  // Whether a window is open and has nothing left: a name need not even be tried.
  [[nodiscard]] static bool spent();

  // What the open window has left (for tests); SIZE_MAX outside one.
  [[nodiscard]] static uint64_t workLeft();
  [[nodiscard]] static uint64_t outputLeft();
};

}  // namespace vorlith
