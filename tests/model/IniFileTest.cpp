#include "model/IniFile.h"

#include <gtest/gtest.h>

#include <climits>

namespace smsconf {
namespace {

CIniFile Parse(const std::string& text) {
  CIniFile ini;
  ini.SetText(text);
  return ini;
}

TEST(IniFileReading, LinesBlanksCommentsAndSections) {
  struct Case {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    const char* expected;  // nullptr: the key is absent
  };
  const Case cases[] = {
      {"crlf", "[S]\r\nk=v\r\n", "S", "k", "v"},
      {"lf", "[S]\nk=v\n", "S", "k", "v"},
      {"cr only", "[S]\rk=v\rx=y", "S", "x", "y"},
      {"no final line end", "[S]\nk=v", "S", "k", "v"},
      {"blanks and controls stripped", " \t[S]\x01\n \x1F k \t= v w \x7f\t\n", "S", "k", "v w \x7f"},
      {"blanks in header", "[  S  ]\nk=v", "S", "k", "v"},
      {"value keeps later equals", "[S]\nk= a=b \n", "S", "k", "a=b"},
      {"empty value", "[S]\nk=\n", "S", "k", ""},
      {"comment skipped", "[S]\n;k=v\n", "S", "k", nullptr},
      {"indented comment skipped", "[S]\n   ;k=v\n", "S", "k", nullptr},
      {"line before first section ignored", "k=v\n[S]\nx=1", "", "k", nullptr},
      {"case-insensitive names", "[event0]\nneg=1", "EVENT0", "Neg", "1"},
      {"Cyrillic names fold too", "[\xC0\xC1]\n\xC2=1", "\xE0\xE1", "\xE2", "1"},
      {"last key wins", "[S]\nk=1\nK=2\n", "S", "k", "2"},
      {"last section wins", "[S]\nk=1\n[T]\n[s]\nk=2\n", "S", "k", "2"},
      {"last section wins even without the key", "[S]\nk=1\n[s]\nx=2\n", "S", "k", nullptr},
      {"bracket inside line is not a header", "[S]\n[T] x\nk=v", "S", "k", "v"},
  };
  for (const Case& c : cases) {
    const CIniFile ini = Parse(c.text);
    const std::string got = ini.ReadString(c.section, c.key, "<default>");
    EXPECT_EQ(got, c.expected ? c.expected : "<default>") << c.name;
    EXPECT_EQ(ini.ValueExists(c.section, c.key), c.expected != nullptr) << c.name;
  }
}

TEST(IniFileReading, SectionCountsOnlyWithALine) {
  const CIniFile ini = Parse("[Empty]\n[Bare]\njust text\n[Keyed]\nk=v\n[Last]");
  EXPECT_FALSE(ini.SectionExists("Empty"));
  EXPECT_TRUE(ini.SectionExists("Bare"));
  EXPECT_TRUE(ini.SectionExists("keyed"));
  EXPECT_FALSE(ini.SectionExists("Last"));
  EXPECT_FALSE(ini.SectionExists("Missing"));
}

TEST(IniFileReading, IntegerRule) {
  struct Case {
    const char* text;
    bool ok;
    std::int32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"42", true, 42},
      {"+42", true, 42},
      {"-42", true, -42},
      {"007", true, 7},
      {"2147483647", true, INT_MAX},
      {"-2147483648", true, INT_MIN},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"99999999999999999999", false, 0},
      {"0x10", true, 16},
      {"0X1f", true, 31},
      {"$Ff", true, 255},
      {"x10", true, 16},
      {"X10", true, 16},
      {"0xFFFFFFFF", true, -1},
      {"0x80000000", true, INT_MIN},
      {"0x000000001", true, 1},
      {"0x100000000", false, 0},
      {"0x", false, 0},
      {"$", false, 0},
      {"0xG", false, 0},
      {"-0x10", false, 0},
      {"", false, 0},
      {"+", false, 0},
      {"-", false, 0},
      {"abc", false, 0},
      {"12a", false, 0},
      {"1 2", false, 0},
      {"1.5", false, 0},
  };
  for (const Case& c : cases) {
    std::int32_t value = 12345;
    EXPECT_EQ(CIniFile::ParseInteger(c.text, value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
    const CIniFile ini = Parse(std::string("[S]\nk=") + c.text + "\n");
    EXPECT_EQ(ini.ReadInteger("S", "k", -7), c.ok ? c.value : -7) << c.text;
  }
}

TEST(IniFileWriting, InPlaceAppendAndOrder) {
  CIniFile ini = Parse(
      "; comment dropped\n"
      "orphan=dropped\n"
      "[Foreign]\n"
      "  a = 1  \n"
      "free text line\n"
      "[Phone0]\n"
      "Number=old\n"
      "Extra=kept\n");
  ini.WriteString("phone0", "number", "new");
  ini.WriteString("Phone0", "Comment", "c");
  ini.WriteString("Event0", "Text", "t");
  EXPECT_EQ(ini.Text(),
            "[Foreign]\r\n"
            "a=1\r\n"
            "free text line\r\n"
            "\r\n"
            "[Phone0]\r\n"
            "number=new\r\n"
            "Extra=kept\r\n"
            "Comment=c\r\n"
            "\r\n"
            "[Event0]\r\n"
            "Text=t\r\n"
            "\r\n");
}

TEST(IniFileWriting, EraseRemovesEveryOccurrence) {
  CIniFile ini = Parse("[Event1]\nText=a\n[Keep]\nk=v\n[event1]\nText=b\n");
  ini.EraseSection("EVENT1");
  EXPECT_FALSE(ini.SectionExists("Event1"));
  EXPECT_EQ(ini.Text(), "[Keep]\r\nk=v\r\n\r\n");
  ini.WriteString("Event1", "Text", "c");  // a fresh section at the end
  EXPECT_EQ(ini.Text(), "[Keep]\r\nk=v\r\n\r\n[Event1]\r\nText=c\r\n\r\n");
}

TEST(IniFileWriting, WritesToTheLastOccurrence) {
  CIniFile ini = Parse("[S]\nk=1\n[S]\nk=2\n");
  ini.WriteInteger("s", "k", -5);
  EXPECT_EQ(ini.Text(), "[S]\r\nk=1\r\n\r\n[S]\r\nk=-5\r\n\r\n");
  EXPECT_EQ(ini.ReadInteger("S", "k", 0), -5);
}

TEST(IniFileWriting, EmptySectionIsKeptAndReused) {
  CIniFile ini = Parse("[A]\n[B]\nk=v\n");
  EXPECT_EQ(ini.Text(), "[A]\r\n\r\n[B]\r\nk=v\r\n\r\n");
  ini.WriteString("A", "x", "1");
  EXPECT_EQ(ini.Text(), "[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\n\r\n");
}

}  // namespace
}  // namespace smsconf
