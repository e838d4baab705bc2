#pragma once

#include "model/Project.h"

#include <memory>
#include <string>

namespace smsconf::testing {

// Appends an event to the project's list and returns it.
inline CEvent* AddEvent(CProject& project, int pin, bool neg, int delay, std::uint8_t send,
                        const std::string& text) {
  auto event = std::make_unique<CEvent>();
  event->Pin = pin;
  event->Neg = neg;
  event->Delay = delay;
  event->Send = send;
  event->Text = text;
  CEvent* raw = event.get();
  project.Events->Add(std::move(event));
  return raw;
}

}  // namespace smsconf::testing
