#include "image/ImageDecoder.h"

#include "image/ImageFormat.h"

#include <gtest/gtest.h>

#include <map>
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

// An image of any shape, laid out as a compile does, equal texts stored once.
Bytes Assemble(const std::vector<std::string>& phones, const std::vector<DecodedEvent>& events) {
  Bytes b = {0x31, 0x73, 0, 0, 0, 0, 0, 0};
  std::map<std::string, std::size_t> stored;
  const auto text = [&](const std::string& t) {
    const auto [at, added] = stored.try_emplace(t, b.size());
    if (added) b.insert(b.end(), t.c_str(), t.c_str() + t.size() + 1);
    return at->second;
  };
  const auto word = [&](std::size_t v) { b.resize(b.size() + 2), SetWord(b, b.size() - 2, v); };
  for (const std::string& phone : phones) text(phone);
  for (const DecodedEvent& e : events) text(e.Text);
  SetWord(b, 4, b.size());
  b.push_back(std::uint8_t(phones.size()));
  for (const std::string& phone : phones) word(text(phone));
  SetWord(b, 6, b.size());
  b.push_back(std::uint8_t(events.size()));
  for (const DecodedEvent& e : events) {
    word(e.Delay), word(e.Send), b.push_back(e.Pin), b.push_back(e.Neg), word(text(e.Text));
  }
  SetWord(b, 2, b.size() + 1);
  b.push_back(Checksum(b.data(), b.size()));
  return b;
}

// Phone 0 and one falling-edge event on DI5: the string area is 8..28 (phone
// 0 at 8, the empty text at 21, the event's at 22), the phone table is at
// 29, the event table at 46 and the checksum at 55.
Bytes AlarmImage() {
  std::vector<std::string> phones(8);
  phones[0] = "+70000000001";
  return Assemble(phones, {{300, 1, 5, 1, 0, "\xC0\xE2\xE0\xF0\xE8\xFF"}});
}

TEST(ImageDecoder, ReadsASoundImage) {
  const ImageDecodeResult result = Decode(AlarmImage());
  ASSERT_TRUE(result.Ok) << result.Defect;
  const DecodedImage& i = result.Image;
  EXPECT_EQ(std::tuple(i.Signature, i.Length, i.PhoneTable, i.EventTable, i.StringAreaSize, i.Checksum),
            std::tuple(0x7331, 56, 29, 46, 21u, 0x4E));
  EXPECT_EQ(i.PhoneReferences, (std::vector<std::uint16_t>{8, 21, 21, 21, 21, 21, 21, 21}));
  ASSERT_EQ(i.Events.size(), 1u);
  EXPECT_EQ(i.Events[0].TextReference, 22);
  EXPECT_EQ(Assemble(i.Phones, i.Events), AlarmImage());  // every number, field and text
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
      {[](Bytes& b) { b[46] = 2; }, "offset 46: event table of 2 events ends at 63, past"},
      {[](Bytes& b) { b[46] = 0; }, "offset 47: 8 bytes between the event table and the"},
      {[](Bytes& b) { SetWord(b, 30, 7); }, "offset 30: phone 0 refers to offset 7 outside"},
      {[](Bytes& b) { SetWord(b, 36, 29); }, "offset 36: phone 3 refers to offset 29 outside"},
      {[](Bytes& b) { b[28] = 'x'; }, "offset 53: event 0's text at offset 22 has no terminating"},
      {[](Bytes& b) { b[50] = 0x01; }, "offset 49: event 0 recipient mask 0x0101 names slot 8, beyond"},
      {[](Bytes& b) { b = Assemble({"+7", ""}, {{0, 4, 0, 0, 0, ""}}); },
       "offset 20: event 0 recipient mask 0x0004 names slot 2, but the phone table has 2"},
      {[](Bytes& b) { b[52] = 2; }, "offset 52: event 0 edge byte 2 is neither 0 (rising) nor"},
      {[](Bytes& b) { b[22] = 'A'; }, "offset 55: checksum 0x4E does not match"},
  };
  for (const Case& c : cases) {
    Bytes image = AlarmImage();
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
    std::vector<DecodedEvent> events(between(0, 6));
    for (DecodedEvent& e : events) {
      e = {std::uint16_t(between(0, 65535)), std::uint16_t(between(0, (1u << phones.size()) - 1)),
           std::uint8_t(between(0, 255)), std::uint8_t(between(0, 1)), 0, text()};
    }
    const Bytes sound = Assemble(phones, events);
    const ImageDecodeResult result = Decode(sound);
    ASSERT_TRUE(result.Ok) << result.Defect;
    EXPECT_EQ(Assemble(result.Image.Phones, result.Image.Events), sound);

    EXPECT_FALSE(Decode(Bytes(sound.begin(), sound.begin() + between(0, sound.size() - 1))).Ok);
    Bytes mutated = sound;
    for (std::size_t n = between(1, 4); n > 0; --n) {
      mutated[between(0, sound.size() - 1)] = std::uint8_t(between(0, 255));
    }
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
