#include "files/ExportPaths.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace smsconf {

namespace {

constexpr const char* ImageFileName = "sms.bin";
constexpr const char* SourceFileName = "stdcfg.c";
constexpr const char* TraceFileName = "sms.trace";

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* user = getpwuid(getuid()); user != nullptr && user->pw_dir != nullptr) {
    return user->pw_dir;
  }
  return ".";
}

std::string InHome(const char* name) {
  std::string path = HomeFolder();
  if (path.empty() || path.back() != '/') path += '/';
  return path + name;
}

}  // namespace

std::string DefaultImagePath() { return InHome(ImageFileName); }

std::string DefaultSourcePath() { return InHome(SourceFileName); }

std::string DefaultTracePath() { return InHome(TraceFileName); }

}  // namespace smsconf
