// Runs the built smsconf-cli as a user would.

#include "common/RunProcess.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

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
  const testing::TempDir dir;
  const std::string missing = dir.File("missing.sms"), image = dir.File("sms.bin"), large = dir.File("large.bin");
  testing::WriteFile(large, std::string(65536 + 8, '\0'));
  struct Case { std::vector<std::string> arguments; int status; std::string error; };
  const Case cases[] = {
      {{}, 2, ""},
      {{"frobnicate"}, 2, ""},
      {{"dump", "--frobnicate", image}, 2, ""},
      {{"dump"}, 2, ""},
      {{"--help"}, 0, ""},
      {{"export", missing, "--image", image, "--source", dir.File("stdcfg.c")}, 1,
       "Cannot open file " + missing},
      {{"dump", image}, 1, "Cannot open file " + image},
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
  EXPECT_EQ(dir.EntryCount(), 1u);  // nothing written but the large file
}

}  // namespace
}  // namespace smsconf
