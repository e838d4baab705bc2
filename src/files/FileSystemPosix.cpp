#include "files/AtomicFile.h"
#include "files/FileSystem.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <mutex>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace smsconf {

namespace {

constexpr mode_t NewFileMode = 0666;  // less the umask, applied by open()
constexpr int LongestLinkChain = 40;  // the kernel's own bound

// The kernel's protected-symlinks rule: in a sticky folder that everyone may
// write to, only a link of this user or of the folder's owner is followed.
bool MayFollow(const std::string& link, const struct stat& linkInfo) {
  struct stat folder {};
  if (::stat(FolderOf(link).c_str(), &folder) != 0) return true;  // then the lookup fails by itself
  const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
  return !shared || linkInfo.st_uid == ::geteuid() || linkInfo.st_uid == folder.st_uid;
}

// Walks `path` a folder at a time, as the lookup will, and checks every link
// met, those that links lead through included. False with EPERM and the link
// in `refused`, or ELOOP, when one may not be followed.
bool LinksMayBeFollowed(const std::string& path, std::string& refused, int& links) {
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string prefix = path.substr(0, end);
    // "a//b" gives the prefix "a/", which would follow a link at "a".
    if (prefix.empty() || prefix.back() == '/') {
      if (end == std::string::npos) return true;
      continue;
    }
    struct stat info {};
    if (::lstat(prefix.c_str(), &info) != 0) return true;  // the lookup reports it
    if (S_ISLNK(info.st_mode)) {
      if (!MayFollow(prefix, info)) {
        refused = prefix;
        errno = EPERM;
        return false;
      }
      char text[PATH_MAX];
      const ssize_t size = ::readlink(prefix.c_str(), text, sizeof text - 1);
      if (size <= 0) return true;
      std::string next(text, static_cast<std::size_t>(size));
      if (next.front() != '/') next = FolderOf(prefix) + "/" + next;
      if (++links > LongestLinkChain) {
        errno = ELOOP;
        return false;
      }
      if (!LinksMayBeFollowed(next, refused, links)) return false;
    }
    if (end == std::string::npos) return true;
  }
}

// Signals held off by SignalDeferral, and the one that came meanwhile.
constexpr int DeferredSignals[] = {SIGINT, SIGTERM, SIGHUP};
std::mutex DeferralLock;
int DeferralDepth = 0;
struct sigaction SavedActions[std::size(DeferredSignals)] {};
volatile std::sig_atomic_t PendingSignal = 0;

void RecordSignal(int signal) { PendingSignal = signal; }

}  // namespace

const char* const PathSeparators = "/";

FileKind KindOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return FileKind::None;
  if (S_ISDIR(info.st_mode)) return FileKind::Folder;
  return S_ISREG(info.st_mode) ? FileKind::Regular : FileKind::Other;
}

bool FollowLink(const std::string& path, std::string& target) {
  target = path;
  int links = 0;
  if (!LinksMayBeFollowed(path, target, links)) return false;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return false;
  target = resolved;
  return true;
}

// Opening a FIFO would wait for a writer, so it opens without waiting; the
// reads then wait again, so that a pipe with a writer is read whole and one
// without reads as empty.
int OpenForReading(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// O_EXCL makes sure the file is ours alone, and open() applies the umask to
// its mode.
int CreateExclusively(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, NewFileMode);
  if (fd >= 0) TellDiskStep(DiskStep::Created, fd, path);
  return fd;
}

bool CopyPermissions(const std::string& from, int fd) {
  struct stat info {};
  if (::stat(from.c_str(), &info) != 0) return errno == ENOENT;
  return ::fchmod(fd, info.st_mode & 07777) == 0;
}

bool FlushToDisk(int fd) {
  const bool flushed = ::fsync(fd) == 0;
  if (flushed) TellDiskStep(DiskStep::Flushed, fd, {});
  return flushed;
}

bool ReplaceWith(const std::string& temporary, const std::string& target) {
  const bool replaced = std::rename(temporary.c_str(), target.c_str()) == 0;
  if (replaced) TellDiskStep(DiskStep::Replaced, -1, temporary);
  return replaced;
}

// Some file systems refuse to sync a folder; that does not undo a
// replacement that has already happened.
void FlushFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  if (::fsync(fd) == 0) TellDiskStep(DiskStep::FolderFlushed, fd, folder);
  ::close(fd);
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool FolderWritable(const std::string& folder) { return ::access(folder.c_str(), W_OK) == 0; }

std::optional<bool> SameExistingFile(const std::string& a, const std::string& b) {
  struct stat first {}, second {};
  if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return std::nullopt;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

FileLock::Outcome FileLock::TryTake(const std::string& path) {
  Release();
  // A link planted at the lock's name is not followed to make a file
  // elsewhere; another user's lock file locks as well when read only.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, NewFileMode);
  if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return Outcome::Failed;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return error == EWOULDBLOCK ? Outcome::Busy : Outcome::Failed;
  }
  // The holder before may have removed the file as it let go: a lock on a
  // file no longer at `path` would keep no one out.
  struct stat held {}, named {};
  if (::fstat(fd, &held) != 0 || ::lstat(path.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
      held.st_ino != named.st_ino) {
    ::close(fd);
    return Outcome::Busy;
  }
  Path = path;
  Handle = fd;
  return Outcome::Taken;
}

// The file goes while it is still locked, so that no one locks it unseen.
void FileLock::Release() {
  if (Handle < 0) return;
  ::unlink(Path.c_str());
  ::close(static_cast<int>(Handle));
  Handle = -1;
}

FileLock::~FileLock() { Release(); }

// A handler that only records the signal holds it off in every thread, as
// a mask would in this one only. A signal that is ignored stays ignored.
SignalDeferral::SignalDeferral() {
  const std::lock_guard guard(DeferralLock);
  if (DeferralDepth++ > 0) return;
  PendingSignal = 0;
  struct sigaction record {};
  record.sa_handler = RecordSignal;
  sigemptyset(&record.sa_mask);
  record.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(DeferredSignals); ++i) {
    ::sigaction(DeferredSignals[i], nullptr, &SavedActions[i]);
    if (SavedActions[i].sa_handler != SIG_IGN) ::sigaction(DeferredSignals[i], &record, nullptr);
  }
}

SignalDeferral::~SignalDeferral() {
  int pending = 0;
  {
    const std::lock_guard guard(DeferralLock);
    if (--DeferralDepth > 0) return;
    for (std::size_t i = 0; i < std::size(DeferredSignals); ++i) {
      ::sigaction(DeferredSignals[i], &SavedActions[i], nullptr);
    }
    pending = PendingSignal;
  }
  // Now it does what it would have done: mostly, end the program.
  if (pending != 0) std::raise(pending);
}

bool SignalDeferral::Pending() { return PendingSignal != 0; }

std::filesystem::path NativePath(const std::string& path) { return path; }

void IgnoreFileSizeLimitSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace smsconf
