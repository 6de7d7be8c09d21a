#include "history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "file_io.h"
#include "pages.h"

#ifdef VORLITH_SQLITE
#include <sqlite3.h>
#endif

namespace vorlith::history {

using std::string;
using std::string_view;

namespace {

constexpr char kSqliteMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                   'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};

// The first `limit` bytes of a file (fewer when it is shorter), and its size; -1 as the size when
// it does not exist.
struct FileHead {
  string bytes;
  int64_t size = -1;
};

FileHead readHead(const string& fileName, size_t limit) {
  FileHead head;
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) {
      failOnFile(fileName, errno);
    }
    return head;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    int error = errno;
    ::close(fd);
    failOnFile(fileName, error);
  }
  head.size = status.st_size;
  head.bytes.resize(limit);
  head.bytes.resize(readFully(fd, head.bytes.data(), limit, 0).got);
  ::close(fd);
  return head;
}

uint32_t bigEndian(string_view bytes, size_t at, size_t length) {
  uint32_t n = 0;
  for (size_t k = 0; k < length; ++k) {
    n = n << 8 | static_cast<unsigned char>(bytes[at + k]);
  }
  return n;
}

// Refuses a file that is not an SQLite database, or that is shorter than its own header says
// (cut short by a copy or a full disk): SQLite would find out only when it reads a missing page,
// and a write could build on the hole. Called while the file is locked.
constexpr size_t kHeader = 100;

void checkHeader(const string& fileName, const FileHead& head) {
  if (head.size <= 0) {
    return;  // a new database
  }
  if (head.bytes.size() < sizeof kSqliteMagic ||
      std::memcmp(head.bytes.data(), kSqliteMagic, sizeof kSqliteMagic) != 0) {
    throw std::runtime_error(fileName + ": not an SQLite database");
  }
  if (head.bytes.size() < kHeader) {
    throw std::runtime_error(fileName + ": truncated (shorter than an SQLite header)");
  }
  uint64_t pageSize = bigEndian(head.bytes, 16, 2);
  pageSize = pageSize == 1 ? 65536 : pageSize;
  uint32_t pages = bigEndian(head.bytes, 28, 4);
  bool pagesValid = bigEndian(head.bytes, 24, 4) == bigEndian(head.bytes, 92, 4);
  auto size = static_cast<uint64_t>(head.size);
  if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0) {
    throw std::runtime_error(fileName + ": not an SQLite database (its page size is wrong)");
  }
  if (size % pageSize != 0 || (pagesValid && size < pages * pageSize)) {
    throw std::runtime_error(fileName + ": truncated (" + std::to_string(size) +
                             " bytes; its header says " + std::to_string(pages * pageSize) + ")");
  }
}

// The same for a file that nothing has open: never for one that SQLite has open, since closing
// any descriptor of a file drops every POSIX lock this process holds on it.
void checkWhole(const string& fileName) {
  checkHeader(fileName, readHead(fileName, kHeader));
}

}  // namespace

bool looksLikeDatabase(const string& fileName) {
  try {
    FileHead head = readHead(fileName, sizeof kSqliteMagic);
    return head.bytes.size() == sizeof kSqliteMagic &&
           std::memcmp(head.bytes.data(), kSqliteMagic, sizeof kSqliteMagic) == 0;
  } catch (const std::runtime_error&) {
    return false;  // unreadable: not taken for a database; whoever opens it says why
  }
}

string utcNow() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  ::gmtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::vector<string> splitGroupPath(string_view path) {
  string_view separator = kPathSeparator;
  if (path.find(separator) == string_view::npos && path.find(" > ") != string_view::npos) {
    separator = " > ";
  }
  std::vector<string> names;
  for (;;) {
    size_t at = path.find(separator);
    names.emplace_back(path.substr(0, at));
    if (names.back().empty()) {
      throw std::invalid_argument("a group path is names joined by \" \xE2\x80\xBA \" or \" > \"");
    }
    if (at == string_view::npos) {
      return names;
    }
    path.remove_prefix(at + separator.size());
  }
}

#ifndef VORLITH_SQLITE

bool available() {
  return false;
}

string unavailableMessage() {
  return "this vorlith was built without SQLite, which the history needs: install it "
         "(Debian: apt-get install libsqlite3-dev) and build vorlith again";
}

void record(const string&, const RunInfo&, const Document&) {
  throw std::runtime_error(unavailableMessage());
}

History read(const string&, const std::vector<string>&, bool) {
  throw std::runtime_error(unavailableMessage());
}

RecordedRun readLastRun(const string&, string_view) {
  throw std::runtime_error(unavailableMessage());
}

#else

