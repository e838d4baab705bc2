#include "image/ImageDecoder.h"

#include "image/ImageAssembly.h"
#include "image/ImageFormat.h"
#include "text/Cp1251.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace smsconf {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::TestEvent;

// Decodes from a heap block of exactly the image's size, so that the
// sanitizer build catches any read beyond it.
ImageDecodeResult DecodeExact(const Bytes& bytes) {
  auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return CImageDecoder::Decode(std::span<const std::uint8_t>(copy.get(), bytes.size()));
}

void SetWord(Bytes& bytes, std::size_t offset, unsigned value) {
  bytes[offset] = static_cast<std::uint8_t>(value);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void FixChecksum(Bytes& bytes) {
  bytes.back() = imageformat::Checksum(bytes.data(), bytes.size() - 1);
}

TEST(ImageDecoder, ReadsBackWhatWasAssembled) {
  const ImageDecodeResult result = DecodeExact(testing::AlarmImage());
  ASSERT_TRUE(result.Ok) << result.Defect;
  const DecodedImage& image = result.Image;
  EXPECT_EQ(image.Signature, 0x7331);
  EXPECT_EQ(image.Length, 56);
  EXPECT_EQ(image.PhoneTable, 29);
  EXPECT_EQ(image.EventTable, 46);
  EXPECT_EQ(image.StringAreaSize, 21u);
  EXPECT_EQ(image.Checksum, 0x4E);
  std::vector<std::string> phones(8);
  phones[0] = "+70000000001";
  EXPECT_EQ(image.Phones, phones);
  EXPECT_EQ(image.PhoneReferences, (std::vector<std::uint16_t>{8, 21, 21, 21, 21, 21, 21, 21}));
  ASSERT_EQ(image.Events.size(), 1u);
  const DecodedEvent& event = image.Events[0];
  EXPECT_EQ(event.Delay, 300);
  EXPECT_EQ(event.Send, 0x01);
  EXPECT_EQ(event.Pin, 5);
  EXPECT_EQ(event.Neg, 1);
  EXPECT_EQ(event.TextReference, 22);
  EXPECT_EQ(event.Text, "\xC0\xE2\xE0\xF0\xE8\xFF");
}

TEST(ImageDecoder, SmallestImageHasNoPhonesAndNoEvents) {
  const Bytes image = testing::AssembleImage({}, {});
  ASSERT_EQ(image.size(), imageformat::MinimumSize);
  const ImageDecodeResult result = DecodeExact(image);
  ASSERT_TRUE(result.Ok) << result.Defect;
  EXPECT_TRUE(result.Image.Phones.empty());
  EXPECT_TRUE(result.Image.Events.empty());
}

TEST(ImageDecoder, NamesTheFirstDefectAndItsOffset) {
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    std::string defect;
  };
  // The alarm image: string area 8..28 (phone 0 at 8, empty text at 21,
  // event text at 22), phone table at 29, event table at 46, checksum at 55.
  const Case cases[] = {
      {"empty file", [](Bytes& b) { b.clear(); },
       "offset 0: image of 0 bytes is shorter than the smallest possible image of 11 bytes"},
      {"truncated into the header", [](Bytes& b) { b.resize(5); },
       "offset 0: image of 5 bytes is shorter than the smallest possible image of 11 bytes"},
      {"bad signature", [](Bytes& b) { b[1] = 0x72; },
       "offset 0: signature 0x7231 is not 0x7331"},
      {"length word", [](Bytes& b) { SetWord(b, 2, 60); },
       "offset 2: length word 60 does not match the file size 56"},
      {"truncated", [](Bytes& b) { b.resize(40); },
       "offset 2: length word 56 does not match the file size 40"},
      {"extra byte", [](Bytes& b) { b.push_back(0); },
       "offset 2: length word 56 does not match the file size 57"},
      {"phone table inside the header", [](Bytes& b) { SetWord(b, 4, 3); },
       "offset 4: phone table offset 3 lies outside the image between the header and the "
       "checksum byte (8 to 54)"},
      {"phone table at the checksum", [](Bytes& b) { SetWord(b, 4, 55); },
       "offset 4: phone table offset 55 lies outside the image between the header and the "
       "checksum byte (8 to 54)"},
      {"phone count overruns", [](Bytes& b) { b[29] = 20; },
       "offset 29: phone table of 20 entries ends at 70, past the checksum byte at 55"},
      {"event table far away", [](Bytes& b) { SetWord(b, 6, 0xFFFF); },
       "offset 6: event table offset 65535 lies outside the image between the header and the "
       "checksum byte (8 to 54)"},
      {"event table overlaps phones", [](Bytes& b) { SetWord(b, 6, 45); },
       "offset 6: event table offset 45 does not follow the phone table, which ends at 46"},
      {"event count overruns", [](Bytes& b) { b[46] = 2; },
       "offset 46: event table of 2 events ends at 63, past the checksum byte at 55"},
      {"bytes before the checksum", [](Bytes& b) { b[46] = 0; },
       "offset 47: 8 bytes between the event table and the checksum byte belong to no section"},
      {"phone reference into the tables", [](Bytes& b) { SetWord(b, 36, 29); },
       "offset 36: phone 3 refers to offset 29 outside the string area (the string area is 8 "
       "to 28)"},
      {"phone reference into the header", [](Bytes& b) { SetWord(b, 30, 7); },
       "offset 30: phone 0 refers to offset 7 outside the string area (the string area is 8 to "
       "28)"},
      {"event reference anywhere", [](Bytes& b) { SetWord(b, 53, 0xFFFF); },
       "offset 53: event 0 refers to offset 65535 outside the string area (the string area is "
       "8 to 28)"},
      {"text without its 0 byte", [](Bytes& b) { b[28] = 'x'; },
       "offset 53: event 0's text at offset 22 has no terminating 0 byte inside the string "
       "area"},
      {"recipient beyond the slots", [](Bytes& b) { b[50] = 0x01; },
       "offset 49: event 0 recipient mask 0x0101 names slot 8, beyond the 8 phone slots"},
      {"edge byte", [](Bytes& b) { b[52] = 2; },
       "offset 52: event 0 edge byte 2 is neither 0 (rising) nor 1 (falling)"},
      {"checksum", [](Bytes& b) { b[55] ^= 1; },
       "offset 55: checksum 0x4F does not match the bytes before it (expected 0x4E)"},
      {"changed text", [](Bytes& b) { b[22] = 'A'; },
       "offset 55: checksum 0x4E does not match the bytes before it (expected 0xCD)"},
  };
  for (const Case& c : cases) {
    Bytes image = testing::AlarmImage();
    c.damage(image);
    const ImageDecodeResult result = DecodeExact(image);
    EXPECT_FALSE(result.Ok) << c.name;
    EXPECT_EQ(result.Defect, c.defect) << c.name;
  }
}

