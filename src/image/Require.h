#pragma once

// A check that stays in release builds. The image buffers cannot go on
// without their memory, and an image built into a buffer that was never
// obtained would be garbage sent to a unit, so a failed check stops the
// program, naming the condition and the caller's file and line on stderr.

#include <cstdio>
#include <cstdlib>
#include <source_location>

namespace smsconf {

inline void Require(bool condition, const char* text,
                    std::source_location where = std::source_location::current()) {
  if (condition) return;
  std::fprintf(stderr, "Assertion failed: %s, file %s, line %u\n", text, where.file_name(),
               unsigned(where.line()));
  std::abort();
}

}  // namespace smsconf
