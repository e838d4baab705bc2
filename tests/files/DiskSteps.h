#pragma once

// The steps by which files were replaced while one is alive, in one line:
// "c1 w1 f1 r1 d" says that the first temporary file was created, written,
// flushed to the disk and put in place, and then its folder flushed.

#include "files/FileSystem.h"

#include <map>
#include <string>

namespace smsconf::testing {

struct DiskSteps {
  DiskSteps() : Previous(WatchDisk(Record)) { Line.clear(), Numbers.clear(), Created = 0; }
  ~DiskSteps() { WatchDisk(Previous); }

  static void Record(DiskStep step, int fd, const std::string& path) {
    const std::string file = "#" + std::to_string(fd);  // a file by its descriptor until it is renamed
    if (step == DiskStep::Created) Numbers[file] = Numbers[path] = std::to_string(++Created);
    const std::string said[] = {"c" + Numbers[file], "w" + Numbers[file], "f" + Numbers[file], "r" + Numbers[path], "d"};
    Line += (Line.empty() ? "" : " ") + said[static_cast<int>(step)];
  }

  inline static std::string Line;
  inline static int Created = 0;
  inline static std::map<std::string, std::string> Numbers;  // of temporary files, by path and by descriptor
  const DiskWatcher Previous;
};

// Windows puts a rename on the disk as it makes it; POSIX systems need the
// folder flushed after it.
#ifdef _WIN32
inline constexpr const char* FolderFlush = "";
#else
inline constexpr const char* FolderFlush = " d";
#endif

}  // namespace smsconf::testing
