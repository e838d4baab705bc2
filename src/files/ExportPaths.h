#pragma once

#include <string>

namespace smsconf {

// The fixed files of every export: the image that loading later sends to a
// unit, and its firmware source. On Windows they stand at the root of drive
// C:; elsewhere, where there are no drive letters, in the user's home folder.
std::string DefaultImagePath();
std::string DefaultSourcePath();
// The wire trace the loading dialog writes when asked to, beside the image.
std::string DefaultTracePath();

}  // namespace smsconf
