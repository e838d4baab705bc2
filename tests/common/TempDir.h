#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <stdlib.h>

#include <gtest/gtest.h>

namespace smsconf::testing {

// A fresh folder under the system's temporary folder, removed with its
// contents when the test ends.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "smsconf-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    Path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string File(const std::string& name) const { return (Path / name).string(); }
  std::size_t EntryCount() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(Path),
                                                  std::filesystem::directory_iterator()));
  }

  std::filesystem::path Path;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace smsconf::testing
