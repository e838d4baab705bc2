// Runs the built smsconf-cli on image files, as a user would.

#include "common/TempDir.h"
#include "image/ImageAssembly.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace smsconf {
namespace {

struct CliRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

CliRun Dump(const testing::TempDir& dir, const std::string& image) {
  const std::string command = std::string("'") + SMSCONF_CLI + "' dump '" + image + "' >'" +
                              dir.File("out") + "' 2>'" + dir.File("err") + "'";
  const int raw = std::system(command.c_str());
  CliRun run;
  run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.Out = testing::ReadFile(dir.File("out"));
  run.Err = testing::ReadFile(dir.File("err"));
  return run;
}

std::string AsText(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(DumpCommand, PrintsASoundImage) {
  testing::TempDir dir;
  std::vector<std::string> phones = testing::EmptyPhones();
  phones[0] = "+70000000001";
  phones[2] = "+7\x1B[2J";  // a terminal escape must not reach the terminal
  const std::vector<testing::TestEvent> events = {
      {5, true, 300, 0x01, "\xC0\xE2\xE0\xF0\xE8\xFF"},
      {12, false, 60, 0x85, "Test"},
      {31, false, 0, 0x00, ""},
  };
  testing::WriteFile(dir.File("sms.bin"), AsText(testing::AssembleImage(phones, events)));

  const CliRun run = Dump(dir, dir.File("sms.bin"));
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  for (const char* line : {
           "Signature     0x7331\n", "Length        84 bytes\n", "Phone table   offset 41\n",
           "Event table   offset 58\n", "String area   33 bytes\n",
           "  0     +70000000001\n", "  1     (empty)\n", "  2     +7\\x1B[2J\n",
           "  7     (empty)\n",
           "  0     DI5-F-300      0                Авария\n",
           "  1     DI12-R-60      0,2,7            Test\n",
           "  2     DI31-R-0       -                \n",
       }) {
    EXPECT_NE(run.Out.find(line), std::string::npos) << line << "\nin\n" << run.Out;
  }
  EXPECT_EQ(run.Out.find('\x1B'), std::string::npos);
}

TEST(DumpCommand, ReportsTheFirstDefectOfAnImage) {
  testing::TempDir dir;
  std::vector<std::uint8_t> image = testing::AlarmImage();
  image.resize(40);
  testing::WriteFile(dir.File("bad.bin"), AsText(image));

  const CliRun run = Dump(dir, dir.File("bad.bin"));
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err, dir.File("bad.bin") + ": offset 2: length word 56 does not match the file size 40\n");
}

TEST(DumpCommand, ReportsAFileThatCannotBeRead) {
  testing::TempDir dir;
  for (const std::string& path : {dir.File("missing.bin"), dir.Path.string()}) {
    const CliRun run = Dump(dir, path);
    EXPECT_EQ(run.Status, 1) << path;
    EXPECT_EQ(run.Err, "Cannot open file " + path + "\n");
  }
}

}  // namespace
}  // namespace smsconf
