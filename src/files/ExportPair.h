#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace smsconf {

// One file of an export: where it goes and what it holds.
struct ExportFile {
  std::string Path;
  std::string_view Bytes;
};

// How long an export waits for another export of the same pair to finish.
inline constexpr std::chrono::milliseconds ExportLockWait = std::chrono::seconds(10);

// Writes an export's image and its firmware source as a pair: either both
// are written, or both files are as they were. Both new files, and a copy of
// the old image, are on the disk before either takes its place; when the
// source then cannot take its place, the image goes back to its old
// content, or away if there was none. The signals that end a program wait
// for the end of the export. Refused before anything is written, with
// std::runtime_error ("Cannot create file <path>: <reason>"): a target that
// is not a regular file (folder, device, FIFO, socket), the image and the
// source in one file, either of them being `project` (the project file the
// export comes from; empty for none), an image path holding a file larger
// than any export or one that cannot be read back for the rollback, and an
// export of the same pair that is still under way after `lockWait`: exports
// take turns through the lock file "<image>.lock" beside the image.
void WriteExportPair(const ExportFile& image, const ExportFile& source, const std::string& project,
                     std::chrono::milliseconds lockWait = ExportLockWait);

}  // namespace smsconf
