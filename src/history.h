// The size history: every recorded build in one SQLite database, and the history read back.
//
//   vorlith --record=size.db --label=v1.2 app.map app.json    adds the run after the document
//   vorlith history size.db                                   reads it back (history_report.cpp)
//
// The database is plain SQL that people may query themselves (the schema is in history.cpp and in
// docs/history.md): one row per run, a table of group paths with their parents and joined text, the
// size of every group in every run, and the symbols with their sizes. Many processes may record
// into one file at once: each run is one write transaction, taken with a busy timeout.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "document.h"

namespace vorlith::history {

// The schema version this build writes. A database of an older version is upgraded in place when
// recording (and read as it is); a newer one is refused.
constexpr int kSchemaVersion = 2;

// Whether this build can read and write histories (it needs SQLite at build time).
[[nodiscard]] bool available();

// What to install when it cannot, as a whole message.
[[nodiscard]] std::string unavailableMessage();

// Whether the file begins as every SQLite database does ("SQLite format 3" and a NUL). False for
// a file that cannot be read or does not exist.
[[nodiscard]] bool looksLikeDatabase(const std::string& fileName);

// The time now, UTC, as the runs' time and default label are written: "2024-05-01T12:34:56Z".
[[nodiscard]] std::string utcNow();

// What one run records beside its document.
struct RunInfo {
  std::string label;
  std::string time;     // utcNow()'s form
  std::string mapFile;  // as given on the command line
  std::string options;  // the options that changed the document ("--modern"), or ""
};

// Adds `doc` to the history in `dbFile` as one run, creating the database when the file does not
// exist or is empty: the run's row, every group's size, every symbol's size. All of it or nothing
// (one transaction). Throws std::runtime_error naming the file: not a database, not a history,
// truncated, from a newer version, locked past the busy timeout, or SQLite's own error.
void record(const std::string& dbFile, const RunInfo& info, const Document& doc);

// One recorded run.
struct Run {
  int64_t id = 0;  // the order of recording
  std::string label;
  std::string time;
  std::string mapFile;
  std::string options;
  uint64_t total = 0;  // the whole program's
  bool symbols = false;  // whether its symbols were recorded
};

// A group or symbol of the history. Item 0 is the root of what was read: the whole program, or
// the group that `--group` names.
struct Item {
  uint32_t parent = 0;  // an item of the same history; the root's is 0 too
  std::string name;     // a group's name, or a symbol's key in its group
  std::string shown;    // a symbol's readable name when it differs from its key, else empty
  bool symbol = false;
  std::string mangled;  // a symbol's name in the map when it differs from its key, else empty
};

// A size that differs from the run before: the item's size in this run (0: not in it).
struct Change {
  uint32_t item = 0;
  uint64_t size = 0;
};

struct History {
  std::vector<Run> runs;    // in the order they were recorded
  std::vector<Item> items;  // parents before their children
  // Per run, the items whose size differs from the run before, in item order: replaying them
  // from nothing gives every item's size in every run.
  std::vector<std::vector<Change>> changes;
  std::vector<std::string> rootPath;  // the names from the top down to item 0 (empty: the program)
};

// Reads the history in `dbFile`, limited to the group whose names from the top are `group` (all
// of it when empty), with symbols when `withSymbols`. Never writes the file. Throws
// std::runtime_error naming the file (as record() does), or naming a group that no run has.
[[nodiscard]] History read(const std::string& dbFile, const std::vector<std::string>& group,
                           bool withSymbols);

// A symbol of one recorded run: enough to compare a new build with it (--base=DB).
struct RecordedSymbol {
  std::vector<std::string> path;  // its groups from the top, then its key
  std::string mangled;            // its name in the map
  std::string shown;              // its readable name (the mangled one when it has none other)
  uint64_t size = 0;
};
struct RecordedRun {
  Run run;
  std::vector<RecordedSymbol> symbols;  // in the order they were first recorded
};

// The last run recorded with the same document options (`options`, "" for none) and with its
// symbols. Throws std::runtime_error as read() does, or when there is no such run.
[[nodiscard]] RecordedRun readLastRun(const std::string& dbFile, std::string_view options);

// The names of a group path as --group=PATH gives it: joined by " › ", or by " > " for those who
// cannot type "›". Throws std::invalid_argument for an empty path or an empty name.
[[nodiscard]] std::vector<std::string> splitGroupPath(std::string_view path);

// Every item's size in one run, from the changes of the runs up to it: call next() once per run,
// in order.
class Replay {
 public:
  explicit Replay(const History& history) : history_(history), sizes_(history.items.size()) {}
  void next() { applyRun(run_++); }
  [[nodiscard]] const std::vector<uint64_t>& sizes() const { return sizes_; }

 private:
  void applyRun(size_t run) {
    for (const Change& change : history_.changes[run]) {
      sizes_[change.item] = change.size;
    }
  }
  const History& history_;
  std::vector<uint64_t> sizes_;
  size_t run_ = 0;
};

}  // namespace vorlith::history
