#pragma once

// A child process's output read as lines, a byte at a time through the
// process's own ReadByte, which says false at the end of the output or when
// the program stays silent for a generous while.

#include <optional>
#include <string>
#include <vector>

namespace smsconf::testing {

template <typename Process>
class OutputLines {
 public:
  // The next line without its newline; nothing at the end of the output.
  std::optional<std::string> ReadLine() {
    std::string line;
    for (char c = 0; static_cast<Process*>(this)->ReadByte(c);) {
      if (c == '\n') return line;
      line += c;
    }
    return line.empty() ? std::nullopt : std::optional(line);
  }
  std::vector<std::string> RemainingLines() {
    std::vector<std::string> lines;
    while (std::optional<std::string> line = ReadLine()) lines.push_back(*line);
    return lines;
  }
};

}  // namespace smsconf::testing
