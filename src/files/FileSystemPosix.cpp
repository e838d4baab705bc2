#include "files/AtomicFile.h"
#include "files/FileSystem.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace smsconf {

namespace {

constexpr mode_t NewFileMode = 0666;  // less the umask, applied by open()

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
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, NewFileMode);
}

bool CopyPermissions(const std::string& from, int fd) {
  struct stat info {};
  if (::stat(from.c_str(), &info) != 0) return errno == ENOENT;
  return ::fchmod(fd, info.st_mode & 07777) == 0;
}

bool FlushToDisk(int fd) { return ::fsync(fd) == 0; }

bool ReplaceWith(const std::string& temporary, const std::string& target) {
  return std::rename(temporary.c_str(), target.c_str()) == 0;
}

// Some file systems refuse to sync a folder; that does not undo a
// replacement that has already happened.
void FlushFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

void RemoveFile(const std::string& path) { ::unlink(path.c_str()); }

bool FolderWritable(const std::string& folder) { return ::access(folder.c_str(), W_OK) == 0; }

std::optional<bool> SameExistingFile(const std::string& a, const std::string& b) {
  struct stat first {}, second {};
  if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return std::nullopt;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::filesystem::path NativePath(const std::string& path) { return path; }

void IgnoreFileSizeLimitSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace smsconf
