#include "files/ExportPair.h"

#include "files/AtomicFile.h"
#include "files/FileBytes.h"
#include "files/FileSystem.h"

#include <filesystem>
#include <optional>
#include <stdexcept>

namespace smsconf {

namespace {

// No export writes a larger file: the firmware source of the largest image
// is under 460 KB. A larger file in an export's place is something else.
constexpr std::size_t LargestExportFile = 512 * 1024;

[[noreturn]] void CannotCreate(const std::string& path, const std::string& reason) {
  throw std::runtime_error("Cannot create file " + path + ": " + reason);
}

// The current content of a file, kept to put back if the export fails
// halfway; nothing when there is none.
std::optional<std::string> Snapshot(const std::string& path) {
  std::string bytes;
  int error = 0;
  const FileRead read = ReadFileBytes(path, bytes, LargestExportFile + 1, &error);
  if (read == FileRead::Missing) return std::nullopt;
  // Without a copy the old file could not be put back.
  if (read == FileRead::Unreadable) CannotCreate(path, FileErrorReason(error));
  if (bytes.size() > LargestExportFile) {
    CannotCreate(path, "the file there is larger than any image or source, so it is not replaced");
  }
  return bytes;
}

// Two names for one file: the same file when both exist (hard links too),
// the same path once resolved otherwise.
bool SameFile(const std::string& a, const std::string& b) {
  if (const std::optional<bool> same = SameExistingFile(a, b)) return *same;
  std::error_code error;
  const std::filesystem::path left = std::filesystem::weakly_canonical(NativePath(a), error);
  if (error) return false;
  const std::filesystem::path right = std::filesystem::weakly_canonical(NativePath(b), error);
  return !error && left == right;
}

// An export must never write over the project it comes from, nor put the
// image and the source into one file.
void RefuseSharedTargets(const std::string& image, const std::string& source, const std::string& project) {
  if (!project.empty()) {
    for (const std::string* target : {&image, &source}) {
      if (SameFile(*target, project)) CannotCreate(*target, "it is the project file being compiled");
    }
  }
  if (SameFile(image, source)) CannotCreate(source, "it is also the image file");
}

}  // namespace

void WriteExportPair(const ExportFile& image, const ExportFile& source, const std::string& project) {
  // Every target is checked before anything is written.
  ReplaceableFile(image.Path);
  ReplaceableFile(source.Path);
  RefuseSharedTargets(image.Path, source.Path, project);
  const std::optional<std::string> oldImage = Snapshot(image.Path);
  WriteFileAtomically(image.Path, image.Bytes);
  try {
    WriteFileAtomically(source.Path, source.Bytes);
  } catch (...) {
    try {
      if (oldImage) {
        WriteFileAtomically(image.Path, *oldImage);
      } else {
        RemoveFile(image.Path);
      }
    } catch (...) {
    }
    throw;
  }
}

}  // namespace smsconf
