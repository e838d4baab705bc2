#include "model/Project.h"

#include "common/Failure.h"
#include "common/TempDir.h"
#include "image/ImageDecoder.h"
#include "model/EventBuilder.h"

#include <gtest/gtest.h>

#include <vector>

namespace smsconf {
namespace {

using testing::AddEvent;
using testing::FailureOf;
using testing::ReadFile;
using testing::WriteFile;

class CompileTest : public ::testing::Test {
 protected:
  // Compiles into the temporary folder and returns the image file, which a
  // unit must accept; Decoded is what it holds.
  std::string Compile(const CProject& project) {
    const std::int32_t size = project.Compile(Source, Image);
    const std::string image = ReadFile(Image);
    EXPECT_EQ(std::size_t(size), image.size());
    const ImageDecodeResult result = CImageDecoder::Decode(
        std::span(reinterpret_cast<const std::uint8_t*>(image.data()), image.size()));
    EXPECT_TRUE(result.Ok) << result.Defect;
    Decoded = result.Image;
    return image;
  }

  testing::TempDir Dir;
  std::string Image = Dir.File("sms.bin");
  std::string Source = Dir.File("stdcfg.c");
  DecodedImage Decoded;
};

TEST_F(CompileTest, NewProjectGivesThe28ByteImageAndItsSource) {
  const std::string expected("\x31\x73\x1C\x00\x09\x00\x1A\x00\x00\x08\x08\x00\x08\x00\x08\x00"
                             "\x08\x00\x08\x00\x08\x00\x08\x00\x08\x00\x00\xD4", 28);
  EXPECT_EQ(Compile(CProject()), expected);
  std::string source = "#include <avr\\pgmspace.h>\n#include \"stdcfg.h\"\n"
                       "const unsigned char stdcfgdata[] PROGMEM = \n{\n";
  for (std::size_t i = 0; i < expected.size(); ++i) {
    char line[16];
    std::snprintf(line, sizeof line, "%s\t0x%02X", i ? ",\n" : "", expected[i] & 0xFF);
    source += line;
  }
  source += "\n};\n\nvoid stdcfg_init()\n{\nmemcpy_P((void *)0x8000, stdcfgdata, 28);\n}\n";
  EXPECT_EQ(ReadFile(Source), source);
}

TEST_F(CompileTest, OnePhoneAndOneCyrillicEvent) {
  CProject project;
  project.Phones->Get(0)->Number = "+70000000001";
  project.Phones->Get(0)->Comment = "not compiled";
  AddEvent(*project.Events, 5, true, 300, 0x01, "\xC0\xE2\xE0\xF0\xE8\xFF");  // Авария
  const std::string expected(
      "\x31\x73\x38\x00\x1D\x00\x2E\x00"                             // header
      "+70000000001\0\0\xC0\xE2\xE0\xF0\xE8\xFF\0"                     // texts
      "\x08\x08\x00\x15\x00\x15\x00\x15\x00\x15\x00\x15\x00\x15\x00\x15\x00"  // phones
      "\x01\x2C\x01\x01\x00\x05\x01\x16\x00"                         // event
      "\x4E", 56);                                                     // checksum
  EXPECT_EQ(Compile(project), expected);
}

TEST_F(CompileTest, TextsAreSharedIgnoringCaseAndEventsKeepListOrder) {
  CProject project;
  project.Phones->Get(0)->Number = "Alarm";
  AddEvent(*project.Events, 9, false, 0, 0, "ALARM");                       // phone 0's text
  AddEvent(*project.Events, 1, false, 0, 0, "\xC0\xE2\xE0\xF0\xE8\xFF");  // Авария
  AddEvent(*project.Events, 2, true, 0, 0, "\xE0\xC2\xC0\xD0\xC8\xDF");   // аВАРИЯ
  EXPECT_EQ(Compile(project).substr(8, Decoded.PhoneTable - 8),
            std::string("Alarm\0\0\xC0\xE2\xE0\xF0\xE8\xFF\0", 14));  // first spellings, once
  std::vector<std::pair<int, int>> events;  // pin, text reference
  for (std::size_t j = 0; j < Decoded.Content.Events.size(); ++j) {
    events.emplace_back(Decoded.Content.Events[j].Pin, Decoded.TextReferences[j]);
  }
  EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{9, 8}, {1, 15}, {2, 15}}));
}

