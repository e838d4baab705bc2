#include "text/Cp1251.h"

#include <gtest/gtest.h>

namespace smsconf::text {
namespace {

TEST(Cp1251, DecodeEncodeRoundTripsEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string utf8 = Cp1251ToUtf8(all);
  const EncodeResult back = Utf8ToCp1251(utf8);
  ASSERT_TRUE(back.Ok());
  EXPECT_EQ(back.Bytes, all);
}

TEST(Cp1251, KnownCharacters) {
  struct Case {
    std::string utf8;
    std::string cp1251;
  };
  const Case cases[] = {
      {"Авария", "\xC0\xE2\xE0\xF0\xE8\xFF"},
      {"Ёё№", "\xA8\xB8\xB9"},
      {"Ґґ€", "\xA5\xB4\x88"},
      {"«—»", "\xAB\x97\xBB"},
      {"DI5 +7", "DI5 +7"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Cp1251(c.utf8), c.cp1251) << c.utf8;
    EXPECT_EQ(Cp1251ToUtf8(c.cp1251), c.utf8) << c.utf8;
  }
}

TEST(Cp1251, EncodingReportsWhatTheCodePageLacks) {
  struct Case {
    std::string utf8;
    std::size_t offset;
    char32_t character;
    bool malformed;
  };
  const Case cases[] = {
      {"ok ☺", 3, 0x263A, false},
      {"a😀", 1, 0x1F600, false},
      {"x\xFFy", 1, 0xFFFD, true},         // not UTF-8 at all
      {"\xC0\x80", 0, 0xFFFD, true},       // overlong NUL
      {"\xED\xA0\x80", 0, 0xFFFD, true},   // surrogate
      {"\xD0", 0, 0xFFFD, true},           // cut short
  };
  for (const Case& c : cases) {
    const EncodeResult r = Utf8ToCp1251(c.utf8);
    ASSERT_FALSE(r.Ok()) << c.utf8;
    EXPECT_EQ(r.Errors.front().Offset, c.offset) << c.utf8;
    EXPECT_EQ(r.Errors.front().Character, c.character) << c.utf8;
    EXPECT_EQ(r.Errors.front().MalformedUtf8, c.malformed) << c.utf8;
    EXPECT_THROW(Cp1251(c.utf8), std::invalid_argument) << c.utf8;
  }
}

TEST(Cp1251, TerminalTextShowsControlBytesEscaped) {
  EXPECT_EQ(Cp1251ToTerminal("\xC0\x1B[31m\x7F\x98\x99\n"), "А\\x1B[31m\\x7F\\x98™\\x0A");
  EXPECT_EQ(Cp1251ToTerminal(std::string("a\0b", 3)), "a\\x00b");
}

TEST(CaseFolding, PairsCompareEqual) {
  const char* pairs[][2] = {
      {"ABCXYZ", "abcxyz"},
      {"АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ", "абвгдежзийклмнопрстуфхцчшщъыьэюя"},
      {"ЁЂЃЄЅІЇЈЉЊЋЌЎЏҐ", "ёђѓєѕіїјљњћќўџґ"},
      {"Авария DI5", "аВАРИЯ di5"},
  };
  for (const auto& p : pairs) {
    EXPECT_TRUE(EqualsIgnoreCase(Cp1251(p[0]), Cp1251(p[1]))) << p[0];
  }
}

TEST(CaseFolding, OtherDifferencesStayDistinct) {
  const char* pairs[][2] = {
      {"Е", "Ё"},      // E and YO are different letters
      {"И", "Й"},
      {"Ь", "Ъ"},
      {"A", "А"},      // Latin A and Cyrillic A
      {"[", "{"},      // ASCII punctuation 0x20 apart
      {"@", "`"},
      {"abc", "abcd"},
      {"", " "},
  };
  for (const auto& p : pairs) {
    EXPECT_FALSE(EqualsIgnoreCase(Cp1251(p[0]), Cp1251(p[1]))) << p[0] << " / " << p[1];
  }
  // Only letters fold: no two other bytes meet.
  int folded = 0;
  for (int b = 0; b < 256; ++b) folded += FoldCase(static_cast<unsigned char>(b)) != b;
  EXPECT_EQ(folded, 26 + 32 + 15);
}

}  // namespace
}  // namespace smsconf::text
