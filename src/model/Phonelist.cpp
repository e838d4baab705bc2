#include "model/Phonelist.h"

#include "model/IniFile.h"

#include <stdexcept>
#include <string>

namespace smsconf {

namespace {

std::string SectionName(std::int32_t index) { return "Phone" + std::to_string(index); }

}  // namespace

CPhoneList::~CPhoneList() { Clear(); }

std::int32_t CPhoneList::Count() const { return static_cast<std::int32_t>(Items.size()); }

CPhone* CPhoneList::Get(std::int32_t index) const {
  if (index < 0 || index >= Count()) {
    throw std::out_of_range("phone index " + std::to_string(index) + " out of range");
  }
  return Items[static_cast<std::size_t>(index)].get();
}

std::int32_t CPhoneList::Add(std::unique_ptr<CPhone> phone) {
  Items.push_back(std::move(phone));
  return Count() - 1;
}

void CPhoneList::Clear() { Items.clear(); }

void CPhoneList::Init() {
  for (std::int32_t id = 0; id < PhoneSlotCount; ++id) {
    auto phone = std::make_unique<CPhone>();
    phone->ID = id;
    Add(std::move(phone));
  }
}

void CPhoneList::Load(const CIniFile& ini) {
  for (std::int32_t i = 0; i < Count(); ++i) {
    CPhone& phone = *Get(i);
    const std::string section = SectionName(i);
    phone.Number = ini.ReadString(section, "Number", phone.Number);
    phone.Comment = ini.ReadString(section, "Comment", phone.Comment);
  }
}

void CPhoneList::Save(CIniFile& ini) const {
  for (std::int32_t i = 0; i < Count(); ++i) {
    const CPhone& phone = *Get(i);
    const std::string section = SectionName(i);
    ini.WriteString(section, "Number", phone.Number);
    ini.WriteString(section, "Comment", phone.Comment);
  }
}

}  // namespace smsconf
