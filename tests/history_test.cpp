// The size history: runs recorded into SQLite and read back exactly, the files it refuses, the
// upgrade of an older database, many processes recording at once, and the table of the runs.
#include "history.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "history_report.h"
#include "support/run_exe.h"
#include "support/test_dir.h"
#include "vorlith.h"

namespace fs = std::filesystem;

namespace vorlith {
namespace {

using history::History;

// A build as the tests describe it: symbols by their group path and key, with sizes.
struct Sym {
  std::vector<std::string> path;  // the groups, then the key
  uint64_t size;
  std::string mangled = {};  // the key when empty
};

// A document of `symbols`, with the tree that owns its names.
struct Build {
  std::unique_ptr<SizeTree> tree = std::make_unique<SizeTree>();
  std::unique_ptr<std::deque<std::string>> names = std::make_unique<std::deque<std::string>>();
  Document doc;
};

Build build(const std::vector<Sym>& symbols) {
  Build b;
  uint64_t address = 0x1000;
  for (const Sym& s : symbols) {
    // The tree keeps views of the map's names: they live as long as the build.
    const std::string& mangled = b.names->emplace_back(s.mangled.empty() ? s.path.back() : s.mangled);
    fileSymbol(*b.tree, s.path, s.size, address, mangled, mangled, nullptr);
    address += 16;
  }
  b.doc = documentFromTree(b.tree->root);
  return b;
}

// "a › b" for an item of the history, from the top of the program.
std::string itemPath(const History& h, uint32_t item) {
  std::vector<std::string> names;
  for (uint32_t i = item; i != 0; i = h.items[i].parent) {
    names.push_back(h.items[i].name);
  }
  std::string path;
  for (const std::string& n : h.rootPath) {
    path += (path.empty() ? "" : " > ") + n;
  }
  for (auto n = names.rbegin(); n != names.rend(); ++n) {
    path += (path.empty() ? "" : " > ") + *n;
  }
  return path;
}

// Every group's total and every symbol's size in a document, by path; "" is the whole program.
std::map<std::string, uint64_t> sizesOf(const Document& doc, bool withSymbols) {
  std::map<std::string, uint64_t> sizes;
  auto join = [&doc](uint32_t group) {
    std::string path;
    for (std::string_view n : doc.pathOf(group)) {
      path += (path.empty() ? "" : " > ") + std::string(n);
    }
    return path;
  };
  for (uint32_t g = 0; g < doc.groups.size(); ++g) {
    sizes[join(g)] = doc.groups[g].total;
  }
  if (withSymbols) {
    for (const DocLeaf& leaf : doc.leaves) {
      std::string group = join(leaf.group);
      sizes["symbol " + group + (group.empty() ? "" : " > ") + std::string(leaf.key)] = leaf.size;
    }
  }
  return sizes;
}

// The same from the history, for each run: what is not 0 (an item absent from a run is 0).
std::vector<std::map<std::string, uint64_t>> sizesOf(const History& h) {
  std::vector<std::map<std::string, uint64_t>> runs;
  history::Replay replay(h);
  for (size_t r = 0; r < h.runs.size(); ++r) {
    replay.next();
    std::map<std::string, uint64_t> sizes;
    for (uint32_t i = 0; i < h.items.size(); ++i) {
      if (replay.sizes()[i] != 0) {
        sizes[(h.items[i].symbol ? "symbol " : "") + itemPath(h, i)] = replay.sizes()[i];
      }
    }
    runs.push_back(sizes);
  }
  return runs;
}

std::map<std::string, uint64_t> withoutZeros(std::map<std::string, uint64_t> sizes) {
  std::erase_if(sizes, [](const auto& entry) { return entry.second == 0; });
  return sizes;
}

// One SQL value from the database, as text.
std::string query(const fs::path& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  EXPECT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
  std::string result;
  sqlite3_exec(
      handle, sql.c_str(),
      [](void* out, int columns, char** values, char**) {
        for (int c = 0; c < columns; ++c) {
          *static_cast<std::string*>(out) += values[c] != nullptr ? values[c] : "NULL";
          *static_cast<std::string*>(out) += c + 1 < columns ? "|" : "\n";
        }
        return 0;
      },
      &result, nullptr);
  sqlite3_close(handle);
  return result;
}

void execute(const fs::path& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
  char* message = nullptr;
  int status = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &message);
  std::string what = message != nullptr ? message : "";
  sqlite3_free(message);
  sqlite3_close(handle);
  ASSERT_EQ(status, SQLITE_OK) << what;
}

std::string failureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(no failure)";
}

class HistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!history::available()) {
      GTEST_SKIP() << "built without SQLite";
    }
    dir_ = freshTestDirectory("history");
    db_ = dir_ / "size.db";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void record(const Build& b, const std::string& label, const std::string& options = "") {
    history::record(db_, {label, "2024-05-01T00:00:00Z", "app.map", options}, b.doc);
  }

  fs::path dir_;
  fs::path db_;
};

const std::vector<Sym> kFirst = {
    {{"std", "format", "write"}, 4096},
    {{"std", "format", "sink"}, 100},
    {{"std", "stdio", "writeln"}, 300},
    {{"app", "main"}, 48, "_Dmain"},
    {{"C symbols", "start"}, 16},
    // Past 2^63: SQL's integers are signed, the sizes wrap like every sum of sizes.
    {{"huge", "blob"}, (uint64_t{1} << 63) + 5},
};
// write grows, sink goes, a new symbol in a new group, the rest as it was.
const std::vector<Sym> kSecond = {
    {{"std", "format", "write"}, 8192},
    {{"std", "stdio", "writeln"}, 300},
    {{"std", "conv", "to"}, 64},
    {{"app", "main"}, 48, "_Dmain"},
    {{"C symbols", "start"}, 16},
    {{"huge", "blob"}, (uint64_t{1} << 63) + 5},
};

TEST_F(HistoryTest, ReadsBackEveryGroupAndSymbolOfEveryRun) {
  // A group with an empty name (names may be empty) keeps its place in the joined paths.
  std::vector<Sym> first = kFirst;
  first.push_back({{"", "inner", "k"}, 8});
  std::vector<Build> builds;
  builds.push_back(build(first));
  builds.push_back(build(kSecond));
  builds.push_back(build(kSecond));  // unchanged
  builds.push_back(build(first));    // back again: conv goes, sink returns
  for (size_t k = 0; k < builds.size(); ++k) {
    record(builds[k], "v" + std::to_string(k), k == 1 ? "--modern" : "");
  }
  History h = history::read(db_, {}, true);
  ASSERT_EQ(h.runs.size(), builds.size());
  std::vector<std::map<std::string, uint64_t>> got = sizesOf(h);
  for (size_t k = 0; k < builds.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(h.runs[k].label, "v" + std::to_string(k));
    EXPECT_EQ(h.runs[k].options, k == 1 ? "--modern" : "");
    EXPECT_EQ(h.runs[k].mapFile, "app.map");
    EXPECT_EQ(h.runs[k].total, builds[k].doc.root().total);
    EXPECT_TRUE(h.runs[k].symbols);
    EXPECT_EQ(got[k], withoutZeros(sizesOf(builds[k].doc, true)));
  }
  EXPECT_EQ(query(db_, "SELECT path FROM paths WHERE name = 'inner'"), " \xE2\x80\xBA inner\n");
  // The shown name of a symbol whose mangled name differs from its key.
  bool found = false;
  for (const history::Item& item : h.items) {
    found |= item.symbol && item.name == "main" && item.shown == "_Dmain";
  }
  EXPECT_TRUE(found);
  // Without symbols, the groups alone.
  History groups = history::read(db_, {}, false);
  for (const history::Item& item : groups.items) {
    EXPECT_FALSE(item.symbol) << item.name;
  }
  EXPECT_EQ(sizesOf(groups)[1], withoutZeros(sizesOf(builds[1].doc, false)));
}

