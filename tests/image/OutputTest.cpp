#include "image/Output.h"

#include "common/TempDir.h"
#include "image/ImageAssembly.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace smsconf {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Repeat(const Bytes& piece, int times) {
  Bytes all;
  for (int i = 0; i < times; ++i) all.insert(all.end(), piece.begin(), piece.end());
  return all;
}

Bytes Join(std::initializer_list<Bytes> pieces) {
  Bytes all;
  for (const Bytes& piece : pieces) all.insert(all.end(), piece.begin(), piece.end());
  return all;
}

TEST(Image, NewProjectGivesTheTwentyEightByteImage) {
  const Bytes expected = Join({{0x31, 0x73, 0x1C, 0x00, 0x09, 0x00, 0x1A, 0x00},
                               {0x00},
                               {0x08},
                               Repeat({0x08, 0x00}, 8),
                               {0x00},
                               {0xD4}});
  EXPECT_EQ(testing::AssembleImage(testing::EmptyPhones(), {}), expected);
}

TEST(Image, OnePhoneAndOneEventGiveTheFiftySixByteImage) {
  const Bytes expected = Join({{0x31, 0x73, 0x38, 0x00, 0x1D, 0x00, 0x2E, 0x00},
                               {0x2B, 0x37, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30,
                                0x31, 0x00},
                               {0x00},
                               {0xC0, 0xE2, 0xE0, 0xF0, 0xE8, 0xFF, 0x00},
                               {0x08, 0x08, 0x00},
                               Repeat({0x15, 0x00}, 7),
                               {0x01, 0x2C, 0x01, 0x01, 0x00, 0x05, 0x01, 0x16, 0x00},
                               {0x4E}});
  EXPECT_EQ(testing::AlarmImage(), expected);
}

TEST(Output, WordsAreLittleEndianAndPatchesChangeOnlyTheirBytes) {
  COutput out;
  out.PutWord(0x7331);
  EXPECT_EQ(out.ReserveWord(), 2);
  out.PutWord(0x12345);  // only the low 16 bits count
  const std::uint8_t bytes[] = {0xAA, 0xBB};
  out.PutBytes(bytes, 2);
  out.PutBytes(bytes, 0);
  out.PutBytes(bytes, -1);
  EXPECT_EQ(Bytes(out.Code(), out.Code() + out.Length()),
            (Bytes{0x31, 0x73, 0xFF, 0xFF, 0x45, 0x23, 0xAA, 0xBB}));

  out.PatchWord(2, 0x0E10);
  EXPECT_EQ(out.Position(), 8);
  EXPECT_EQ(out.Length(), 8);
  EXPECT_EQ(Bytes(out.Code(), out.Code() + out.Length()),
            (Bytes{0x31, 0x73, 0x10, 0x0E, 0x45, 0x23, 0xAA, 0xBB}));
}

TEST(Output, PatchingBytesNotYetWrittenIsRefused) {
  COutput out;
  out.PutWord(1);
  out.PutByte(2);
  for (std::int32_t offset : {-1, 2, 3, 40000}) {
    EXPECT_THROW(out.PatchWord(offset, 0), std::out_of_range) << offset;
  }
  EXPECT_NO_THROW(out.PatchWord(1, 0x0403));
  EXPECT_EQ(Bytes(out.Code(), out.Code() + 3), (Bytes{0x01, 0x03, 0x04}));
}

TEST(Output, GrowsPastItsFirstCapacityKeepingEveryByte) {
  COutput out;
  EXPECT_EQ(out.Capacity(), 32768);
  for (int i = 0; i < 40000; ++i) out.PutByte(static_cast<std::uint8_t>(i * 7));
  EXPECT_EQ(out.Capacity(), 65536);
  EXPECT_EQ(out.Length(), 40000);
  EXPECT_EQ(out.Position(), 40000);
  for (int i = 0; i < 40000; ++i) {
    ASSERT_EQ(out.Code()[i], static_cast<std::uint8_t>(i * 7)) << i;
  }
}

// The firmware source of the 28-byte image of a new project, line by line.
std::string NewProjectSource() {
  std::string text =
      "#include <avr\\pgmspace.h>\n"
      "#include \"stdcfg.h\"\n"
      "const unsigned char stdcfgdata[] PROGMEM = \n"
      "{\n";
  const char* bytes[] = {"31", "73", "1C", "00", "09", "00", "1A", "00", "00", "08",
                         "08", "00", "08", "00", "08", "00", "08", "00", "08", "00",
                         "08", "00", "08", "00", "08", "00", "00", "D4"};
  for (std::size_t i = 0; i < std::size(bytes); ++i) {
    text += std::string("\t0x") + bytes[i] + (i + 1 < std::size(bytes) ? ",\n" : "\n");
  }
  text +=
      "};\n"
      "\n"
      "void stdcfg_init()\n"
      "{\n"
      "memcpy_P((void *)0x8000, stdcfgdata, 28);\n"
      "}\n";
  return text;
}

TEST(Source, NewProjectGivesTheExactFirmwareSource) {
  COutput out;
  testing::Assemble(out, testing::EmptyPhones(), {});
  const std::string text = out.SourceText();
  EXPECT_EQ(text, NewProjectSource());
  EXPECT_EQ(text.size(), 356u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 38);
  EXPECT_EQ(text.find('\r'), std::string::npos);

  testing::TempDir dir;
  out.SaveToFile(dir.File("sms.bin"));
  out.SaveAsSource(dir.File("stdcfg.c"));
  EXPECT_EQ(testing::ReadFile(dir.File("stdcfg.c")), text);
  const std::string image = testing::ReadFile(dir.File("sms.bin"));
  EXPECT_EQ(image, std::string(reinterpret_cast<const char*>(out.Code()), 28));
}

TEST(Source, EveryByteIsOneUpperCaseLineAndTheCopyLengthMatches) {
  COutput out;
  for (int b = 0; b < 256; ++b) out.PutByte(static_cast<std::uint8_t>(b));
  const std::string text = out.SourceText();
  for (const char* line : {"\t0x00,\n", "\t0x0A,\n", "\t0xAB,\n", "\t0xFE,\n", "\t0xFF\n};"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  std::size_t byteLines = 0;
  for (std::size_t at = text.find("\n\t0x"); at != std::string::npos; at = text.find("\n\t0x", at + 1)) {
    ++byteLines;
  }
  EXPECT_EQ(byteLines, 256u);
  EXPECT_NE(text.find("memcpy_P((void *)0x8000, stdcfgdata, 256);\n}\n"), std::string::npos);
}

}  // namespace
}  // namespace smsconf