namespace {

// Seconds a run waits for others that are recording into the same file. Recording the run of a
// large program takes about a second, so even many jobs at once finish well inside it.
constexpr int kBusyTimeoutMs = 10 * 60 * 1000;

// The schema, one version after another: a new database runs every step, an older one the steps
// past its version, each in the transaction that records the run. Version 1 had no symbols.
constexpr const char* kSchemaSteps[] = {
    // 0 -> 1
    "CREATE TABLE vorlith_history (version INTEGER NOT NULL);"
    "INSERT INTO vorlith_history VALUES (1);"
    "CREATE TABLE runs ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  label TEXT NOT NULL,"
    "  recorded_at TEXT NOT NULL,"
    "  map_file TEXT NOT NULL,"
    "  options TEXT NOT NULL,"
    "  total INTEGER NOT NULL);"
    "CREATE TABLE paths ("
    "  id INTEGER PRIMARY KEY,"
    "  parent INTEGER REFERENCES paths(id),"
    "  name TEXT NOT NULL,"
    "  path TEXT NOT NULL,"
    "  depth INTEGER NOT NULL,"
    "  UNIQUE (parent, name));"
    "INSERT INTO paths VALUES (1, NULL, '', '', 0);"
    "CREATE INDEX paths_by_text ON paths (path);"
    "CREATE TABLE group_sizes ("
    "  run INTEGER NOT NULL REFERENCES runs(id),"
    "  path INTEGER NOT NULL REFERENCES paths(id),"
    "  size INTEGER NOT NULL,"
    "  PRIMARY KEY (run, path)) WITHOUT ROWID;",
    // 1 -> 2
    "ALTER TABLE runs ADD COLUMN symbols_recorded INTEGER NOT NULL DEFAULT 0;"
    "CREATE TABLE symbols ("
    "  id INTEGER PRIMARY KEY,"
    "  path INTEGER NOT NULL REFERENCES paths(id),"
    "  key TEXT NOT NULL,"
    "  mangled_name TEXT,"
    "  shown_name TEXT);"
    "CREATE TABLE symbol_sizes ("
    "  run INTEGER NOT NULL REFERENCES runs(id),"
    "  symbol INTEGER NOT NULL REFERENCES symbols(id),"
    "  size INTEGER NOT NULL,"
    "  PRIMARY KEY (run, symbol)) WITHOUT ROWID;"
    "CREATE INDEX symbol_sizes_by_symbol ON symbol_sizes (symbol, run);"
    "CREATE TABLE symbol_index ("
    "  part INTEGER PRIMARY KEY,"
    "  last_run INTEGER NOT NULL,"
    "  last_symbol INTEGER NOT NULL,"
    "  entries BLOB NOT NULL);"
    "UPDATE vorlith_history SET version = 2;",
};
static_assert(std::size(kSchemaSteps) == kSchemaVersion);

// SQL stores signed 64-bit integers: sizes past 2^63 - 1 travel as their bit pattern.
int64_t toSql(uint64_t n) {
  return static_cast<int64_t>(n);
}
uint64_t fromSql(int64_t n) {
  return static_cast<uint64_t>(n);
}

class Statement;

// One connection, closed on every path; every failure names the file.
class Database {
 public:
  Database(string fileName, bool writable) : fileName_(std::move(fileName)) {
    int flags = writable ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    flags |= SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
    int status = sqlite3_open_v2(fileName_.c_str(), &db_, flags, nullptr);
    if (status != SQLITE_OK) {
      string what = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(status);
      sqlite3_close(db_);
      db_ = nullptr;
      throw std::runtime_error(fileName_ + ": " + what);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  ~Database() { sqlite3_close_v2(db_); }

  // Runs statements that return no rows.
  void exec(const char* sql) {
    char* message = nullptr;
    int status = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (status != SQLITE_OK) {
      string what = message != nullptr ? message : sqlite3_errstr(status);
      sqlite3_free(message);
      fail(status, what);
    }
  }

  [[noreturn]] void fail(int status) const { fail(status, sqlite3_errmsg(db_)); }
  [[noreturn]] void fail(int status, const string& what) const {
    int primary = status & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
      throw std::runtime_error(fileName_ + ": still locked by another process after " +
                               std::to_string(kBusyTimeoutMs / 1000) + " s (" + what + ")");
    }
    if (primary == SQLITE_NOTADB) {
      throw std::runtime_error(fileName_ + ": not an SQLite database (" + what + ")");
    }
    if (primary == SQLITE_CORRUPT) {
      throw std::runtime_error(fileName_ + ": the database is damaged (" + what + ")");
    }
    throw std::runtime_error(fileName_ + ": " + what);
  }

  sqlite3* handle() const { return db_; }
  const string& fileName() const { return fileName_; }

 private:
  string fileName_;
  sqlite3* db_ = nullptr;
};

// A prepared statement, reset for each use.
class Statement {
 public:
  Statement(Database& db, const char* sql) : db_(db) {
    int status = sqlite3_prepare_v3(db_.handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_,
                                    nullptr);
    if (status != SQLITE_OK) {
      db_.fail(status);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(stmt_); }

  Statement& bind(int at, int64_t n) {
    check(sqlite3_bind_int64(stmt_, at, n));
    return *this;
  }
  Statement& bindNull(int at) {
    check(sqlite3_bind_null(stmt_, at));
    return *this;
  }
  // The text must stay until the statement has run.
  Statement& bind(int at, string_view text) {
    check(sqlite3_bind_text64(stmt_, at, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8));
    return *this;
  }

  // The bytes must stay until the statement has run.
  Statement& bindBlob(int at, string_view bytes) {
    // A null pointer would bind NULL rather than an empty blob.
    const char* data = bytes.data() != nullptr ? bytes.data() : "";
    check(sqlite3_bind_blob64(stmt_, at, data, bytes.size(), SQLITE_STATIC));
    return *this;
  }
  sqlite3_stmt* handle() { return stmt_; }

  // Steps once: true while there is a row to read.
  bool step() {
    int status = sqlite3_step(stmt_);
    if (status == SQLITE_ROW) {
      return true;
    }
    if (status != SQLITE_DONE) {
      int code = sqlite3_extended_errcode(db_.handle());
      sqlite3_reset(stmt_);
      db_.fail(code);
    }
    return false;
  }
  // Runs a statement that returns no rows, and makes it ready for the next.
  void run() {
    step();
    reset();
  }
  void reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

  int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
  bool isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
  string_view text(int column) const {
    auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return bytes == nullptr ? string_view()
                            : string_view(bytes, static_cast<size_t>(
                                                     sqlite3_column_bytes(stmt_, column)));
  }

 private:
  void check(int status) {
    if (status != SQLITE_OK) {
      db_.fail(status);
    }
  }
  Database& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// The schema version of an open database: 0 when it holds no tables at all (new), else the
// version it states. A database with tables but without a version is someone else's.
int schemaVersion(Database& db) {
  Statement tables(db, "SELECT count(*), count(*) FILTER (WHERE name = 'vorlith_history') "
                       "FROM sqlite_schema WHERE type = 'table'");
  tables.step();
  int64_t count = tables.integer(0);
  bool ours = tables.integer(1) != 0;
  if (count == 0) {
    return 0;
  }
  if (!ours) {
    throw std::runtime_error(db.fileName() +
                             ": an SQLite database, but not a vorlith history (it has no table "
                             "vorlith_history); choose another file");
  }
  Statement version(db, "SELECT version FROM vorlith_history");
  if (!version.step()) {
    throw std::runtime_error(db.fileName() + ": the table vorlith_history states no version");
  }
  int64_t n = version.integer(0);
  if (n < 1 || n > kSchemaVersion) {
    throw std::runtime_error(db.fileName() + ": a history of version " + std::to_string(n) +
                             ", written by a newer vorlith; this one reads versions 1 to " +
                             std::to_string(kSchemaVersion));
  }
  return static_cast<int>(n);
}

// Checks the file of an open database through SQLite's own handle of it, which keeps its locks.
void checkWhole(Database& db) {
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db.handle(), "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
      file == nullptr || file->pMethods == nullptr) {
    return;
  }
  FileHead head;
  sqlite3_int64 size = 0;
  if (file->pMethods->xFileSize(file, &size) != SQLITE_OK) {
    return;
  }
  head.size = size;
  head.bytes.assign(static_cast<size_t>(std::min<sqlite3_int64>(size, kHeader)), '\0');
  if (!head.bytes.empty() &&
      file->pMethods->xRead(file, head.bytes.data(), static_cast<int>(head.bytes.size()), 0) !=
          SQLITE_OK) {
    return;
  }
  checkHeader(db.fileName(), head);
}

// Begins the transaction of a run: with `write`, the database is locked for writing at once, so
// that two runs never both read and then both wait to write. Then the file is checked whole.
void begin(Database& db, bool write) {
  db.exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
  // The first read takes the shared lock and rolls back what a crashed writer left behind; only
  // then does the file's size say what is committed.
  Statement first(db, "SELECT count(*) FROM sqlite_schema");
  first.step();
  checkWhole(db);
}

// The group paths already recorded, keyed by their parent's id and their name.
class PathTable {
 public:
  explicit PathTable(Database& db)
      : insert_(db, "INSERT INTO paths (parent, name, path, depth) VALUES (?, ?, ?, ?)"),
        db_(db) {
    Statement all(db, "SELECT id, parent, name FROM paths");
    while (all.step()) {
      if (all.isNull(1)) {
        root_ = all.integer(0);
        continue;
      }
      ids_.emplace(key(all.integer(1), all.text(2)), all.integer(0));
    }
    if (root_ == 0) {
      throw std::runtime_error(db.fileName() + ": the history has no root path");
    }
  }

