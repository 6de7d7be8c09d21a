#include "history_report.h"

#include <algorithm>

#include "report_html_page.h"
#include "reports.h"
#include "zel/utils/appender.h"
#include "zel/utils/json.h"

namespace vorlith::report {

using history::History;
using std::string;
using std::string_view;

namespace {

Delta deltaOf(const std::vector<uint64_t>& before, const std::vector<uint64_t>& after,
              uint32_t item) {
  return static_cast<Delta>(after[item]) - static_cast<Delta>(before[item]);
}

Delta magnitude(Delta delta) {
  return delta < 0 ? -delta : delta;
}

// The names from the view's root down to `item`, joined and made printable.
string itemPath(const History& history, uint32_t item) {
  std::vector<string_view> names;
  for (uint32_t i = item; i != 0; i = history.items[i].parent) {
    names.push_back(history.items[i].name);
  }
  std::reverse(names.begin(), names.end());
  if (names.empty()) {
    return "(the whole view)";
  }
  string key(names.back());
  names.pop_back();
  return printablePath(names, key);
}

string viewName(const History& history) {
  if (history.rootPath.empty()) {
    return {};
  }
  std::vector<string_view> names(history.rootPath.begin(), history.rootPath.end() - 1);
  return printablePath(names, history.rootPath.back());
}

// Columns of the table: run, label, bytes, size, change.
struct Columns {
  size_t run;
  size_t bytes;
  static constexpr size_t kSize = 10;
  static constexpr size_t kLabel = 32;

  [[nodiscard]] string row(string_view runText, string_view label, string_view bytesText,
                           string_view size, string_view change) const {
    return padLeft(runText, run) + "  " + padRight(shortenMiddle(label, kLabel), kLabel) + "  " +
           padLeft(bytesText, bytes) + "  " + padLeft(size, kSize) + "  " +
           padLeft(change, bytes + 1) + "\n";
  }
  // A group under its run: the change lined up under the runs' change, the path after it.
  [[nodiscard]] string changeRow(string_view change, string_view path) const {
    size_t indent = run + 4;
    size_t width = bytes + 1;
    string head = string(indent, ' ') + padLeft(change, width) + "  ";
    size_t room = kLineWidth > columns(head) ? kLineWidth - columns(head) : 0;
    return head + shortenMiddle(path, room) + "\n";
  }
};

}  // namespace

std::vector<GroupChange> groupsThatChangedMost(const History& history,
                                               const std::vector<uint64_t>& before,
                                               const std::vector<uint64_t>& after, size_t count) {
  // The sub-groups of every group, in item order (items come parents first).
  std::vector<std::vector<uint32_t>> children(history.items.size());
  for (uint32_t i = 1; i < history.items.size(); ++i) {
    if (!history.items[i].symbol) {
      children[history.items[i].parent].push_back(i);
    }
  }
  std::vector<GroupChange> tops;
  for (uint32_t g : children[0]) {
    if (Delta d = deltaOf(before, after, g); d != 0) {
      tops.push_back({g, d});
    }
  }
  std::stable_sort(tops.begin(), tops.end(), [](const GroupChange& a, const GroupChange& b) {
    return magnitude(a.delta) > magnitude(b.delta);
  });
  if (tops.size() > count) {
    tops.resize(count);
  }
  for (GroupChange& change : tops) {
    for (;;) {
      uint32_t carrier = 0;
      size_t changed = 0;
      for (uint32_t c : children[change.item]) {
        if (deltaOf(before, after, c) != 0) {
          carrier = c;
          ++changed;
        }
      }
      if (changed != 1 || deltaOf(before, after, carrier) != change.delta) {
        break;
      }
      change.item = carrier;
    }
  }
  return tops;
}

string historyTable(const History& history, string_view dbName) {
  string out = "History of " + printable(dbName);
  if (!history.rootPath.empty()) {
    out += ", group " + viewName(history);
  }
  size_t runs = history.runs.size();
  out += ": " + std::to_string(runs) + (runs == 1 ? " run" : " runs");
  if (runs == 0) {
    return out + "\n";
  }
  out += ", " + printable(history.runs.front().time) + " to " + printable(history.runs.back().time) + "\n\n";

  history::Replay replay(history);
  uint64_t largest = 0;
  for (size_t r = 0; r < runs; ++r) {
    replay.next();
    largest = std::max(largest, replay.sizes()[0]);
  }
  Columns columns{std::max<size_t>(3, std::to_string(runs).size()),
                  std::max<size_t>(5, std::to_string(largest).size())};
  out += columns.row("Run", "Label", "Bytes", "Size", "Change");
  history::Replay again(history);
  std::vector<uint64_t> before(history.items.size());
  for (size_t r = 0; r < runs; ++r) {
    again.next();
    const std::vector<uint64_t>& sizes = again.sizes();
    uint64_t size = sizes[0];
    string change = r == 0 ? "-" : signedBytes(deltaOf(before, sizes, 0));
    out += columns.row(std::to_string(r + 1), printable(history.runs[r].label),
                       std::to_string(size), humanSize(size), change);
    if (r != 0) {
      for (const GroupChange& g :
           groupsThatChangedMost(history, before, sizes, kHistoryChangesListed)) {
        out += columns.changeRow(signedBytes(g.delta), itemPath(history, g.item));
      }
    }
    // Only the changed items differ from the run before.
    for (const history::Change& c : history.changes[r]) {
      before[c.item] = c.size;
    }
  }
  return out;
}

string historyJson(const History& history, string_view dbName) {
  zel::utils::json::CustomJsonWriter<zel::utils::appender::FastAppender> w;
  auto& o = w.output;
  o.put("{\"name\":");
  w.putString(dbName);
  o.put(",\"group\":[");
  for (size_t k = 0; k < history.rootPath.size(); ++k) {
    o.put(k == 0 ? "" : ",");
    w.putString(history.rootPath[k]);
  }
  o.put("],\"runs\":[");
  for (size_t r = 0; r < history.runs.size(); ++r) {
    const history::Run& run = history.runs[r];
    o.put(r == 0 ? "{\"label\":" : ",{\"label\":");
    w.putString(run.label);
    o.put(",\"time\":");
    w.putString(run.time);
    o.put(",\"map\":");
    w.putString(run.mapFile);
    o.put(",\"options\":");
    w.putString(run.options);
    o.put(",\"total\":");
    w.put(run.total);
    o.put(run.symbols ? ",\"symbols\":true}" : ",\"symbols\":false}");
  }
  o.put("],\"items\":[");
  for (size_t i = 0; i < history.items.size(); ++i) {
    const history::Item& item = history.items[i];
    o.put(i == 0 ? "[" : ",[");
    w.put(uint64_t{item.parent});
    o.put(',');
    w.putString(item.name);
    o.put(item.symbol ? ",1" : ",0");
    if (!item.shown.empty()) {
      o.put(',');
      w.putString(item.shown);
    }
    o.put(']');
  }
  o.put("],\"changes\":[");
  for (size_t r = 0; r < history.changes.size(); ++r) {
    o.put(r == 0 ? "[" : ",[");
    bool first = true;
    for (const history::Change& c : history.changes[r]) {
      o.put(first ? "" : ",");
      first = false;
      w.put(uint64_t{c.item});
      o.put(',');
      w.put(c.size);
    }
    o.put(']');
  }
  o.put("]}");
  return string(o.get());
}

string historyPage(const History& history, string_view dbName) {
  string json = historyJson(history, dbName);
  string page(kHistoryPageHead);
  page += documentElement("vorlith-history", {json, dbName});
  page += kHistoryPageTail;
  return page;
}

}  // namespace vorlith::report
