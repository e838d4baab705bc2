#include "image/AtomicFile.h"

#include "common/TempDir.h"
#include "image/ExportPaths.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace smsconf {
namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

// The message callers show to the user.
void ExpectCannotCreate(const std::string& path, const std::string& bytes) {
  try {
    WriteFileAtomically(path, bytes);
    ADD_FAILURE() << "no failure reported for " << path;
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + path);
  }
}

TEST(AtomicFile, NewFileGetsTheUsualModeAndAllBytes) {
  testing::TempDir dir;
  const mode_t mask = umask(0);
  umask(mask);
  const std::string bytes("\x00\x01\xFF\r\n", 5);
  WriteFileAtomically(dir.File("a.bin"), bytes);
  EXPECT_EQ(testing::ReadFile(dir.File("a.bin")), bytes);
  EXPECT_EQ(ModeOf(dir.File("a.bin")), 0666 & ~mask);
  EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST(AtomicFile, ReplacingKeepsTheOldPermissions) {
  testing::TempDir dir;
  const std::string path = dir.File("stdcfg.c");
  testing::WriteFile(path, "a much longer old content");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  WriteFileAtomically(path, "new");
  EXPECT_EQ(testing::ReadFile(path), "new");
  EXPECT_EQ(ModeOf(path), 0640u);
  EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST(AtomicFile, SymbolicLinkStaysAndItsFileIsReplaced) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("real.bin"), "old");
  fs::create_symlink("real.bin", dir.Path / "link.bin");
  WriteFileAtomically(dir.File("link.bin"), "new");
  EXPECT_TRUE(fs::is_symlink(dir.Path / "link.bin"));
  EXPECT_EQ(testing::ReadFile(dir.File("real.bin")), "new");
  EXPECT_EQ(dir.EntryCount(), 2u);
}

TEST(AtomicFile, MissingFolderIsReported) {
  testing::TempDir dir;
  ExpectCannotCreate(dir.File("missing/sms.bin"), "x");
  EXPECT_EQ(dir.EntryCount(), 0u);
}

TEST(AtomicFile, ReadOnlyFolderLeavesTheOldFile) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the super-user";
  testing::TempDir dir;
  const std::string path = dir.File("sms.bin");
  testing::WriteFile(path, "old");
  ASSERT_EQ(chmod(dir.Path.c_str(), 0555), 0);
  ExpectCannotCreate(path, "new");
  chmod(dir.Path.c_str(), 0755);
  EXPECT_EQ(testing::ReadFile(path), "old");
  EXPECT_EQ(dir.EntryCount(), 1u);
}

// A disk that fills up half-way through the write, made with a file size
// limit that binds the super-user too.
TEST(AtomicFile, WriteThatFailsHalfWayLeavesTheOldFile) {
  testing::TempDir dir;
  const std::string path = dir.File("sms.bin");
  testing::WriteFile(path, "old");

  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 10;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  ExpectCannotCreate(path, std::string(100, 'n'));
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, savedSignal);

  EXPECT_EQ(testing::ReadFile(path), "old");
  EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST(AtomicFile, TargetThatIsAFolderIsReported) {
  testing::TempDir dir;
  fs::create_directory(dir.Path / "sms.bin");
  ExpectCannotCreate(dir.File("sms.bin"), "x");
  EXPECT_TRUE(fs::is_directory(dir.Path / "sms.bin"));
  EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST(ExportPaths, FilesStandInTheHomeFolder) {
  const char* saved = std::getenv("HOME");
  const std::string savedHome = saved ? saved : "";
  setenv("HOME", "/home/engineer", 1);
  EXPECT_EQ(DefaultImagePath(), "/home/engineer/sms.bin");
  EXPECT_EQ(DefaultSourcePath(), "/home/engineer/stdcfg.c");
  unsetenv("HOME");
  EXPECT_EQ(fs::path(DefaultImagePath()).filename(), "sms.bin");
  if (saved) setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
}  // namespace smsconf
