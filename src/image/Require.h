#pragma once

// A check that stays in release builds. The image buffers cannot go on
// without their memory, and an image built into a buffer that was never
// obtained would be garbage sent to a unit, so a failed check stops the
// program, naming the condition, file and line on stderr.

#include <cstdio>
#include <cstdlib>

#define SMSCONF_REQUIRE(condition, text)                                          \
  do {                                                                            \
    if (!(condition)) {                                                           \
      std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", text,      \
                   __FILE__, __LINE__);                                           \
      std::abort();                                                               \
    }                                                                             \
  } while (false)
