#include "files/ExportPair.h"

#include "common/Failure.h"
#include "common/TempDir.h"
#include "files/ExportPaths.h"
#include "files/FileSystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

namespace smsconf {
namespace {

using testing::FailureOf;
using testing::ReadFile;
using testing::WriteFile;

// The steps of the replacements, a word each: "c1 w1 f1 r1 d" for the first
// temporary file created, written, flushed and put in place, and its folder
// flushed.
std::string Steps;
std::map<std::string, int> Numbers;  // of the temporary files, by path and by "#descriptor"
int Created = 0;
void Record(DiskStep step, int fd, const std::string& path) {
  const std::string file = "#" + std::to_string(fd);
  if (step == DiskStep::Created) Numbers[file] = Numbers[path] = ++Created;
  const int number = step == DiskStep::Replaced ? Numbers[path] : Numbers[file];
  Steps += (Steps.empty() ? "" : " ") + std::string(1, "cwfrd"[static_cast<int>(step)]) +
           (step == DiskStep::FolderFlushed ? "" : std::to_string(number));
}

void Export(const std::string& image, const std::string& source,
            std::chrono::milliseconds lockWait = ExportLockWait) {
  WriteExportPair({image, "new image"}, {source, "new source"}, "", lockWait);
}

// A refused export leaves the files as they were and no temporary file:
// most refusals come before anything is written, and a source that fails
// only once the image is written takes the image back with it.
TEST(ExportPair, RefusedTargetsChangeNothing) {
  const testing::TempDir dir;
  const std::string image = dir.File("sms.bin"), source = dir.File("stdcfg.c");
  WriteFile(dir.File("plain"), "x");
  const std::string blocked = dir.File("plain") + "/stdcfg.c", link = dir.File("link.bin");
  EXPECT_EQ(FailureOf([&] { Export(image, blocked); }),
            "Cannot create file " + blocked + ": a folder on the way is not a folder");
  EXPECT_EQ(dir.EntryCount(), 1u);  // without an earlier image, none is left
  WriteFile(image, "old image");
  const std::string fifo = dir.File("fifo"), big = dir.File("big.bin");
  WriteFile(big, std::string(512 * 1024 + 1, 'x'));
  ASSERT_EQ(testing::MakeFifo(fifo), testing::PosixFiles);
  if (testing::PosixFiles) std::filesystem::create_symlink("sms.bin", link);
  const std::string notRegular = ": not a regular file (a device, FIFO or socket)";
  struct Case { std::string image, source, message; };
  const Case cases[] = {
      {blocked, source, "Cannot create file " + blocked + ": a folder on the way is not a folder"},
      {image, blocked, "Cannot create file " + blocked + ": a folder on the way is not a folder"},
      {image, fifo, "Cannot create file " + fifo + notRegular},
      {fifo, source, "Cannot create file " + fifo + notRegular},
      {image, link, "Cannot create file " + link + ": it is also the image file"},
      {image, image, "Cannot create file " + image + ": it is also the image file"},
      {big, source, "Cannot create file " + big + ": the file there is larger than any image or source, so it is not replaced"},
  };
  for (const Case& c : cases) {
    if (!testing::PosixFiles && (c.image == fifo || c.source == fifo || c.source == link)) continue;
    EXPECT_EQ(FailureOf([&] { Export(c.image, c.source); }), c.message);
  }
  if (testing::PosixFiles) {  // a link planted at the lock's name is not followed
    std::filesystem::create_symlink("planted", image + ".lock");
    EXPECT_EQ(FailureOf([&] { Export(image, source, std::chrono::milliseconds(100)); }),
              "Cannot create file " + image + ": too many symbolic links");
  }
  EXPECT_EQ(ReadFile(image), "old image");
  EXPECT_EQ(ReadFile(big).size(), 512u * 1024 + 1);
  EXPECT_EQ(dir.EntryCount(), testing::PosixFiles ? 6u : 3u);  // no source, temporary file or planted file
}

// Exports of one pair take turns through the lock file beside the image:
// one that finds it held waits, and refuses when the wait is over.
#ifdef __linux__
// Sets or clears the immutable flag, which makes even root's rename over the
// file fail; false where the file system or the user cannot.
bool SetImmutable(const std::string& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return done;
}

// The one failure that comes after the image took its place: the source's
// own rename. The image goes back to what it was, or away when it is new.
TEST(ExportPair, ASourceThatCannotTakeItsPlaceTakesTheImageBack) {
  for (const bool earlier : {true, false}) {
    SCOPED_TRACE(earlier ? "an earlier image" : "no earlier image");
    const testing::TempDir dir;
    const std::string image = dir.File("sms.bin"), source = dir.File("stdcfg.c");
    if (earlier) WriteFile(image, "old image");
    WriteFile(source, "old source");
    if (!SetImmutable(source, true)) GTEST_SKIP() << "the immutable flag needs root and a file system that has it";
    const std::string failure = FailureOf([&] { Export(image, source); });
    SetImmutable(source, false);
    EXPECT_TRUE(failure.starts_with("Cannot create file " + source + ": ")) << failure;
    EXPECT_EQ(ReadFile(source), "old source");
    EXPECT_EQ(ReadFile(image), earlier ? "old image" : "");
    EXPECT_EQ(dir.EntryCount(), earlier ? 2u : 1u);  // nor a temporary file, nor the lock
  }
}
#endif

TEST(ExportPair, WaitsForAnotherExportOfThePair) {
  using namespace std::chrono_literals;
  const testing::TempDir dir;
  const std::string image = dir.File("sms.bin"), source = dir.File("stdcfg.c");
  WriteFile(image, "old image");
  auto other = std::make_unique<FileLock>();
  ASSERT_EQ(other->TryTake(image + ".lock"), FileLock::Outcome::Taken);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FailureOf([&] { Export(image, source, 300ms); }),
            "Cannot create file " + image + ": another export of this pair is under way");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  EXPECT_EQ(ReadFile(image), "old image");
  EXPECT_EQ(dir.EntryCount(), 2u);  // the image and the other's lock file

