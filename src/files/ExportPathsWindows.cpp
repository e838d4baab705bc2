#include "files/ExportPaths.h"

namespace smsconf {

std::string DefaultImagePath() { return "c:\\sms.bin"; }

std::string DefaultSourcePath() { return "c:\\stdcfg.c"; }

}  // namespace smsconf