  int64_t root() const { return root_; }

  // The id of the group `name` under `parent`, added with its joined path when new.
  int64_t id(int64_t parent, string_view name, const string& parentText, int64_t depth) {
    auto [at, added] = ids_.try_emplace(key(parent, name), 0);
    if (!added) {
      return at->second;
    }
    string text = depth == 1 ? string(name) : parentText + string(kPathSeparator) + string(name);
    insert_.bind(1, parent).bind(2, name).bind(3, string_view(text)).bind(4, depth).run();
    at->second = sqlite3_last_insert_rowid(db_.handle());
    return at->second;
  }

 private:
  static string key(int64_t parent, string_view name) {
    string k(reinterpret_cast<const char*>(&parent), sizeof parent);
    k += name;
    return k;
  }
  std::unordered_map<string, int64_t> ids_;
  int64_t root_ = 0;
  Statement insert_;
  Database& db_;
};

// A symbol's identity for the index: two 64-bit hashes of its group's path id, its key and its
// mangled name, so that two symbols share both only by a chance of about 2^-128 per pair.
struct SymbolHash {
  uint64_t a = 0;
  uint64_t b = 0;
  bool operator==(const SymbolHash&) const = default;
  bool operator<(const SymbolHash& o) const { return a != o.a ? a < o.a : b < o.b; }
};

// Little-endian words, however this machine orders its bytes.
uint64_t loadWord(const void* at) {
  uint64_t n = 0;
  std::memcpy(&n, at, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  n = __builtin_bswap64(n);
#endif
  return n;
}
void storeWord(char* at, uint64_t n) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  n = __builtin_bswap64(n);
#endif
  std::memcpy(at, &n, 8);
}

// Two lanes over the text eight bytes at a time; the length closes each text, so "ab" + "c" and
// "a" + "bc" differ.
struct TwoLaneHash {
  uint64_t a = 0xcbf29ce484222325ull;
  uint64_t b = 0x9e3779b97f4a7c15ull;

