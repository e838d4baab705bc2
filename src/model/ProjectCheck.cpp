#include "model/ProjectCheck.h"

#include "files/FileBytes.h"
#include "model/IniFile.h"
#include "model/Phonelist.h"
#include "text/Cp1251.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <unordered_map>

namespace smsconf {

namespace {

// What the phone and event dialogs offer.
constexpr std::int32_t LastInput = 31;
constexpr std::int32_t LongestDelay = 3600;
constexpr std::int32_t AllRecipients = 0xFF;
constexpr std::size_t LongestText = 70;
constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
// A file made of nothing but repeats would otherwise give a finding per
// line, and take many times its size to list them.
constexpr std::size_t MaxFindings = 1000;

std::string Quoted(std::string_view value) { return "\"" + std::string(value) + "\""; }

// Valid UTF-8 with at least one multi-byte character: Cyrillic written in
// Windows-1251 almost never is.
bool LooksLikeUtf8(std::string_view value) {
  if (std::none_of(value.begin(), value.end(), [](char c) { return (c & 0x80) != 0; })) return false;
  const text::EncodeResult result = text::Utf8ToCp1251(value);
  return std::none_of(result.Errors.begin(), result.Errors.end(),
                      [](const text::EncodeError& e) { return e.MalformedUtf8; });
}

bool HasControlBytes(std::string_view value) {
  return std::any_of(value.begin(), value.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// "event12" -> 12 for a name of the given folded prefix and decimal digits;
// -1 for anything else. Leading zeros and huge numbers stay recognisable.
long long IndexedName(std::string_view folded, std::string_view prefix) {
  if (!folded.starts_with(prefix) || folded.size() == prefix.size()) return -1;
  long long index = 0;
  for (char c : folded.substr(prefix.size())) {
    if (c < '0' || c > '9') return -1;
    index = std::min(index * 10 + (c - '0'), 1LL << 40);
  }
  return index;
}

class ProjectChecker {
 public:
  explicit ProjectChecker(std::string_view text) : Text(text) { Ini.SetText(text); }

  std::vector<ProjectFinding> Run() {
    CheckLinesBeforeSections();
    CheckSections();
    CheckPhones();
    CheckEvents();
    std::stable_sort(Findings.begin(), Findings.end(),
                     [](const ProjectFinding& a, const ProjectFinding& b) { return a.Line < b.Line; });
    if (Unlisted > 0) Findings.push_back({0, "", "", std::to_string(Unlisted) + " more findings are not listed"});
    return std::move(Findings);
  }

 private:
  void Add(std::uint32_t line, std::string section, std::string key, std::string message) {
    if (Findings.size() == MaxFindings) {
      ++Unlisted;
      return;
    }
    Findings.push_back({line, std::move(section), std::move(key), std::move(message)});
  }

  void CheckLinesBeforeSections() {
    if (Text.starts_with(ByteOrderMark)) {
      Add(1, "", "", "the file starts with a UTF-8 byte-order mark, so its first line is not read");
    }
    if (Ini.StrayLines() > 0) {
      Add(Ini.FirstStrayLine(), "", "",
          std::to_string(Ini.StrayLines()) + " line(s) before the first section are not read");
    }
  }

  void CheckSections() {
    EventCount = 0;
    while (Ini.SectionExists(EventSection(EventCount))) ++EventCount;
    bool projectSections = false;
    Ini.VisitSections([&](const CIniFile::SectionPlace& place) {
      const std::string name(place.Name);
      if (!place.IsRead) {
        Add(place.Line, name, "",
            "ignored: the section is repeated at line " + std::to_string(Ini.SectionLine(name)) +
                ", and only the last occurrence is read");
        return;
      }
      CheckRepeatedKeys(place);
      const std::string folded = text::Folded(place.Name);
      const long long phone = IndexedName(folded, "phone");
      const long long event = IndexedName(folded, "event");
      projectSections = projectSections || phone >= 0 || event >= 0;
      const bool readAsPhone = phone >= 0 && phone < PhoneSlotCount && folded == "phone" + std::to_string(phone);
      const bool readAsEvent = event >= 0 && event < EventCount && folded == "event" + std::to_string(event);
      if (phone >= 0 && !readAsPhone) {
        Add(place.Line, name, "", "never read: the phone slots are Phone0 to Phone7");
      }
      if (event >= 0 && !readAsEvent && place.LineCount > 0) {
        Add(place.Line, name, "",
            "never read: events are read from Event0 up to the first missing or empty section, "
            "here " + EventSection(EventCount));
      }
    });
    if (!projectSections) Add(0, "", "", "no Phone or Event section: the file loads as a blank project");
  }

  // The last occurrence of a key is read; every earlier one is ignored.
  void CheckRepeatedKeys(const CIniFile::SectionPlace& place) {
    std::unordered_map<std::string, std::uint32_t> later;
    for (auto it = place.Keys.rbegin(); it != place.Keys.rend(); ++it) {
      const auto [seen, first] = later.try_emplace(text::Folded(it->Key), it->Line);
      if (first) continue;
      Add(it->Line, std::string(place.Name), std::string(it->Key),
          "ignored: the key is repeated at line " + std::to_string(seen->second) +
              ", and only the last value is read");
    }
  }

  void CheckPhones() {
    for (int slot = 0; slot < PhoneSlotCount; ++slot) {
      const std::string section = "Phone" + std::to_string(slot);
      for (const char* key : {"Number", "Comment"}) CheckText(section, key, false);
    }
  }

  void CheckEvents() {
    for (std::int32_t i = 0; i < EventCount; ++i) {
      const std::string section = EventSection(i);
      const std::int32_t neg = CheckInteger(section, "Neg");
      if (neg != 0 && neg != 1) {
        Add(Ini.KeyLine(section, "Neg"), section, "Neg",
            "Neg " + std::to_string(neg) + " is neither 0 (rising) nor 1 (falling); read as falling");
      }
      CheckRange(section, "Pin", CheckInteger(section, "Pin"), LastInput, " is outside the inputs 0 to 31");
      CheckRange(section, "Delay", CheckInteger(section, "Delay"), LongestDelay,
                 " is outside 0 to 3600 seconds");
      const std::int32_t send = CheckInteger(section, "Send");
      CheckRange(section, "Send", send, AllRecipients,
                 " is outside 0 to 255; only its low 8 bits count: " + std::to_string(send & AllRecipients));
      CheckRecipients(section, static_cast<std::uint8_t>(send));
      CheckText(section, "Text", true);
    }
  }

  // The value as an event reads it; a malformed one reads as the default, 0.
  std::int32_t CheckInteger(const std::string& section, const char* key) {
    std::int32_t value = 0;
    if (!Ini.ValueExists(section, key)) return value;
    const std::string text = Ini.ReadString(section, key, "");
    if (!CIniFile::ParseInteger(text, value)) {
      Add(Ini.KeyLine(section, key), section, key,
          Quoted(text) + " is not an integer in the 32-bit range; read as 0");
    }
    return value;
  }

  void CheckRange(const std::string& section, const char* key, std::int32_t value, std::int32_t last,
                  const std::string& outside) {
    if (value >= 0 && value <= last) return;
    Add(Ini.KeyLine(section, key), section, key, std::string(key) + " " + std::to_string(value) + outside);
  }

  void CheckRecipients(const std::string& section, std::uint8_t send) {
    const std::uint32_t line = Ini.ValueExists(section, "Send") ? Ini.KeyLine(section, "Send")
                                                                : Ini.SectionLine(section);
    if (send == 0) {
      Add(line, section, "Send", "the event has no recipients");
      return;
    }
    for (int slot = 0; slot < PhoneSlotCount; ++slot) {
      const std::string phone = "Phone" + std::to_string(slot);
      if ((send >> slot & 1) != 0 && Ini.ReadString(phone, "Number", "").empty()) {
        Add(line, section, "Send", "sends to phone slot " + std::to_string(slot) + ", whose number is empty");
      }
    }
  }

  void CheckText(const std::string& section, const char* key, bool limited) {
    if (!Ini.ValueExists(section, key)) return;
    const std::string value = Ini.ReadString(section, key, "");
    const std::uint32_t line = Ini.KeyLine(section, key);
    if (LooksLikeUtf8(value)) Add(line, section, key, "the text looks like UTF-8, not Windows-1251");
    if (HasControlBytes(value)) Add(line, section, key, "the text holds control bytes");
    if (limited && value.size() > LongestText) {
      Add(line, section, key,
          "the text has " + std::to_string(value.size()) + " characters, more than the 70 the event dialog allows");
    }
  }

  static std::string EventSection(std::int32_t index) { return "Event" + std::to_string(index); }

  std::string_view Text;
  CIniFile Ini;
  std::int32_t EventCount = 0;
  std::vector<ProjectFinding> Findings;
  std::size_t Unlisted = 0;
};

}  // namespace

std::vector<ProjectFinding> CheckProjectText(std::string_view text) { return ProjectChecker(text).Run(); }

std::vector<ProjectFinding> CheckProjectFile(const std::string& path) {
  std::string bytes;
  if (!CIniFile::ReadProjectFile(path, bytes)) {
    throw std::runtime_error("Cannot open file " + path + ": " + FileErrorReason(ENOENT));
  }
  return CheckProjectText(bytes);
}

}  // namespace smsconf