TEST_F(CompileTest, GrowsPastTheFirstCapacitiesUpToTheLargestImage) {
  CProject project;
  for (int i = 0; i < 255; ++i) {
    AddEvent(*project.Events, i % 32, i % 2, i, 1, std::to_string(i) + std::string(200, 'x'));
  }
  EXPECT_GT(Compile(project).size(), 32768u);  // strings alone past 4096
  ASSERT_EQ(Decoded.Content.Events.size(), 255u);
  EXPECT_EQ(Decoded.Content.Events[254].Text, "254" + std::string(200, 'x'));

  CProject largest;
  AddEvent(*largest.Events, 255, true, 65535, 0xFF, std::string(65498, 'a'));
  EXPECT_EQ(Compile(largest).size(), 65535u);
}

void Add(CProject& project, int pin, int delay = 0, std::string text = "") {
  AddEvent(*project.Events, pin, false, delay, 0, std::move(text));
}

TEST_F(CompileTest, RefusesWhatTheImageCannotHoldAndKeepsOldFiles) {
  struct Case { void (*build)(CProject&); const char* message; };
  const Case cases[] = {
      {[](CProject& p) { for (int i = 0; i < 256; ++i) Add(p, 0); }, "Too many events: 256"},
      {[](CProject& p) { Add(p, 256); }, "Event 0: Pin 256"},
      {[](CProject& p) { Add(p, 1), Add(p, -1); }, "Event 1: Pin -1"},
      {[](CProject& p) { Add(p, 0, 65536); }, "Event 0: Delay 65536"},
      {[](CProject& p) { Add(p, 0, -1); }, "Event 0: Delay -1"},
      // The text that runs past the largest image is named, not the next.
      {[](CProject& p) { Add(p, 0, 0, std::string(65526, 'a')), Add(p, 0, 0, "b"); },
       "Event 0: Text: the text ends at image offset 65535, past the largest image of 65535 bytes"},
      {[](CProject& p) { Add(p, 0, 0, "a"), Add(p, 0, 0, std::string(65530, 'b')), Add(p, 0, 0, "c"); },
       "Event 1: Text: the text ends at image offset 65541"},
      {[](CProject& p) { p.Phones->Get(0)->Number = std::string(65527, '1'); },
       "Phone 0: Number: the text ends at image offset 65535"},
      {[](CProject& p) { p.Phones->Get(0)->Number = std::string(4 << 20, '1'); },
       "Phone 0: Number: the text ends at image offset 4194312"},
      {[](CProject& p) { p.Phones->Get(6)->Number = std::string(65530, '1'); Add(p, 0, 0, "a"); },
       "Phone 6: Number: the text ends at image offset 65539"},
      {[](CProject& p) { Add(p, 0, 0, std::string(65499, 'a')); }, "The image would be 65536"},
  };
  WriteFile(Image, "old image");
  WriteFile(Source, "old source");
  for (const Case& c : cases) {
    CProject project;
    c.build(project);
    const std::string failure = FailureOf([&] { project.Compile(Source, Image); });
    EXPECT_TRUE(failure.starts_with(c.message)) << failure;
    EXPECT_EQ(ReadFile(Image) + ReadFile(Source), "old imageold source") << c.message;
  }
  EXPECT_EQ(Dir.EntryCount(), 2u);
}

// Whatever else an export refuses is the export pair's; the project that
// is compiled is the one file the model knows not to write over.
TEST_F(CompileTest, NeverWritesOverItsProject) {
  WriteFile(Image, "old image");
  const std::string project = Dir.File("проект.sms"), spelled = Dir.File("./проект.sms");
  WriteFile(project, "[Phone0]\r\nNumber=1\r\n");
  CProject compiled;
  compiled.FileName = project;
  struct Case { std::string source, image, refused; };
  for (const Case& c : {Case{Source, project, project}, Case{project, Image, project}, Case{spelled, Image, spelled}}) {
    EXPECT_EQ(FailureOf([&] { compiled.Compile(c.source, c.image); }),
              "Cannot create file " + c.refused + ": it is the project file being compiled");
  }
  EXPECT_EQ(ReadFile(Image), "old image");
  EXPECT_EQ(ReadFile(project), "[Phone0]\r\nNumber=1\r\n");
  EXPECT_EQ(Dir.EntryCount(), 2u);  // no source written, no temporary files
}

}  // namespace
}  // namespace smsconf
