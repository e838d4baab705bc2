#include "model/IniFile.h"

#include "image/AtomicFile.h"
#include "image/FileBytes.h"
#include "text/Cp1251.h"

#include <stdexcept>

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
  const FileRead read = ReadFileBytes(fileName, content);
  // A file that is not there is a new, empty one; an empty name names none.
  if (read == FileRead::Unreadable || (read == FileRead::Missing && fileName.empty())) {
    throw std::runtime_error("Cannot open file " + fileName);
  }
  if (read == FileRead::Read) SetText(content);
}

CIniFile::~CIniFile() = default;

void CIniFile::SetText(std::string_view text) {
  Sections.clear();
  ByName.clear();
  Section* current = nullptr;
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

    if (line.empty() || line.front() == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      current = &AppendSection(Strip(line.substr(1, line.size() - 2)));
      continue;
    }
    if (current == nullptr) continue;  // lines before the first section
    Line entry;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      entry.Value = std::string(line);
    } else {
      entry.HasKey = true;
      entry.Key = std::string(Strip(line.substr(0, equals)));
      entry.Value = std::string(Strip(line.substr(equals + 1)));
    }
    AddLine(*current, std::move(entry));
  }
}

std::string CIniFile::Text() const {
  std::string out;
  for (const auto& section : Sections) {
    if (section->Erased) continue;
    out += '[';
    out += section->Name;
    out += "]\r\n";
    for (const Line& line : section->Lines) {
      if (line.HasKey) {
        out += line.Key;
        out += '=';
      }
      out += line.Value;
      out += "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

void CIniFile::UpdateFile(const std::string& fileName) const {
  if (fileName.empty()) throw std::runtime_error("Cannot create file " + fileName);
  WriteFileAtomically(fileName, Text());
}

const CIniFile::Section* CIniFile::Find(std::string_view section) const {
  const auto it = ByName.find(text::Folded(section));
  return it == ByName.end() ? nullptr : it->second.back();
}

CIniFile::Section& CIniFile::FindOrAppend(std::string_view section) {
  if (const Section* found = Find(section)) return const_cast<Section&>(*found);
  return AppendSection(section);
}

CIniFile::Section& CIniFile::AppendSection(std::string_view name) {
  Sections.push_back(std::make_unique<Section>());
  Section& section = *Sections.back();
  section.Name = std::string(name);
  ByName[text::Folded(name)].push_back(&section);
  return section;
}

void CIniFile::AddLine(Section& section, Line line) {
  if (line.HasKey) section.Keys[text::Folded(line.Key)] = section.Lines.size();
  section.Lines.push_back(std::move(line));
}

bool CIniFile::SectionExists(std::string_view section) const {
  const Section* found = Find(section);
  return found != nullptr && !found->Lines.empty();
}

bool CIniFile::ValueExists(std::string_view section, std::string_view key) const {
  const Section* found = Find(section);
  return found != nullptr && found->Keys.count(text::Folded(key)) != 0;
}

std::string CIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& defaultValue) const {
  const Section* found = Find(section);
  if (found == nullptr) return defaultValue;
  const auto it = found->Keys.find(text::Folded(key));
  return it == found->Keys.end() ? defaultValue : found->Lines[it->second].Value;
}

std::int32_t CIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t defaultValue) const {
  std::int32_t value = 0;
  const Section* found = Find(section);
  if (found == nullptr) return defaultValue;
  const auto it = found->Keys.find(text::Folded(key));
  if (it == found->Keys.end()) return defaultValue;
  return ParseInteger(found->Lines[it->second].Value, value) ? value : defaultValue;
}

void CIniFile::WriteString(std::string_view section, std::string_view key,
                           std::string_view value) {
  Section& target = FindOrAppend(section);
  const auto it = target.Keys.find(text::Folded(key));
  if (it != target.Keys.end()) {
    Line& line = target.Lines[it->second];
    line.Key = std::string(key);
    line.Value = std::string(value);
    return;
  }
  AddLine(target, Line{true, std::string(key), std::string(value)});
}

void CIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void CIniFile::EraseSection(std::string_view section) {
  const auto it = ByName.find(text::Folded(section));
  if (it == ByName.end()) return;
  // Every occurrence goes: an earlier duplicate left behind would be read
  // back in place of the erased one.
  for (Section* occurrence : it->second) occurrence->Erased = true;
  ByName.erase(it);
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
