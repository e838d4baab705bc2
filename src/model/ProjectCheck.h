#pragma once

// The project check: every place where a project file does not mean what it
// seems to. The file is still read by its rules (a malformed value reads as
// the default, a section after a gap is not read); the check says where that
// happens, so that nothing is lost without a word.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace smsconf {

struct ProjectFinding {
  std::uint32_t Line = 0;  // from 1; 0 for the file as a whole
  std::string Section;     // empty when the finding is about no one section
  std::string Key;         // empty when the finding is about no one key
  std::string Message;     // Windows-1251 bytes, like the file: it may quote a value
};

// Findings in line order. An unreadable file throws, as CProject::Load does,
// and so does a missing one: "Cannot open file <path>: <reason>".
std::vector<ProjectFinding> CheckProjectFile(const std::string& path);
std::vector<ProjectFinding> CheckProjectText(std::string_view text);

}  // namespace smsconf
