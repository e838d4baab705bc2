#include "image/ExportPaths.h"

#ifndef _WIN32
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#endif

namespace smsconf {

namespace {

#ifdef _WIN32
constexpr const char* ImagePath = "c:\\sms.bin";
constexpr const char* SourcePath = "c:\\stdcfg.c";
#else
constexpr const char* ImageFileName = "sms.bin";
constexpr const char* SourceFileName = "stdcfg.c";

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
#endif

}  // namespace

std::string DefaultImagePath() {
#ifdef _WIN32
  return ImagePath;
#else
  return InHome(ImageFileName);
#endif
}

std::string DefaultSourcePath() {
#ifdef _WIN32
  return SourcePath;
#else
  return InHome(SourceFileName);
#endif
}

}  // namespace smsconf
