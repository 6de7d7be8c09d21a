// Output files that are never left half written: the text goes to a temporary file beside the
// target, which replaces the target only once it is complete.
//
//   OutputFile file("size.json");   // creates ".size.json.vorlith-<pid>-<n>" beside it
//   file.write(text);               // as often as needed
//   file.commit();                  // flush, fsync, rename over "size.json"
//
// The text may be written whole and committed later: until then, the target can still be read
// as it was.
//
// Until commit() returns, the target keeps its old bytes: a full disk, a file-size limit, a
// failure of the run or a signal that can be caught (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGPIPE) removes the temporary file and leaves the target as it was. A target that exists
// and is not a regular file (a character device such as /dev/null or /dev/full, a pipe) is
// written to directly, as a stream: there is nothing to replace. Standard output ("-") is the
// caller's stream and never comes here.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace zel::utils::appender {
class ChunkedAppender;
}

namespace vorlith {

class OutputFile {
 public:
  // Opens the temporary file beside `path` (its symbolic links followed, so the file they
  // name is replaced and the links stay). A new file gets the mode 0666 less the umask; a file
  // replaced keeps its mode (and its owner, where this process may set it). Throws
  // std::runtime_error "path: system error text" when it cannot be created.
  explicit OutputFile(std::string path);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Removes the temporary file unless commit() succeeded.
  ~OutputFile();

  // Appends `text`. Throws std::runtime_error "path: system error text" (a full disk, a
  // file-size limit: "File too large").
  void write(std::string_view text);

  // Makes the text the target's: flushed to the disk, then renamed over the target. Throws as
  // write() does; on failure the target is untouched and the temporary file gone.
  void commit();

  // The path as the caller gave it, for messages.
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  [[noreturn]] void fail(int error);
  void discard();

  std::string path_;       // as given
  std::string target_;     // the file replaced: `path_` with its symbolic links followed
  std::string temporary_;  // empty when writing to the target directly
  int fd_ = -1;
  int slot_ = -1;  // in the list of temporary files that a signal removes
};

// Whether an OutputFile of `path` writes a temporary file that replaces the target only on
// commit() (the target is a regular file, or none yet), rather than the target itself.
[[nodiscard]] bool replacedOnCommit(const std::string& path);

// Writes `text` as the whole of the file at `path`, safely as above.
void writeWholeFile(const std::string& path, std::string_view text);
// The same with the text that `fill` puts into the sink as it makes it, a chunk at a time: the
// file is never whole in memory.
void writeFileAsMade(const std::string& path,
                     const std::function<void(zel::utils::appender::ChunkedAppender&)>& fill);

// Makes signals that end the process remove the temporary files of OutputFiles not yet
// committed (those whose disposition is the default; an ignored signal stays ignored), and
// ignores SIGXFSZ, so that passing a file-size limit fails the write with "File too large"
// rather than killing the process. Called by the run before anything is written; calling it
// again leaves our own handlers as they are.
void protectOutputFiles();

}  // namespace vorlith
