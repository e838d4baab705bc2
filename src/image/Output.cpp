#include "image/Output.h"

#include "files/AtomicFile.h"
#include "image/Require.h"

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string_view>

namespace smsconf {

namespace {

// The firmware source: the image as a program-memory array and the function
// with which the firmware copies it to its data memory at 0x8000.
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
      code_(static_cast<std::uint8_t*>(std::malloc(InitialCapacity))),
      position_(0) {
  SMSCONF_REQUIRE(code_ != nullptr, "Code != NULL");
}

COutput::~COutput() { std::free(code_); }

void COutput::PutByte(std::uint8_t b) {
  if (position_ == capacity_) {
    // A capacity that no longer fits the 32-bit size counts as memory that
    // cannot be obtained.
    const bool fits = capacity_ <= std::numeric_limits<std::int32_t>::max() / 2;
    auto* grown = fits ? static_cast<std::uint8_t*>(std::realloc(code_, std::size_t(capacity_) * 2))
                       : nullptr;
    SMSCONF_REQUIRE(grown != nullptr, "Code != NULL");
    code_ = grown;
    capacity_ *= 2;
  }
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
  WriteFileAtomically(path, SourceText());
}

std::string COutput::SourceText() const {
  std::string text = SourceHead;
  // ",\n\t0xAB" per byte
  text.reserve(text.size() + std::size_t(length_) * 7 + 128);
  char piece[64];
  for (std::int32_t i = 0; i < length_; ++i) {
    if (i != 0) text += ",\n";
    std::snprintf(piece, sizeof piece, "\t0x%02X", unsigned(code_[i]));
    text += piece;
  }
  text += SourceArrayEnd;
  text += SourceInitHead;
  std::snprintf(piece, sizeof piece, "memcpy_P((void *)0x8000, stdcfgdata, %d);\n", int(length_));
  text += piece;
  text += SourceInitEnd;
  return text;
}

}  // namespace smsconf
