#include "image/ExportedFiles.h"

#include "common/TempDir.h"
#include "image/ImageEncoder.h"
#include "image/Output.h"

#include <gtest/gtest.h>

namespace smsconf {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ExportedFiles, TellsTheKindByContent) {
  using enum ConfigurationKind;
  const std::pair<std::string, ConfigurationKind> cases[] = {
      {std::string("\x31\x73\x1C\x00", 4), Image}, {"\x31\x73", Image},  // damaged, still an image
      {"\x73\x31", Project}, {"\x31", Project}, {"", Project}, {"[Phone0]\r\nNumber=1s\r\n", Project},
      {"#include <avr\\pgmspace.h>\n", Source}, {"\xEF\xBB\xBF\r\n  #include <avr/pgmspace.h>", Source},
      {"x#include", Project}, {"; #include\r\n[Phone0]", Project},
  };
  for (const auto& [bytes, kind] : cases) EXPECT_EQ(KindOfConfiguration(bytes), kind) << bytes;
}

// The image of one phone slot "+7" and no events, and its source.
const Bytes Image = EncodeImage({{"+7"}, {}});
const std::string Source = FirmwareSource(Image);

// Reads a source, giving the refusal in English or "" when it is read.
std::string Refusal(const std::string& source) {
  const ExportedImage read = ReadExportedImage(source, ConfigurationKind::Source);
  EXPECT_EQ(read.Ok, read.Refusal.Render(text::Language::English).empty());
  if (read.Ok) {
    EXPECT_EQ(read.Bytes, Image);
  }
  return read.Refusal.Render(text::Language::English);
}

// What editors do to line ends is taken; everything else is refused on its
// line, and an array that holds no sound image by the decoder's defect.
TEST(ExportedFiles, ReadsTheSourceAsAnExportWritesItAndNothingElse) {
  const auto edit = [](const std::string& from, const std::string& to) { return testing::Replaced(Source, from, to); };
  // Lines 5 to 20 hold 31 73 10 00 0B 00 0E 00 2B 37 00 01 08 00 00 and the
  // checksum C7, line 25 the copy of 16 bytes.
  const std::pair<std::string, std::string> cases[] = {
      {Source, ""},
      {testing::Replaced(Source, "\n", " \t\r\n", true) + "\r\n \r\n", ""},
      {Source.substr(0, Source.size() - 1), ""},
      {edit("\t0x73", "\t0x73 "), "line 6: \"\\t0x73 ,\" where an export writes a byte"},
      {edit("\t0x31", "\t0x31\n"), "line 6: \",\" where an export writes \"};\""},
      {edit("\t0x31", "\t0x31 \v"), "line 5: \"\\t0x31 \\x0B,\" where an export writes a byte"},
      {edit("0x0B,", "0x0b,"), "line 9: \"\\t0x0b,\" where an export writes \"\\t0x0B,\""},
      {edit("\t0x0B", "  0x0B"), "line 9: \"  0x0B,\" where an export writes \"\\t0x0B,\""},
      {edit("0x31,", "0x31"), "line 5: \"\\t0x31\" where an export writes \"\\t0x31,\""},
      {edit("0xC7", "0xC7,"), "line 20: \"\\t0xC7,\" where an export writes \"\\t0xC7\""},
      {edit("0xC7\n", "0xC7\n\n"), "line 21: \"\" where an export writes \"};\""},
      {edit("avr\\", "avr/"), "line 1: \"#include <avr/pgmspace.h>\" where an export writes \"#include <avr\\pgmspace.h>\""},
      {"\xEF\xBB\xBF" + Source, "line 1: \"\\xEF\\xBB\\xBF#include <avr\\pgmspace.h>\" where an export writes"},
      {edit(", 16)", ", 17)"), "line 25: \"memcpy_P((void *)0x8000, stdcfgdata, 17);\" where an export writes"},
      {edit("0x8000", "0x9000"), "line 25: \"memcpy_P((void *)0x9000"},
      {Source + "// end\n", "line 27: \"// end\" follows the end of what an export writes"},
      {Source.substr(0, Source.rfind("}")), "line 26: the file ends where an export writes \"}\""},
      {edit("0x10,", "0x11,"), "offset 2: length word 17 does not match the file size 16"},
      {edit("#include", std::string(70, 'x')), "line 1: \"" + std::string(60, 'x') + "...\" where an export writes"},
  };
  for (const auto& [source, refusal] : cases) {
    const std::string said = Refusal(source);
    EXPECT_TRUE(refusal.empty() ? said.empty() : said.starts_with(refusal)) << said << "\n" << source;
  }
}

// An array of more bytes than any image ends where no export would go on.
TEST(ExportedFiles, RefusesAnArrayLongerThanAnyImage) {
  std::string source = FirmwareSource(Bytes(65537, 0));
  EXPECT_EQ(Refusal(source), "line 65540: \"\\t0x00,\" where an export writes \"\\t0x00\"");
}

// What the image keeps of a content: texts to their 0 byte, and one
// spelling for texts equal but for letter case, phones and events alike.
TEST(ExportedFiles, StoredContentIsWhatDecodingGivesBack) {
  const ImageContent content{{"Alarm", "", std::string("+7\0x", 4)},
                             {{1, true, 5, 1, "ALARM"}, {2, false, 0, 0, "\xC0\xE2\xE0\xF0\xE8\xFF"},
                              {3, false, 0, 0, "\xE0\xE2\xE0\xF0\xE8\xFF"}, {4, false, 0, 0, "+7"}}};
  const ImageContent stored{{"Alarm", "", "+7"},
                            {{1, true, 5, 1, "Alarm"}, {2, false, 0, 0, "\xC0\xE2\xE0\xF0\xE8\xFF"},
                             {3, false, 0, 0, "\xC0\xE2\xE0\xF0\xE8\xFF"}, {4, false, 0, 0, "+7"}}};
  EXPECT_EQ(StoredContent(content), stored);
  const std::vector<std::uint8_t> image = EncodeImage(content);
  EXPECT_EQ(ReadExportedImage(std::string(image.begin(), image.end()), ConfigurationKind::Image).Image.Content,
            stored);
}

}  // namespace
}  // namespace smsconf
