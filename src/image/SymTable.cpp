#include "image/SymTable.h"

#include "image/Require.h"
#include "text/Cp1251.h"

#include <cstdlib>
#include <limits>

namespace smsconf {

CSymTable::CSymTable()
    : capacity_(InitialCapacity),
      code_(static_cast<unsigned char*>(std::malloc(InitialCapacity))),
      length_(0) {
  SMSCONF_REQUIRE(code_ != nullptr, "Code != NULL");
}

CSymTable::~CSymTable() { std::free(code_); }

std::int32_t CSymTable::AddString(std::string_view text) {
  // The area keeps C strings, so whatever follows an embedded 0 byte could
  // never be found there again.
  text = text.substr(0, text.find('\0'));

  std::string folded = text::Folded(text);
  if (auto found = byFoldedText_.find(folded); found != byFoldedText_.end()) {
    return found->second;
  }

  const std::int32_t offset = length_;
  for (char c : text) AppendByte(static_cast<unsigned char>(c));
  AppendByte(0);
  index_.emplace_back(std::string(text), offset);
  byFoldedText_.emplace(std::move(folded), offset);
  return offset;
}

void CSymTable::AppendByte(unsigned char byte) {
  if (length_ == capacity_) {
    // A capacity that no longer fits the 32-bit size counts as memory that
    // cannot be obtained.
    const bool fits = capacity_ <= std::numeric_limits<std::int32_t>::max() / 2;
    void* grown = fits ? std::realloc(code_, std::size_t(capacity_) * 2) : nullptr;
    SMSCONF_REQUIRE(grown != nullptr, "Code != NULL");
    code_ = static_cast<unsigned char*>(grown);
    capacity_ *= 2;
  }
  code_[length_++] = byte;
}

}  // namespace smsconf
