#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace smsconf {

// The string area of one configuration image: every text the image carries,
// each stored once as its bytes and a 0 byte, back to back. Texts that differ
// only in letter case share the entry of the first spelling added.
class CSymTable {
 public:
  static constexpr std::int32_t InitialCapacity = 4096;

  CSymTable();
  virtual ~CSymTable();
  CSymTable(const CSymTable&) = delete;
  CSymTable& operator=(const CSymTable&) = delete;

  // The offset of `text` in the area, storing it first when no equal text is
  // there yet. A text ends at its first 0 byte, as it does in the area.
  std::int32_t AddString(std::string_view text);

  const std::uint8_t* Code() const { return code_; }
  std::int32_t Length() const { return length_; }
  std::int32_t Capacity() const { return capacity_; }

 private:
  void AppendByte(std::uint8_t byte);

  std::int32_t capacity_;
  // (text as first added, offset) in the order of first addition: the walk
  // along it finds the first spelling of a text.
  std::vector<std::pair<std::string, std::int32_t>> index_;
  std::uint8_t* code_;
  std::int32_t length_;
};

}  // namespace smsconf
