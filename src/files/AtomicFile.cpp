#include "files/AtomicFile.h"

#include "files/FileBytes.h"
#include "files/FileSystem.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <utility>

#include <unistd.h>

namespace smsconf {

namespace {

constexpr int TemporaryNameTries = 100;
constexpr std::size_t LargestWrite = std::size_t{1} << 30;  // what every system's write() takes at once

// Opens a fresh temporary file next to `target`.
int OpenTemporary(const std::string& target, std::string& temporary) {
  thread_local std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < TemporaryNameTries; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp%012llx",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    temporary = target + suffix;
    const int fd = CreateExclusively(temporary);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const auto written = write(fd, bytes.data(), static_cast<unsigned>(std::min(bytes.size(), LargestWrite)));
    if (written < 0 && errno == EINTR) continue;
    if (written == 0) errno = ENOSPC;
    if (written <= 0) return false;
    TellDiskStep(DiskStep::Written, fd, {});
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::atomic<DiskWatcher> Watcher{nullptr};

}  // namespace

DiskWatcher WatchDisk(DiskWatcher watcher) { return Watcher.exchange(watcher); }

void TellDiskStep(DiskStep step, int fd, const std::string& path) {
  if (const DiskWatcher watcher = Watcher.load()) watcher(step, fd, path);
}

void ThrowCannotCreate(const std::string& path, text::Message reason) {
  throw text::MessageError({text::Wording::CannotCreate, {path, std::move(reason)}});
}

void ThrowCannotCreate(const std::string& path, int error) {
  // A new file fails with "no such file" only when its folder is missing.
  ThrowCannotCreate(path, error == ENOENT ? text::Message(text::Wording::NoSuchFolder) : FileError(error));
}

std::string ReplaceableFile(const std::string& path) {
  if (path.empty()) ThrowCannotCreate(path, text::Wording::NoFileName);
  // Renaming over a symbolic link would replace the link itself, so the file
  // it names is the one to replace.
  std::string target;
  if (!FollowLink(path, target)) {
    if (errno == EPERM) {
      ThrowCannotCreate(path, {text::Wording::LinkNotFollowed, {target}});
    }
    ThrowCannotCreate(path, errno == ENOENT ? text::Message(text::Wording::LinkToNothing) : FileError(errno));
  }
  // A rename would put a plain file in place of a device or FIFO, and
  // reading a FIFO back for a rollback would wait for ever.
  switch (KindOf(target)) {
    case FileKind::None:
      if (target != path) ThrowCannotCreate(path, errno);
      return path;  // a new file, or a folder that is missing
    case FileKind::Folder: ThrowCannotCreate(path, EISDIR);
    case FileKind::Other: ThrowCannotCreate(path, text::Wording::NotRegularFile);
    case FileKind::Regular: break;
  }
  return target;
}

PreparedFile::PreparedFile(const std::string& path, std::string_view bytes)
    : Path(path), Target(ReplaceableFile(path)) {
  const int fd = OpenTemporary(Target, Temporary);
  if (fd < 0) {
    Temporary.clear();
    ThrowCannotCreate(path, errno);
  }
  bool ok = CopyPermissions(Target, fd) && WriteAll(fd, bytes) && FlushToDisk(fd);
  int error = ok ? 0 : errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    RemoveFile(Temporary);
    Temporary.clear();
    ThrowCannotCreate(path, error);
  }
}

PreparedFile::~PreparedFile() {
  if (!Temporary.empty()) RemoveFile(Temporary);
}

void PreparedFile::Commit() {
  if (!ReplaceWith(Temporary, Target)) ThrowCannotCreate(Path, errno);
  Temporary.clear();
  FlushFolder(FolderOf(Target));
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const SignalDeferral deferral;
  PreparedFile file(path, bytes);
  file.Commit();
}

}  // namespace smsconf
