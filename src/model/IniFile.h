#pragma once

// The project file's INI object: reads a whole file into memory, answers
// lookups by section and key, takes writes in place and writes the whole
// content back. Names are compared without regard to case; sections are
// found through a hash map, keys by a search of their section from the end.
// Every name and value lives in one shared byte store, so memory stays a
// bounded multiple of the file's size: a few times for a real project,
// under twenty times for a file made of nothing but empty sections.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace smsconf {

class CIniFile {
 public:
  CIniFile() = default;
  // No project file is larger; a larger file is refused unread.
  static constexpr std::size_t MaxFileSize = 16u << 20;

  // Reads `fileName` when it exists; a missing file gives an empty content.
  // A file that exists but cannot be read, or is larger than MaxFileSize,
  // throws "Cannot open file <path>: <reason>".
  explicit CIniFile(const std::string& fileName);
  virtual ~CIniFile();

  // The bytes of a project file: false when there is none; throws as the
  // constructor does when it cannot be read or is too large.
  static bool ReadProjectFile(const std::string& fileName, std::string& content);

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

  // Where reads find things in the file, for the project check. Line numbers
  // count from 1; 0 means not in the file as read (absent, or written since).
  std::uint32_t SectionLine(std::string_view section) const;
  std::uint32_t KeyLine(std::string_view section, std::string_view key) const;
  struct KeyPlace {
    std::string_view Key;
    std::string_view Value;
    std::uint32_t Line;
  };
  struct SectionPlace {
    std::string_view Name;
    std::uint32_t Line;
    bool IsRead;            // the last occurrence of its name: the one reads and writes use
    std::size_t LineCount;  // lines with and without a key
    std::vector<KeyPlace> Keys;
  };
  // Every section occurrence that is not erased, in file order. The views
  // last until the next write.
  void VisitSections(const std::function<void(const SectionPlace&)>& visit) const;
  // Lines with content before the first section header, which reads skip.
  std::uint32_t StrayLines() const { return StrayLineCount; }
  std::uint32_t FirstStrayLine() const { return FirstStray; }

  // The integer rule of the file: decimal with an optional sign in the signed
  // 32-bit range, or hexadecimal after "0x", "0X", "$", "x" or "X" fitting in
  // 32 bits (whose bits are the value). False for anything else.
  static bool ParseInteger(std::string_view text, std::int32_t& value);

 private:
  static constexpr std::uint32_t NoSection = 0xFFFFFFFF;

  // A run of bytes in Store.
  struct Piece {
    std::uint32_t Offset = 0;
    std::uint32_t Length = 0;
  };
  struct Line {
    Piece Key;                 // the key as last written (or read)
    Piece Value;               // for a line without "=", the whole stripped line
    std::uint32_t Number = 0;  // in the file; 0 once written
    bool HasKey = false;
  };
  struct Section {
    Piece Name;
    std::uint32_t Number = 0;
    std::uint32_t Previous = NoSection;  // the earlier occurrence of the same name
    bool Erased = false;
    std::vector<Line> Lines;
  };

  std::string_view View(Piece piece) const { return {Store.data() + piece.Offset, piece.Length}; }
  Piece Keep(std::string_view text);
  const Section* Find(std::string_view section) const;
  const Line* FindKey(const Section& section, std::string_view key) const;
  Section& FindOrAppend(std::string_view section);
  Section& AppendSection(std::string_view name, std::uint32_t number);

  std::string Store;  // every name, key and value, read or written
  std::deque<Section> Sections;
  // folded name -> the last occurrence, the one that is read and written
  std::unordered_map<std::string, std::uint32_t> LastByName;
  std::uint32_t StrayLineCount = 0;
  std::uint32_t FirstStray = 0;
};

}  // namespace smsconf