TEST_F(HistoryTest, AnUnchangedBuildAddsGroupRowsButNoSymbolRows) {
  Build b = build(kSecond);
  record(b, "one");
  std::string symbolRows = query(db_, "SELECT count(*) FROM symbol_sizes");
  std::string symbols = query(db_, "SELECT count(*) FROM symbols");
  record(b, "two");
  EXPECT_EQ(query(db_, "SELECT count(*) FROM symbol_sizes"), symbolRows);
  EXPECT_EQ(query(db_, "SELECT count(*) FROM symbols"), symbols);
  EXPECT_EQ(query(db_, "SELECT count(*) FROM group_sizes WHERE run = 2"),
            std::to_string(b.doc.groups.size()) + "\n");
  // The schema reads as documented: a group's sizes over the runs by its joined path.
  EXPECT_EQ(query(db_, "SELECT r.label, g.size FROM group_sizes g JOIN runs r ON r.id = g.run "
                       "JOIN paths p ON p.id = g.path WHERE p.path = 'std \xE2\x80\xBA format' "
                       "ORDER BY r.id"),
            "one|8192\ntwo|8192\n");
}

// Thousands of symbols, as real maps have: the run's symbols are matched to the index in bulk,
// not one by one, and every one must still find its own row, including symbols whose keys are
// equal in other groups and whose mangled names differ from their keys.
TEST_F(HistoryTest, MatchesEverySymbolOfALargeBuildToItsOwnRow) {
  auto symbolsOf = [](uint64_t growth) {
    std::vector<Sym> symbols;
    for (uint64_t k = 0; k < 6000; ++k) {
      std::string group = "g" + std::to_string(k % 37);
      std::string key = "f" + std::to_string(k / 37);
      uint64_t size = 16 + k % 97 + (k % 11 == 0 ? growth : 0);
      symbols.push_back({{"top", group, key}, size, k % 5 == 0 ? "_Z" + key + group : ""});
    }
    return symbols;
  };
  Build first = build(symbolsOf(0));
  Build grown = build(symbolsOf(8));
  record(first, "one");
  record(first, "two");
  EXPECT_EQ(query(db_, "SELECT count(*) FROM symbols"), "6000\n");
  EXPECT_EQ(query(db_, "SELECT count(*) FROM symbol_sizes"), "6000\n");
  record(grown, "three");
  // One row for each symbol that grew (every eleventh), none for the rest, no symbol added.
  EXPECT_EQ(query(db_, "SELECT count(*) FROM symbols"), "6000\n");
  EXPECT_EQ(query(db_, "SELECT count(*) FROM symbol_sizes WHERE run = 3"), "546\n");
  History h = history::read(db_, {}, true);
  ASSERT_EQ(h.runs.size(), 3u);
  std::vector<std::map<std::string, uint64_t>> got = sizesOf(h);
  EXPECT_EQ(got[1], withoutZeros(sizesOf(first.doc, true)));
  EXPECT_EQ(got[2], withoutZeros(sizesOf(grown.doc, true)));
}

// The index that recording keeps beside the symbols is a copy: lost, stale or damaged, it is
// rebuilt from the tables and the history stays exact.
TEST_F(HistoryTest, RebuildsTheSymbolIndexFromTheTables) {
  const std::string damages[] = {
      "DELETE FROM symbol_index",
      "UPDATE symbol_index SET last_run = 0 WHERE part = -1",
      "UPDATE symbol_index SET entries = x'0102' WHERE part >= 0",
      "UPDATE symbol_index SET last_symbol = last_symbol + 1",
      // Entries of another form (zeros here, sorted and of the right length), said so by the
      // marker: they must not be trusted.
      "UPDATE symbol_index SET entries = CASE WHEN part = -1 THEN x'00' "
      "ELSE zeroblob(length(entries)) END",
  };
  for (const std::string& damage : damages) {
    SCOPED_TRACE(damage);
    fs::remove(db_);
    Build first = build(kFirst);
    Build second = build(kSecond);
    record(first, "one");
    execute(db_, damage);
    record(second, "two");
    record(first, "three");
    std::vector<std::map<std::string, uint64_t>> got = sizesOf(history::read(db_, {}, true));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1], withoutZeros(sizesOf(second.doc, true)));
    EXPECT_EQ(got[2], withoutZeros(sizesOf(first.doc, true)));
    EXPECT_EQ(query(db_, "SELECT count(*) FROM symbols"), "7\n");
  }
}

