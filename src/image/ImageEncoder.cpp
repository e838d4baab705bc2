#include "image/ImageEncoder.h"

#include "image/ImageFormat.h"
#include "image/Output.h"
#include "image/SymTable.h"
#include "text/Wording.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace smsconf {

using namespace imageformat;

namespace {

using text::Wording;

[[noreturn]] void Refuse(Wording wording, std::vector<text::Message> arguments) {
  throw text::MessageError({wording, std::move(arguments)});
}

void CheckFields(const ImageContent& content) {
  if (content.Numbers.size() > LargestCount) {
    Refuse(Wording::TooManyNumbers, {std::to_string(content.Numbers.size()), std::to_string(LargestCount)});
  }
  if (content.Events.size() > LargestCount) {
    Refuse(Wording::TooManyEvents, {std::to_string(content.Events.size()), std::to_string(LargestCount)});
  }
  for (std::size_t i = 0; i < content.Events.size(); ++i) {
    const ImageEvent& event = content.Events[i];
    if (event.Pin < 0 || event.Pin > std::int64_t{LargestByte}) {
      Refuse(Wording::PinOutside, {std::to_string(i), std::to_string(event.Pin), std::to_string(LargestByte)});
    }
    if (event.Delay < 0 || event.Delay > std::int64_t{LargestWord}) {
      Refuse(Wording::DelayOutside, {std::to_string(i), std::to_string(event.Delay), std::to_string(LargestWord)});
    }
  }
}

// Adds the text of `owner` to the string area. A text whose 0 byte would
// lie past the largest image is refused in its own name, before a later
// text's reference shows the overflow.
void AddText(CSymTable& table, const std::string& value, const text::Message& owner) {
  table.AddString(value);
  const std::int64_t end = std::int64_t{StringAreaStart} + table.Length() - 1;
  if (end >= std::int64_t{LargestImage}) {
    Refuse(Wording::TextPastImage, {owner, std::to_string(end), std::to_string(LargestImage)});
  }
}

// The 16-bit reference to a text already in the string area. Every text of
// the area ends inside the largest image, so it fits.
std::uint32_t StringReference(CSymTable& table, const std::string& text) {
  return static_cast<std::uint32_t>(table.AddString(text) + StringAreaStart);
}

text::Message PhoneName(std::size_t i) { return {Wording::PhoneNumberField, {std::to_string(i)}}; }
text::Message EventName(std::size_t i) { return {Wording::EventTextField, {std::to_string(i)}}; }

void Assemble(const ImageContent& content, COutput& out) {
  CSymTable table;
  for (std::size_t i = 0; i < content.Numbers.size(); ++i) AddText(table, content.Numbers[i], PhoneName(i));
  for (std::size_t i = 0; i < content.Events.size(); ++i) AddText(table, content.Events[i].Text, EventName(i));

  out.PutWord(Signature);
  const std::int32_t lengthWord = out.ReserveWord();
  const std::int32_t phoneTableWord = out.ReserveWord();
  const std::int32_t eventTableWord = out.ReserveWord();
  out.PutBytes(table.Code(), table.Length());

  out.PatchWord(phoneTableWord, static_cast<std::uint32_t>(out.Position()));
  out.PutByte(static_cast<std::uint8_t>(content.Numbers.size()));
  for (std::size_t i = 0; i < content.Numbers.size(); ++i) {
    out.PutWord(StringReference(table, content.Numbers[i]));
  }

  out.PatchWord(eventTableWord, static_cast<std::uint32_t>(out.Position()));
  out.PutByte(static_cast<std::uint8_t>(content.Events.size()));
  for (std::size_t i = 0; i < content.Events.size(); ++i) {
    const ImageEvent& event = content.Events[i];
    out.PutWord(static_cast<std::uint32_t>(event.Delay));
    out.PutWord(event.Send);
    out.PutByte(static_cast<std::uint8_t>(event.Pin));
    out.PutByte(event.Neg ? 1 : 0);
    out.PutWord(StringReference(table, event.Text));
  }

  // The length counts the checksum byte that is still to come.
  const std::int64_t total = std::int64_t{out.Position()} + 1;
  if (total > std::int64_t{LargestImage}) {
    Refuse(Wording::ImageTooLong, {std::to_string(total), std::to_string(LargestImage)});
  }
  out.PatchWord(lengthWord, static_cast<std::uint32_t>(total));
  out.PutByte(Checksum(out.Code(), static_cast<std::size_t>(out.Position())));
}

}  // namespace

std::vector<std::uint8_t> EncodeImage(const ImageContent& content) {
  CheckFields(content);
  COutput out;
  Assemble(content, out);
  return {out.Code(), out.Code() + out.Length()};
}

ImageContent StoredContent(ImageContent content) {
  CSymTable table;
  std::map<std::int32_t, std::string> spellings;  // by offset in the string area
  const auto store = [&](std::string& text) {
    text.resize(std::min(text.size(), text.find('\0')));
    text = spellings.try_emplace(table.AddString(text), text).first->second;
  };
  for (std::string& number : content.Numbers) store(number);
  for (ImageEvent& event : content.Events) store(event.Text);
  return content;
}

}  // namespace smsconf
