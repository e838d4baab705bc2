#include "image/ImageEncoder.h"

#include "common/Failure.h"

#include <gtest/gtest.h>

namespace smsconf {
namespace {

// The model always has eight slots; an image made from anything else is
// held to the one count byte of the phone table as the events are.
TEST(ImageEncoder, RefusesMoreNumbersThanTheCountByteHolds) {
  EXPECT_EQ(EncodeImage({std::vector<std::string>(255), {}}).size(), 8u + 1 + 1 + 2 * 255 + 1 + 1);
  EXPECT_EQ(testing::FailureOf([] { EncodeImage({std::vector<std::string>(256), {}}); }),
            "Too many phone numbers: 256; the image holds at most 255");
}

}  // namespace
}  // namespace smsconf
