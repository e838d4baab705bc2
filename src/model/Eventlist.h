#pragma once

#include "model/Event.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace smsconf {

class CIniFile;

// The project's events in list order, which is the order of the project
// file and of the compiled image.
class CEventList {
 public:
  CEventList() = default;
  virtual ~CEventList();
  CEventList(const CEventList&) = delete;
  CEventList& operator=(const CEventList&) = delete;

  std::int32_t Count() const;
  CEvent* Get(std::int32_t index) const;  // throws std::out_of_range
  std::int32_t Add(std::unique_ptr<CEvent> event);
  // An event taken out of the list: the index it had and the event itself,
  // the caller's from then on; -1 and no event when it was not in the list.
  struct Removal {
    std::int32_t Index = -1;
    std::unique_ptr<CEvent> Event;
  };
  // Takes the very object out of the list.
  Removal Remove(const CEvent* event);
  void Clear();
  // By SortKey ascending; events with equal keys keep their order.
  void Sort();

  void Load(const CIniFile& ini);  // appends Event0, Event1, ... up to the first gap
  void Save(CIniFile& ini) const;

 private:
  std::vector<std::unique_ptr<CEvent>> Items;
};

}  // namespace smsconf
