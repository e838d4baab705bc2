#pragma once

// The project file's INI object: reads a whole file into memory, answers
// lookups by section and key, takes writes in place and writes the whole
// content back. Names are compared without regard to case; lookups go
// through hash maps, so they do not grow with the file.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace smsconf {

class CIniFile {
 public:
  CIniFile() = default;
  // Reads `fileName` when it exists; a missing file gives an empty content.
  // A file that exists but cannot be read throws "Cannot open file <path>".
  explicit CIniFile(const std::string& fileName);
  virtual ~CIniFile();

  CIniFile(const CIniFile&) = delete;
  CIniFile& operator=(const CIniFile&) = delete;
  CIniFile(CIniFile&&) = default;
  CIniFile& operator=(CIniFile&&) = default;

  // Parses text by the reading rules, replacing the current content.
  void SetText(std::string_view text);
  // The whole content as written back: CR LF line ends, one empty line after
  // every section.
  std::string Text() const;
  // Writes Text() to `fileName`, replacing the file only once the whole
  // content is on disk; throws "Cannot create file <path>" on failure.
  void UpdateFile(const std::string& fileName) const;

  // A section is present when it holds at least one line.
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;

  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string& defaultValue) const;
  std::int32_t ReadInteger(std::string_view section, std::string_view key,
                           std::int32_t defaultValue) const;
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);

  // Removes every occurrence of the section.
  void EraseSection(std::string_view section);

  // The integer rule of the file: decimal with an optional sign in the signed
  // 32-bit range, or hexadecimal after "0x", "0X", "$", "x" or "X" fitting in
  // 32 bits (whose bits are the value). False for anything else.
  static bool ParseInteger(std::string_view text, std::int32_t& value);

 private:
  struct Line {
    bool HasKey = false;
    std::string Key;    // the key as last written (or read)
    std::string Value;  // for a line without "=", the whole stripped line
  };
  struct Section {
    std::string Name;
    std::vector<Line> Lines;
    std::unordered_map<std::string, std::size_t> Keys;  // folded key -> last line with it
    bool Erased = false;
  };

  const Section* Find(std::string_view section) const;
  Section& FindOrAppend(std::string_view section);
  Section& AppendSection(std::string_view name);
  static void AddLine(Section& section, Line line);

  std::vector<std::unique_ptr<Section>> Sections;
  // folded name -> every occurrence, in file order; the last one is read and written
  std::unordered_map<std::string, std::vector<Section*>> ByName;
};

}  // namespace smsconf
