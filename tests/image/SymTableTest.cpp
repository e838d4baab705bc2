#include "image/SymTable.h"

#include <gtest/gtest.h>

#include <string>

namespace smsconf {
namespace {

std::string Area(const CSymTable& table) {
  return std::string(reinterpret_cast<const char*>(table.Code()), std::size_t(table.Length()));
}

TEST(SymTable, TextsFollowEachOtherWithTheirZeroBytes) {
  CSymTable table;
  EXPECT_EQ(table.AddString("+79001234567"), 0);
  EXPECT_EQ(table.AddString("abc"), 13);
  EXPECT_EQ(table.AddString(""), 17);
  EXPECT_EQ(Area(table), std::string("+79001234567\0abc\0\0", 18));
}

TEST(SymTable, EqualTextsShareTheFirstEntry) {
  struct Case {
    const char* name;
    std::string first;
    std::string again;
  };
  const Case cases[] = {
      {"same text", "Alarm", "Alarm"},
      {"empty text", "", ""},
      {"Latin case", "POWER FAIL", "power fail"},
      {"Cyrillic case", "\xC0\xC2\xC0\xD0\xC8\xDF", "\xE0\xE2\xE0\xF0\xE8\xFF"},  // АВАРИЯ / авария
      {"Yo and mixed", "\xA8\xEB\xEA\xE0 Tree", "\xB8\xCB\xCA\xC0 tREE"},          // Ёлка / ёЛКА
  };
  for (const Case& c : cases) {
    CSymTable table;
    table.AddString("x");
    const std::int32_t offset = table.AddString(c.first);
    const std::int32_t length = table.Length();
    EXPECT_EQ(table.AddString(c.again), offset) << c.name;
    EXPECT_EQ(table.Length(), length) << c.name;
    EXPECT_EQ(Area(table), std::string("x\0", 2) + c.first + '\0') << c.name;
    ASSERT_EQ(table.Index().size(), 2u) << c.name;
    EXPECT_EQ(table.Index()[1].first, c.first) << c.name;
  }
}

TEST(SymTable, TextsThatDifferBeyondCaseStayApart) {
  CSymTable table;
  const std::string texts[] = {"ab", "ab ", "a", "\xE0\xE1", "\xC0\xC1\xC2", "\xE5", "\xB8"};  // е and ё differ
  std::int32_t previous = -1;
  for (const std::string& text : texts) {
    const std::int32_t offset = table.AddString(text);
    EXPECT_GT(offset, previous) << text;
    previous = offset;
  }
  EXPECT_EQ(table.Index().size(), std::size(texts));
}

TEST(SymTable, TextEndsAtItsFirstZeroByte) {
  CSymTable table;
  EXPECT_EQ(table.AddString(std::string("ab\0cd", 5)), 0);
  EXPECT_EQ(table.AddString("AB"), 0);
  EXPECT_EQ(Area(table), std::string("ab\0", 3));
}

TEST(SymTable, GrowsByDoublingAndKeepsEarlierBytesAndOffsets) {
  CSymTable table;
  EXPECT_EQ(table.Capacity(), 4096);
  std::string expected;
  std::vector<std::int32_t> offsets;
  for (int i = 0; expected.size() < 5000; ++i) {
    const std::string text = "text number " + std::to_string(i);
    offsets.push_back(table.AddString(text));
    EXPECT_EQ(std::size_t(offsets.back()), expected.size());
    expected += text + '\0';
  }
  EXPECT_EQ(table.Capacity(), 8192);
  EXPECT_EQ(Area(table), expected);
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    EXPECT_EQ(table.AddString("TEXT NUMBER " + std::to_string(i)), offsets[i]);
  }
}

}  // namespace
}  // namespace smsconf
