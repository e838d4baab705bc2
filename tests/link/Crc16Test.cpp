#include "link/Crc16.h"

#include <gtest/gtest.h>

#include <cstring>

namespace smsconf {
namespace {

TEST(Crc16, CheckVectorComesBackSwapped) {
  const char* text = "123456789";
  EXPECT_EQ(Crc16(reinterpret_cast<const std::uint8_t*>(text), 9), 0x374B);
}

TEST(Crc16, EmptyRunIsTheStartValue) {
  const std::uint8_t byte = 0x42;
  EXPECT_EQ(Crc16(&byte, 0), 0xFFFF);
  EXPECT_EQ(Crc16(&byte, -3), 0xFFFF);
  EXPECT_EQ(Crc16(nullptr, 0), 0xFFFF);
}

TEST(Crc16, OnlyTheGivenLengthCounts) {
  const std::uint8_t frame[] = {0x01, 0x23, 0xEE, 0xEE};
  EXPECT_EQ(Crc16(frame, 2), 0x41F9);
}

}  // namespace
}  // namespace smsconf
