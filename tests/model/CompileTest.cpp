#include "model/Project.h"

#include "common/TempDir.h"
#include "model/EventBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

namespace smsconf {
namespace {

using testing::AddEvent;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

unsigned Word(const Bytes& image, std::size_t offset) {
  return image[offset] | (image[offset + 1] << 8);
}

class CompileTest : public ::testing::Test {
 protected:
  // Compiles into the temporary folder and returns the image file's bytes.
  Bytes Compile(const CProject& project) {
    const std::int32_t size = project.Compile(Source, Image);
    Bytes image = ToBytes(ReadFile(Image));
    EXPECT_EQ(static_cast<std::size_t>(size), image.size());
    // Every image: the length word is the file size, the bytes sum to 0xFF.
    EXPECT_EQ(Word(image, 2), image.size());
    EXPECT_EQ(std::accumulate(image.begin(), image.end(), 0u) % 256, 0xFFu);
    return image;
  }

  TempDir Dir;
  std::string Image = Dir.File("sms.bin");
  std::string Source = Dir.File("stdcfg.c");
};

TEST_F(CompileTest, NewProjectGivesThe28ByteImageAndItsSource) {
  CProject project;
  const Bytes expected = {0x31, 0x73, 0x1C, 0x00, 0x09, 0x00, 0x1A, 0x00, 0x00, 0x08,
                          0x08, 0x00, 0x08, 0x00, 0x08, 0x00, 0x08, 0x00, 0x08, 0x00,
                          0x08, 0x00, 0x08, 0x00, 0x08, 0x00, 0x00, 0xD4};
  EXPECT_EQ(Compile(project), expected);

  std::string source =
      "#include <avr\\pgmspace.h>\n#include \"stdcfg.h\"\n"
      "const unsigned char stdcfgdata[] PROGMEM = \n{\n";
  for (std::size_t i = 0; i < expected.size(); ++i) {
    char line[16];
    std::snprintf(line, sizeof line, "%s\t0x%02X", i ? ",\n" : "", expected[i]);
    source += line;
  }
  source += "\n};\n\nvoid stdcfg_init()\n{\nmemcpy_P((void *)0x8000, stdcfgdata, 28);\n}\n";
  const std::string written = ReadFile(Source);
  EXPECT_EQ(written, source);
  EXPECT_EQ(written.size(), 356u);
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 38);
}

TEST_F(CompileTest, OnePhoneAndOneCyrillicEvent) {
  CProject project;
  project.Phones->Get(0)->Number = "+70000000001";
  project.Phones->Get(0)->Comment = "not compiled";
  AddEvent(project, 5, true, 300, 0x01, "\xC0\xE2\xE0\xF0\xE8\xFF");  // Авария
  const Bytes expected = {
      0x31, 0x73, 0x38, 0x00, 0x1D, 0x00, 0x2E, 0x00,                    // header
      0x2B, 0x37, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30,  // +7000000000
      0x31, 0x00, 0x00, 0xC0, 0xE2, 0xE0, 0xF0, 0xE8, 0xFF, 0x00,        // 1, "", Авария
      0x08, 0x08, 0x00, 0x15, 0x00, 0x15, 0x00, 0x15, 0x00, 0x15, 0x00,  // phones
      0x15, 0x00, 0x15, 0x00, 0x15, 0x00,                                //
      0x01, 0x2C, 0x01, 0x01, 0x00, 0x05, 0x01, 0x16, 0x00,              // event
      0x4E};                                                             // checksum
  EXPECT_EQ(Compile(project), expected);
}

TEST_F(CompileTest, TextsAreSharedIgnoringCaseAndFirstSpellingWins) {
  CProject project;
  project.Phones->Get(0)->Number = "Alarm";
  AddEvent(project, 0, false, 0, 0x81, "ALARM");                   // Latin, equals phone 0
  AddEvent(project, 1, false, 3600, 0, "\xC0\xE2\xE0\xF0\xE8\xFF");  // Авария
  AddEvent(project, 2, true, 0, 0, "\xE0\xC2\xC0\xD0\xC8\xDF");      // аВАРИЯ
  const Bytes image = Compile(project);
  const std::string area(image.begin() + 8, image.begin() + Word(image, 4));
  EXPECT_EQ(area, std::string("Alarm\0\0\xC0\xE2\xE0\xF0\xE8\xFF\0", 14));
  const std::size_t events = Word(image, 6) + 1;
  EXPECT_EQ(Word(image, events + 6), 8u);            // event 0 -> phone 0's text
  EXPECT_EQ(Word(image, events + 8 + 6), 15u);       // events 1 and 2 share
  EXPECT_EQ(Word(image, events + 16 + 6), 15u);
  EXPECT_EQ(image[events + 2], 0x81);                // recipients 0 and 7
  EXPECT_EQ(Word(image, events + 8), 3600u);         // 10 0E
  EXPECT_EQ(Word(image, 6), Word(image, 4) + 1 + 2 * 8);
}

TEST_F(CompileTest, EventsStayInListOrder) {
  CProject project;
  AddEvent(project, 9, false, 0, 0, "b");
  AddEvent(project, 1, false, 0, 0, "a");
  const Bytes image = Compile(project);
  const std::size_t events = Word(image, 6) + 1;
  EXPECT_EQ(image[events + 4], 9);
  EXPECT_EQ(image[events + 8 + 4], 1);
  EXPECT_EQ(image[8 + 1], 'b');  // first text after the empty phone number
}

TEST_F(CompileTest, GrowsPastBothBuffers) {
  CProject project;
  for (int i = 0; i < 255; ++i) {
    AddEvent(project, i % 32, i % 2, i, 1, std::to_string(i) + std::string(200, 'x'));
  }
  const Bytes image = Compile(project);
  EXPECT_GT(image.size(), 32768u);
  EXPECT_EQ(image[Word(image, 6)], 255);
  // The last event's text reference points at its own text.
  const std::size_t last = Word(image, 6) + 1 + 254 * 8;
  const std::size_t text = Word(image, last + 6);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&image[text]), 3), "254");
}

