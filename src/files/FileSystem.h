#pragma once

// The few file operations that each system does its own way, so that the
// rest of the program reads and replaces files in one way everywhere.
// Paths are the program's std::string paths: bytes as given on POSIX, UTF-8
// on Windows, where they open through the wide-character calls so that any
// folder name works. A failure leaves its reason as an errno value in errno.

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
// False (and errno) when the link cannot be followed.
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
void RemoveFile(const std::string& path);
// Whether a new file can be made in `folder`; false and errno when not.
bool FolderWritable(const std::string& folder);

// Two existing files that are one (hard links too); nothing when either
// cannot be looked at.
std::optional<bool> SameExistingFile(const std::string& a, const std::string& b);

// The program's path as the standard library's path type.
std::filesystem::path NativePath(const std::string& path);

}  // namespace smsconf
