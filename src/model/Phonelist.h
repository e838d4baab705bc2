#pragma once

#include "model/Phone.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace smsconf {

class CIniFile;

// Slots are fixed: an event's recipient mask is one byte, bit i for slot i.
inline constexpr int PhoneSlotCount = 8;

// The phone book: exactly PhoneSlotCount slots once the project exists, with
// Get(i)->ID == i, because event masks and the image address slots by index.
class CPhoneList {
 public:
  CPhoneList() = default;
  virtual ~CPhoneList();
  CPhoneList(const CPhoneList&) = delete;
  CPhoneList& operator=(const CPhoneList&) = delete;

  std::int32_t Count() const;
  CPhone* Get(std::int32_t index) const;  // throws std::out_of_range
  std::int32_t Add(std::unique_ptr<CPhone> phone);
  void Clear();
  void Init();  // appends the eight blank slots 0..7

  void Load(const CIniFile& ini);
  void Save(CIniFile& ini) const;

 private:
  std::vector<std::unique_ptr<CPhone>> Items;
};

}  // namespace smsconf
