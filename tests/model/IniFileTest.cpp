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
    const char *name, *text, *section, *key;
    const char* expected;  // nullptr: the key is absent
  };
  const Case cases[] = {
      {"crlf", "[S]\r\nk=v\r\n", "S", "k", "v"},
      {"lf", "[S]\nk=v\n", "S", "k", "v"},
      {"cr only", "[S]\rk=v\rx=y", "S", "x", "y"},
      {"blanks, controls stripped", " \t[S]\x01\n \x1F k \t= v w \x7f\t\n", "S", "k", "v w \x7f"},
      {"blanks in header", "[  S  ]\nk=v", "S", "k", "v"},
      {"value keeps later equals", "[S]\nk= a=b \n", "S", "k", "a=b"},
      {"empty value", "[S]\nk=\n", "S", "k", ""},
      {"comment", "[S]\n   ;k=v\n", "S", "k", nullptr},
      {"line before first section", "k=v\n[S]\nx=1", "", "k", nullptr},
      {"case-insensitive names", "[event0]\nneg=1", "EVENT0", "Neg", "1"},
      {"Cyrillic names fold too", "[\xC0\xC1]\n\xC2=1", "\xE0\xE1", "\xE2", "1"},
      {"last key wins", "[S]\nk=1\nK=2\n", "S", "k", "2"},
      {"last section wins", "[S]\nk=1\n[T]\n[s]\nk=2\n", "S", "k", "2"},
      {"last section wins without the key", "[S]\nk=1\n[s]\nx=2\n", "S", "k", nullptr},
      {"bracket inside a line", "[S]\n[T] x\nk=v", "S", "k", "v"},
  };
  for (const Case& c : cases) {
    const CIniFile ini = Parse(c.text);
    EXPECT_EQ(ini.ReadString(c.section, c.key, "-"), c.expected ? c.expected : "-") << c.name;
    EXPECT_EQ(ini.ValueExists(c.section, c.key), c.expected != nullptr) << c.name;
  }
  const CIniFile ini = Parse("[Empty]\n[Bare]\njust text\n[Keyed]\nk=v\n[Last]");
  const std::pair<const char*, bool> sections[] = {{"Empty", false}, {"Bare", true}, {"keyed", true}, {"Last", false}};
  for (const auto& [name, exists] : sections) EXPECT_EQ(ini.SectionExists(name), exists) << name;
}

// Read through a file: a value the rule refuses gives the default.
TEST(IniFileReading, IntegerRule) {
  const std::pair<const char*, std::int32_t> accepted[] = {
      {"0", 0}, {"+42", 42}, {"-42", -42}, {"007", 7}, {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN}, {"0x10", 16}, {"0X1f", 31}, {"$Ff", 255}, {"x10", 16},
      {"X10", 16}, {"0xFFFFFFFF", -1}, {"0x80000000", INT_MIN}, {"0x000000001", 1}};
  const char* refused[] = {"2147483648", "-2147483649", "99999999999999999999", "0x100000000",
                           "0x", "$", "0xG", "-0x10", "", "+", "-", "abc", "12a", "1 2", "1.5"};
  const auto read = [](const std::string& text) {
    return Parse("[S]\nk=" + text).ReadInteger("S", "k", -7);
  };
  for (const auto& [text, value] : accepted) EXPECT_EQ(read(text), value) << text;
  for (const char* text : refused) EXPECT_EQ(read(text), -7) << text;
}

TEST(IniFileWriting, InPlaceAppendedNewSectionAndErase) {
  CIniFile ini = Parse("; c\norphan=x\n[Foreign]\n  a = 1  \nfree text\n[Empty]\n"
                       "[S]\nk=1\n[s]\nk=2\nold=x\n[Gone]\nx=1\n[gone]\ny=2\n");
  ini.WriteString("empty", "x", "1");  // an empty section is kept and reused
  ini.WriteInteger("S", "K", -5);      // in place, in the last occurrence
  ini.WriteString("s", "new", "v");    // appended to the section
  ini.EraseSection("GONE");            // every occurrence
  ini.WriteString("Gone", "z", "3");   // a new section at the end
  EXPECT_EQ(ini.Text(),
            "[Foreign]\r\na=1\r\nfree text\r\n\r\n[Empty]\r\nx=1\r\n\r\n[S]\r\nk=1\r\n\r\n"
            "[s]\r\nK=-5\r\nold=x\r\nnew=v\r\n\r\n[Gone]\r\nz=3\r\n\r\n");
}

}  // namespace
}  // namespace smsconf