TEST_F(HistoryTest, LimitsTheViewToOneGroup) {
  Build first = build(kFirst);
  Build second = build(kSecond);
  record(first, "one");
  record(second, "two");
  History h = history::read(db_, {"std", "format"}, true);
  EXPECT_EQ(h.rootPath, (std::vector<std::string>{"std", "format"}));
  std::vector<std::map<std::string, uint64_t>> got = sizesOf(h);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (std::map<std::string, uint64_t>{{"std > format", 4196},
                                                     {"symbol std > format > write", 4096},
                                                     {"symbol std > format > sink", 100}}));
  EXPECT_EQ(got[1], (std::map<std::string, uint64_t>{{"std > format", 8192},
                                                     {"symbol std > format > write", 8192}}));
  // A group of a later run only: 0 before it.
  History conv = history::read(db_, {"std", "conv"}, false);
  history::Replay replay(conv);
  replay.next();
  EXPECT_EQ(replay.sizes()[0], 0u);
  replay.next();
  EXPECT_EQ(replay.sizes()[0], 64u);
  EXPECT_EQ(failureOf([&] { (void)history::read(db_, {"std", "nothing"}, false); }),
            db_.string() + ": no run has the group std \xE2\x80\xBA nothing");
}

TEST(HistoryGroupPath, SplitsAtEitherSeparator) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"std", {"std"}},
      {"std \xE2\x80\xBA format \xE2\x80\xBA write", {"std", "format", "write"}},
      {"std > format", {"std", "format"}},
      // With the real separator present, " > " is part of a name (operator> of C++).
      {"llvm \xE2\x80\xBA operator > ", {"llvm", "operator > "}},
      {"/ \xE2\x80\xBA usr", {"/", "usr"}},
  };
  for (const auto& [path, names] : cases) {
    EXPECT_EQ(history::splitGroupPath(path), names) << path;
  }
  for (std::string bad : {"", "std > ", " > std", "a \xE2\x80\xBA  \xE2\x80\xBA b"}) {
    EXPECT_THROW((void)history::splitGroupPath(bad), std::invalid_argument) << bad;
  }
}

// What is not a history is refused with a message and left exactly as it was.
TEST_F(HistoryTest, RefusesFilesThatAreNotItsHistoriesAndLeavesThemAlone) {
  Build b = build(kFirst);
  // A whole history to cut short.
  fs::path good = dir_ / "good.db";
  history::record(good, {"one", "t", "app.map", ""}, b.doc);
  history::record(good, {"two", "t", "app.map", ""}, build(kSecond).doc);
  std::string whole = slurp(good);
  ASSERT_GT(whole.size(), 8192u);

  struct Case {
    std::string name;
    std::string bytes;  // empty: made by SQL below
    std::string message;
  };
  std::vector<Case> cases = {
      {"notes.txt", "size notes\n", "not an SQLite database"},
      {"half.db", whole.substr(0, whole.size() / 2), "truncated"},
      {"page.db", whole.substr(0, 4096 + 100), "truncated"},
      {"header.db", whole.substr(0, 60), "truncated"},
      {"other.db", "", "not a vorlith history"},
      {"newer.db", "", "written by a newer vorlith"},
  };
  execute(dir_ / "other.db", "CREATE TABLE accounts (name TEXT); INSERT INTO accounts VALUES ('x')");
  history::record(dir_ / "newer.db", {"one", "t", "app.map", ""}, b.doc);
  execute(dir_ / "newer.db", "UPDATE vorlith_history SET version = 99");
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path file = dir_ / c.name;
    if (!c.bytes.empty()) {
      spit(file, c.bytes);
    }
    std::string before = slurp(file);
    std::string recording =
        failureOf([&] { history::record(file, {"x", "t", "app.map", ""}, b.doc); });
    std::string reading = failureOf([&] { (void)history::read(file, {}, true); });
    EXPECT_EQ(recording.rfind(file.string() + ": ", 0), 0u) << recording;
    EXPECT_NE(recording.find(c.message), std::string::npos) << recording;
    EXPECT_EQ(reading.rfind(file.string() + ": ", 0), 0u) << reading;
    EXPECT_NE(reading.find(c.message), std::string::npos) << reading;
    EXPECT_EQ(slurp(file), before);
    EXPECT_FALSE(fs::exists(file.string() + "-journal"));
  }
  // Reading never creates a file.
  EXPECT_NE(failureOf([&] { (void)history::read(dir_ / "none.db", {}, false); }), "(no failure)");
  EXPECT_FALSE(fs::exists(dir_ / "none.db"));
}

