#include "model/Project.h"

#include "common/Failure.h"
#include "common/TempDir.h"
#include "files/AtomicFile.h"
#include "model/EventBuilder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <tuple>

namespace smsconf {
namespace {

using testing::AddEvent;
using testing::FailureOf;
using testing::ReadFile;
using testing::WriteFile;

// The eight phone sections, phone 0 holding `number0`.
std::string PhoneSections(const std::string& number0 = "") {
  std::string text;
  for (int i = 0; i < 8; ++i)
    text += "[Phone" + std::to_string(i) + "]\r\nNumber=" + (i ? "" : number0) + "\r\nComment=\r\n\r\n";
  return text;
}

auto Fields(const CEvent& e) { return std::tuple(e.Neg, e.Pin, e.Delay, int(e.Send), e.Text); }

class ProjectTest : public ::testing::Test {
 protected:
  void SetUp() override { Project.FileName = Path; }
  testing::TempDir Dir;
  std::string Path = Dir.File("project.sms");
  CProject Project;
};

TEST_F(ProjectTest, SavesTheLayoutAndDropsSectionsOfEventsThatAreGone) {
  Project.Phones->Get(0)->Number = "+70000000001";
  AddEvent(*Project.Events, 0, false, 0, 1, "Power restored");
  AddEvent(*Project.Events, 3, true, 10, 5, "Door open");
  Project.Save();
  EXPECT_EQ(ReadFile(Path),
            PhoneSections("+70000000001") +
                "[Event0]\r\nNeg=0\r\nPin=0\r\nDelay=0\r\nSend=1\r\nText=Power restored\r\n\r\n"
                "[Event1]\r\nNeg=1\r\nPin=3\r\nDelay=10\r\nSend=5\r\nText=Door open\r\n\r\n");
  Project.New();
  Project.Save();
  EXPECT_EQ(ReadFile(Path), PhoneSections());
}

TEST_F(ProjectTest, LoadGivesBackWhatWasSavedLessOuterBlanks) {
  Project.Phones->Get(2)->Comment = "\xC4\xE5\xE6\xF3\xF0\xED\xFB\xE9";  // Дежурный
  Project.Phones->Get(7)->Number = "  +7 916  ";
  const std::string alarm = "\xC0\xE2\xE0\xF0\xE8\xFF";  // Авария
  AddEvent(*Project.Events, 5, true, 300, 0x81, " " + alarm + " ");
  AddEvent(*Project.Events, -1, false, 70000, 0, "");
  Project.Save();
  CProject loaded;
  loaded.FileName = Path;
  loaded.Load();
  loaded.Load();  // a second load replaces, never appends
  EXPECT_EQ(loaded.Phones->Get(2)->Comment, Project.Phones->Get(2)->Comment);
  EXPECT_EQ(loaded.Phones->Get(7)->Number, "+7 916");
  ASSERT_EQ(loaded.Events->Count(), 2);
  EXPECT_EQ(Fields(*loaded.Events->Get(0)), std::tuple(true, 5, 300, 0x81, alarm));
  EXPECT_EQ(Fields(*loaded.Events->Get(1)), std::tuple(false, -1, 70000, 0, ""));
}

TEST_F(ProjectTest, ReadsByTheFileRulesAndKeepsWhatItDoesNotOwn) {
  WriteFile(Path,
            "[Hand]\nnote = by hand\n[phone0]\nnumber=1\nColour=red\n"
            "[event0]\nneg=7\npin=0x10\ndelay=abc\nsend=511\ntext=a\n[Event1]\nSend=-1\n"
            "[Event3]\nText=orphan\n");
  Project.Phones->Get(0)->Comment = "from before";
  Project.Load();
  EXPECT_EQ(Project.Phones->Get(0)->Number, "1");
  EXPECT_EQ(Project.Phones->Get(0)->Comment, "");
  ASSERT_EQ(Project.Events->Count(), 2);
  EXPECT_EQ(Fields(*Project.Events->Get(0)), std::tuple(true, 16, 0, 255, "a"));
  EXPECT_EQ(Fields(*Project.Events->Get(1)), std::tuple(false, 0, 0, 255, ""));

  Project.Phones->Get(0)->Number = "2";
  Project.Save();
  const std::string text = ReadFile(Path);
  EXPECT_TRUE(text.starts_with("[Hand]\r\nnote=by hand\r\n\r\n[phone0]\r\nNumber=2\r\n"
                               "Colour=red\r\nComment=\r\n\r\n[event0]\r\nNeg=1\r\nPin=16\r\n"
                               "Delay=0\r\nSend=255\r\nText=a\r\n\r\n[Event1]\r\n")) << text;
  EXPECT_NE(text.find("[Event3]\r\nText=orphan\r\n\r\n[Phone1]\r\n"), std::string::npos) << text;
}

TEST_F(ProjectTest, FailuresNameThePathAndChangeNothing) {
  AddEvent(*Project.Events, 1, false, 0, 1, "kept");
  const std::string huge = Dir.File("huge.sms");
  WriteFile(huge, std::string(16 * 1024 * 1024 + 1, '\n'));
  const std::pair<std::string, std::string> unreadable[] = {
      {Dir.Path.string(), "is a directory"},
      {huge, "larger than 16 MiB, too large for a project file"},
  };
  for (const auto& [path, reason] : unreadable) {
    Project.FileName = path;
    EXPECT_EQ(FailureOf([&] { Project.Load(); }), "Cannot open file " + path + ": " + reason);
  }
  EXPECT_EQ(Project.Events->Count(), 1);
  std::filesystem::remove(huge);

  const std::pair<std::string, std::string> unwritable[] = {{"", "no file name"}, {Dir.File("none/p.sms"), "no such folder"}};
  for (const auto& [path, reason] : unwritable) {
    Project.FileName = path;
    EXPECT_EQ(FailureOf([&] { Project.Save(); }), "Cannot create file " + path + ": " + reason);
  }
  EXPECT_EQ(Dir.EntryCount(), 0u);

  Project.FileName = Dir.File("missing.sms");
  Project.Load();  // a missing file is a blank project
  EXPECT_EQ(Project.Events->Count(), 0);
}

// A disk that fills up partway through the write, made with a file size
// limit that binds the super-user too.
TEST_F(ProjectTest, SaveFailingMidwayLeavesTheOldFile) {
#ifdef _WIN32
  GTEST_SKIP() << testing::NoPosixFiles;
#else
  Project.Save();
  const std::string before = ReadFile(Path);
  for (int i = 0; i < 2000; ++i) AddEvent(*Project.Events, 0, false, i, 1, std::string(60, 'x'));
  const auto savedSignal = std::signal(SIGXFSZ, SIG_DFL);
  IgnoreFileSizeLimitSignal();
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ::setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_EQ(FailureOf([&] { Project.Save(); }), "Cannot create file " + Path + ": file too large");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, savedSignal);
  EXPECT_EQ(ReadFile(Path), before);
  EXPECT_EQ(Dir.EntryCount(), 1u);
#endif
}

}  // namespace
}  // namespace smsconf
