#include "image/ImageDecoder.h"

#include "image/ImageFormat.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace smsconf {

using namespace imageformat;
using text::Wording;

namespace {

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

std::string Decimal(std::size_t value) { return std::to_string(value); }

}  // namespace

ImageDecodeResult CImageDecoder::Decode(std::span<const std::uint8_t> bytes) {
  CImageDecoder decoder(bytes);
  decoder.result_.Ok = decoder.CheckSize() && decoder.CheckHeader() && decoder.CheckPhoneTable() &&
                       decoder.CheckEventTable() && decoder.ReadPhones() && decoder.ReadEvents() &&
                       decoder.CheckChecksum();
  if (!decoder.result_.Ok) decoder.result_.Image = DecodedImage{};
  return std::move(decoder.result_);
}

std::uint16_t CImageDecoder::Word(std::size_t offset) const {
  return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
}

bool CImageDecoder::Fail(std::size_t offset, Wording wording, std::vector<text::Message> arguments) {
  result_.DefectOffset = offset;
  result_.DefectSaid = {Wording::DefectAt, {Decimal(offset), {wording, std::move(arguments)}}};
  result_.Defect = result_.DefectSaid.Render(text::Language::English);
  return false;
}

bool CImageDecoder::CheckSize() {
  if (bytes_.size() < MinimumSize) {
    return Fail(0, Wording::ImageTooShort, {Decimal(bytes_.size()), Decimal(MinimumSize)});
  }
  checksumOffset_ = bytes_.size() - ChecksumSize;
  return true;
}

bool CImageDecoder::CheckHeader() {
  DecodedImage& image = result_.Image;
  image.Signature = Word(SignatureOffset);
  image.Length = Word(LengthOffset);
  image.PhoneTable = Word(PhoneTableOffset);
  image.EventTable = Word(EventTableOffset);
  if (image.Signature != Signature) {
    return Fail(SignatureOffset, Wording::SignatureWrong, {Hex(image.Signature, 4), Hex(Signature, 4)});
  }
  if (image.Length != bytes_.size()) {
    return Fail(LengthOffset, Wording::LengthWrong, {Decimal(image.Length), Decimal(bytes_.size())});
  }
  return true;
}

bool CImageDecoder::CheckPhoneTable() {
  const std::size_t table = result_.Image.PhoneTable;
  if (table < StringAreaStart || table >= checksumOffset_) {
    return Fail(PhoneTableOffset, Wording::PhoneTableOutside,
                {Decimal(table), Decimal(StringAreaStart), Decimal(checksumOffset_ - 1)});
  }
  phoneCount_ = Byte(table);
  const std::size_t end = table + CountSize + PhoneEntrySize * phoneCount_;
  if (end > checksumOffset_) {
    return Fail(table, Wording::PhoneTablePastChecksum,
                {Decimal(phoneCount_), Decimal(end), Decimal(checksumOffset_)});
  }
  result_.Image.StringAreaSize = table - StringAreaStart;
  return true;
}

bool CImageDecoder::CheckEventTable() {
  const std::size_t table = result_.Image.EventTable;
  const std::size_t phonesEnd = result_.Image.PhoneTable + CountSize + PhoneEntrySize * phoneCount_;
  if (table < StringAreaStart || table >= checksumOffset_) {
    return Fail(EventTableOffset, Wording::EventTableOutside,
                {Decimal(table), Decimal(StringAreaStart), Decimal(checksumOffset_ - 1)});
  }
  if (table != phonesEnd) {
    return Fail(EventTableOffset, Wording::EventTableNotAfterPhones, {Decimal(table), Decimal(phonesEnd)});
  }
  eventCount_ = Byte(table);
  const std::size_t end = table + CountSize + EventRecordSize * eventCount_;
  if (end > checksumOffset_) {
    return Fail(table, Wording::EventTablePastChecksum,
                {Decimal(eventCount_), Decimal(end), Decimal(checksumOffset_)});
  }
  if (end < checksumOffset_) {
    return Fail(end, Wording::BytesOfNoSection, {Decimal(checksumOffset_ - end)});
  }
  return true;
}

