#pragma once

#include "image/ImageContent.h"
#include "model/Eventlist.h"
#include "model/Phonelist.h"

#include <cstdint>
#include <memory>
#include <string>

namespace smsconf {

struct ProjectRead;

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
  // Takes what the project check read from FileName (CheckProjectFile), as
  // Load() would have read the same bytes: the file is read once.
  void Load(const ProjectRead& read);
  // Writes the project into FileName, keeping what else the file held.
  // Throws "Cannot create file <path>" (and leaves the old file as it was)
  // when the file cannot be written or FileName is empty.
  void Save();

  // Builds the configuration image, writes it to `imageFileName` and, as C
  // source, to `sourceFileName`, and returns its size in bytes. A project
  // the image cannot hold (more than 255 events, a Pin or Delay too wide for
  // its field, offsets past 64 KiB) throws std::runtime_error naming the
  // event and field, and writes nothing. A file that cannot be written
  // throws "Cannot create file <path>: <reason>"; files are then as they
  // were. Refused before anything is written: a target that is not a
  // regular file (folder, device, FIFO, socket), the image and the source in
  // one file, either of them being the project file FileName, and an image
  // path holding a file larger than any export or one that cannot be read
  // back for the rollback.
  std::int32_t Compile(const std::string& sourceFileName) const;
  std::int32_t Compile(const std::string& sourceFileName, const std::string& imageFileName) const;

  // What the image of the project holds, unchecked: the numbers in slot
  // order and the events in list order.
  ImageContent Content() const;
  // The project as a new project file holds it, without anything else that
  // a file saved over may have held.
  std::string FileText() const;

  std::unique_ptr<CPhoneList> Phones;
  std::unique_ptr<CEventList> Events;
  std::string FileName;
};

}  // namespace smsconf
