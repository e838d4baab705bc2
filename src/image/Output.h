#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace smsconf {

// The growable buffer in which a configuration image is assembled, and the
// writers of the image file and of the firmware source file.
class COutput {
 public:
  static constexpr std::int32_t InitialCapacity = 32768;

  COutput();
  virtual ~COutput();
  COutput(const COutput&) = delete;
  COutput& operator=(const COutput&) = delete;

  void PutByte(std::uint8_t b);
  // Little-endian: the low 8 bits of v, then the next 8 bits.
  void PutWord(std::uint32_t v);
  // n of 0 or less appends nothing.
  void PutBytes(const void* p, std::int32_t n);
  // Appends the placeholder bytes FF FF and returns their offset, for a
  // word whose value is known only later.
  std::int32_t ReserveWord();
  // Overwrites the word at offset with the low 16 bits of v. Only bytes
  // already written may be patched: std::out_of_range otherwise.
  void PatchWord(std::int32_t offset, std::uint32_t v);

  // The first Length() bytes as the image file, and as the firmware source
  // file. Each throws std::runtime_error("Cannot create file " + path) when
  // the file cannot be written, and then leaves any earlier file untouched.
  void SaveToFile(const std::string& path) const;
  void SaveAsSource(const std::string& path) const;

  const std::uint8_t* Code() const { return code_; }
  std::int32_t Capacity() const { return capacity_; }
  std::int32_t Length() const { return length_; }
  std::int32_t Position() const { return position_; }

 private:
  std::int32_t capacity_;
  std::int32_t length_;
  std::uint8_t* code_;
  std::int32_t position_;
};

// The firmware source file of an image: the bytes as a program-memory array
// and the function with which the firmware copies them to the address at
// which the unit reads its configuration.
std::string FirmwareSource(std::span<const std::uint8_t> image);

}  // namespace smsconf
