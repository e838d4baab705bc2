#pragma once

#include "text/Wording.h"

#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace smsconf::testing {

// The message of the std::runtime_error that `action` throws, or "no failure".
// Each is one of the program's own messages, which the window shows in
// Russian: the test fails when the Russian reads as the English.
template <class Action>
std::string FailureOf(Action action) {
  try {
    action();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(text::SaidBy(e).Render(text::Language::Russian), e.what()) << "not in the window's language";
    return e.what();
  }
  return "no failure";
}

}  // namespace smsconf::testing
