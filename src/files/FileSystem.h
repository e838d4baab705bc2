#pragma once

// The few file operations that each system does its own way, so that the
// rest of the program reads and replaces files in one way everywhere.
// Paths are the program's std::string paths: bytes as given on POSIX, UTF-8
// on Windows, where they open through the wide-character calls so that any
// folder name works. A failure leaves its reason as an errno value in errno.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace smsconf {

// The characters that end a folder's name in a path.
extern const char* const PathSeparators;

// The folder part of a path: "." when there is none.
inline std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of(PathSeparators);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

enum class FileKind { None, Regular, Folder, Other };

// What `path` names, links followed; None (and errno) when it cannot be
// looked at.
FileKind KindOf(const std::string& path);

// The file that a link at `path` names, or `path` itself when it is no link.
// False (and errno) when the link cannot be followed. A link met on the way
// that sits in a sticky folder everyone may write to (a shared /tmp) is
// followed only when it belongs to this user or to the folder's owner, as
// the kernel's protected-symlinks rule has it, whatever the system's setting:
// anyone could have planted it there. Such a link gives false, EPERM, and
// the link's path in `target`.
bool FollowLink(const std::string& path, std::string& target);

// A file descriptor for reading, or -1. Never waits for a FIFO's writer.
int OpenForReading(const std::string& path);
// A new file that no one else has opened, for writing bytes as they are; -1
// when it exists already or cannot be made.
int CreateExclusively(const std::string& path);
// Gives the new file behind `fd` the permissions of the file at `from`, if
// there is one.
bool CopyPermissions(const std::string& from, int fd);
// Waits until what was written through `fd` is on the disk.
bool FlushToDisk(int fd);
// Puts `temporary` in the place of `target` in one step; on failure the old
// target is left as it was.
bool ReplaceWith(const std::string& temporary, const std::string& target);
// Makes a replacement in `folder` itself durable, where the system allows.
void FlushFolder(const std::string& folder);
bool RemoveFile(const std::string& path);
// Whether a new file can be made in `folder`; false and errno when not.
bool FolderWritable(const std::string& folder);

// The steps of a replacement, each told once it is done to a watcher that a
// test may install to see their order; there is none otherwise. A
// temporary file is created (`path`) and written and flushed to the disk
// through `fd`; it then replaces its target (`path` the temporary), and the
// folder that holds them is flushed (`path` the folder) where the system
// needs that for the replacement to last.
enum class DiskStep { Created, Written, Flushed, Replaced, FolderFlushed };
using DiskWatcher = void (*)(DiskStep step, int fd, const std::string& path);
// Installs `watcher` (nullptr: none) and returns the one before.
DiskWatcher WatchDisk(DiskWatcher watcher);
// How the file layer tells of a step, right where it takes it.
void TellDiskStep(DiskStep step, int fd, const std::string& path);

// Two existing files that are one (hard links too); nothing when either
// cannot be looked at.
std::optional<bool> SameExistingFile(const std::string& a, const std::string& b);

// An advisory lock that processes take in turn: on a lock file made at
// `path` if missing and removed again on release, so that none is left
// behind.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  enum class Outcome { Taken, Busy, Failed };
  // One try, without waiting: Busy when another holds the lock, Failed (and
  // errno) when the lock file cannot be made or opened.
  Outcome TryTake(const std::string& path);

 private:
  void Release();
  std::string Path;
  std::intptr_t Handle = -1;
};

// Holds off the signals that end a program from a terminal (SIGINT, SIGTERM,
// SIGHUP; on Windows the console's Ctrl+C, Ctrl+Break and close) while files
// are being replaced, so that an ending leaves them either as they were or
// wholly new, and no temporary file. One that arrives meanwhile takes effect
// once the last deferral ends. Deferrals nest.
class SignalDeferral {
 public:
  SignalDeferral();
  ~SignalDeferral();
  SignalDeferral(const SignalDeferral&) = delete;
  SignalDeferral& operator=(const SignalDeferral&) = delete;

  // Whether one arrived: a wait inside the deferral gives up then.
  static bool Pending();
};

// The program's path as the standard library's path type.
std::filesystem::path NativePath(const std::string& path);

}  // namespace smsconf
