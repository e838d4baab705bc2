#pragma once

// The two files an export writes, read back: the image, and its firmware
// source, whose byte array is the image again. Either may be all that is
// left of a project.

#include "image/ImageDecoder.h"
#include "text/Wording.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace smsconf {

// What a file holds, by its content rather than its name.
enum class ConfigurationKind { Project, Image, Source };

// An image begins with its signature and a firmware source with an include
// line; anything else is read as a project file, which takes any text. A
// damaged image or source is still told apart, so that it is refused with
// its defect rather than read as a blank project.
ConfigurationKind KindOfConfiguration(std::string_view bytes);

struct ExportedImage {
  bool Ok = false;
  // When not Ok, the first defect: the decoder's "offset N: ...", or for a
  // source "line N: ..." naming the first line that an export would not
  // have written so.
  text::Message Refusal{""};
  std::vector<std::uint8_t> Bytes;  // the image
  DecodedImage Image;               // what the decoder read in it
};

// The sound image that the bytes of an image or of a firmware source hold
// (`kind`, not Project). A source must be what an export writes, but that
// its lines may end in CR LF and carry trailing blanks, and blank lines may
// follow its end, as editors on any system leave them.
ExportedImage ReadExportedImage(std::string_view bytes, ConfigurationKind kind);

}  // namespace smsconf
