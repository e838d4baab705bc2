#include "model/ProjectCheck.h"

#include "files/FileBytes.h"
#include "image/ImageFormat.h"
#include "limits/Limits.h"
#include "model/IniFile.h"
#include "model/Phonelist.h"
#include "text/Cp1251.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <unordered_map>

namespace smsconf {

namespace {

// Send is one byte: a bit for each phone slot.
constexpr limits::Range Recipients{0, 0xFF};
constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
// A file made of nothing but repeats would otherwise give a finding per
// line, and take many times its size to list them. The first ones in line
// order are listed, whichever pass found them.
constexpr std::size_t MaxFindings = 1000;

using text::Wording;

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
  ProjectChecker(std::string_view text, ProjectRead& read) : Text(text), Read(read) { Ini.SetText(text); }

  std::vector<ProjectFinding> Run() {
    CheckLinesBeforeSections();
    CheckSections();
    CheckPhones();
    CheckEvents();
    KeepFirstInLineOrder();
    if (Unlisted > 0) Findings.push_back({0, "", "", {Wording::FindingsNotListed, {std::to_string(Unlisted)}}});
    return std::move(Findings);
  }

 private:
  void Add(std::uint32_t line, std::string section, std::string key, text::Message message, bool content = false) {
    Findings.push_back({line, std::move(section), std::move(key), std::move(message), content});
    // A later pass may find something on an earlier line, so what is kept
    // is sorted now and then, which also keeps it bounded.
    if (Findings.size() == 2 * MaxFindings) KeepFirstInLineOrder();
  }

  void AddContent(std::uint32_t line, std::string section, std::string key, text::Message message) {
    Add(line, std::move(section), std::move(key), std::move(message), true);
  }

  // Findings of one line stay in the order they were found.
  void KeepFirstInLineOrder() {
    std::stable_sort(Findings.begin(), Findings.end(),
                     [](const ProjectFinding& a, const ProjectFinding& b) { return a.Line < b.Line; });
    if (Findings.size() <= MaxFindings) return;
    Unlisted += Findings.size() - MaxFindings;
    Findings.erase(Findings.begin() + MaxFindings, Findings.end());
  }

  void CheckLinesBeforeSections() {
    if (Text.starts_with(ByteOrderMark)) {
      Add(1, "", "", Wording::ByteOrderMark);
    }
    if (Ini.StrayLines() > 0) {
      Add(Ini.FirstStrayLine(), "", "", {Wording::LinesBeforeSections, {std::to_string(Ini.StrayLines())}});
    }
  }

  void CheckSections() {
    EventCount = 0;
    while (Ini.SectionExists(EventSection(EventCount))) ++EventCount;
    bool projectSections = false;
    Ini.VisitSections([&](const CIniFile::SectionPlace& place) {
      const std::string name(place.Name);
      if (!place.IsRead) {
        Add(place.Line, name, "", {Wording::SectionRepeated, {std::to_string(Ini.SectionLine(name))}});
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
        Add(place.Line, name, "", Wording::PhoneSectionNeverRead);
      }
      if (event >= 0 && !readAsEvent && place.LineCount > 0) {
        // "Event01" is not "Event1": the load asks for the name without leading zeros.
        const std::string_view digits = std::string_view(folded).substr(5);
        const std::string_view unpadded = digits.substr(std::min(digits.find_first_not_of('0'), digits.size() - 1));
        Add(place.Line, name, "",
            digits == unpadded ? text::Message(Wording::EventSectionNeverRead, {EventSection(EventCount)})
                               : text::Message(Wording::EventSectionSpelt, {"Event" + std::string(unpadded)}));
      }
    });
    if (!projectSections) Add(0, "", "", Wording::NoProjectSection);
  }

  // The last occurrence of a key is read; every earlier one is ignored.
  void CheckRepeatedKeys(const CIniFile::SectionPlace& place) {
    std::unordered_map<std::string, std::uint32_t> later;
    for (auto it = place.Keys.rbegin(); it != place.Keys.rend(); ++it) {
      const auto [seen, first] = later.try_emplace(text::Folded(it->Key), it->Line);
      if (first) continue;
      Add(it->Line, std::string(place.Name), std::string(it->Key),
          {Wording::KeyRepeated, {std::to_string(seen->second)}});
    }
  }

  void CheckPhones() {
    Read.Phones.assign(PhoneSlotCount, CPhone{});
    for (int slot = 0; slot < PhoneSlotCount; ++slot) {
      const std::string section = "Phone" + std::to_string(slot);
      CPhone& phone = Read.Phones[static_cast<std::size_t>(slot)];
      phone.ID = slot;
      phone.Number = CheckText(section, "Number");
      CheckNumber(section, phone.Number);
      phone.Comment = CheckText(section, "Comment");
    }
  }

  // The unit dials what it is given: digits, after one "+" for the
  // international form. Short numbers ("112") and an empty slot are sound.
  void CheckNumber(const std::string& section, const std::string& number) {
    if (number.empty()) return;
    const std::uint32_t line = Ini.KeyLine(section, "Number");
    for (ProjectFinding& finding : CheckPhoneValues(number)) {
      Add(line, section, finding.Key, std::move(finding.Message));
    }
    const std::string_view digits = std::string_view(number).substr(number.starts_with('+') ? 1 : 0);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      AddContent(line, section, "Number", Wording::NumberCharacters);
    }
  }

