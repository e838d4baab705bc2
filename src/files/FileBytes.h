#pragma once

#include "text/Wording.h"

#include <cstddef>
#include <limits>
#include <string>

namespace smsconf {

enum class FileRead {
  Read,        // `bytes` holds the file, or its first `limit` bytes
  Missing,     // nothing at the path, or a folder on the way is no folder
  Unreadable,  // something is there but cannot be read: a folder, no permission, an I/O error
};

// The one way files are read: project files, images, and the image an
// export may have to put back. Reads at most `limit` bytes, so that callers
// with a size limit can read one byte more and tell an oversized file apart
// without reading all of it. When the file is not read, `error` (if given)
// receives the system's error number.
FileRead ReadFileBytes(const std::string& path, std::string& bytes,
                       std::size_t limit = std::numeric_limits<std::size_t>::max(),
                       int* error = nullptr);

// The system's reason for a failed file operation in a few plain words, for
// the end of a message: "no such file", "permission denied", "disk full";
// FileErrorReason is its English rendering.
text::Message FileError(int error);
std::string FileErrorReason(int error);

}  // namespace smsconf
