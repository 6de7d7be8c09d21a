// What `vorlith history DB` gives: a table of the runs for the terminal, and one self-contained
// trend page.
//
//     Run  Label                          Total        Size        Change
//       1  v1.0                          524288   512.0 KiB             -
//       2  v1.1                          530000   517.6 KiB         +5712
//                +4096  std › format › internal › write
//                 +300  app
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "history.h"
#include "report_text.h"

namespace vorlith::report {

// How many groups the table lists under a run that changed.
constexpr size_t kHistoryChangesListed = 3;

// A group that changed between two runs: the deepest group that holds the whole change of one
// of the largest changes at the top of the view.
struct GroupChange {
  uint32_t item = 0;
  Delta delta = 0;
};

// The groups that changed most from `before` to `after` (sizes by item), at most `count`: the
// root's sub-groups by the size of their change (largest first, ties in item order), each
// followed down while a single sub-group carries its whole change.
[[nodiscard]] std::vector<GroupChange> groupsThatChangedMost(const history::History& history,
                                                             const std::vector<uint64_t>& before,
                                                             const std::vector<uint64_t>& after,
                                                             size_t count);

// The table of the runs: label, size of the view's root, change from the run before and, below
// each run that changed, the groups that changed most. Every line fits kLineWidth columns.
[[nodiscard]] std::string historyTable(const history::History& history, std::string_view dbName);

// The JSON that the trend page reads: the runs, the items and each run's changes.
//   {"name":"size.db","group":["std"],"runs":[{"label":"v1","time":"...","map":"app.map",
//    "options":"","total":48,"symbols":true}],"items":[[0,"",0],[0,"std",0],[1,"f",1,"f()"]],
//    "changes":[[0,48,1,48,2,48]]}
[[nodiscard]] std::string historyJson(const history::History& history, std::string_view dbName);

// The trend page with its scripts and styles inline and the history in it, from the copy of
// viewer/history.html built into this program.
[[nodiscard]] std::string historyPage(const history::History& history, std::string_view dbName);

}  // namespace vorlith::report
