#include "model/Project.h"

#include "common/TempDir.h"
#include "model/EventBuilder.h"
#include "model/IniFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace smsconf {
namespace {

using testing::AddEvent;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::string BlankPhones() {
  std::string text;
  for (int i = 0; i < 8; ++i) {
    text += "[Phone" + std::to_string(i) + "]\r\nNumber=\r\nComment=\r\n\r\n";
  }
  return text;
}

class ProjectFileTest : public ::testing::Test {
 protected:
  TempDir Dir;
  std::string Path = Dir.File("project.sms");
};

TEST_F(ProjectFileTest, NewProjectHasEightBlankSlots) {
  CProject project;
  ASSERT_EQ(project.Phones->Count(), 8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(project.Phones->Get(i)->ID, i);
    EXPECT_EQ(project.Phones->Get(i)->Number, "");
  }
  EXPECT_EQ(project.Events->Count(), 0);
  EXPECT_THROW(project.Phones->Get(8), std::out_of_range);
  EXPECT_THROW(project.Phones->Get(-1), std::out_of_range);
}

TEST_F(ProjectFileTest, SavesTheDocumentedLayout) {
  CProject project;
  project.FileName = Path;
  project.Save();
  EXPECT_EQ(ReadFile(Path), BlankPhones());

  project.Phones->Get(0)->Number = "+70000000001";
  AddEvent(project, 0, false, 0, 1, "Power restored");
  AddEvent(project, 3, true, 10, 5, "Door open");
  project.Save();
  std::string expected = BlankPhones();
  expected.replace(expected.find("Number=") + 7, 0, "+70000000001");
  expected +=
      "[Event0]\r\nNeg=0\r\nPin=0\r\nDelay=0\r\nSend=1\r\nText=Power restored\r\n\r\n"
      "[Event1]\r\nNeg=1\r\nPin=3\r\nDelay=10\r\nSend=5\r\nText=Door open\r\n\r\n";
  EXPECT_EQ(ReadFile(Path), expected);
}

TEST_F(ProjectFileTest, RoundTripKeepsBytesButNotOuterBlanks) {
  CProject project;
  project.FileName = Path;
  project.Phones->Get(2)->Number = "+79991234567";
  project.Phones->Get(2)->Comment = "\xC4\xE5\xE6\xF3\xF0\xED\xFB\xE9";  // Дежурный
  project.Phones->Get(7)->Comment = "  padded  ";
  AddEvent(project, 5, true, 300, 0x81, " \xC0\xE2\xE0\xF0\xE8\xFF ");
  AddEvent(project, -1, false, 70000, 0, "");
  project.Save();

  CProject loaded;
  loaded.FileName = Path;
  loaded.Load();
  EXPECT_EQ(loaded.Phones->Get(2)->Number, "+79991234567");
  EXPECT_EQ(loaded.Phones->Get(2)->Comment, project.Phones->Get(2)->Comment);
  EXPECT_EQ(loaded.Phones->Get(7)->Comment, "padded");
  ASSERT_EQ(loaded.Events->Count(), 2);
  const CEvent& first = *loaded.Events->Get(0);
  EXPECT_TRUE(first.Neg);
  EXPECT_EQ(first.Pin, 5);
  EXPECT_EQ(first.Delay, 300);
  EXPECT_EQ(first.Send, 0x81);
  EXPECT_EQ(first.Text, "\xC0\xE2\xE0\xF0\xE8\xFF");
  EXPECT_EQ(loaded.Events->Get(1)->Pin, -1);
  EXPECT_EQ(loaded.Events->Get(1)->Delay, 70000);
}

TEST_F(ProjectFileTest, ReadsValuesByTheFileRules) {
  WriteFile(Path,
            "[phone2]\nnumber=123\n"
            "[PHONE9]\nNumber=ignored\n"
            "[event0]\nneg=7\npin=0x10\ndelay=abc\nsend=511\ntext=a\n"
            "[Event1]\nSend=-1\nPin=$FFFFFFFF\n"
            "[Event2]\nSend=256\nNeg=0\n");
  CProject project;
  project.Phones->Get(2)->Comment = "stale";
  project.FileName = Path;
  project.Load();
  EXPECT_EQ(project.Phones->Get(2)->Number, "123");
  EXPECT_EQ(project.Phones->Get(2)->Comment, "");  // slots are reset before reading
  ASSERT_EQ(project.Events->Count(), 3);
  struct Expect {
    bool neg;
    int pin, delay, send;
  };
  const Expect expected[] = {{true, 16, 0, 255}, {false, -1, 0, 255}, {false, 0, 0, 0}};
  for (int i = 0; i < 3; ++i) {
    const CEvent& e = *project.Events->Get(i);
    EXPECT_EQ(e.Neg, expected[i].neg) << i;
    EXPECT_EQ(e.Pin, expected[i].pin) << i;
    EXPECT_EQ(e.Delay, expected[i].delay) << i;
    EXPECT_EQ(e.Send, expected[i].send) << i;
  }
}

TEST_F(ProjectFileTest, PhoneListLoadKeepsFieldsWhoseKeyIsMissing) {
  CIniFile ini;
  ini.SetText("[Phone3]\nNumber=5\n");
  CPhoneList phones;
  phones.Init();
  phones.Get(3)->Comment = "before";
  phones.Load(ini);
  EXPECT_EQ(phones.Get(3)->Number, "5");
  EXPECT_EQ(phones.Get(3)->Comment, "before");
}

TEST_F(ProjectFileTest, StaleEventSectionsGoAndGapsStop) {
  CProject project;
  project.FileName = Path;
  AddEvent(project, 1, false, 0, 1, "a");
  CEvent* middle = AddEvent(project, 2, false, 0, 1, "b");
  AddEvent(project, 3, false, 0, 1, "c");
  project.Save();
  EXPECT_EQ(project.Events->Remove(middle), 1);
  delete middle;
  project.Save();
  std::string text = ReadFile(Path);
  EXPECT_NE(text.find("[Event1]"), std::string::npos);
  EXPECT_EQ(text.find("[Event2]"), std::string::npos);

  // A gap: Event3 stays in the file untouched and is still not read.
  WriteFile(Path, ReadFile(Path) + "[Event3]\r\nText=orphan\r\n\r\n");
  project.Load();
  ASSERT_EQ(project.Events->Count(), 2);
  EXPECT_EQ(project.Events->Get(1)->Text, "c");
  project.Save();
  text = ReadFile(Path);
  EXPECT_NE(text.find("[Event3]\r\nText=orphan\r\n"), std::string::npos);
  project.Load();
  EXPECT_EQ(project.Events->Count(), 2);
}

TEST_F(ProjectFileTest, DuplicateStaleSectionDoesNotComeBack) {
  WriteFile(Path, "[Event0]\nText=a\n[Event1]\nText=old\n[event1]\nText=newer\n");
  CProject project;
  project.FileName = Path;
  project.Load();
  ASSERT_EQ(project.Events->Count(), 2);
  EXPECT_EQ(project.Events->Get(1)->Text, "newer");
  project.Events->Clear();
  project.Save();
  project.Load();
  EXPECT_EQ(project.Events->Count(), 0);
}

TEST_F(ProjectFileTest, ForeignSectionsAndKeysStayInPlace) {
  WriteFile(Path,
            "[Hand]\r\nnote = by hand\r\n\r\n"
            "[Phone0]\r\nNumber=1\r\nColour=red\r\nComment=x\r\n\r\n"
            "[Tail]\r\nz=1\r\n");
  CProject project;
  project.FileName = Path;
  project.Load();
  project.Phones->Get(0)->Number = "2";
  project.Save();
  const std::string text = ReadFile(Path);
  EXPECT_EQ(text.rfind("[Hand]\r\nnote=by hand\r\n\r\n[Phone0]\r\nNumber=2\r\nColour=red\r\nComment=x\r\n\r\n"
                       "[Tail]\r\nz=1\r\n\r\n[Phone1]",
                       0),
            0u)
      << text;
}

TEST_F(ProjectFileTest, OpeningTwiceGivesTheEventsOnce) {
  WriteFile(Path, "[Event0]\nText=a\n");
  CProject project;
  project.FileName = Path;
  project.Load();
  project.Load();
  EXPECT_EQ(project.Events->Count(), 1);
}

TEST_F(ProjectFileTest, NewKeepsFileNameAndSaveOverwrites) {
  CProject project;
  project.FileName = Path;
  AddEvent(project, 1, false, 0, 1, "a");
  project.Save();
  project.New();
  EXPECT_EQ(project.FileName, Path);
  project.Save();
  EXPECT_EQ(ReadFile(Path), BlankPhones());
}

TEST_F(ProjectFileTest, MissingFileLoadsBlankAndForeignFileLoadsBlank) {
  CProject project;
  project.FileName = Dir.File("absent.sms");
  AddEvent(project, 1, false, 0, 1, "a");
  project.Load();
  EXPECT_EQ(project.Events->Count(), 0);
  WriteFile(Path, "not an ini file at all\n\x00\x01\x02");
  project.FileName = Path;
  project.Load();
  EXPECT_EQ(project.Events->Count(), 0);
}

// Failure paths: errors carry the specified texts and the path, and neither
// the project nor the file on disk changes.
TEST_F(ProjectFileTest, UnreadableFileThrowsBeforeAnythingChanges) {
  CProject project;
  AddEvent(project, 1, false, 0, 1, "kept");
  project.FileName = Dir.Path.string();  // a folder exists but cannot be read as a file
  try {
    project.Load();
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + project.FileName);
  }
  EXPECT_EQ(project.Events->Count(), 1);
}

