#pragma once

#include "model/Eventlist.h"
#include "model/Phonelist.h"

#include <cstdint>
#include <memory>
#include <string>

namespace smsconf {

// The document the engineer edits: the phone book, the events and the path
// of its project file. The lists live as long as the project; New and Load
// change their contents, never the list objects.
class CProject {
 public:
  CProject();
  virtual ~CProject();
  CProject(const CProject&) = delete;
  CProject& operator=(const CProject&) = delete;

  // Eight blank slots and no events; FileName stays.
  void New();
  // Reads FileName. A file that exists but cannot be read throws
  // "Cannot open file <path>" before anything changes; a missing file loads
  // as a blank project.
  void Load();
  // Writes the project into FileName, keeping what else the file held.
  // Throws "Cannot create file <path>" (and leaves the old file as it was)
  // when the file cannot be written or FileName is empty.
  void Save();

  std::unique_ptr<CPhoneList> Phones;
  std::unique_ptr<CEventList> Events;
  std::string FileName;
};

}  // namespace smsconf
