#include "files/AtomicFile.h"

#include "files/FileBytes.h"
#include "files/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>
#include <stdexcept>

#include <unistd.h>

namespace smsconf {

namespace {

constexpr int TemporaryNameTries = 100;
constexpr std::size_t LargestWrite = std::size_t{1} << 30;  // what every system's write() takes at once

[[noreturn]] void CannotCreate(const std::string& path, const std::string& reason) {
  throw std::runtime_error("Cannot create file " + path + ": " + reason);
}

[[noreturn]] void CannotCreate(const std::string& path, int error) {
  // A new file fails with "no such file" only when its folder is missing.
  CannotCreate(path, error == ENOENT ? "no such folder" : FileErrorReason(error));
}

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
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

std::string ReplaceableFile(const std::string& path) {
  if (path.empty()) CannotCreate(path, "no file name");
  // Renaming over a symbolic link would replace the link itself, so the file
  // it names is the one to replace.
  std::string target;
  if (!FollowLink(path, target)) {
    CannotCreate(path, errno == ENOENT ? "a symbolic link to nothing" : FileErrorReason(errno));
  }
  // A rename would put a plain file in place of a device or FIFO, and
  // reading a FIFO back for a rollback would wait for ever.
  switch (KindOf(target)) {
    case FileKind::None:
      if (target != path) CannotCreate(path, errno);
      return path;  // a new file, or a folder that is missing
    case FileKind::Folder: CannotCreate(path, EISDIR);
    case FileKind::Other: CannotCreate(path, "not a regular file (a device, FIFO or socket)");
    case FileKind::Regular: break;
  }
  return target;
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string target = ReplaceableFile(path);
  std::string temporary;
  const int fd = OpenTemporary(target, temporary);
  if (fd < 0) CannotCreate(path, errno);

  bool ok = CopyPermissions(target, fd) && WriteAll(fd, bytes) && FlushToDisk(fd);
  int error = ok ? 0 : errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && !ReplaceWith(temporary, target)) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    RemoveFile(temporary);
    CannotCreate(path, error);
  }
  FlushFolder(FolderOf(target));
}

}  // namespace smsconf
