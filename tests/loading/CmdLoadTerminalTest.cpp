// smsconf-cli load on a terminal, against smsconf-cli simulate: the block
// progress shares one line, rewritten in place with a bar, and the lines
// are coloured by their kind.

#include <gtest/gtest.h>

#include <string>

#include "common/ChildProcess.h"
#include "common/PtyProcess.h"
#include "common/TempDir.h"

namespace smsconf {
namespace {

TEST(CmdLoad, ShowsTheProgressOnATerminalInOneLine) {
  testing::TempDir dir;
  std::string image(300, '\0');  // five blocks of the simulated unit
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
  testing::WriteFile(dir.File("sms.bin"), image);
  testing::ChildProcess simulate({SMSCONF_CLI, "simulate", "--listen", "127.0.0.1:0"});
  const std::string listening = simulate.ReadLine().value_or("");
  ASSERT_TRUE(listening.starts_with("listening on ")) << listening;
  const std::string gateway = listening.substr(std::string("listening on ").size());

  testing::PtyProcess load({SMSCONF_CLI, "load", dir.File("sms.bin"), "--gateway", gateway, "--tries", "5", "--force"});
  const std::string output = load.Output();
  EXPECT_EQ(load.Wait(), 0) << output;
  const std::string progress = "Загрузка файла конфигурации (300 байт)\n"
                               "\r\x1b[KВыполнено 21 % [######------------------------]"
                               "\r\x1b[KВыполнено 43 % [############------------------]"
                               "\r\x1b[KВыполнено 64 % [###################-----------]"
                               "\r\x1b[KВыполнено 85 % [#########################-----]"
                               "\r\x1b[KВыполнено 100 % [##############################]\n"
                               "Загрузка завершена\n";
  EXPECT_NE(output.find(progress), std::string::npos) << output;
  // The green last line: "... завершена (N мс)", N a number of milliseconds.
  const std::string head = "\n\x1b[32mЗагрузка конфигурации завершена (", tail = " мс)\x1b[0m\n";
  const std::size_t last = output.rfind(head);
  ASSERT_NE(last, std::string::npos) << output;
  const std::string milliseconds = output.substr(last + head.size());
  ASSERT_TRUE(milliseconds.ends_with(tail)) << output;
  const std::string digits = milliseconds.substr(0, milliseconds.size() - tail.size());
  EXPECT_TRUE(!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos) << output;
}

}  // namespace
}  // namespace smsconf
