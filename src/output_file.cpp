#include "output_file.h"

#include "zel/utils/chunked_appender.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "file_io.h"

namespace vorlith {

using std::string;
using std::string_view;

namespace {

// The temporary files not yet committed, where a signal handler can find them: fixed storage,
// no allocation, nothing but unlink() in the handler. A run writes at most a handful of files
// at once; one that finds every slot taken writes unregistered (a signal may then leave it).
struct PendingFile {
  std::atomic<bool> taken{false};          // owned by an OutputFile
  volatile std::sig_atomic_t live = 0;     // `path` is complete and names a file to remove
  char path[PATH_MAX] = {};
};
constexpr int kPendingSlots = 16;
PendingFile pendingFiles[kPendingSlots];

int registerPending(const string& path) {
  if (path.size() >= PATH_MAX) {
    return -1;
  }
  for (int slot = 0; slot < kPendingSlots; ++slot) {
    bool expected = false;
    if (pendingFiles[slot].taken.compare_exchange_strong(expected, true)) {
      std::memcpy(pendingFiles[slot].path, path.c_str(), path.size() + 1);
      std::atomic_signal_fence(std::memory_order_seq_cst);  // the path before the flag
      pendingFiles[slot].live = 1;
      return slot;
    }
  }
  return -1;
}

void unregisterPending(int slot) {
  if (slot >= 0) {
    pendingFiles[slot].live = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    pendingFiles[slot].taken.store(false);
  }
}

// Removes the temporary files, then lets the signal do what it would have done.
extern "C" void removePendingAndResignal(int signal) {
  int saved = errno;
  for (PendingFile& file : pendingFiles) {
    if (file.live != 0) {
      ::unlink(file.path);
    }
  }
  std::signal(signal, SIG_DFL);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal);
  sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  ::raise(signal);
  errno = saved;  // reached only if the default action does not end the process
}

// `path` with the symbolic links of its last component followed, so that a link to the
// output keeps linking to it. Stops at a path that does not exist (a new file, or a link to
// one) and after 40 links, where the system would report a loop itself.
string followLinks(string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      return path;
    }
    string link(static_cast<size_t>(info.st_size > 0 ? info.st_size : PATH_MAX), '\0');
    ssize_t got = ::readlink(path.c_str(), link.data(), link.size());
    if (got <= 0) {
      return path;
    }
    link.resize(static_cast<size_t>(got));
    size_t slash = path.rfind('/');
    path = link.front() == '/' || slash == string::npos ? link : path.substr(0, slash + 1) + link;
  }
  return path;
}

// A name beside `target` that no file has yet is found by O_EXCL; these parts keep it short and
// recognisable (".size.json.vorlith-1234-0").
string temporaryBeside(const string& target, unsigned attempt) {
  static std::atomic<unsigned> counter{0};
  size_t slash = target.rfind('/');
  string directory = slash == string::npos ? string() : target.substr(0, slash + 1);
  string base = slash == string::npos ? target : target.substr(slash + 1);
  constexpr size_t kLongestBase = 200;  // with the suffix, within NAME_MAX
  if (base.size() > kLongestBase) {
    base.resize(kLongestBase);
  }
  return directory + "." + base + ".vorlith-" + std::to_string(::getpid()) + "-" +
         std::to_string(counter.fetch_add(1) + attempt);
}

}  // namespace

OutputFile::OutputFile(string path) : path_(std::move(path)), target_(followLinks(path_)) {
  struct stat existing;
  bool exists = ::stat(target_.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    fail(EISDIR);
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    // A device or a pipe: written as a stream, as it was asked for.
    fd_ = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ < 0) {
      fail(errno);
    }
    return;
  }
  for (unsigned attempt = 0; fd_ < 0; ++attempt) {
    temporary_ = temporaryBeside(target_, attempt);
    // 0666: the system takes the umask off, as for any new file.
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && (errno != EEXIST || attempt >= 100)) {
      int error = errno;
      temporary_.clear();
      fail(error);
    }
  }
  slot_ = registerPending(temporary_);
  if (exists) {
    // The file replaced keeps its mode and, where allowed, its owner; failing that is no
    // reason to fail the run.
    (void)::fchmod(fd_, existing.st_mode & 07777);
    struct stat mine;
    if (::fstat(fd_, &mine) == 0 &&
        (mine.st_uid != existing.st_uid || mine.st_gid != existing.st_gid)) {
      (void)::fchown(fd_, existing.st_uid, existing.st_gid);
    }
  }
}

OutputFile::~OutputFile() {
  discard();
}

void OutputFile::discard() {
  if (fd_ >= 0) {
    ::close(std::exchange(fd_, -1));
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
  unregisterPending(std::exchange(slot_, -1));
}

void OutputFile::fail(int error) {
  discard();
  failOnFile(path_, error);
}

void OutputFile::write(string_view text) {
  if (fd_ < 0) {
    throw std::logic_error("OutputFile::write after commit");
  }
  while (!text.empty()) {
    ssize_t wrote = ::write(fd_, text.data(), text.size());
    if (wrote < 0) {
      if (errno == EINTR) {
        continue;
      }
      fail(errno);
    }
    text.remove_prefix(static_cast<size_t>(wrote));
  }
}

void OutputFile::commit() {
  if (fd_ < 0) {
    throw std::logic_error("OutputFile::commit twice");
  }
  if (!temporary_.empty() && ::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS &&
      errno != ENOTSUP) {
    // The file system takes no fsync (EINVAL and the like): nothing is lost by going on.
    fail(errno);
  }
  // close() reports what the last writes lost (on NFS that shows only there).
  if (::close(std::exchange(fd_, -1)) != 0) {
    fail(errno);
  }
  if (temporary_.empty()) {
    return;
  }
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    fail(errno);
  }
  temporary_.clear();
  unregisterPending(std::exchange(slot_, -1));
}

bool replacedOnCommit(const string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    return errno == ENOENT;
  }
  return S_ISREG(info.st_mode);
}

void writeWholeFile(const string& path, string_view text) {
  OutputFile file(path);
  file.write(text);
  file.commit();
}

void writeFileAsMade(const string& path,
                     const std::function<void(zel::utils::appender::ChunkedAppender&)>& fill) {
  OutputFile file(path);
  zel::utils::appender::ChunkedAppender sink([&file](string_view chunk) { file.write(chunk); });
  fill(sink);
  sink.flush();
  file.commit();
}

void protectOutputFiles() {
  // Whether it ran is read off the dispositions themselves, not a flag: a child forked from a
  // process that ran it, its dispositions set back to the defaults, is protected again.
  std::signal(SIGXFSZ, SIG_IGN);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    struct sigaction now;
    if (::sigaction(signal, nullptr, &now) != 0 || now.sa_handler != SIG_DFL) {
      continue;  // ignored or handled by whoever runs us: left so
    }
    struct sigaction handler = {};
    handler.sa_handler = removePendingAndResignal;
    sigemptyset(&handler.sa_mask);
    ::sigaction(signal, &handler, nullptr);
  }
}

}  // namespace vorlith
