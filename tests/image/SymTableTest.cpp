#include "image/SymTable.h"

#include <gtest/gtest.h>

namespace smsconf {
namespace {

TEST(SymTable, StoresEachTextOnceAtItsOffset) {
  CSymTable table;
  EXPECT_EQ(table.AddString("+79001234567"), 0);
  EXPECT_EQ(table.AddString(""), 13);
  EXPECT_EQ(table.AddString("Abc"), 14);
  EXPECT_EQ(table.AddString(std::string("ab\0cd", 5)), 18);  // a text ends at its first 0 byte
  EXPECT_EQ(table.AddString("AB"), 18);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(table.Code()), std::size_t(table.Length())),
            std::string("+79001234567\0\0Abc\0ab\0", 21));
}

// 5000 bytes of texts: the area doubles once and keeps every earlier byte.
TEST(SymTable, GrowsByDoublingAndKeepsItsTexts) {
  CSymTable table;
  std::string area;
  for (int i = 0; i < 50; ++i) {
    const std::string text = std::to_string(i) + std::string(99 - std::to_string(i).size(), 'x');
    EXPECT_EQ(table.AddString(text), std::int32_t(area.size()));
    area += text + '\0';
  }
  EXPECT_EQ(table.Capacity(), 8192);
  EXPECT_EQ(table.AddString("0" + std::string(98, 'X')), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(table.Code()), std::size_t(table.Length())), area);
}

}  // namespace
}  // namespace smsconf
