#pragma once

#include "model/ProjectCheck.h"
#include "text/Cp1251.h"

#include <string>

namespace smsconf::cli {

// One finding of the project check as one line, "PATH:LINE: [Section] Key:
// message", with the parts it lacks left out. The path is printed as given;
// the rest comes from the file, in Windows-1251.
inline std::string FindingText(const std::string& path, const ProjectFinding& finding) {
  std::string line = path;
  if (finding.Line != 0) line += ":" + std::to_string(finding.Line);
  line += ": ";
  if (!finding.Section.empty()) line += "[" + text::Cp1251ToTerminal(finding.Section) + "] ";
  if (!finding.Key.empty()) line += text::Cp1251ToTerminal(finding.Key) + ": ";
  return line + text::Cp1251ToTerminal(finding.Message.Render(text::Language::English));
}

}  // namespace smsconf::cli
