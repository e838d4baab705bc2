#include "model/IniFile.h"

#include "files/AtomicFile.h"
#include "files/FileBytes.h"
#include "text/Cp1251.h"

#include <stdexcept>
#include <utility>

namespace smsconf {

namespace {

// Blanks are every character from 0 to 32, control characters included.
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view Strip(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}


}  // namespace

CIniFile::CIniFile(const std::string& fileName) {
  std::string content;
  // A file that is not there is a new, empty one.
  if (ReadProjectFile(fileName, content)) SetText(content);
}

bool CIniFile::ReadProjectFile(const std::string& fileName, std::string& content) {
  const auto refuse = [&fileName](text::Message reason) {
    throw text::MessageError({text::Wording::CannotOpen, {fileName, std::move(reason)}});
  };
  // An empty name names no file.
  if (fileName.empty()) refuse(text::Wording::NoFileName);
  int error = 0;
  // One byte more than the limit tells an oversized file apart unread.
  const FileRead read = ReadFileBytes(fileName, content, MaxFileSize + 1, &error);
  if (read == FileRead::Unreadable) refuse(FileError(error));
  if (content.size() > MaxFileSize) refuse(text::Wording::ProjectTooLarge);
  return read == FileRead::Read;
}

CIniFile::~CIniFile() = default;

void CIniFile::SetText(std::string_view text) {
  if (text.size() >= NoSection) throw std::length_error("CIniFile: text too large");
  Store.clear();
  Store.reserve(text.size());
  Sections.clear();
  LastByName.clear();
  StrayLineCount = 0;
  FirstStray = 0;
  Section* current = nullptr;
  std::uint32_t number = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    // A line ends at CR LF, LF or CR.
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Strip(text.substr(pos, end - pos));
    pos = end;
    if (pos < text.size()) {
      if (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ++pos;
      ++pos;
    }
    ++number;

    if (line.empty() || line.front() == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      current = &AppendSection(Strip(line.substr(1, line.size() - 2)), number);
      continue;
    }
    if (current == nullptr) {  // lines before the first section
      if (StrayLineCount++ == 0) FirstStray = number;
      continue;
    }
    Line entry;
    entry.Number = number;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      entry.Value = Keep(line);
    } else {
      entry.HasKey = true;
      entry.Key = Keep(Strip(line.substr(0, equals)));
      entry.Value = Keep(Strip(line.substr(equals + 1)));
    }
    current->Lines.push_back(entry);
  }
}