TEST_F(CompileTest, RefusesWhatTheImageCannotHoldAndKeepsOldFiles) {
  struct Case {
    const char* name;
    void (*build)(CProject&);
    const char* message;
  };
  const Case cases[] = {
      {"256 events",
       [](CProject& p) {
         for (int i = 0; i < 256; ++i) AddEvent(p, 0, false, 0, 0, "");
       },
       "Too many events: 256"},
      {"pin 256", [](CProject& p) { AddEvent(p, 256, false, 0, 0, ""); }, "Event 0: Pin 256"},
      {"negative pin",
       [](CProject& p) {
         AddEvent(p, 1, false, 0, 0, "");
         AddEvent(p, -1, false, 0, 0, "");
       },
       "Event 1: Pin -1"},
      {"delay 65536", [](CProject& p) { AddEvent(p, 0, false, 65536, 0, ""); }, "Event 0: Delay 65536"},
      {"negative delay", [](CProject& p) { AddEvent(p, 0, false, -1, 0, ""); }, "Event 0: Delay -1"},
      {"reference past 64 KiB",
       [](CProject& p) {
         AddEvent(p, 0, false, 0, 0, std::string(65600, 'a'));
         AddEvent(p, 0, false, 0, 0, "b");
       },
       "Event 1: Text"},
      {"phone reference past 64 KiB",
       [](CProject& p) {
         p.Phones->Get(0)->Number = std::string(65600, '1');
         p.Phones->Get(1)->Number = "2";
       },
       "Phone 1: Number"},
      {"total length past 64 KiB",
       [](CProject& p) { AddEvent(p, 0, false, 0, 0, std::string(65500, 'a')); },
       "The image would be 65537 bytes long"},
  };
  WriteFile(Image, "old image");
  WriteFile(Source, "old source");
  for (const Case& c : cases) {
    CProject project;
    c.build(project);
    try {
      project.Compile(Source, Image);
      ADD_FAILURE() << c.name << ": compiled";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << c.name << ": " << e.what();
    }
    EXPECT_EQ(ReadFile(Image), "old image") << c.name;
    EXPECT_EQ(ReadFile(Source), "old source") << c.name;
  }
  EXPECT_EQ(Dir.EntryCount(), 2u);
}

TEST_F(CompileTest, LargestImagesStillCompile) {
  CProject project;
  AddEvent(project, 255, true, 65535, 0xFF, std::string(65498, 'a'));
  EXPECT_EQ(Compile(project).size(), 65535u);
}

TEST_F(CompileTest, UnwritableFilesThrowAndChangeNothing) {
  WriteFile(Image, "old image");
  WriteFile(Dir.File("plain"), "x");
  const std::string blocked = Dir.File("plain") + "/stdcfg.c";
  CProject project;
  struct Case {
    std::string source, image, failing;
  };
  const Case cases[] = {
      {Source, blocked, blocked},  // the image cannot be written
      {blocked, Image, blocked},   // the image could, the source cannot
  };
  for (const Case& c : cases) {
    try {
      project.Compile(c.source, c.image);
      ADD_FAILURE() << "compiled";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot create file " + c.failing);
    }
    EXPECT_EQ(ReadFile(Image), "old image");
  }
  EXPECT_EQ(Dir.EntryCount(), 2u);  // no source written, no temporary files

  // Without an earlier image, a failed source leaves no image either.
  std::filesystem::remove(Image);
  EXPECT_THROW(project.Compile(blocked, Image), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(Image));
}

}  // namespace
}  // namespace smsconf