TEST_F(ProjectFileTest, UnwritablePlacesThrowCannotCreate) {
  WriteFile(Dir.File("plain"), "x");
  const std::string paths[] = {"", Dir.File("plain") + "/inside.sms",
                               Dir.File("missing-folder") + "/p.sms"};
  for (const std::string& path : paths) {
    CProject project;
    project.FileName = path;
    try {
      project.Save();
      ADD_FAILURE() << "no exception for " << path;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot create file " + path);
    }
  }
  EXPECT_EQ(Dir.EntryCount(), 1u);
}

TEST_F(ProjectFileTest, ReadOnlyFolderThrowsAndKeepsOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  CProject project;
  project.FileName = Path;
  project.Save();
  const std::string before = ReadFile(Path);
  std::filesystem::permissions(Dir.Path, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::owner_exec);
  AddEvent(project, 1, false, 0, 1, "a");
  EXPECT_THROW(project.Save(), std::runtime_error);
  std::filesystem::permissions(Dir.Path, std::filesystem::perms::owner_all);
  EXPECT_EQ(ReadFile(Path), before);
  EXPECT_EQ(Dir.EntryCount(), 1u);
}

TEST_F(ProjectFileTest, SaveFailingMidwayLeavesOldFileIntact) {
  CProject project;
  project.FileName = Path;
  project.Save();
  const std::string before = ReadFile(Path);
  for (int i = 0; i < 2000; ++i) AddEvent(project, i % 32, i % 2, i, 1, std::string(60, 'x'));

  // Let the write run into a file size limit: it fails partway through.
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &old);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ::setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_THROW(project.Save(), std::runtime_error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &old, nullptr);

  EXPECT_EQ(ReadFile(Path), before);
  EXPECT_EQ(Dir.EntryCount(), 1u);
}

}  // namespace
}  // namespace smsconf
