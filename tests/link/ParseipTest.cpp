#include "link/Parseip.h"

#include <gtest/gtest.h>

namespace smsconf {
namespace {

struct AddressCase {
  const char* Text;
  bool Valid;
  const char* Address;  // expected when valid
  int Port;             // expected when valid
};

class ParseAddress : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ParseAddress, GivesResultAddressAndPort) {
  const AddressCase& c = GetParam();
  CParseIP parse;
  ASSERT_EQ(parse.Parse(c.Text, RpcDefaultPort), c.Valid) << '"' << c.Text << '"';
  if (c.Valid) {
    EXPECT_EQ(parse.Address, c.Address);
    EXPECT_EQ(parse.Port, c.Port);
  } else {
    EXPECT_EQ(parse.Address, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseAddress,
    ::testing::Values(
        AddressCase{"192.168.1.1", true, "192.168.1.1", 1122},
        AddressCase{"192.168.1.1:502", true, "192.168.1.1", 502},
        AddressCase{"192.168.001.010", true, "192.168.1.10", 1122},
        AddressCase{"  10.0.0.1 \t", true, "10.0.0.1", 1122},
        AddressCase{"+10.0.0.1", true, "10.0.0.1", 1122},
        AddressCase{"10. 0. +0.1", true, "10.0.0.1", 1122},
        AddressCase{"10.0.0.1: 80", true, "10.0.0.1", 80},
        AddressCase{"10.0.0.1:80 ", true, "10.0.0.1", 80},
        AddressCase{"10.0.0.1:65535", true, "10.0.0.1", 65535},
        AddressCase{"1.2.3.255", true, "1.2.3.255", 1122},
        AddressCase{"0.0.0.0:1", true, "0.0.0.0", 1},
        AddressCase{"10.0.0.1:0", false, "", 0},
        AddressCase{"10.0.0.1:65536", false, "", 0},
        AddressCase{"10.0.0.1:-1", false, "", 0},
        AddressCase{"10.0.0.1:", false, "", 0},
        AddressCase{"10.0.0.1:x", false, "", 0},
        AddressCase{"10.0.0.1:80x", false, "", 0},
        AddressCase{"10.0.0.1:80 x", false, "", 0},
        AddressCase{"10.0.0.1 :80", false, "", 0},
        AddressCase{"10 .0.0.1", false, "", 0},
        AddressCase{"10.0.0", false, "", 0},
        AddressCase{"10.0.0.1.5", false, "", 0},
        AddressCase{"10.0.0.1x", false, "", 0},
        AddressCase{"", false, "", 0},
        AddressCase{"   ", false, "", 0},
        AddressCase{"256.0.0.1", false, "", 0},
        AddressCase{"-1.0.0.1", false, "", 0},
        AddressCase{"1.2.3.-0", true, "1.2.3.0", 1122},
        AddressCase{"1.2.3.+-4", false, "", 0},
        AddressCase{"99999999999999999999.0.0.1", false, "", 0},
        AddressCase{"1.2.3.4:99999999999999999999", false, "", 0}));

TEST(ParseAddressState, FailureKeepsTheLastGoodAddress) {
  CParseIP parse;
  ASSERT_TRUE(parse.Parse("10.1.2.3:5000", RpcDefaultPort));
  EXPECT_EQ(parse.Octet[0], 10);
  EXPECT_EQ(parse.Octet[3], 3);
  EXPECT_FALSE(parse.Parse("10.1.2.300", RpcDefaultPort));
  EXPECT_EQ(parse.Address, "10.1.2.3");
}

TEST(ParseAddressState, ShortFormTakesTheGivenDefaultPort) {
  CParseIP parse;
  ASSERT_TRUE(parse.Parse("10.1.2.3", 7777));
  EXPECT_EQ(parse.Port, 7777);
}

TEST(ParseAddressState, LongTrailingTextIsRejected) {
  CParseIP parse;
  EXPECT_FALSE(parse.Parse("10.1.2.3:80" + std::string(100000, 'x'), RpcDefaultPort));
  EXPECT_FALSE(parse.Parse("10.1.2.3 " + std::string(100000, 'y'), RpcDefaultPort));
}

}  // namespace
}  // namespace smsconf
