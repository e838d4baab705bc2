#pragma once

#include <string>
#include <string_view>

namespace smsconf {

// One file of an export: where it goes and what it holds.
struct ExportFile {
  std::string Path;
  std::string_view Bytes;
};

// Writes an export's image and its firmware source as a pair: either both
// are written, or both files are as they were. When the source cannot be
// written, the image goes back to its old content, or away if there was
// none. Refused before anything is written, with std::runtime_error
// ("Cannot create file <path>: <reason>"): a target that is not a regular
// file (folder, device, FIFO, socket), the image and the source in one file,
// either of them being `project` (the project file the export comes from;
// empty for none), and an image path holding a file larger than any export
// or one that cannot be read back for the rollback.
void WriteExportPair(const ExportFile& image, const ExportFile& source, const std::string& project);

}  // namespace smsconf