  void word(uint64_t w) {
    a = (a ^ w) * 0x100000001b3ull;
    a ^= a >> 32;
    b = (b + w) * 0xff51afd7ed558ccdull;
    b ^= b >> 29;
  }
  void text(string_view t) {
    size_t k = 0;
    for (; k + 8 <= t.size(); k += 8) {
      word(loadWord(t.data() + k));
    }
    char tail[8] = {};
    std::memcpy(tail, t.data() + k, t.size() - k);
    word(loadWord(tail));
    word(t.size());
  }
};

// Sorts `items` by `less`, where `lead(item)` is the top word of each item's hash, evenly spread
// as hashes are: a counting pass on its top bits puts the items in buckets, in order, of a few
// items each, and each bucket is then sorted whole. Linear in the count, where a comparison sort
// of a run's symbols cost as much as the rest of recording together.
template <typename T, typename Lead, typename Less>
void sortByHash(std::vector<T>& items, Lead lead, Less less) {
  size_t n = items.size();
  if (n < 64 || n > UINT32_MAX) {
    std::sort(items.begin(), items.end(), less);
    return;
  }
  unsigned bits = 1;
  while (bits < 20 && (size_t{4} << bits) < n) {
    ++bits;
  }
  std::vector<uint32_t> starts((size_t{1} << bits) + 1, 0);
  for (const T& item : items) {
    ++starts[(lead(item) >> (64 - bits)) + 1];
  }
  for (size_t b = 1; b < starts.size(); ++b) {
    starts[b] += starts[b - 1];
  }
  std::vector<T> sorted;
  sorted.reserve(n);
  adviseHugePages(sorted.data(), n * sizeof(T));
  sorted.resize(n);
  std::vector<uint32_t> next(starts.begin(), starts.end() - 1);
  for (T& item : items) {
    sorted[next[lead(item) >> (64 - bits)]++] = std::move(item);
  }
  for (size_t b = 0; b + 1 < starts.size(); ++b) {
    if (starts[b + 1] - starts[b] > 1) {
      std::sort(sorted.begin() + starts[b], sorted.begin() + starts[b + 1], less);
    }
  }
  items = std::move(sorted);
}

// The mangled name is hashed only where it differs from the key (C++ names that the linker
// wrote demangled are their own keys): the table stores it as NULL there, and reads it back so.
SymbolHash symbolHash(int64_t path, string_view key, std::optional<string_view> mangled) {
  TwoLaneHash h;
  h.word(static_cast<uint64_t>(path));
  h.text(key);
  if (mangled) {
    h.text(*mangled);
  } else {
    h.word(~uint64_t{0});  // no text ends so: its last word is its length
  }
  return {h.a, h.b};
}

// The mangled name as the table keeps it: none when it is the key.
std::optional<string_view> distinctMangled(const DocLeaf& leaf) {
  if (leaf.mangledName == leaf.key) {
    return std::nullopt;
  }
  return leaf.mangledName;
}

// What the index knows of a symbol: its id and its size in the last run (0: not in it).
struct IndexEntry {
  SymbolHash hash;
  int64_t id = 0;
  uint64_t lastSize = 0;
};

constexpr size_t kEntryBytes = 32;

// The symbols recorded so far, found by their hash. The symbols and their sizes are the tables
// symbols and symbol_sizes; the index is a packed copy of what recording needs of them, kept in
// step by every run and rebuilt from the tables when it is not. It is stored in parts by the top
// bits of the hash, so that a run rewrites only the parts whose symbols changed; the row of part
// -1 says which run and which last symbol the index reflects, and the form of its entries.
class SymbolIndex {
 public:
  SymbolIndex(Database& db, int64_t lastRun) : db_(db), dirty_(kParts, false) {
    Statement last(db, "SELECT ifnull(max(id), 0) FROM symbols");
    last.step();
    int64_t lastSymbol = last.integer(0);
    // Room for every entry at once: growing by doubling would copy the index several times.
    Statement bytes(db, "SELECT ifnull(sum(length(entries)), 0) FROM symbol_index WHERE part >= 0");
    bytes.step();
    entries_.reserve(static_cast<size_t>(bytes.integer(0)) / kEntryBytes);
    adviseHugePages(entries_.data(), entries_.capacity() * sizeof(IndexEntry));
    Statement parts(db, "SELECT part, last_run, last_symbol, entries FROM symbol_index ORDER BY part");
    bool inStep = false;
    while (parts.step()) {
      if (parts.integer(0) == kMarker) {
        inStep = parts.integer(1) == lastRun && parts.integer(2) == lastSymbol &&
                 blobOf(parts, 3) == kIndexFormat;
        continue;
      }
      auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(parts.handle(), 3));
      auto length = static_cast<size_t>(sqlite3_column_bytes(parts.handle(), 3));
      inStep = inStep && length % kEntryBytes == 0;
      for (size_t at = 0; inStep && at < length; at += kEntryBytes) {
        entries_.push_back({{loadWord(bytes + at), loadWord(bytes + at + 8)},
                            static_cast<int64_t>(loadWord(bytes + at + 16)),
                            loadWord(bytes + at + 24)});
      }
    }
    inStep = inStep && std::is_sorted(entries_.begin(), entries_.end(), byHash);
    if (!inStep) {
      rebuild();
    }
  }

