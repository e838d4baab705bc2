#include "model/Eventlist.h"

#include "model/IniFile.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace smsconf {

namespace {

std::string SectionName(std::int32_t index) { return "Event" + std::to_string(index); }

}  // namespace

CEventList::~CEventList() { Clear(); }

std::int32_t CEventList::Count() const { return static_cast<std::int32_t>(Items.size()); }

CEvent* CEventList::Get(std::int32_t index) const {
  if (index < 0 || index >= Count()) {
    throw std::out_of_range("event index " + std::to_string(index) + " out of range");
  }
  return Items[static_cast<std::size_t>(index)].get();
}

std::int32_t CEventList::Add(std::unique_ptr<CEvent> event) {
  Items.push_back(std::move(event));
  return Count() - 1;
}

CEventList::Removal CEventList::Remove(const CEvent* event) {
  const auto it = std::find_if(Items.begin(), Items.end(),
                               [event](const auto& item) { return item.get() == event; });
  if (it == Items.end()) return {};
  Removal removal{static_cast<std::int32_t>(it - Items.begin()), std::move(*it)};
  Items.erase(it);
  return removal;
}

void CEventList::Clear() { Items.clear(); }

void CEventList::Sort() {
  // A stable sort gives exactly the order of repeated adjacent swaps on a
  // strictly greater key.
  std::stable_sort(Items.begin(), Items.end(), [](const auto& a, const auto& b) {
    return a->SortKey() < b->SortKey();
  });
}

void CEventList::Load(const CIniFile& ini) {
  for (std::int32_t i = 0;; ++i) {
    const std::string section = SectionName(i);
    if (!ini.SectionExists(section)) break;
    auto event = std::make_unique<CEvent>();
    event->Neg = ini.ReadInteger(section, "Neg", event->Neg ? 1 : 0) != 0;
    event->Pin = ini.ReadInteger(section, "Pin", event->Pin);
    event->Delay = ini.ReadInteger(section, "Delay", event->Delay);
    // Only the low eight bits are recipients: 256 reads as 0, -1 as 255.
    event->Send = static_cast<std::uint8_t>(ini.ReadInteger(section, "Send", event->Send));
    event->Text = ini.ReadString(section, "Text", event->Text);
    Add(std::move(event));
  }
}

void CEventList::Save(CIniFile& ini) const {
  for (std::int32_t i = 0; i < Count(); ++i) {
    const CEvent& event = *Get(i);
    const std::string section = SectionName(i);
    ini.WriteInteger(section, "Neg", event.Neg ? 1 : 0);
    ini.WriteInteger(section, "Pin", event.Pin);
    ini.WriteInteger(section, "Delay", event.Delay);
    ini.WriteInteger(section, "Send", event.Send);
    ini.WriteString(section, "Text", event.Text);
  }
}

}  // namespace smsconf