// A database of the version before (no symbols) is read as it is and upgraded in place by the
// next recording, its runs kept.
TEST_F(HistoryTest, UpgradesADatabaseOfTheVersionBefore) {
  execute(db_,
          "CREATE TABLE vorlith_history (version INTEGER NOT NULL);"
          "INSERT INTO vorlith_history VALUES (1);"
          "CREATE TABLE runs (id INTEGER PRIMARY KEY AUTOINCREMENT, label TEXT NOT NULL,"
          "  recorded_at TEXT NOT NULL, map_file TEXT NOT NULL, options TEXT NOT NULL,"
          "  total INTEGER NOT NULL);"
          "CREATE TABLE paths (id INTEGER PRIMARY KEY, parent INTEGER REFERENCES paths(id),"
          "  name TEXT NOT NULL, path TEXT NOT NULL, depth INTEGER NOT NULL, UNIQUE (parent, name));"
          "INSERT INTO paths VALUES (1, NULL, '', '', 0);"
          "CREATE INDEX paths_by_text ON paths (path);"
          "CREATE TABLE group_sizes (run INTEGER NOT NULL REFERENCES runs(id),"
          "  path INTEGER NOT NULL REFERENCES paths(id), size INTEGER NOT NULL,"
          "  PRIMARY KEY (run, path)) WITHOUT ROWID;"
          "INSERT INTO runs VALUES (1, 'old', '2023-01-01T00:00:00Z', 'app.map', '', 700);"
          "INSERT INTO paths VALUES (2, 1, 'std', 'std', 1), (3, 2, 'format', 'std \xE2\x80\xBA format', 2);"
          "INSERT INTO group_sizes VALUES (1, 1, 700), (1, 2, 500), (1, 3, 200);");
  History old = history::read(db_, {}, true);
  ASSERT_EQ(old.runs.size(), 1u);
  EXPECT_FALSE(old.runs[0].symbols);
  EXPECT_EQ(sizesOf(old)[0], (std::map<std::string, uint64_t>{
                                 {"", 700}, {"std", 500}, {"std > format", 200}}));
  EXPECT_EQ(query(db_, "SELECT version FROM vorlith_history"), "1\n");  // reading changed nothing

  Build b = build(kFirst);
  record(b, "new");
  EXPECT_EQ(query(db_, "SELECT version FROM vorlith_history"),
            std::to_string(history::kSchemaVersion) + "\n");
  History h = history::read(db_, {}, true);
  ASSERT_EQ(h.runs.size(), 2u);
  EXPECT_FALSE(h.runs[0].symbols);
  EXPECT_TRUE(h.runs[1].symbols);
  std::vector<std::map<std::string, uint64_t>> got = sizesOf(h);
  EXPECT_EQ(got[0], (std::map<std::string, uint64_t>{
                        {"", 700}, {"std", 500}, {"std > format", 200}}));
  EXPECT_EQ(got[1], withoutZeros(sizesOf(b.doc, true)));
}

