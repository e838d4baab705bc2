#include "files/AtomicFile.h"
#include "files/FileSystem.h"

#include <cerrno>
#include <cwchar>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace smsconf {

namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

// The errno value nearest to the system's last error, for FileErrorReason.
int ErrnoOfLastError() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    default: return EIO;
  }
}

bool Fail() {
  errno = ErrnoOfLastError();
  return false;
}

// Windows says "not found" where a file stands in the way of a folder, and
// "access denied" for a folder opened as a file; errno gets what POSIX says.
int ReasonOfFailedOpen(const std::wstring& path, int error) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (error == EACCES && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return EISDIR;
  }
  if (error != ENOENT) return error;
  for (std::filesystem::path folder = std::filesystem::path(path).parent_path(); !folder.empty();
       folder = folder.parent_path()) {
    const DWORD kind = GetFileAttributesW(folder.c_str());
    if (kind != INVALID_FILE_ATTRIBUTES) return kind & FILE_ATTRIBUTE_DIRECTORY ? ENOENT : ENOTDIR;
    if (folder == folder.parent_path()) break;
  }
  return ENOENT;
}

int Opened(const std::wstring& path, int fd) {
  if (fd < 0) errno = ReasonOfFailedOpen(path, errno);
  return fd;
}

}  // namespace

const char* const PathSeparators = "\\/";

FileKind KindOf(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    Fail();
    errno = ReasonOfFailedOpen(Wide(path), errno);
    return FileKind::None;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Folder;
  return attributes & FILE_ATTRIBUTE_DEVICE ? FileKind::Other : FileKind::Regular;
}

// Windows links are made by administrators and replaced as files by the
// move below, so the path is taken as it is.
bool FollowLink(const std::string& path, std::string& target) {
  target = path;
  return true;
}

int OpenForReading(const std::string& path) {
  const std::wstring wide = Wide(path);
  return Opened(wide, ::_wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
}

int CreateExclusively(const std::string& path) {
  const std::wstring wide = Wide(path);
  return Opened(wide, ::_wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                               _S_IREAD | _S_IWRITE));
}

// A new file takes the access rules of its folder, as the file it replaces
// did; Windows has no permission bits to carry over.
bool CopyPermissions(const std::string&, int) { return true; }

bool FlushToDisk(int fd) { return ::_commit(fd) == 0; }

// MoveFileExW either renames or leaves the old file as it was. ReplaceFileW
// is not used: when it fails halfway, the old file may be gone.
bool ReplaceWith(const std::string& temporary, const std::string& target) {
  return MoveFileExW(Wide(temporary).c_str(), Wide(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
         Fail();
}

// MOVEFILE_WRITE_THROUGH has already put the rename on the disk.
void FlushFolder(const std::string&) {}

void RemoveFile(const std::string& path) { ::_wunlink(Wide(path).c_str()); }

// Only the read-only attribute can be asked for without trying; the
// folder's access rules show when the file is created.
bool FolderWritable(const std::string& folder) { return ::_waccess(Wide(folder).c_str(), 2) == 0; }

std::optional<bool> SameExistingFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info[2]{};
  const std::string* paths[] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    // Opening for no access at all reads the identity without sharing issues;
    // backup semantics let a folder open too.
    const HANDLE file = CreateFileW(Wide(*paths[i]).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    const bool known = GetFileInformationByHandle(file, &info[i]) != 0;
    CloseHandle(file);
    if (!known) return std::nullopt;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

std::filesystem::path NativePath(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// Windows has no file size limit that ends a process.
void IgnoreFileSizeLimitSignal() {}

}  // namespace smsconf