std::string CIniFile::Text() const {
  std::string out;
  for (const Section& section : Sections) {
    if (section.Erased) continue;
    out += '[';
    out += View(section.Name);
    out += "]\r\n";
    for (const Line& line : section.Lines) {
      if (line.HasKey) {
        out += View(line.Key);
        out += '=';
      }
      out += View(line.Value);
      out += "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

void CIniFile::UpdateFile(const std::string& fileName) const {
  if (fileName.empty()) ThrowCannotCreate(fileName, text::Wording::NoFileName);
  WriteFileAtomically(fileName, Text());
}

CIniFile::Piece CIniFile::Keep(std::string_view text) {
  if (Store.size() + text.size() >= NoSection) throw std::length_error("CIniFile: content too large");
  const Piece piece{static_cast<std::uint32_t>(Store.size()), static_cast<std::uint32_t>(text.size())};
  Store.append(text);
  return piece;
}

const CIniFile::Section* CIniFile::Find(std::string_view section) const {
  const auto it = LastByName.find(text::Folded(section));
  return it == LastByName.end() ? nullptr : &Sections[it->second];
}

// The last line with the key is the one that counts.
const CIniFile::Line* CIniFile::FindKey(const Section& section, std::string_view key) const {
  for (auto it = section.Lines.rbegin(); it != section.Lines.rend(); ++it) {
    if (it->HasKey && text::EqualsIgnoreCase(View(it->Key), key)) return &*it;
  }
  return nullptr;
}

CIniFile::Section& CIniFile::FindOrAppend(std::string_view section) {
  if (const Section* found = Find(section)) return const_cast<Section&>(*found);
  return AppendSection(section, 0);
}

CIniFile::Section& CIniFile::AppendSection(std::string_view name, std::uint32_t number) {
  const auto index = static_cast<std::uint32_t>(Sections.size());
  Section& section = Sections.emplace_back();
  section.Name = Keep(name);
  section.Number = number;
  auto [it, added] = LastByName.try_emplace(text::Folded(name), index);
  if (!added) {
    section.Previous = it->second;
    it->second = index;
  }
  return section;
}

bool CIniFile::SectionExists(std::string_view section) const {
  const Section* found = Find(section);
  return found != nullptr && !found->Lines.empty();
}

bool CIniFile::ValueExists(std::string_view section, std::string_view key) const {
  const Section* found = Find(section);
  return found != nullptr && FindKey(*found, key) != nullptr;
}

std::string CIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& defaultValue) const {
  const Section* found = Find(section);
  const Line* line = found == nullptr ? nullptr : FindKey(*found, key);
  return line == nullptr ? defaultValue : std::string(View(line->Value));
}

std::int32_t CIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t defaultValue) const {
  std::int32_t value = 0;
  const Section* found = Find(section);
  const Line* line = found == nullptr ? nullptr : FindKey(*found, key);
  return line != nullptr && ParseInteger(View(line->Value), value) ? value : defaultValue;
}

void CIniFile::WriteString(std::string_view section, std::string_view key,
                           std::string_view value) {
  // Kept before the section is looked up: the texts may be views into Store.
  const Piece keyPiece = Keep(key);
  const Piece valuePiece = Keep(value);
  Section& target = FindOrAppend(section);
  if (const Line* found = FindKey(target, View(keyPiece))) {
    Line& line = const_cast<Line&>(*found);
    line.Key = keyPiece;
    line.Value = valuePiece;
    line.Number = 0;
    return;
  }
  target.Lines.push_back(Line{keyPiece, valuePiece, 0, true});
}

void CIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void CIniFile::EraseSection(std::string_view section) {
  const auto it = LastByName.find(text::Folded(section));
  if (it == LastByName.end()) return;
  // Every occurrence goes: an earlier duplicate left behind would be read
  // back in place of the erased one.
  for (std::uint32_t index = it->second; index != NoSection; index = Sections[index].Previous) {
    Sections[index].Erased = true;
  }
  LastByName.erase(it);
}

std::uint32_t CIniFile::SectionLine(std::string_view section) const {
  const Section* found = Find(section);
  return found == nullptr ? 0 : found->Number;
}

std::uint32_t CIniFile::KeyLine(std::string_view section, std::string_view key) const {
  const Section* found = Find(section);
  const Line* line = found == nullptr ? nullptr : FindKey(*found, key);
  return line == nullptr ? 0 : line->Number;
}

void CIniFile::VisitSections(const std::function<void(const SectionPlace&)>& visit) const {
  for (std::size_t index = 0; index < Sections.size(); ++index) {
    const Section& section = Sections[index];
    if (section.Erased) continue;
    SectionPlace place{View(section.Name), section.Number, false, section.Lines.size(), {}};
    place.IsRead = Find(place.Name) == &section;
    for (const Line& line : section.Lines) {
      if (line.HasKey) place.Keys.push_back({View(line.Key), View(line.Value), line.Number});
    }
    visit(place);
  }
}

bool CIniFile::ParseInteger(std::string_view text, std::int32_t& value) {
  auto hexDigit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::size_t hexStart = 0;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    hexStart = 2;
  } else if (!text.empty() && (text[0] == '$' || text[0] == 'x' || text[0] == 'X')) {
    hexStart = 1;
  }
  if (hexStart != 0) {
    if (text.size() == hexStart) return false;
    std::uint64_t v = 0;
    for (std::size_t i = hexStart; i < text.size(); ++i) {
      const int d = hexDigit(text[i]);
      if (d < 0) return false;
      v = v * 16 + static_cast<unsigned>(d);
      if (v > 0xFFFFFFFFu) return false;
    }
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return true;
  }

  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  std::int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v > 2147483647LL || v < -2147483648LL) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

}  // namespace smsconf