// A text is a C string that must lie wholly in the string area, which runs
// from the end of the header to the phone table.
bool CImageDecoder::ReadText(std::size_t fieldOffset, const text::Message& owner, std::string& text) {
  const std::size_t reference = Word(fieldOffset);
  const std::size_t areaEnd = result_.Image.PhoneTable;
  if (reference < StringAreaStart || reference >= areaEnd) {
    const text::Message area = areaEnd == StringAreaStart
                                   ? text::Message(Wording::StringAreaEmpty)
                                   : text::Message(Wording::StringAreaSpan,
                                                   {Decimal(StringAreaStart), Decimal(areaEnd - 1)});
    return Fail(fieldOffset, Wording::TextOutsideArea, {owner, Decimal(reference), area});
  }
  const auto* first = bytes_.data() + reference;
  const void* nul = std::memchr(first, 0, areaEnd - reference);
  if (nul == nullptr) {
    return Fail(fieldOffset, Wording::TextUnterminated, {owner, Decimal(reference)});
  }
  text.assign(reinterpret_cast<const char*>(first), static_cast<const std::uint8_t*>(nul) - first);
  return true;
}

bool CImageDecoder::ReadPhones() {
  DecodedImage& image = result_.Image;
  for (std::size_t i = 0; i < phoneCount_; ++i) {
    const std::size_t field = image.PhoneTable + CountSize + PhoneEntrySize * i;
    std::string number;
    if (!ReadText(field, {Wording::PhoneOwner, {Decimal(i)}}, number)) return false;
    image.PhoneReferences.push_back(Word(field));
    image.Content.Numbers.push_back(std::move(number));
  }
  return true;
}

bool CImageDecoder::ReadEvents() {
  for (std::size_t j = 0; j < eventCount_; ++j) {
    if (!ReadEvent(j)) return false;
  }
  return true;
}

bool CImageDecoder::ReadEvent(std::size_t index) {
  const std::size_t record = result_.Image.EventTable + CountSize + EventRecordSize * index;
  const text::Message owner(Wording::EventOwner, {Decimal(index)});
  const std::uint16_t send = Word(record + EventSendOffset);
  const std::uint8_t neg = Byte(record + EventNegOffset);
  // The firmware looks up bit i of the mask in the phone table, so a bit
  // without its slot would make it read whatever follows the table.
  for (int slot = 0; slot < 16; ++slot) {
    if ((send >> slot & 1) == 0) continue;
    if (slot >= PhoneSlots) {
      return Fail(record + EventSendOffset, Wording::MaskPastSlots,
                  {owner, Hex(send, 4), Decimal(std::size_t(slot)), Decimal(PhoneSlots)});
    }
    if (std::size_t(slot) >= phoneCount_) {
      return Fail(record + EventSendOffset, Wording::MaskPastTable,
                  {owner, Hex(send, 4), Decimal(std::size_t(slot)), Decimal(phoneCount_)});
    }
  }
  if (neg > 1) {
    return Fail(record + EventNegOffset, Wording::EdgeNeither, {owner, Decimal(neg)});
  }
  ImageEvent event;
  if (!ReadText(record + EventTextOffset, owner, event.Text)) return false;
  event.Pin = Byte(record + EventPinOffset);
  event.Neg = neg == 1;
  event.Delay = Word(record + EventDelayOffset);
  // Every bit names one of the eight slots, checked above.
  event.Send = static_cast<std::uint8_t>(send);
  result_.Image.TextReferences.push_back(Word(record + EventTextOffset));
  result_.Image.Content.Events.push_back(std::move(event));
  return true;
}

bool CImageDecoder::CheckChecksum() {
  const std::uint8_t stored = Byte(checksumOffset_);
  const std::uint8_t expected = imageformat::Checksum(bytes_.data(), checksumOffset_);
  result_.Image.Checksum = stored;
  if (stored != expected) {
    return Fail(checksumOffset_, Wording::ChecksumWrong, {Hex(stored, 2), Hex(expected, 2)});
  }
  return true;
}

}  // namespace smsconf