  void CheckEvents() {
    Read.Events.assign(static_cast<std::size_t>(EventCount), CEvent{});
    for (std::int32_t i = 0; i < EventCount; ++i) {
      const std::string section = EventSection(i);
      CEvent& event = Read.Events[static_cast<std::size_t>(i)];
      const std::int32_t neg = CheckInteger(section, "Neg");
      event.Neg = neg != 0;
      if (neg != 0 && neg != 1) {
        Add(Ini.KeyLine(section, "Neg"), section, "Neg", {Wording::NegNeither, {std::to_string(neg)}});
      }
      event.Pin = CheckInteger(section, "Pin");
      event.Delay = CheckInteger(section, "Delay");
      const std::int32_t send = CheckInteger(section, "Send");
      event.Send = static_cast<std::uint8_t>(send);
      CheckRange(section, "Send", send, Recipients, Wording::SendNotInRange, std::to_string(event.Send));
      CheckRecipients(section, event.Send);
      event.Text = CheckText(section, "Text");
      for (ProjectFinding& finding : CheckEventValues(event)) {
        Add(Ini.KeyLine(section, finding.Key), section, finding.Key, std::move(finding.Message));
      }
      // Said once, at the first event the image has no room for.
      if (ImageHoldsEvents(i) && !ImageHoldsEvents(i + 1)) {
        Add(Ini.SectionLine(section), section, "", TooManyEventsMessage(EventCount));
      }
    }
  }

  // The value as an event reads it; a malformed one reads as the default, 0.
  std::int32_t CheckInteger(const std::string& section, const char* key) {
    std::int32_t value = 0;
    if (!Ini.ValueExists(section, key)) return value;
    const std::string text = Ini.ReadString(section, key, "");
    if (!CIniFile::ParseInteger(text, value)) {
      Add(Ini.KeyLine(section, key), section, key, {Wording::NotAnInteger, {text}});
    }
    return value;
  }

  // `outside` says "<key> <value> is outside <Min> to <Max>", and `more`
  // is its fourth argument, if any.
  void CheckRange(const std::string& section, const char* key, std::int32_t value, limits::Range range,
                  Wording outside, std::string more = {}) {
    if (range.Holds(value)) return;
    Add(Ini.KeyLine(section, key), section, key,
        {outside, {std::to_string(value), std::to_string(range.Min), std::to_string(range.Max), std::move(more)}});
  }

  void CheckRecipients(const std::string& section, std::uint8_t send) {
    const std::uint32_t line = Ini.ValueExists(section, "Send") ? Ini.KeyLine(section, "Send")
                                                                : Ini.SectionLine(section);
    if (send == 0) {
      AddContent(line, section, "Send", Wording::NoRecipients);
      return;
    }
    for (int slot = 0; slot < PhoneSlotCount; ++slot) {
      const std::string phone = "Phone" + std::to_string(slot);
      if ((send >> slot & 1) != 0 && Read.Phones[static_cast<std::size_t>(slot)].Number.empty()) {
        AddContent(line, section, "Send", {Wording::EmptyRecipient, {std::to_string(slot)}});
      }
    }
  }

  // The text as read; a missing key reads as empty.
  std::string CheckText(const std::string& section, const char* key) {
    if (!Ini.ValueExists(section, key)) return {};
    std::string value = Ini.ReadString(section, key, "");
    const std::uint32_t line = Ini.KeyLine(section, key);
    if (LooksLikeUtf8(value)) Add(line, section, key, Wording::TextLooksUtf8);
    if (HasControlBytes(value)) Add(line, section, key, Wording::TextControlBytes);
    return value;
  }

  static std::string EventSection(std::int32_t index) { return "Event" + std::to_string(index); }

  std::string_view Text;
  ProjectRead& Read;
  CIniFile Ini;
  std::int32_t EventCount = 0;
  std::vector<ProjectFinding> Findings;
  std::size_t Unlisted = 0;
};

}  // namespace

std::vector<ProjectFinding> CheckEventValues(const CEvent& event) {
  std::vector<ProjectFinding> findings;
  const auto outside = [&findings](const char* key, std::int32_t value, limits::Range range, Wording wording) {
    if (range.Holds(value)) return;
    findings.push_back(
        {0, "", key, {wording, {std::to_string(value), std::to_string(range.Min), std::to_string(range.Max)}}});
  };
  outside("Pin", event.Pin, limits::Input, Wording::PinNotAnInput);
  outside("Delay", event.Delay, limits::DelaySeconds, Wording::DelayNotInRange);
  if (event.Text.size() > static_cast<std::size_t>(limits::TextLength)) {
    findings.push_back({0, "", "Text",
                        {Wording::TextTooLong, {std::to_string(event.Text.size()), std::to_string(limits::TextLength)}}});
  }
  return findings;
}

std::vector<ProjectFinding> CheckPhoneValues(const std::string& number) {
  if (number.size() > static_cast<std::size_t>(limits::NumberLength)) {
    return {{0, "", "Number",
             {Wording::NumberTooLong, {std::to_string(number.size()), std::to_string(limits::NumberLength)}}}};
  }
  return {};
}

bool ImageHoldsEvents(std::int32_t count) {
  return count <= static_cast<std::int64_t>(imageformat::LargestCount);
}

text::Message TooManyEventsMessage(std::int32_t count) {
  return {Wording::EventsPastImage, {std::to_string(imageformat::LargestCount), std::to_string(count)}};
}

std::vector<ProjectFinding> CheckProjectText(std::string_view text, ProjectRead* read) {
  ProjectRead unused;
  return ProjectChecker(text, read != nullptr ? *read : unused).Run();
}

std::vector<ProjectFinding> CheckProjectFile(const std::string& path, ProjectRead* read) {
  std::string bytes;
  if (!CIniFile::ReadProjectFile(path, bytes)) {
    throw text::MessageError({Wording::CannotOpen, {path, FileError(ENOENT)}});
  }
  return CheckProjectText(bytes, read);
}

}  // namespace smsconf