TEST(ImageDecoder, RecipientWithoutAPhoneSlotIsADefect) {
  const Bytes image = testing::AssembleImage({"+7", ""}, {{0, false, 0, 0x04, "t"}});
  const ImageDecodeResult result = DecodeExact(image);
  EXPECT_FALSE(result.Ok);
  EXPECT_EQ(result.Defect,
            "offset 22: event 0 recipient mask 0x0004 names slot 2, but the phone table has 2 "
            "entries");
}

// Random images, then the same truncated, with bytes changed, and plain
// noise that only looks like an image from the outside: the decoder must
// stay inside the bytes and accept only images that are sound.
class RandomImages {
 public:
  explicit RandomImages(unsigned seed) : random_(seed) {}

  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  std::string Text() {
    std::string text(std::size_t(Between(0, 12)), ' ');
    for (char& c : text) c = static_cast<char>(Between(1, 255));
    return text;
  }

  Bytes Sound(std::vector<std::string>& phones, std::vector<TestEvent>& events) {
    phones.assign(std::size_t(Between(0, 8)), "");
    for (std::string& phone : phones) phone = Between(0, 2) ? Text() : "";
    events.assign(std::size_t(Between(0, 6)), {});
    for (TestEvent& event : events) {
      event.Pin = Between(0, 255);
      event.Neg = Between(0, 1) == 1;
      event.Delay = Between(0, 65535);
      event.Send = static_cast<std::uint8_t>(phones.empty() ? 0 : Between(0, (1 << phones.size()) - 1));
      event.Text = Between(0, 3) ? Text() : phones.empty() ? "" : phones[0];
    }
    return testing::AssembleImage(phones, events);
  }

