#pragma once

// The project check: every place where a project file does not mean what it
// seems to. The file is still read by its rules (a malformed value reads as
// the default, a section after a gap is not read); the check says where that
// happens, so that nothing is lost without a word.

#include "model/Event.h"
#include "model/Phone.h"
#include "text/Wording.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace smsconf {

struct ProjectFinding {
  std::uint32_t Line = 0;  // from 1; 0 for the file as a whole
  std::string Section;     // empty when the finding is about no one section
  std::string Key;         // empty when the finding is about no one key
  // Rendered in Windows-1251, like the file: it may quote a value.
  text::Message Message;
  // About content that reads as it seems and that the window's own dialogs
  // let the engineer make (an event with no recipients, a recipient slot
  // without a number, a number with other characters than digits), rather
  // than about how the file reads.
  bool Content = false;
};

// What the check took the file to hold: the events it read, in file order,
// and the eight phone slots, each field as a load reads it. Its findings
// speak of these values ("read as 0", "read as falling").
struct ProjectRead {
  std::vector<CEvent> Events;
  std::vector<CPhone> Phones;
};

// Findings in line order. An unreadable file throws, as CProject::Load does,
// and so does a missing one: "Cannot open file <path>: <reason>". With
// `read`, it also receives what the check read, which is what a load of the
// same bytes gives (CProject::Load(const ProjectRead&)).
std::vector<ProjectFinding> CheckProjectFile(const std::string& path, ProjectRead* read = nullptr);
std::vector<ProjectFinding> CheckProjectText(std::string_view text, ProjectRead* read = nullptr);

// The values of one event that the event dialog would not offer: an input,
// a delay or a text length outside its limits. One finding per such key
// ("Pin", "Delay", "Text"), worded as the check words it; no line and no
// section.
std::vector<ProjectFinding> CheckEventValues(const CEvent& event);

// What the phone dialog would not offer of a number: more characters than
// it takes. At most one finding, for "Number", worded as the check words it.
std::vector<ProjectFinding> CheckPhoneValues(const std::string& number);

// Whether the configuration image has room for `count` events, and what the
// check says of a project with more.
bool ImageHoldsEvents(std::int32_t count);
text::Message TooManyEventsMessage(std::int32_t count);

}  // namespace smsconf
