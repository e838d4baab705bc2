#pragma once

#include "image/ImageContent.h"
#include "text/Wording.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace smsconf {

// A sound image: its content, and where the header and tables put it, for
// showing the layout. Texts are Windows-1251 bytes.
struct DecodedImage {
  std::uint16_t Signature = 0;
  std::uint16_t Length = 0;
  std::uint16_t PhoneTable = 0;
  std::uint16_t EventTable = 0;
  std::size_t StringAreaSize = 0;
  std::uint8_t Checksum = 0;
  std::vector<std::uint16_t> PhoneReferences;  // one a number, in slot order
  std::vector<std::uint16_t> TextReferences;   // one an event, in image order
  ImageContent Content;
};

struct ImageDecodeResult {
  bool Ok = false;
  DecodedImage Image;       // meaningful when Ok
  std::size_t DefectOffset = 0;
  // When not Ok: "offset N: ..." naming the first defect, as a message for
  // the window to render in Russian, and in English as the command line says it.
  text::Message DefectSaid{""};
  std::string Defect;
};

// Reads a configuration image as a unit would, checking everything the unit
// relies on, and stops at the first defect. Whatever the bytes, it reads
// only inside them. What EncodeImage wrote comes back as its content.
class CImageDecoder {
 public:
  static ImageDecodeResult Decode(std::span<const std::uint8_t> bytes);

 private:
  explicit CImageDecoder(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool CheckSize();
  bool CheckHeader();
  bool CheckPhoneTable();
  bool CheckEventTable();
  bool ReadPhones();
  bool ReadEvents();
  bool ReadEvent(std::size_t index);
  bool CheckChecksum();
  bool ReadText(std::size_t fieldOffset, const text::Message& owner, std::string& text);
  bool Fail(std::size_t offset, text::Wording wording, std::vector<text::Message> arguments);

  std::uint8_t Byte(std::size_t offset) const { return bytes_[offset]; }
  std::uint16_t Word(std::size_t offset) const;

  std::span<const std::uint8_t> bytes_;
  std::size_t checksumOffset_ = 0;
  std::size_t phoneCount_ = 0;
  std::size_t eventCount_ = 0;
  ImageDecodeResult result_;
};

}  // namespace smsconf
