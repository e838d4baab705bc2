#pragma once

#include <string>
#include <string_view>

namespace smsconf {

// Replaces the file at `path` with `bytes` so that the file is either left as
// it was or holds all of the new bytes: they go to a temporary file in the
// same folder, are flushed to the disk, and only then take the old file's
// place. An existing file keeps its permissions; a new one gets 0666 less the
// umask. A symbolic link is followed, so the file it names is replaced.
// Throws std::runtime_error("Cannot create file <path>: <reason>") on any
// failure and leaves no temporary file behind.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// The file that WriteFileAtomically(path, ...) would replace: `path`, or the
// file its symbolic link names. Throws as WriteFileAtomically does, before
// anything is written, when that is something other than a regular file (a
// folder, device, FIFO or socket) or when the link cannot be followed.
std::string ReplaceableFile(const std::string& path);

// Makes a write past the process's file size limit fail with an error like
// any other write error, instead of ending the program halfway through a
// replacement.
void IgnoreFileSizeLimitSignal();

}  // namespace smsconf
