#include "image/Output.h"

#include "files/AtomicFile.h"
#include "image/CodeBuffer.h"
#include "image/ImageFormat.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

namespace smsconf {

namespace {

// The firmware source: the image as a program-memory array and the function
// with which the firmware copies it to the load address.
constexpr const char* SourceHead =
    "#include <avr\\pgmspace.h>\n"
    "#include \"stdcfg.h\"\n"
    "const unsigned char stdcfgdata[] PROGMEM = \n"
    "{\n";
constexpr const char* SourceArrayEnd = "\n};\n";
constexpr const char* SourceInitHead =
    "\n"
    "void stdcfg_init()\n"
    "{\n";
constexpr const char* SourceInitEnd = "}\n";

}  // namespace

COutput::COutput()
    : capacity_(InitialCapacity),
      length_(0),
      code_(ObtainCode(InitialCapacity)),
      position_(0) {}

COutput::~COutput() { std::free(code_); }

void COutput::PutByte(std::uint8_t b) {
  MakeRoom(code_, capacity_, position_);
  code_[position_++] = b;
  if (length_ < position_) length_ = position_;
}

void COutput::PutWord(std::uint32_t v) {
  PutByte(static_cast<std::uint8_t>(v & 0xFF));
  PutByte(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void COutput::PutBytes(const void* p, std::int32_t n) {
  const auto* bytes = static_cast<const std::uint8_t*>(p);
  for (std::int32_t i = 0; i < n; ++i) PutByte(bytes[i]);
}

std::int32_t COutput::ReserveWord() {
  const std::int32_t offset = position_;
  PutWord(0xFFFF);
  return offset;
}

void COutput::PatchWord(std::int32_t offset, std::uint32_t v) {
  if (offset < 0 || offset > length_ - 2) {
    throw std::out_of_range("COutput::PatchWord: offset " + std::to_string(offset) +
                            " is not inside the " + std::to_string(length_) + " bytes written");
  }
  code_[offset] = static_cast<std::uint8_t>(v & 0xFF);
  code_[offset + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

void COutput::SaveToFile(const std::string& path) const {
  WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(code_),
                                             static_cast<std::size_t>(length_)));
}

void COutput::SaveAsSource(const std::string& path) const {
  WriteFileAtomically(path, FirmwareSource({code_, std::size_t(length_)}));
}

std::string FirmwareSource(std::span<const std::uint8_t> image) {
  std::string text = SourceHead;
  // ",\n\t0xAB" per byte
  text.reserve(text.size() + image.size() * 7 + 128);
  char piece[64];
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (i != 0) text += ",\n";
    std::snprintf(piece, sizeof piece, "\t0x%02X", unsigned(image[i]));
    text += piece;
  }
  text += SourceArrayEnd;
  text += SourceInitHead;
  std::snprintf(piece, sizeof piece, "memcpy_P((void *)0x%X, stdcfgdata, %d);\n",
                unsigned(imageformat::LoadAddress), int(image.size()));
  text += piece;
  text += SourceInitEnd;
  return text;
}

}  // namespace smsconf