  std::vector<IndexEntry>& entries() { return entries_; }

  // Notes that the part that holds `hash` must be written again.
  void touch(const SymbolHash& hash) { dirty_[partOf(hash)] = true; }

  // Writes the parts that changed, with the symbols `added` by run `run`.
  void save(int64_t run, std::vector<IndexEntry>& added) {
    sortByHash(added, leadOf, byHash);
    for (const IndexEntry& entry : added) {
      touch(entry.hash);
    }
    if (!added.empty()) {
      size_t old = entries_.size();
      entries_.insert(entries_.end(), added.begin(), added.end());
      std::inplace_merge(entries_.begin(), entries_.begin() + static_cast<ptrdiff_t>(old),
                         entries_.end(), byHash);
    }
    Statement last(db_, "SELECT ifnull(max(id), 0) FROM symbols");
    last.step();
    int64_t lastSymbol = last.integer(0);
    Statement insert(db_, "INSERT OR REPLACE INTO symbol_index VALUES (?, ?, ?, ?)");
    insert.bind(1, kMarker).bind(2, run).bind(3, lastSymbol).bindBlob(4, kIndexFormat).run();
    auto entry = entries_.begin();
    for (size_t part = 0; part < kParts; ++part) {
      auto end = std::find_if(entry, entries_.end(),
                              [part](const IndexEntry& e) { return partOf(e.hash) != part; });
      if (dirty_[part]) {
        string blob(static_cast<size_t>(end - entry) * kEntryBytes, '\0');
        char* at = blob.data();
        for (auto e = entry; e != end; ++e, at += kEntryBytes) {
          storeWord(at, e->hash.a);
          storeWord(at + 8, e->hash.b);
          storeWord(at + 16, static_cast<uint64_t>(e->id));
          storeWord(at + 24, e->lastSize);
        }
        insert.bind(1, static_cast<int64_t>(part)).bind(2, run).bind(3, lastSymbol);
        insert.bindBlob(4, blob).run();
      }
      entry = end;
    }
  }

 private:
  static constexpr size_t kParts = 64;
  static constexpr int64_t kMarker = -1;
  // The marker's bytes name the hash and the entries' layout: an index of another is rebuilt.
  static constexpr string_view kIndexFormat = "two-lane-1";
  static string_view blobOf(Statement& row, int column) {
    const void* bytes = sqlite3_column_blob(row.handle(), column);
    return bytes == nullptr ? string_view()
                            : string_view(static_cast<const char*>(bytes),
                                          static_cast<size_t>(sqlite3_column_bytes(row.handle(), column)));
  }
  static size_t partOf(const SymbolHash& hash) { return static_cast<size_t>(hash.a >> 58); }
  static bool byHash(const IndexEntry& x, const IndexEntry& y) { return x.hash < y.hash; }
  static uint64_t leadOf(const IndexEntry& e) { return e.hash.a; }

