// Runs the built smsconf-cli as a user would.

#include "common/RunProcess.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace smsconf {
namespace {

using testing::ProcessResult;

ProcessResult Cli(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), SMSCONF_CLI);
  return testing::RunProcess(std::move(arguments));
}

TEST(Cli, ExportsTheSampleProjectAndDumpsItsImage) {
  const testing::TempDir dir;
  const std::string image = dir.File("sms.bin"), source = dir.File("stdcfg.c");
  ProcessResult run = Cli({"export", SMSCONF_SOURCE_DIR "/examples/pumping-station.sms", "--image",
                           image, "--source", source});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "Экспорт конфигурации завершен: 271 байт.\n");
  EXPECT_TRUE(std::filesystem::exists(source));

  run = Cli({"dump", image});
  EXPECT_EQ(run.Status, 0) << run.Err;
  for (const char* line : {"Length        271 bytes\n", "  0     +79161234567\n",
                           "  3     (empty)\n",
                           "  4     DI5-F-300      0,7              АВАРИЯ НАСОСА\n",
                           "  5     DI6-F-300      0,7              АВАРИЯ НАСОСА\n",
                           "  7     DI31-F-3600    7                Нет связи с датчиком DI31\n"}) {
    EXPECT_NE(run.Out.find(line), std::string::npos) << line << run.Out;
  }

  testing::WriteFile(image, testing::ReadFile(image).substr(0, 100));
  run = Cli({"dump", image});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err, image + ": offset 2: length word 271 does not match the file size 100\n");
}

TEST(Cli, UsageErrorsAndFailuresGiveTheirExitStatus) {
  const testing::TempDir dir, inputs;
  const std::string missing = dir.File("missing.sms"), image = dir.File("sms.bin"), source = dir.File("stdcfg.c");
  const std::string large = inputs.File("large.bin");
  testing::WriteFile(large, std::string(65536 + 8, '\0'));
  struct Case { std::vector<std::string> arguments; int status; std::string error; };
  const Case cases[] = {
      {{}, 2, ""},
      {{"frobnicate"}, 2, ""},
      {{"dump", "--frobnicate", image}, 2, ""},
      {{"dump"}, 2, ""},
      {{"--help"}, 0, ""},
      {{"export", missing, "--image", image, "--source", source}, 1, "Cannot open file " + missing + ": no such file"},
      {{"dump", image}, 1, "Cannot open file " + image},
      {{"dump", dir.Path.string()}, 1, "Cannot open file " + dir.Path.string() + ": is a directory"},
      {{"check"}, 2, ""},
      {{"check", inputs.File("нет.sms")}, 1, "Cannot open file " + inputs.File("нет.sms") + ": no such file"},
      {{"load", "--unit", "abc"}, 2, "--unit: abc is not a number"},
      {{"simulate", "--drop", "nan"}, 2, "--drop: nan is not a number"},
      {{"simulate", "--seed", "-1"}, 2, "--seed: -1 is negative"},
      {{"simulate", "--save-image", dir.File("none/x.bin")}, 2,
       "--save-image: Cannot create file " + dir.File("none/x.bin") + ": no such folder"},
      {{"dump", large}, 1, large + ": file is longer than the largest possible image of 65535 bytes"},
  };
  for (const Case& c : cases) {
    const ProcessResult run = Cli(c.arguments);
    std::string name = "smsconf-cli";
    for (const std::string& argument : c.arguments) name += ' ' + argument;
    EXPECT_EQ(run.Status, c.status) << name;
    EXPECT_TRUE(run.Err.starts_with(c.error)) << name << ": " << run.Err;
    EXPECT_EQ(run.Err.empty(), c.status == 0) << name;  // every failure says why
  }
  EXPECT_EQ(dir.EntryCount(), 0u);
}

TEST(Cli, CheckListsFindingsAndExportWarnsButGoesOn) {
  const testing::TempDir dir;
  const std::string project = dir.File("проект.sms"), image = dir.File("sms.bin"), source = dir.File("stdcfg.c");
  const std::string finding = project + ":4: [Event0] Pin: Pin 40 is outside the inputs 0 to 31\n";
  testing::WriteFile(project, "[Phone0]\r\nNumber=+7\r\n[Event0]\r\nPin=40\r\nSend=1\r\n");
  ProcessResult run = Cli({"check", project});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out, finding);
  run = Cli({"export", project, "--image", image, "--source", source});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "warning: " + finding);
  run = Cli({"check", SMSCONF_SOURCE_DIR "/examples/pumping-station.sms"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out + run.Err, "");
}

// Past the file size limit a write fails like any other, and the export is
// rolled back instead of the program ending halfway.
TEST(Cli, AFileSizeLimitIsAnOrdinaryWriteError) {
#ifdef _WIN32
  GTEST_SKIP() << testing::NoPosixFiles;
#else
  const testing::TempDir dir;
  const std::string project = dir.File("p.sms"), image = dir.File("sms.bin"), source = dir.File("stdcfg.c");
  std::string text = "[Phone0]\r\nNumber=+7\r\n";
  for (int i = 0; i < 100; ++i) text += "[Event" + std::to_string(i) + "]\r\nSend=1\r\nText=" + std::to_string(i) + "\r\n";
  testing::WriteFile(project, text);
  testing::WriteFile(image, "old image");
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 4096;  // the image fits, its source does not
  ::setrlimit(RLIMIT_FSIZE, &small);
  const ProcessResult run = Cli({"export", project, "--image", image, "--source", source});
  ::setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "Cannot create file " + source + ": file too large\n");
  EXPECT_EQ(testing::ReadFile(image), "old image");
  EXPECT_EQ(dir.EntryCount(), 2u);
#endif
}

// Output that cannot be written fails every command with the reason, also
// one that had nothing else to fail.
TEST(Cli, OutputThatCannotBeWrittenFailsTheCommand) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no full device";
#else
  const testing::TempDir dir;
  const std::string image = dir.File("sms.bin"), source = dir.File("stdcfg.c"), project = dir.File("p.sms");
  ASSERT_EQ(Cli({"export", SMSCONF_SOURCE_DIR "/examples/pumping-station.sms", "--image", image, "--source", source})
                .Status, 0);
  testing::WriteFile(project, "[Event0]\r\nPin=40\r\n");  // a finding: check fails anyway
  const struct {
    std::vector<std::string> Arguments;
    int Status;
  } cases[] = {
      {{"dump", image}, 1},
      {{"check", project}, 1},
      {{"export", SMSCONF_SOURCE_DIR "/examples/pumping-station.sms", "--image", image, "--source", source}, 1},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = c.Arguments;
    arguments.insert(arguments.begin(), SMSCONF_CLI);
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    const ProcessResult run = testing::RunProcess(arguments, full);
    ::close(full);
    EXPECT_EQ(run.Status, c.Status) << c.Arguments[0];
    EXPECT_TRUE(run.Err.ends_with("smsconf-cli: cannot write the output: disk full\n")) << c.Arguments[0] << ": " << run.Err;
  }
#endif
}

}  // namespace
}  // namespace smsconf
