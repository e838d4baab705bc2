#include "image/ImageDecoder.h"

#include "image/ImageEncoder.h"
#include "image/ImageFormat.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <random>
#include <tuple>

namespace smsconf {
namespace {

using Bytes = std::vector<std::uint8_t>;
using imageformat::Checksum;

// Decodes from a heap block of exactly the image's size, so that the
// sanitizer build catches any read beyond it.
ImageDecodeResult Decode(const Bytes& bytes) {
  auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return CImageDecoder::Decode(std::span<const std::uint8_t>(copy.get(), bytes.size()));
}

void SetWord(Bytes& bytes, std::size_t offset, std::size_t value) {
  bytes[offset] = std::uint8_t(value);
  bytes[offset + 1] = std::uint8_t(value >> 8);
}

// The length word and the checksum made to match again, so that only the
// layout is wrong.
void Reseal(Bytes& bytes) {
  SetWord(bytes, 2, bytes.size());
  bytes.back() = Checksum(bytes.data(), bytes.size() - 1);
}

// Phone 0 and one falling-edge event on DI5: the string area is 8..28 (phone
// 0 at 8, the empty text at 21, the event's at 22), the phone table is at
// 29, the event table at 46 and the checksum at 55.
ImageContent Alarm() {
  ImageContent content{std::vector<std::string>(8), {{5, true, 300, 0x01, "\xC0\xE2\xE0\xF0\xE8\xFF"}}};
  content.Numbers[0] = "+70000000001";
  return content;
}

TEST(ImageDecoder, ReadsASoundImage) {
  const ImageDecodeResult result = Decode(EncodeImage(Alarm()));
  ASSERT_TRUE(result.Ok) << result.Defect;
  const DecodedImage& i = result.Image;
  EXPECT_EQ(std::tuple(i.Signature, i.Length, i.PhoneTable, i.EventTable, i.StringAreaSize, i.Checksum),
            std::tuple(0x7331, 56, 29, 46, 21u, 0x4E));
  EXPECT_EQ(i.PhoneReferences, (std::vector<std::uint16_t>{8, 21, 21, 21, 21, 21, 21, 21}));
  EXPECT_EQ(i.TextReferences, (std::vector<std::uint16_t>{22}));
}

// Decoding gives back what was encoded, but for the two things the string
// area cannot keep: a text past its first 0 byte, and a second spelling of
// a text that differs only in letter case.
TEST(ImageDecoder, GivesBackTheEncodedContent) {
  const std::string alarm = "\xC0\xE2\xE0\xF0\xE8\xFF", shouted = "\xC0\xC2\xC0\xD0\xC8\xDF";  // Авария, АВАРИЯ
  const ImageContent widest = {{"+7", "", "+8"},
                               {{255, false, 65535, 0x05, alarm}, {0, true, 0, 0, "+7"}, {31, false, 3600, 0x01, ""}}};
  const std::pair<ImageContent, ImageContent> cases[] = {
      {{}, {}},
      {Alarm(), Alarm()},
      {widest, widest},
      {{{std::string("+7\0tail", 7)}, {{1, false, 0, 0, shouted}, {2, true, 0, 0, alarm}}},
       {{"+7"}, {{1, false, 0, 0, shouted}, {2, true, 0, 0, shouted}}}},
  };
  for (const auto& [encoded, decoded] : cases) {
    const ImageDecodeResult result = Decode(EncodeImage(encoded));
    ASSERT_TRUE(result.Ok) << result.Defect;
    EXPECT_EQ(result.Image.Content, decoded);
  }
}

TEST(ImageDecoder, NamesTheFirstDefectAndItsOffset) {
  struct Case { void (*damage)(Bytes&); std::string defect; };
  const Case cases[] = {
      {[](Bytes& b) { b.resize(10); }, "offset 0: image of 10 bytes is shorter than the smallest"},
      {[](Bytes& b) { b[1] = 0x72; }, "offset 0: signature 0x7231 is not 0x7331"},
      {[](Bytes& b) { b.resize(40); }, "offset 2: length word 56 does not match the file size 40"},
      {[](Bytes& b) { b.push_back(0); }, "offset 2: length word 56 does not match the file"},
      {[](Bytes& b) { SetWord(b, 4, 7); }, "offset 4: phone table offset 7 lies outside the image"},
      {[](Bytes& b) { SetWord(b, 4, 55); }, "offset 4: phone table offset 55 lies outside"},
      {[](Bytes& b) { b[29] = 20; }, "offset 29: phone table of 20 entries ends at 70, past"},
      {[](Bytes& b) { SetWord(b, 6, 0xFFFF); }, "offset 6: event table offset 65535 lies outside"},
      {[](Bytes& b) { SetWord(b, 6, 45); }, "offset 6: event table offset 45 does not follow"},
      // The tables and the checksum stand back to back; the encoder leaves no gap.
      {[](Bytes& b) { b.insert(b.begin() + 46, 0), SetWord(b, 6, 47), Reseal(b); },
       "offset 6: event table offset 47 does not follow the phone table, which ends at 46"},
      {[](Bytes& b) { b[46] = 2; }, "offset 46: event table of 2 events ends at 63, past"},
      {[](Bytes& b) { b.insert(b.end() - 1, 0), Reseal(b); }, "offset 55: 1 bytes between the event table and the"},
      {[](Bytes& b) { SetWord(b, 30, 7); }, "offset 30: phone 0 refers to offset 7 outside"},
      {[](Bytes& b) { SetWord(b, 36, 29); }, "offset 36: phone 3 refers to offset 29 outside"},
      {[](Bytes& b) { b[28] = 'x'; }, "offset 53: event 0's text at offset 22 has no terminating"},
      {[](Bytes& b) { b[50] = 0x01; }, "offset 49: event 0 recipient mask 0x0101 names slot 8, beyond"},
      {[](Bytes& b) { b = EncodeImage({{"+7", ""}, {{0, false, 0, 0x04, ""}}}); },
       "offset 20: event 0 recipient mask 0x0004 names slot 2, but the phone table has 2"},
      {[](Bytes& b) { b[52] = 2; }, "offset 52: event 0 edge byte 2 is neither 0 (rising) nor"},
      {[](Bytes& b) { b[22] = 'A'; }, "offset 55: checksum 0x4E does not match"},
  };
  for (const Case& c : cases) {
    Bytes image = EncodeImage(Alarm());
    c.damage(image);
    const ImageDecodeResult result = Decode(image);
    EXPECT_FALSE(result.Ok) << c.defect;
    EXPECT_EQ(result.Defect.substr(0, c.defect.size()), c.defect);
  }
}

// Sound images of random shapes; the same cut short or with bytes changed;
// and noise, some of it behind a plausible header. The decoder must read
// only inside the bytes and accept only sound images.
TEST(ImageDecoder, StaysInsideAnyBytesAndAcceptsOnlySoundImages) {
  std::mt19937 random(20240611);
  const auto between = [&](std::size_t low, std::size_t high) {
    return std::uniform_int_distribution<std::size_t>(low, high)(random);
  };
  const auto text = [&] {
    std::string t(between(0, 12), ' ');
    for (char& c : t) c = char(between(1, 255));
    return t;
  };
  const auto expectSoundIfAccepted = [](const Bytes& bytes) {
    const ImageDecodeResult result = Decode(bytes);
    const unsigned sum = std::accumulate(bytes.begin(), bytes.end(), 0u);
    EXPECT_LT(result.DefectOffset, std::max<std::size_t>(bytes.size(), 1));
    EXPECT_TRUE(!result.Ok || (sum % 256 == 0xFF && result.Image.Length == bytes.size()));
  };
  for (int round = 0; round < 8000; ++round) {
    std::vector<std::string> phones(between(0, 8));
    for (std::string& phone : phones) phone = between(0, 2) ? text() : "";
    std::vector<ImageEvent> events(between(0, 6));
    for (ImageEvent& e : events)
      e = {std::int32_t(between(0, 255)), between(0, 1) == 1, std::int32_t(between(0, 65535)),
           std::uint8_t(between(0, (1u << phones.size()) - 1)), text()};
    const Bytes sound = EncodeImage({phones, events});
    const ImageDecodeResult result = Decode(sound);
    ASSERT_TRUE(result.Ok) << result.Defect;
    EXPECT_EQ(EncodeImage(result.Image.Content), sound);

    EXPECT_FALSE(Decode(Bytes(sound.begin(), sound.begin() + between(0, sound.size() - 1))).Ok);
    Bytes mutated = sound;
    for (std::size_t n = between(1, 4); n > 0; --n)
      mutated[between(0, sound.size() - 1)] = std::uint8_t(between(0, 255));
    if (between(0, 1)) mutated.back() = Checksum(mutated.data(), mutated.size() - 1);
    expectSoundIfAccepted(mutated);
    for (int i = 0; i < 2; ++i) {
      Bytes noise(between(0, 120));
      for (std::uint8_t& b : noise) b = std::uint8_t(between(0, 255));
      if (noise.size() >= imageformat::MinimumSize && between(0, 3)) {
        SetWord(noise, 0, imageformat::Signature), SetWord(noise, 2, noise.size());
        SetWord(noise, 4, between(0, noise.size()));
        if (between(0, 1)) SetWord(noise, 6, between(0, noise.size()));
        noise.back() = Checksum(noise.data(), noise.size() - 1);
      }
      expectSoundIfAccepted(noise);
    }
  }
}

}  // namespace
}  // namespace smsconf
