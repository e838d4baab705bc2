#include "files/ExportPair.h"

#include "files/AtomicFile.h"
#include "files/FileBytes.h"
#include "files/FileSystem.h"

#include <cerrno>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <thread>

namespace smsconf {

namespace {

// No export writes a larger file: the firmware source of the largest image
// is under 460 KB. A larger file in an export's place is something else.
constexpr std::size_t LargestExportFile = 512 * 1024;
constexpr std::chrono::milliseconds LockRetry{10};

// The current content of a file, kept to put back if the export fails
// halfway; nothing when there is none.
std::optional<std::string> Snapshot(const std::string& path) {
  std::string bytes;
  int error = 0;
  const FileRead read = ReadFileBytes(path, bytes, LargestExportFile + 1, &error);
  if (read == FileRead::Missing) return std::nullopt;
  // Without a copy the old file could not be put back.
  if (read == FileRead::Unreadable) ThrowCannotCreate(path, FileError(error));
  if (bytes.size() > LargestExportFile) {
    ThrowCannotCreate(path, text::Wording::LargerThanAnyExport);
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
      if (SameFile(*target, project)) ThrowCannotCreate(*target, text::Wording::IsTheProjectFile);
    }
  }
  if (SameFile(image, source)) ThrowCannotCreate(source, text::Wording::IsAlsoTheImage);
}

// Exports of one pair take turns: another export's image and source would
// otherwise mix with this one's.
void TakeTurn(FileLock& lock, const std::string& image, std::chrono::milliseconds wait) {
  const std::string lockFile = ReplaceableFile(image) + ".lock";
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    switch (lock.TryTake(lockFile)) {
      case FileLock::Outcome::Taken: return;
      case FileLock::Outcome::Failed: ThrowCannotCreate(image, errno);
      case FileLock::Outcome::Busy: break;
    }
    if (SignalDeferral::Pending()) ThrowCannotCreate(image, text::Wording::Interrupted);
    if (std::chrono::steady_clock::now() >= deadline) {
      ThrowCannotCreate(image, text::Wording::ExportUnderWay);
    }
    std::this_thread::sleep_for(LockRetry);
  }
}

// Puts the old image back after the new one took its place but the source
// could not; when even that fails, says which file holds what.
// Called while `failure` is being handled, which it throws on when the old
// image is back.
[[noreturn]] void RollBack(const std::string& image, std::optional<PreparedFile>& oldImage,
                           const std::runtime_error& failure) {
  const std::exception_ptr thrown = std::current_exception();
  std::optional<text::Message> reason;
  try {
    if (oldImage) {
      oldImage->Commit();
    } else if (!RemoveFile(ReplaceableFile(image))) {
      reason = FileError(errno);
    }
  } catch (const std::runtime_error& e) {
    reason = text::SaidBy(e);
  }
  if (!reason) std::rethrow_exception(thrown);
  throw text::MessageError({text::Wording::OldImageLost, {text::SaidBy(failure), image, *reason}});
}

}  // namespace

void WriteExportPair(const ExportFile& image, const ExportFile& source, const std::string& project,
                     std::chrono::milliseconds lockWait) {
  // Every target is checked before anything is written.
  ReplaceableFile(image.Path);
  ReplaceableFile(source.Path);
  RefuseSharedTargets(image.Path, source.Path, project);
  const SignalDeferral deferral;
  FileLock lock;
  TakeTurn(lock, image.Path, lockWait);
  // Whatever can fail on the way to the disk (a full disk, a file size
  // limit) fails here, while both old files are still in place.
  const std::optional<std::string> oldBytes = Snapshot(image.Path);
  PreparedFile newImage(image.Path, image.Bytes);
  PreparedFile newSource(source.Path, source.Bytes);
  std::optional<PreparedFile> oldImage;
  if (oldBytes) oldImage.emplace(image.Path, *oldBytes);
  newImage.Commit();
  try {
    newSource.Commit();
  } catch (const std::runtime_error& failure) {
    RollBack(image.Path, oldImage, failure);
  }
}

}  // namespace smsconf
