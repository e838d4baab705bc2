#pragma once

#include "text/Wording.h"

#include <string>
#include <string_view>

namespace smsconf {

// Replaces the file at `path` with `bytes` so that the file is either left as
// it was or holds all of the new bytes: they go to a temporary file in the
// same folder, are flushed to the disk, and only then take the old file's
// place. An existing file keeps its permissions; a new one gets 0666 less the
// umask. A symbolic link is followed, so the file it names is replaced.
// Throws std::runtime_error("Cannot create file <path>: <reason>") on any
// failure and leaves no temporary file behind. The signals that end a
// program wait until the file is replaced or left as it was.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// A replacement of the file at `path` made ready: the new bytes are in a
// temporary file beside the file to replace, flushed to the disk, so that
// Commit only has to rename it. Several can be made ready before any takes
// effect. One that is never committed goes away with its temporary file.
// Both throw as WriteFileAtomically does.
class PreparedFile {
 public:
  PreparedFile(const std::string& path, std::string_view bytes);
  ~PreparedFile();
  PreparedFile(const PreparedFile&) = delete;
  PreparedFile& operator=(const PreparedFile&) = delete;

  void Commit();

 private:
  std::string Path;
  std::string Target;
  std::string Temporary;  // empty once committed
};

// "Cannot create file <path>: <reason>" for the system's error number, as a
// text::MessageError.
[[noreturn]] void ThrowCannotCreate(const std::string& path, int error);
[[noreturn]] void ThrowCannotCreate(const std::string& path, text::Message reason);

// The file that WriteFileAtomically(path, ...) would replace: `path`, or the
// file its symbolic link names. Throws as WriteFileAtomically does, before
// anything is written, when that is something other than a regular file (a
// folder, device, FIFO or socket) or when the link cannot be followed or is
// one in a shared sticky folder that may not be followed (FollowLink).
std::string ReplaceableFile(const std::string& path);

// Makes a write past the process's file size limit fail with an error like
// any other write error, instead of ending the program halfway through a
// replacement.
void IgnoreFileSizeLimitSignal();

}  // namespace smsconf
