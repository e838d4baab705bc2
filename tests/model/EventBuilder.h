#pragma once

#include "model/Eventlist.h"

#include <memory>
#include <string>

namespace smsconf::testing {

// Appends an event to the list and returns it.
inline CEvent* AddEvent(CEventList& list, int pin, bool neg, int delay = 0, std::uint8_t send = 0,
                        std::string text = "") {
  auto event = std::make_unique<CEvent>(CEvent{neg, pin, delay, send, std::move(text)});
  CEvent* raw = event.get();
  list.Add(std::move(event));
  return raw;
}

}  // namespace smsconf::testing
