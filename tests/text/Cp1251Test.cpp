#include "text/Cp1251.h"

#include <gtest/gtest.h>

#include <tuple>

namespace smsconf::text {
namespace {

TEST(Cp1251, EveryByteAndKnownCharactersRoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const EncodeResult back = Utf8ToCp1251(Cp1251ToUtf8(all));
  EXPECT_TRUE(back.Ok());
  EXPECT_EQ(back.Bytes, all);
  const char* cases[][2] = {{"Авария", "\xC0\xE2\xE0\xF0\xE8\xFF"}, {"Ёё№", "\xA8\xB8\xB9"},
                            {"Ґґ€", "\xA5\xB4\x88"}, {"«—»", "\xAB\x97\xBB"}, {"DI5 +7", "DI5 +7"}};
  for (const auto& [utf8, cp1251] : cases) {
    EXPECT_EQ(Cp1251(utf8), cp1251) << utf8;
    EXPECT_EQ(Cp1251ToUtf8(cp1251), utf8) << utf8;
  }
}

TEST(Cp1251, EncodingReportsUnmappableAndMalformedInput) {
  struct Case { std::string utf8; std::size_t offset; char32_t character; };  // 0xFFFD: malformed
  const Case cases[] = {
      {"ok ☺", 3, 0x263A},         {"a😀", 1, 0x1F600},         {"x\xFFy", 1, 0xFFFD},
      {"\xC2\x80", 0, 0x80},        // a C1 control the code page lacks
      {"\xC0\x80", 0, 0xFFFD},      // overlong NUL
      {"\xED\xA0\x80", 0, 0xFFFD}, {"\xED\xBF\xBF", 0, 0xFFFD},  // first and last surrogate
      {"\xD0", 0, 0xFFFD},          // cut short
  };
  for (const Case& c : cases) {
    const EncodeResult r = Utf8ToCp1251(c.utf8);
    ASSERT_FALSE(r.Ok()) << c.utf8;
    const EncodeError& e = r.Errors.front();
    EXPECT_EQ(std::tuple(e.Offset, e.Character, e.MalformedUtf8),
              std::tuple(c.offset, c.character, c.character == 0xFFFD)) << c.utf8;
    EXPECT_THROW(Cp1251(c.utf8), std::invalid_argument) << c.utf8;
  }
}

TEST(Cp1251, TerminalTextShowsControlBytesEscaped) {
  EXPECT_EQ(Cp1251ToTerminal("\xC0\x1B[31m\x7F\x98\x99\n"), "А\\x1B[31m\\x7F\\x98™\\x0A");
  EXPECT_EQ(Cp1251ToTerminal(std::string("a\0b", 3)), "a\\x00b");
}

TEST(CaseFolding, OnlyTheCasesOfALetterCompareEqual) {
  struct Case { const char *a, *b; bool equal; };
  const Case cases[] = {
      {"ABCXYZ", "abcxyz", true},
      {"АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ", "абвгдежзийклмнопрстуфхцчшщъыьэюя", true},
      {"ЁЂЃЄЅІЇЈЉЊЋЌЎЏҐ", "ёђѓєѕіїјљњћќўџґ", true},
      {"Е", "Ё", false}, {"И", "Й", false}, {"Ь", "Ъ", false},
      {"A", "А", false},  // Latin and Cyrillic
      {"[", "{", false}, {"@", "`", false}, {"abc", "abcd", false}, {"", " ", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EqualsIgnoreCase(Cp1251(c.a), Cp1251(c.b)), c.equal) << c.a << " / " << c.b;
  }
  int folded = 0;  // no byte but those letters has another fold
  for (int b = 0; b < 256; ++b) folded += FoldCase(static_cast<unsigned char>(b)) != b;
  EXPECT_EQ(folded, 26 + 32 + 15);
}

}  // namespace
}  // namespace smsconf::text
