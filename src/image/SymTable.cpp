#include "image/SymTable.h"

#include "image/CodeBuffer.h"
#include "text/Cp1251.h"

#include <cstdlib>

namespace smsconf {

CSymTable::CSymTable() : capacity_(InitialCapacity), code_(ObtainCode(InitialCapacity)), length_(0) {}

CSymTable::~CSymTable() { std::free(code_); }

std::int32_t CSymTable::AddString(std::string_view text) {
  // The area keeps C strings, so whatever follows an embedded 0 byte could
  // never be found there again.
  text = text.substr(0, text.find('\0'));

  for (const auto& [stored, offset] : index_) {
    if (text::EqualsIgnoreCase(stored, text)) return offset;
  }

  const std::int32_t offset = length_;
  for (char c : text) AppendByte(static_cast<std::uint8_t>(c));
  AppendByte(0);
  index_.emplace_back(std::string(text), offset);
  return offset;
}

void CSymTable::AppendByte(std::uint8_t byte) {
  MakeRoom(code_, capacity_, length_);
  code_[length_++] = byte;
}

}  // namespace smsconf
