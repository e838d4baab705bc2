#include "files/AtomicFile.h"

#include "common/Failure.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>


namespace smsconf {
namespace {

namespace fs = std::filesystem;

TEST(AtomicFile, ReplacesTheFileKeepingItsPermissionsAndLinks) {
  if (!testing::PosixFiles) GTEST_SKIP() << testing::NoPosixFiles;
  const testing::TempDir dir;
  const std::string real = dir.File("real.c"), link = dir.File("link.c");
  testing::WriteFile(real, "a much longer old content");
  fs::permissions(real, fs::perms(0640));
  fs::create_symlink("real.c", link);
  WriteFileAtomically(link, "new");
  EXPECT_EQ(testing::ReadFile(real), "new");
  EXPECT_EQ(fs::status(real).permissions(), fs::perms(0640));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(dir.EntryCount(), 2u);
}

// Whatever is not a regular file is refused before anything is written, a
// FIFO included, which a write or a read back would wait on for ever.
TEST(AtomicFile, FailureLeavesWhatWasThereAndNoTemporaryFile) {
  const testing::TempDir dir;
  fs::create_directory(dir.Path / "sms.bin");
  if (testing::MakeFifo(dir.File("fifo"))) {
    fs::create_symlink("fifo", dir.Path / "to-fifo");
    fs::create_symlink("nowhere", dir.Path / "dangling");
  }
  const std::pair<std::string, std::string> cases[] = {
      {dir.File("sms.bin"), "is a directory"},
      {dir.File("fifo"), "not a regular file (a device, FIFO or socket)"},
      {dir.File("to-fifo"), "not a regular file (a device, FIFO or socket)"},
      {dir.File("dangling"), "a symbolic link to nothing"},
      {"", "no file name"},
  };
  for (const auto& [path, reason] : cases) {
    if (!testing::PosixFiles && (path.ends_with("fifo") || path.ends_with("dangling"))) continue;
    EXPECT_EQ(testing::FailureOf([&] { WriteFileAtomically(path, "new"); }),
              "Cannot create file " + path + ": " + reason);
  }
  EXPECT_TRUE(fs::is_directory(dir.Path / "sms.bin"));
  EXPECT_EQ(fs::is_fifo(dir.Path / "fifo"), testing::PosixFiles);
  EXPECT_EQ(dir.EntryCount(), testing::PosixFiles ? 4u : 1u);
}

}  // namespace
}  // namespace smsconf
