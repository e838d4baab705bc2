#pragma once

#include <stdexcept>
#include <string>

namespace smsconf::testing {

// The message of the std::runtime_error that `action` throws, or "no failure".
template <class Action>
std::string FailureOf(Action action) {
  try {
    action();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "no failure";
}

}  // namespace smsconf::testing