// Eight processes record into one new file at once: every run is there, whole, and the file
// passes SQLite's own check.
TEST_F(HistoryTest, EightProcessesRecordingAtOnceLoseNothing) {
  const fs::path map = fs::path(VORLITH_TEST_DATA) / "gnu-ld-gdc.map";
  constexpr int kProcesses = 8;
  std::vector<pid_t> pids;
  for (int k = 0; k < kProcesses; ++k) {
    fs::path work = dir_ / ("job" + std::to_string(k));
    fs::create_directories(work);
    std::vector<std::string> argv{"vorlith", "--record=" + db_.string(),
                                  "--label=job" + std::to_string(k), map.string(), "app.json"};
    if (k % 2 == 1) {
      argv.insert(argv.begin() + 1, "--modern");
    }
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::vector<char*> args;
      for (std::string& a : argv) {
        args.push_back(a.data());
      }
      args.push_back(nullptr);
      if (::chdir(work.c_str()) != 0) {
        _exit(126);
      }
      ::execv(VORLITH_EXE, args.data());
      _exit(127);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_EQ(query(db_, "PRAGMA integrity_check"), "ok\n");
  History h = history::read(db_, {}, true);
  ASSERT_EQ(h.runs.size(), static_cast<size_t>(kProcesses));
  std::set<std::string> labels;
  std::vector<std::map<std::string, uint64_t>> got = sizesOf(h);
  for (size_t r = 0; r < h.runs.size(); ++r) {
    labels.insert(h.runs[r].label);
    int k = std::stoi(h.runs[r].label.substr(3));
    std::string text = slurp(dir_ / ("job" + std::to_string(k)) / "app.json");
    Document doc = readDocument(documentJson(text));
    EXPECT_EQ(got[r], withoutZeros(sizesOf(doc, true))) << h.runs[r].label;
    EXPECT_EQ(h.runs[r].options, k % 2 == 1 ? "--modern" : "");
  }
  EXPECT_EQ(labels.size(), static_cast<size_t>(kProcesses));
}

// The groups that changed most are followed down while one sub-group carries the whole change.
TEST(HistoryChanges, NamesTheDeepestGroupThatHoldsEachLargeChange) {
  History h;
  // 0 root; 1 std; 2 std>format; 3 std>format>write; 4 app; 5 app>a; 6 app>b; 7 C; 8 small
  auto group = [](uint32_t parent, std::string name) {
    return history::Item{parent, std::move(name), "", false, ""};
  };
  h.items = {group(0, ""),    group(0, "std"), group(1, "format"), group(2, "write"),
             group(0, "app"), group(4, "a"),   group(4, "b"),      group(0, "C"),
             group(0, "small"), history::Item{3, "f", "", true, ""}};
  std::vector<uint64_t> before = {1000, 500, 400, 300, 300, 100, 200, 100, 100, 300};
  std::vector<uint64_t> after = {1700, 1000, 900, 800, 500, 200, 300, 0, 101, 800};
  std::vector<report::GroupChange> got = report::groupsThatChangedMost(h, before, after, 3);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].item, 3u);  // std's +500 lies in std > format > write (not in the symbol f)
  EXPECT_EQ(static_cast<int64_t>(got[0].delta), 500);
  EXPECT_EQ(got[1].item, 4u);  // app's +200 is spread over a and b
  EXPECT_EQ(got[2].item, 7u);  // -100, larger than small's +1
  EXPECT_EQ(static_cast<int64_t>(got[2].delta), -100);
  EXPECT_TRUE(report::groupsThatChangedMost(h, before, before, 3).empty());
}