  std::thread finish([&] {
    std::this_thread::sleep_for(200ms);
    other.reset();
  });
  WatchDisk(Record);
  EXPECT_EQ(FailureOf([&] { Export(image, source, 10s); }), "no failure");
  WatchDisk(nullptr);
  finish.join();
  // The new image and source and the copy of the old image are on the disk
  // before the image takes its place; Windows puts a rename on the disk as
  // it makes it, POSIX systems once the folder is flushed.
  const std::string d = testing::PosixFiles ? " d" : "";
  EXPECT_EQ(Steps, "c1 w1 f1 c2 w2 f2 c3 w3 f3 r1" + d + " r2" + d);
  EXPECT_EQ(ReadFile(image) + ReadFile(source), "new imagenew source");
  EXPECT_EQ(dir.EntryCount(), 2u);  // no lock file left
}

#ifndef _WIN32
// The export's files stand in the home folder that HOME names, or in the
// user's own when HOME is empty or unset.
TEST(ExportPaths, StandInTheHomeFolder) {
  const char* const home = std::getenv("HOME");
  const std::string kept = home != nullptr ? home : "", own = ::getpwuid(::getuid())->pw_dir;
  using Case = std::pair<const char*, std::string>;  // HOME, the folder of the files
  for (const auto& [set, folder] : {Case{"/u", "/u/"}, Case{"/u/", "/u/"}, Case{"", own + "/"}, Case{nullptr, own + "/"}}) {
    set != nullptr ? ::setenv("HOME", set, 1) : ::unsetenv("HOME");
    EXPECT_EQ(DefaultImagePath() + " " + DefaultSourcePath(), folder + "sms.bin " + folder + "stdcfg.c");
  }
  ::setenv("HOME", kept.c_str(), 1);
}
#endif

}  // namespace
}  // namespace smsconf
