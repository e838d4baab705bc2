#include "files/AtomicFile.h"

#include "common/Failure.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

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

// A link in a sticky folder that everyone may write to is followed only when
// it belongs to this user or to the folder's owner, whatever the system's
// own setting: anyone could have put it there. Links that lead through such
// a folder count too.
TEST(AtomicFile, FollowsALinkInASharedStickyFolderOnlyFromItsOwners) {
#ifdef _WIN32
  GTEST_SKIP() << testing::NoPosixFiles;
#else
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a link to another user";
  constexpr uid_t Me = 0, Other = 54321;
  const testing::TempDir dir;
  const std::string real = dir.File("real.conf");
  fs::create_directory(dir.Path / "real");
  struct Case { fs::perms mode; uid_t folderOwner, linkOwner; bool throughFolder, followed; };
  const Case cases[] = {
      {fs::perms(01777), Me, Other, false, false},
      {fs::perms(01777), Me, Other, true, false},
      {fs::perms(01777), Me, Me, false, true},
      {fs::perms(01777), Other, Other, false, true},
      {fs::perms(01777), Other, Me, true, true},
      {fs::perms(00777), Me, Other, false, true},
      {fs::perms(01775), Me, Other, false, true},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const fs::path shared = dir.Path / ("shared" + std::to_string(i));
    fs::create_directory(shared);
    fs::permissions(shared, c.mode);
    ASSERT_EQ(::chown(shared.c_str(), c.folderOwner, 0), 0);
    const fs::path link = shared / (c.throughFolder ? "real" : "real.conf");
    fs::create_symlink(c.throughFolder ? "../real" : "../real.conf", link);
    ASSERT_EQ(::lchown(link.c_str(), c.linkOwner, 0), 0);
    const std::string path = c.throughFolder ? (link / "file.conf").string() : link.string();
    const std::string target = c.throughFolder ? dir.File("real/file.conf") : real;
    testing::WriteFile(target, "old");
    const std::string failure = testing::FailureOf([&] { WriteFileAtomically(path, "new"); });
    EXPECT_EQ(failure, c.followed ? "no failure"
                                  : "Cannot create file " + path + ": the symbolic link " + link.string() +
                                        " is in a sticky folder that everyone may write to and belongs neither "
                                        "to this user nor to the folder's owner, so it is not followed")
        << "case " << i;
    EXPECT_EQ(testing::ReadFile(target), c.followed ? "new" : "old") << "case " << i;
  }
#endif
}

}  // namespace
}  // namespace smsconf
