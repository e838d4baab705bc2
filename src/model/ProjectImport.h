#pragma once

// A project restored from what an export wrote, for when the project file
// is lost and the image or the firmware source survives; and the reading of
// a configuration file of any of the three kinds, by its content.

#include "image/ExportedFiles.h"
#include "model/ProjectCheck.h"
#include "text/Wording.h"

#include <string>
#include <vector>

namespace smsconf {

struct ConfigurationFile {
  ConfigurationKind Kind = ConfigurationKind::Project;
  ProjectRead Project;     // a project file: what a load reads from it
  ExportedImage Exported;  // an image or a source: the sound image in it
};

// Reads the file at `path` as what its content shows it to be. Throws
// text::MessageError: "Cannot open file <path>: <reason>" when it cannot be
// read, and "<path>: <defect>" for a damaged image or source.
ConfigurationFile ReadConfigurationFile(const std::string& path);

// What the file at `path` holds, by its first bytes. A file that cannot be
// read counts as a project, whose own reading then says why.
ConfigurationKind KindOfConfigurationFile(const std::string& path);

struct ProjectImport {
  ConfigurationKind Kind = ConfigurationKind::Image;  // what it came from
  std::size_t ImageSize = 0;
  ProjectRead Project;    // what a load of FileText gives
  std::string FileText;   // the project file to write
  // What the image does not hold, and the project therefore does not say as
  // the lost one did: the phone comments, and the spelling of texts the
  // image keeps once.
  std::vector<text::Message> Notes;
};

// The project whose export is the image, byte for byte. Throws
// text::MessageError when no project file can give it: an image with other
// than eight phone slots, a text that a project file does not keep (blanks
// at its ends, a line break), or an image laid out otherwise than an export
// lays it out, naming the first offset that a re-export would change.
ProjectImport ImportProject(const ExportedImage& exported);

// The same from the image or the firmware source at `path`. Throws as
// ReadConfigurationFile does, and "<path>: <reason>" for a project file or
// an image that no project file gives.
ProjectImport ImportProjectFile(const std::string& path);

}  // namespace smsconf