  Bytes Noise() {
    Bytes bytes(std::size_t(Between(0, 120)));
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(Between(0, 255));
    if (bytes.size() >= imageformat::MinimumSize && Between(0, 3) != 0) {
      SetWord(bytes, 0, imageformat::Signature);
      SetWord(bytes, 2, unsigned(bytes.size()));
      SetWord(bytes, 4, unsigned(Between(0, int(bytes.size()))));
      if (Between(0, 1)) SetWord(bytes, 6, unsigned(Between(0, int(bytes.size()))));
      FixChecksum(bytes);
    }
    return bytes;
  }

  void Mutate(Bytes& bytes) {
    for (int n = Between(1, 4); n > 0 && !bytes.empty(); --n) {
      bytes[std::size_t(Between(0, int(bytes.size()) - 1))] = static_cast<std::uint8_t>(Between(0, 255));
    }
    if (Between(0, 1)) FixChecksum(bytes);
  }

 private:
  std::mt19937 random_;
};

void ExpectSoundIfAccepted(const Bytes& bytes, const ImageDecodeResult& result) {
  if (!result.Ok) {
    EXPECT_EQ(result.Defect.rfind("offset ", 0), 0u) << result.Defect;
    EXPECT_LT(result.DefectOffset, std::max<std::size_t>(bytes.size(), 1));
    return;
  }
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  EXPECT_EQ(sum % 256, imageformat::ChecksumTotal);
  EXPECT_EQ(result.Image.Length, bytes.size());
}

TEST(ImageDecoder, StaysInsideAnyBytesAndAcceptsOnlySoundImages) {
  RandomImages random(20240611);
  for (int round = 0; round < 8000; ++round) {
    std::vector<std::string> phones;
    std::vector<TestEvent> events;
    const Bytes sound = random.Sound(phones, events);
    const ImageDecodeResult result = DecodeExact(sound);
    ASSERT_TRUE(result.Ok) << result.Defect;
    ASSERT_EQ(result.Image.Phones.size(), phones.size());
    for (std::size_t i = 0; i < phones.size(); ++i) {
      EXPECT_TRUE(text::EqualsIgnoreCase(result.Image.Phones[i], phones[i]));
    }
    ASSERT_EQ(result.Image.Events.size(), events.size());
    for (std::size_t j = 0; j < events.size(); ++j) {
      EXPECT_EQ(result.Image.Events[j].Delay, events[j].Delay);
      EXPECT_EQ(result.Image.Events[j].Send, events[j].Send);
      EXPECT_EQ(result.Image.Events[j].Pin, events[j].Pin);
      EXPECT_TRUE(text::EqualsIgnoreCase(result.Image.Events[j].Text, events[j].Text));
    }

    Bytes truncated(sound.begin(), sound.begin() + random.Between(0, int(sound.size()) - 1));
    EXPECT_FALSE(DecodeExact(truncated).Ok);

    Bytes mutated = sound;
    random.Mutate(mutated);
    ExpectSoundIfAccepted(mutated, DecodeExact(mutated));

    for (int i = 0; i < 2; ++i) {
      const Bytes noise = random.Noise();
      ExpectSoundIfAccepted(noise, DecodeExact(noise));
    }
  }
}

}  // namespace
}  // namespace smsconf
