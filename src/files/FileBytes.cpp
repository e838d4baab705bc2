#include "files/FileBytes.h"

#include "files/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace smsconf {

FileRead ReadFileBytes(const std::string& path, std::string& bytes, std::size_t limit, int* error) {
  bytes.clear();
  const auto fail = [error](FileRead result) {
    if (error != nullptr) *error = errno;
    return result;
  };
  const int fd = OpenForReading(path);
  if (fd < 0) return fail(errno == ENOENT || errno == ENOTDIR ? FileRead::Missing : FileRead::Unreadable);
  char buffer[65536];
  while (bytes.size() < limit) {
    const auto n = ::read(fd, buffer, static_cast<unsigned>(std::min(sizeof buffer, limit - bytes.size())));
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const FileRead result = fail(FileRead::Unreadable);
      ::close(fd);
      bytes.clear();
      return result;
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return FileRead::Read;
}

text::Message FileError(int error) {
  using text::Wording;
  switch (error) {
    case ENOENT: return Wording::NoSuchFile;
    case ENOTDIR: return Wording::FolderOnTheWay;
    case EACCES:
    case EPERM: return Wording::PermissionDenied;
    case EISDIR: return Wording::IsFolder;
    case ENOSPC: return Wording::DiskFull;
#ifdef EDQUOT  // Windows has no disk quotas of this kind
    case EDQUOT: return Wording::QuotaExceeded;
#endif
    case EFBIG: return Wording::FileTooLarge;
    case EROFS: return Wording::ReadOnlyFileSystem;
    case ELOOP: return Wording::TooManyLinks;
    case ENAMETOOLONG: return Wording::NameTooLong;
    default: break;
  }
  std::string reason = std::strerror(error);
  if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z') reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
  return {Wording::SystemError, {reason}};
}

std::string FileErrorReason(int error) { return FileError(error).Render(text::Language::English); }

}  // namespace smsconf
