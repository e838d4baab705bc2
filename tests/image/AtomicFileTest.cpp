#include "image/AtomicFile.h"

#include "common/Failure.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace smsconf {
namespace {

namespace fs = std::filesystem;

TEST(AtomicFile, ReplacesTheFileKeepingItsPermissionsAndLinks) {
  const testing::TempDir dir;
  const std::string real = dir.File("real.c"), link = dir.File("link.c");
  testing::WriteFile(real, "a much longer old content");
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  fs::create_symlink("real.c", link);
  WriteFileAtomically(link, "new");
  EXPECT_EQ(testing::ReadFile(real), "new");
  EXPECT_EQ(fs::status(real).permissions(), fs::perms(0640));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(dir.EntryCount(), 2u);
}

// A folder in the target's place fails only at the rename, after the write.
TEST(AtomicFile, FailureLeavesWhatWasThereAndNoTemporaryFile) {
  const testing::TempDir dir;
  fs::create_directory(dir.Path / "sms.bin");
  for (const std::string& path : {dir.File("sms.bin"), dir.File("missing/sms.bin")}) {
    EXPECT_EQ(testing::FailureOf([&] { WriteFileAtomically(path, "new"); }),
              "Cannot create file " + path);
  }
  EXPECT_TRUE(fs::is_directory(dir.Path / "sms.bin"));
  EXPECT_EQ(dir.EntryCount(), 1u);
}

}  // namespace
}  // namespace smsconf
