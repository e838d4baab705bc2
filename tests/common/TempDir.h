#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace smsconf::testing {

// A fresh folder under the system's temporary folder, removed with its
// contents when the test ends.
class TempDir {
 public:
  TempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && Path.empty(); ++attempt) {
      const auto candidate = std::filesystem::temp_directory_path() / ("smsconf-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate)) Path = candidate;
    }
    if (Path.empty()) throw std::runtime_error("no fresh temporary folder");
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // UTF-8 on Windows too, where string() would take the local code page.
  std::string File(const std::string& name) const {
    const std::u8string path = (Path / std::u8string(name.begin(), name.end())).u8string();
    return {path.begin(), path.end()};
  }
  std::size_t EntryCount() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(Path),
                                                  std::filesystem::directory_iterator()));
  }

  std::filesystem::path Path;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary | std::ios::trunc);
  out << bytes;
}

// `text` with its first `from`, or every one, put as `to`: a file's bytes
// edited for a test.
inline std::string Replaced(std::string text, const std::string& from, const std::string& to, bool every = false) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = every ? text.find(from, at + to.size()) : std::string::npos) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// Windows has no FIFOs, POSIX permission bits or file size limits, and only
// administrators make symbolic links: the table rows that need them are
// left out there, and a test made of them alone is skipped with this reason.
#ifdef _WIN32
inline constexpr bool PosixFiles = false;
#else
inline constexpr bool PosixFiles = true;
#endif
inline constexpr const char* NoPosixFiles = "Windows has no FIFOs, permission bits or file size limits, and its links need administrator rights";

// A FIFO at `path`; false where there are none.
inline bool MakeFifo([[maybe_unused]] const std::string& path) {
#ifdef _WIN32
  return false;
#else
  return ::mkfifo(path.c_str(), 0600) == 0;
#endif
}

}  // namespace smsconf::testing
