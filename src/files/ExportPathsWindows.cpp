#include "files/ExportPaths.h"

namespace smsconf {

std::string DefaultImagePath() { return "c:\\sms.bin"; }

std::string DefaultSourcePath() { return "c:\\stdcfg.c"; }

std::string DefaultTracePath() { return "c:\\sms.trace"; }

}  // namespace smsconf