TEST_F(HistoryTest, TableListsEveryRunWithItsChangeWithinTheLineWidth) {
  std::vector<Sym> long_ = kSecond;
  long_.push_back({{std::string(150, 'n'), "x"}, 7});
  record(build(kFirst), "first");
  record(build(kSecond), "second");
  record(build(long_), std::string(80, 'L') + "\x1b[31m");
  History h = history::read(db_, {}, false);
  std::string table = report::historyTable(h, "size.db");
  uint64_t first = build(kFirst).doc.root().total;
  uint64_t second = build(kSecond).doc.root().total;
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = table.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(table.substr(start, end - start));
    EXPECT_LE(report::columns(lines.back()), report::kLineWidth) << lines.back();
  }
  EXPECT_EQ(table.find('\x1b'), std::string::npos);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "History of size.db: 3 runs, 2024-05-01T00:00:00Z to 2024-05-01T00:00:00Z");
  EXPECT_NE(lines[3].find("first"), std::string::npos);
  EXPECT_NE(lines[3].find(" " + std::to_string(first) + " "), std::string::npos) << lines[3];
  EXPECT_NE(lines[4].find(" " + std::to_string(second) + " "), std::string::npos) << lines[4];
  EXPECT_NE(lines[4].find("+" + std::to_string(second - first)), std::string::npos) << lines[4];
  // Below the second run: std grew by 4096 - 100 + 64, spread over format and conv.
  EXPECT_NE(lines[5].find("+4060  std"), std::string::npos) << lines[5];
  EXPECT_EQ(lines[5].substr(lines[5].size() - 3), "std");
}

// --record on the command line: the document is written as without it, the run is in the
// history, and a history that is the map or the document is refused before anything is read.
TEST_F(HistoryTest, RecordsFromTheCommandLineAndNeverOverwritesTheHistory) {
  const std::string map = (fs::path(VORLITH_TEST_DATA) / "gnu-ld-gdc.map").string();
  RunResult plain = runVorlith(dir_, {"vorlith", map, "plain.json"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  RunResult recorded =
      runVorlith(dir_, {"vorlith", "--record=size.db", "--label=v1", map, "recorded.json"});
  ASSERT_EQ(recorded.status, 0) << recorded.err;
  EXPECT_EQ(slurp(dir_ / "plain.json"), slurp(dir_ / "recorded.json"));
  EXPECT_EQ(query(db_, "SELECT label, map_file, options FROM runs"), "v1|" + map + "|\n");

  std::string before = slurp(db_);
  RunResult onto = runVorlith(dir_, {"vorlith", "--record=size.db", map, "size.db"});
  EXPECT_EQ(onto.status, 1);
  EXPECT_EQ(onto.err,
            "--record=size.db names the file of the output size.db: refused, one would "
            "overwrite the other\n");
  // The history command, not a map called "history": the database is kept.
  RunResult table = runVorlith(dir_, {"vorlith", "history", "size.db"});
  EXPECT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.out.rfind("History of size.db: 1 run, ", 0), 0u) << table.out;
  RunResult page = runVorlith(dir_, {"vorlith", "--html=size.db", "history", "size.db"});
  EXPECT_EQ(page.status, 1);
  EXPECT_EQ(slurp(db_), before);
  // --base=DB compares with the last run recorded with the same options, as with its document.
  const std::string later = (fs::path(VORLITH_TEST_DATA) / "history" / "002-gdc.map").string();
  RunResult viaDocument =
      runVorlith(dir_, {"vorlith", "--summary=5", "--base=recorded.json", later, "c.json"});
  RunResult viaHistory =
      runVorlith(dir_, {"vorlith", "--summary=5", "--base=size.db", later, "c.json"});
  ASSERT_EQ(viaHistory.status, 0) << viaHistory.err;
  auto comparison = [](std::string text, std::string oldName) {
    text = text.substr(text.find("Comparison of c.json with " + oldName));
    return text.substr(text.find('\n'));
  };
  EXPECT_EQ(comparison(viaHistory.out, "size.db"), comparison(viaDocument.out, "recorded.json"));
  RunResult modern = runVorlith(dir_, {"vorlith", "--modern", "--base=size.db", later, "d.json"});
  EXPECT_EQ(modern.status, 1);
  EXPECT_EQ(modern.err, "size.db: no run with its symbols was recorded with --modern\n");
  // The default label is the time, in the documented form.
  ASSERT_EQ(runVorlith(dir_, {"vorlith", "--record=size.db", map, "b.json"}).status, 0);
  std::string label = query(db_, "SELECT label = recorded_at, length(label) FROM runs WHERE id = 2");
  EXPECT_EQ(label, "1|20\n");
}

}  // namespace
}  // namespace vorlith