  // From the tables: every symbol, and its size in its latest row.
  void rebuild() {
    entries_.clear();
    std::unordered_map<int64_t, uint64_t> lastSizes;
    Statement sizes(db_, "SELECT symbol, size, max(run) FROM symbol_sizes GROUP BY symbol");
    while (sizes.step()) {
      lastSizes[sizes.integer(0)] = fromSql(sizes.integer(1));
    }
    Statement all(db_, "SELECT id, path, key, mangled_name FROM symbols");
    while (all.step()) {
      auto size = lastSizes.find(all.integer(0));
      std::optional<string_view> mangled;
      if (!all.isNull(3)) {
        mangled = all.text(3);
      }
      entries_.push_back({symbolHash(all.integer(1), all.text(2), mangled), all.integer(0),
                          size == lastSizes.end() ? 0 : size->second});
    }
    sortByHash(entries_, leadOf, byHash);
    db_.exec("DELETE FROM symbol_index");
    dirty_.assign(kParts, true);
  }

  Database& db_;
  std::vector<IndexEntry> entries_;
  std::vector<bool> dirty_;
};

void upgrade(Database& db, int from) {
  for (int step = from; step < kSchemaVersion; ++step) {
    db.exec(kSchemaSteps[step]);
  }
}

}  // namespace

// Adds the run's symbols: a row in symbols for each one not seen before, and a row in
// symbol_sizes for each whose size differs from its size in the run before (0 for one that
// went), so that a run of an unchanged build adds almost nothing.
void recordSymbols(Database& db, int64_t runId, const Document& doc,
                   const std::vector<int64_t>& pathIds) {
  Statement before(db, "SELECT ifnull(max(id), 0) FROM runs WHERE id < ?");
  before.bind(1, runId);
  before.step();
  SymbolIndex index(db, before.integer(0));
  Statement insertSymbol(
      db, "INSERT INTO symbols (path, key, mangled_name, shown_name) VALUES (?, ?, ?, ?)");
  Statement insertSize(db, "INSERT INTO symbol_sizes (run, symbol, size) VALUES (?, ?, ?)");
  auto sizeRow = [&](int64_t symbol, uint64_t size) {
    insertSize.bind(1, runId).bind(2, symbol).bind(3, toSql(size)).run();
  };
  // The run's symbols sorted by hash, walked beside the index (sorted the same way): the
  // index is read in order rather than searched once per symbol.
  struct Probe {
    SymbolHash hash;
    uint32_t leaf;
  };
  std::vector<Probe> probes;
  probes.reserve(doc.leaves.size());
  adviseHugePages(probes.data(), doc.leaves.size() * sizeof(Probe));
  probes.resize(doc.leaves.size());
  for (size_t k = 0; k < doc.leaves.size(); ++k) {
    const DocLeaf& leaf = doc.leaves[k];
    probes[k] = {symbolHash(pathIds[leaf.group], leaf.key, distinctMangled(leaf)),
                 static_cast<uint32_t>(k)};
  }
  sortByHash(
      probes, [](const Probe& p) { return p.hash.a; },
      [](const Probe& x, const Probe& y) {
        if (x.hash.a != y.hash.a) {
          return x.hash.a < y.hash.a;
        }
        return x.hash.b != y.hash.b ? x.hash.b < y.hash.b : x.leaf < y.leaf;
      });
  std::vector<IndexEntry>& entries = index.entries();
  std::vector<char> seen(entries.size());
  std::vector<Probe> fresh;
  size_t at = 0;
  for (const Probe& probe : probes) {
    while (at < entries.size() && entries[at].hash < probe.hash) {
      ++at;
    }
    if (at == entries.size() || !(entries[at].hash == probe.hash) || seen[at]) {
      fresh.push_back(probe);
      continue;
    }
    seen[at] = 1;
    IndexEntry& entry = entries[at];
    uint64_t size = doc.leaves[probe.leaf].size;
    if (entry.lastSize != size) {
      sizeRow(entry.id, size);
      entry.lastSize = size;
      index.touch(entry.hash);
    }
  }
  // New symbols get their ids in the document's order.
  std::sort(fresh.begin(), fresh.end(),
            [](const Probe& x, const Probe& y) { return x.leaf < y.leaf; });
  std::vector<IndexEntry> added;
  for (const Probe& probe : fresh) {
    const DocLeaf& leaf = doc.leaves[probe.leaf];
    insertSymbol.bind(1, pathIds[leaf.group]).bind(2, leaf.key);
    if (std::optional<string_view> mangled = distinctMangled(leaf)) {
      insertSymbol.bind(3, *mangled);
    } else {
      insertSymbol.bindNull(3);
    }
    if (leaf.demangledName.empty()) {
      insertSymbol.bindNull(4);
    } else {
      insertSymbol.bind(4, leaf.demangledName);
    }
    insertSymbol.run();
    int64_t id = sqlite3_last_insert_rowid(db.handle());
    sizeRow(id, leaf.size);
    added.push_back({probe.hash, id, leaf.size});
  }
  for (size_t k = 0; k < seen.size(); ++k) {
    IndexEntry& entry = entries[k];
    if (!seen[k] && entry.lastSize != 0) {
      sizeRow(entry.id, 0);
      entry.lastSize = 0;
      index.touch(entry.hash);
    }
  }
  index.save(runId, added);
}

bool available() {
  return true;
}

string unavailableMessage() {
  return {};
}

namespace {

void recordInto(const string& dbFile, const RunInfo& info, const Document& doc) {
  Database db(dbFile, true);
  // SQLite's default rollback journal, not WAL: the committed history is always this one file,
  // which CI caches and copies as it is, while WAL would keep recent runs in a second file beside
  // it. (Setting the mode anyway would make each process try to delete the journal of another.)
  db.exec("PRAGMA cache_size = -4096; PRAGMA page_size = 65536");
  begin(db, true);
  try {
    upgrade(db, schemaVersion(db));

    Statement run(db,
                  "INSERT INTO runs (label, recorded_at, map_file, options, total, "
                  "symbols_recorded) VALUES (?, ?, ?, ?, ?, 1)");
    run.bind(1, info.label).bind(2, info.time).bind(3, info.mapFile).bind(4, info.options);
    run.bind(5, toSql(doc.root().total)).run();
    int64_t runId = sqlite3_last_insert_rowid(db.handle());

    PathTable paths(db);
    Statement groupSize(db, "INSERT INTO group_sizes (run, path, size) VALUES (?, ?, ?)");
    // Groups come parents first, so a group's parent has its id and text already.
    std::vector<int64_t> pathIds(doc.groups.size());
    std::vector<string> texts(doc.groups.size());
    std::vector<int64_t> depths(doc.groups.size());
    pathIds[0] = paths.root();
    for (size_t g = 0; g < doc.groups.size(); ++g) {
      const DocGroup& group = doc.groups[g];
      if (g != 0) {
        uint32_t parent = group.parent;
        depths[g] = depths[parent] + 1;
        pathIds[g] = paths.id(pathIds[parent], group.name, texts[parent], depths[g]);
        // Only groups with sub-groups need their text kept for their children.
        if (group.firstChild != kNoGroup) {
          texts[g] = depths[g] == 1 ? string(group.name)
                                    : texts[parent] + string(kPathSeparator) + string(group.name);
        }
      }
      groupSize.bind(1, runId).bind(2, pathIds[g]).bind(3, toSql(group.total)).run();
    }

    recordSymbols(db, runId, doc, pathIds);
    db.exec("COMMIT");
  } catch (...) {
    sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

History readFrom(const string& dbFile, const std::vector<string>& group, bool withSymbols) {
  Database db(dbFile, false);
  begin(db, false);
  int version = schemaVersion(db);
  if (version == 0) {
    throw std::runtime_error(dbFile + ": not a vorlith history (it holds no tables)");
  }
  bool hasSymbols = version >= 2;
  History history;

  {
    Statement runs(db, hasSymbols ? "SELECT id, label, recorded_at, map_file, options, total, "
                                    "symbols_recorded FROM runs ORDER BY id"
                                  : "SELECT id, label, recorded_at, map_file, options, total, 0 "
                                    "FROM runs ORDER BY id");
    while (runs.step()) {
      history.runs.push_back({runs.integer(0), string(runs.text(1)), string(runs.text(2)),
                              string(runs.text(3)), string(runs.text(4)),
                              fromSql(runs.integer(5)), runs.integer(6) != 0});
    }
  }

  // The root of the view, then its groups, parents first (a parent's id is smaller: paths are
  // added parents first).
  int64_t rootId = 0;
  {
    Statement root(db, "SELECT id FROM paths WHERE parent IS NULL");
    if (!root.step()) {
      throw std::runtime_error(dbFile + ": the history has no root path");
    }
    rootId = root.integer(0);
    Statement child(db, "SELECT id FROM paths WHERE parent = ? AND name = ?");
    for (const string& name : group) {
      child.bind(1, rootId).bind(2, string_view(name));
      if (!child.step()) {
        string joined;
        for (const string& n : group) {
          joined += (joined.empty() ? "" : string(kPathSeparator)) + n;
        }
        throw std::runtime_error(dbFile + ": no run has the group " + joined);
      }
      rootId = child.integer(0);
      child.reset();
    }
  }
  history.rootPath = group;
  std::unordered_map<int64_t, uint32_t> groupItem{{rootId, 0}};
  history.items.push_back({0, string(), string(), false, string()});
  {
    Statement paths(db, "SELECT id, parent, name FROM paths WHERE parent IS NOT NULL ORDER BY id");
    while (paths.step()) {
      auto parent = groupItem.find(paths.integer(1));
      if (parent == groupItem.end()) {
        continue;  // outside the view
      }
      groupItem.emplace(paths.integer(0), static_cast<uint32_t>(history.items.size()));
      history.items.push_back({parent->second, string(paths.text(2)), string(), false, string()});
    }
  }
  std::unordered_map<int64_t, uint32_t> symbolItem;
  if (withSymbols && hasSymbols) {
    Statement symbols(db, "SELECT id, path, key, coalesce(shown_name, mangled_name, key), "
                          "ifnull(mangled_name, '') FROM symbols ORDER BY id");
    while (symbols.step()) {
      auto parent = groupItem.find(symbols.integer(1));
      if (parent == groupItem.end()) {
        continue;
      }
      symbolItem.emplace(symbols.integer(0), static_cast<uint32_t>(history.items.size()));
      string_view key = symbols.text(2);
      string_view shown = symbols.text(3);
      history.items.push_back({parent->second, string(key),
                               shown == key ? string() : string(shown), true,
                               string(symbols.text(4))});
    }
  }

  // Each run's group sizes, turned into the changes from the run before; symbols are recorded
  // as changes already.
  std::vector<uint64_t> sizes(history.items.size());
  std::vector<uint32_t> present;  // the items of the run before
  std::vector<uint32_t> seen(history.items.size(), UINT32_MAX);
  Statement groupSizes(db, "SELECT path, size FROM group_sizes WHERE run = ?");
  std::unique_ptr<Statement> symbolSizes;
  if (!symbolItem.empty()) {
    symbolSizes = std::make_unique<Statement>(db, "SELECT symbol, size FROM symbol_sizes WHERE run = ?");
  }
  for (uint32_t r = 0; r < history.runs.size(); ++r) {
    std::vector<Change> changes;
    std::vector<uint32_t> now;
    auto take = [&](const std::unordered_map<int64_t, uint32_t>& items, Statement& rows) {
      rows.bind(1, history.runs[r].id);
      while (rows.step()) {
        auto item = items.find(rows.integer(0));
        if (item == items.end()) {
          continue;
        }
        uint64_t size = fromSql(rows.integer(1));
        now.push_back(item->second);
        seen[item->second] = r;
        if (sizes[item->second] != size) {
          sizes[item->second] = size;
          changes.push_back({item->second, size});
        }
      }
      rows.reset();
    };
    take(groupItem, groupSizes);
    // What the run before had and this one has not is now of size 0.
    for (uint32_t item : present) {
      if (seen[item] != r && sizes[item] != 0) {
        sizes[item] = 0;
        changes.push_back({item, 0});
      }
    }
    if (symbolSizes) {
      symbolSizes->bind(1, history.runs[r].id);
      while (symbolSizes->step()) {
        auto item = symbolItem.find(symbolSizes->integer(0));
        if (item != symbolItem.end()) {
          changes.push_back({item->second, fromSql(symbolSizes->integer(1))});
        }
      }
      symbolSizes->reset();
    }
    std::sort(changes.begin(), changes.end(),
              [](const Change& a, const Change& b) { return a.item < b.item; });
    history.changes.push_back(std::move(changes));
    present = std::move(now);
  }
  db.exec("COMMIT");
  return history;
}

}  // namespace

void record(const string& dbFile, const RunInfo& info, const Document& doc) {
  // Never turn someone else's file into a database.
  FileHead head = readHead(dbFile, sizeof kSqliteMagic);
  if (head.size > 0 && !looksLikeDatabase(dbFile)) {
    throw std::runtime_error(dbFile + ": not an SQLite database; choose another file");
  }
  try {
    recordInto(dbFile, info, doc);
  } catch (const std::runtime_error&) {
    // SQLite finds a file cut short only as damage, or as no database at all: its header says
    // better what happened.
    checkWhole(dbFile);
    throw;
  }
}

RecordedRun readLastRun(const string& dbFile, string_view options) {
  History h = read(dbFile, {}, true);
  size_t last = h.runs.size();
  for (size_t r = 0; r < h.runs.size(); ++r) {
    if (h.runs[r].options == options && h.runs[r].symbols) {
      last = r;
    }
  }
  if (last == h.runs.size()) {
    throw std::runtime_error(dbFile + ": no run with its symbols was recorded with " +
                             (options.empty() ? string("no options") : string(options)));
  }
  Replay replay(h);
  for (size_t r = 0; r <= last; ++r) {
    replay.next();
  }
  RecordedRun run{h.runs[last], {}};
  for (uint32_t i = 1; i < h.items.size(); ++i) {
    const Item& item = h.items[i];
    if (!item.symbol || replay.sizes()[i] == 0) {
      continue;
    }
    RecordedSymbol symbol;
    for (uint32_t g = item.parent; g != 0; g = h.items[g].parent) {
      symbol.path.push_back(h.items[g].name);
    }
    std::reverse(symbol.path.begin(), symbol.path.end());
    symbol.path.push_back(item.name);
    symbol.mangled = item.mangled.empty() ? item.name : item.mangled;
    symbol.shown = item.shown.empty() ? symbol.mangled : item.shown;
    symbol.size = replay.sizes()[i];
    run.symbols.push_back(std::move(symbol));
  }
  return run;
}

History read(const string& dbFile, const std::vector<string>& group, bool withSymbols) {
  if (readHead(dbFile, 0).size < 0) {
    failOnFile(dbFile, ENOENT);
  }
  if (!looksLikeDatabase(dbFile)) {
    throw std::runtime_error(dbFile + ": not an SQLite database");
  }
  try {
    return readFrom(dbFile, group, withSymbols);
  } catch (const std::runtime_error&) {
    checkWhole(dbFile);
    throw;
  }
}

#endif

}  // namespace vorlith::history
