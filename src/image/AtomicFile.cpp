#include "image/AtomicFile.h"

#include "image/FileBytes.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace smsconf {

namespace {

constexpr mode_t NewFileMode = 0666;  // less the umask, applied by open()
constexpr int TemporaryNameTries = 100;

[[noreturn]] void CannotCreate(const std::string& path, const std::string& reason) {
  throw std::runtime_error("Cannot create file " + path + ": " + reason);
}

[[noreturn]] void CannotCreate(const std::string& path, int error) {
  // A new file fails with "no such file" only when its folder is missing.
  CannotCreate(path, error == ENOENT ? "no such folder" : FileErrorReason(error));
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Opens a fresh temporary file next to `target`; O_EXCL makes sure it is
// ours alone and open() applies the umask to a new file's mode.
int OpenTemporary(const std::string& target, std::string& temporary) {
  thread_local std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < TemporaryNameTries; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp%012llx",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    temporary = target + suffix;
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, NewFileMode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written == 0) errno = ENOSPC;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool KeepPermissionsOf(const std::string& target, int fd) {
  struct stat info {};
  if (stat(target.c_str(), &info) != 0) return errno == ENOENT;
  return fchmod(fd, info.st_mode & 07777) == 0;
}

// Makes the rename itself durable; a folder that cannot be synced (some file
// systems refuse) does not undo a replacement that has already happened.
void SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

std::string ReplaceableFile(const std::string& path) {
  if (path.empty()) CannotCreate(path, "no file name");
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return path;  // a new file, or a folder that is missing
  std::string target = path;
  // Renaming over a symbolic link would replace the link itself, so the file
  // it names is the one to replace.
  if (S_ISLNK(info.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) {
      CannotCreate(path, errno == ENOENT ? "a symbolic link to nothing" : FileErrorReason(errno));
    }
    target = resolved;
    if (stat(target.c_str(), &info) != 0) CannotCreate(path, errno);
  }
  // A rename would put a plain file in place of a device or FIFO, and
  // reading a FIFO back for a rollback would wait for ever.
  if (S_ISDIR(info.st_mode)) CannotCreate(path, EISDIR);
  if (!S_ISREG(info.st_mode)) CannotCreate(path, "not a regular file (a device, FIFO or socket)");
  return target;
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string target = ReplaceableFile(path);
  std::string temporary;
  const int fd = OpenTemporary(target, temporary);
  if (fd < 0) CannotCreate(path, errno);

  bool ok = KeepPermissionsOf(target, fd) && WriteAll(fd, bytes) && fsync(fd) == 0;
  int error = ok ? 0 : errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && rename(temporary.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    unlink(temporary.c_str());
    CannotCreate(path, error);
  }
  SyncFolder(FolderOf(target));
}

void IgnoreFileSizeLimitSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace smsconf
