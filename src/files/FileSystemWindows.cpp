#include "files/AtomicFile.h"
#include "files/FileSystem.h"

#include <cerrno>
#include <condition_variable>
#include <cwchar>
#include <mutex>

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

// The identity of an open file: its volume and file index.
std::optional<std::uint64_t> FileIdentity(HANDLE file, DWORD& volume) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(file, &info) == 0) return std::nullopt;
  volume = info.dwVolumeSerialNumber;
  return std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
}

// Opening for no access at all reads the identity without sharing issues;
// backup semantics let a folder open too.
HANDLE OpenForIdentity(const std::string& path) {
  return CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The console calls its handler on a thread of its own; while files are
// being replaced, that thread waits for the end of the replacement and
// then lets the system's handler end the program.
std::mutex DeferralLock;
std::condition_variable DeferralEnded;
int DeferralDepth = 0;
bool PendingEvent = false;

BOOL WINAPI HoldOff(DWORD) {
  std::unique_lock guard(DeferralLock);
  if (DeferralDepth == 0) return FALSE;
  PendingEvent = true;
  DeferralEnded.wait(guard, [] { return DeferralDepth == 0; });
  return FALSE;
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
// move below, so the path is taken as it is. Windows has no sticky folders,
// so the rule for links in shared folders has nothing to apply to.
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
  const int fd = Opened(wide, ::_wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                                       _S_IREAD | _S_IWRITE));
  if (fd >= 0) TellDiskStep(DiskStep::Created, fd, path);
  return fd;
}

// A new file takes the access rules of its folder, as the file it replaces
// did; Windows has no permission bits to carry over.
bool CopyPermissions(const std::string&, int) { return true; }

bool FlushToDisk(int fd) {
  const bool flushed = ::_commit(fd) == 0;
  if (flushed) TellDiskStep(DiskStep::Flushed, fd, {});
  return flushed;
}

// MoveFileExW either renames or leaves the old file as it was. ReplaceFileW
// is not used: when it fails halfway, the old file may be gone.
bool ReplaceWith(const std::string& temporary, const std::string& target) {
  if (MoveFileExW(Wide(temporary).c_str(), Wide(target).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    return Fail();
  }
  TellDiskStep(DiskStep::Replaced, -1, temporary);
  return true;
}

// MOVEFILE_WRITE_THROUGH has already put the rename on the disk.
void FlushFolder(const std::string&) {}

bool RemoveFile(const std::string& path) { return ::_wunlink(Wide(path).c_str()) == 0; }

// Only the read-only attribute can be asked for without trying; the
// folder's access rules show when the file is created.
bool FolderWritable(const std::string& folder) { return ::_waccess(Wide(folder).c_str(), 2) == 0; }

std::optional<bool> SameExistingFile(const std::string& a, const std::string& b) {
  DWORD volume[2]{};
  std::optional<std::uint64_t> index[2];
  const std::string* paths[] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    const HANDLE file = OpenForIdentity(*paths[i]);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    index[i] = FileIdentity(file, volume[i]);
    CloseHandle(file);
    if (!index[i]) return std::nullopt;
  }
  return volume[0] == volume[1] && *index[0] == *index[1];
}

FileLock::Outcome FileLock::TryTake(const std::string& path) {
  Release();
  // Every handle shares deletion, so that the holder can remove the file
  // as it lets go while others wait on it.
  const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // A lock file being removed is "access denied", even to a look at its
    // attributes, until its last handle closes; a folder that refuses new
    // files has nothing there.
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && GetFileAttributesW(Wide(path).c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_ACCESS_DENIED) {
      return Outcome::Busy;
    }
    SetLastError(error);
    errno = ReasonOfFailedOpen(Wide(path), ErrnoOfLastError());
    return Outcome::Failed;
  }
  OVERLAPPED start{};
  if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &start) == 0) {
    const bool busy = GetLastError() == ERROR_LOCK_VIOLATION;
    if (!busy) Fail();
    CloseHandle(file);
    return busy ? Outcome::Busy : Outcome::Failed;
  }
  // The holder before may have removed the file as it let go: a lock on a
  // file no longer at `path` would keep no one out.
  DWORD heldVolume = 0, namedVolume = 0;
  const std::optional<std::uint64_t> held = FileIdentity(file, heldVolume);
  const HANDLE named = OpenForIdentity(path);
  const std::optional<std::uint64_t> current =
      named == INVALID_HANDLE_VALUE ? std::nullopt : FileIdentity(named, namedVolume);
  if (named != INVALID_HANDLE_VALUE) CloseHandle(named);
  if (!held || held != current || heldVolume != namedVolume) {
    CloseHandle(file);
    return Outcome::Busy;
  }
  Path = path;
  Handle = reinterpret_cast<std::intptr_t>(file);
  return Outcome::Taken;
}

// The file goes while it is still locked, so that no one locks it unseen.
void FileLock::Release() {
  if (Handle == -1) return;
  DeleteFileW(Wide(Path).c_str());
  CloseHandle(reinterpret_cast<HANDLE>(Handle));
  Handle = -1;
}

FileLock::~FileLock() { Release(); }

SignalDeferral::SignalDeferral() {
  const std::lock_guard guard(DeferralLock);
  if (DeferralDepth++ > 0) return;
  static const bool installed = SetConsoleCtrlHandler(HoldOff, TRUE) != 0;
  (void)installed;
  PendingEvent = false;
}

SignalDeferral::~SignalDeferral() {
  const std::lock_guard guard(DeferralLock);
  if (--DeferralDepth == 0) DeferralEnded.notify_all();
}

bool SignalDeferral::Pending() {
  const std::lock_guard guard(DeferralLock);
  return PendingEvent;
}

std::filesystem::path NativePath(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// Windows has no file size limit that ends a process.
void IgnoreFileSizeLimitSignal() {}

}  // namespace smsconf
