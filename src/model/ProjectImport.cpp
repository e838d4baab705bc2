#include "model/ProjectImport.h"

#include "files/FileBytes.h"
#include "image/ImageEncoder.h"
#include "image/ImageFormat.h"
#include "model/IniFile.h"
#include "model/Project.h"
#include "text/Cp1251.h"

#include <algorithm>
#include <array>
#include <set>

namespace smsconf {

using text::Message;
using text::Wording;

namespace {

[[noreturn]] void Refuse(Wording wording, std::vector<Message> arguments) {
  throw text::MessageError({wording, std::move(arguments)});
}

// The project file strips every character up to the blank from both ends
// of a value, and a line break ends it.
bool FileKeeps(std::string_view text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  if (!text.empty() && (blank(text.front()) || blank(text.back()))) return false;
  return text.find_first_of("\r\n") == std::string_view::npos;
}

// Whether a letter of the text has a partner in the other case, so that
// the image may have stored another spelling in its place.
bool HasLetterCase(std::string_view text) {
  static const std::array<bool, 256> cased = [] {
    std::array<bool, 256> marks{};
    for (int c = 0; c < 256; ++c) {
      const unsigned char folded = text::FoldCase(static_cast<unsigned char>(c));
      if (folded != c) marks[std::size_t(c)] = marks[folded] = true;
    }
    return marks;
  }();
  return std::ranges::any_of(text, [](char c) { return cased[static_cast<unsigned char>(c)]; });
}

void CheckProjectHolds(const ImageContent& content) {
  if (content.Numbers.size() != std::size_t(PhoneSlotCount)) {
    Refuse(Wording::SlotCountNotEight, {std::to_string(content.Numbers.size()), std::to_string(PhoneSlotCount)});
  }
  for (std::size_t i = 0; i < content.Numbers.size(); ++i) {
    if (!FileKeeps(content.Numbers[i])) Refuse(Wording::TextNotKept, {{Wording::PhoneOwner, {std::to_string(i)}}});
  }
  for (std::size_t i = 0; i < content.Events.size(); ++i) {
    if (!FileKeeps(content.Events[i].Text)) {
      Refuse(Wording::TextNotKept, {{Wording::EventOwner, {std::to_string(i)}}});
    }
  }
}

// Texts that several phones or events refer to in one place and that have
// letters of either case: their owners came back in one spelling, which
// need not be the one each had.
std::vector<Message> Notes(const DecodedImage& image) {
  std::vector<Message> notes{Wording::NoCommentsInImage};
  struct Owner {
    std::uint16_t Reference;
    Message Name;
    const std::string* Text;
  };
  std::vector<Owner> owners;
  const ImageContent& content = image.Content;
  for (std::size_t i = 0; i < content.Numbers.size(); ++i) {
    owners.push_back({image.PhoneReferences[i], {Wording::PhoneOwner, {std::to_string(i)}}, &content.Numbers[i]});
  }
  for (std::size_t i = 0; i < content.Events.size(); ++i) {
    owners.push_back({image.TextReferences[i], {Wording::EventOwner, {std::to_string(i)}}, &content.Events[i].Text});
  }
  std::set<std::uint16_t> told;
  for (const Owner& first : owners) {
    if (!told.insert(first.Reference).second || !HasLetterCase(*first.Text)) continue;
    std::vector<const Owner*> group;
    for (const Owner& other : owners) {
      if (other.Reference == first.Reference) group.push_back(&other);
    }
    if (group.size() < 2) continue;
    Message names = first.Name;
    for (std::size_t i = 1; i < group.size(); ++i) names = {Wording::BothOf, {names, group[i]->Name}};
    notes.push_back({Wording::TextStoredOnce, {names, *first.Text}});
  }
  return notes;
}

}  // namespace

ConfigurationFile ReadConfigurationFile(const std::string& path) {
  std::string bytes;
  int error = 0;
  // One byte more than the largest project file tells an oversized one apart.
  if (ReadFileBytes(path, bytes, CIniFile::MaxFileSize + 1, &error) != FileRead::Read) {
    Refuse(Wording::CannotOpen, {path, FileError(error)});
  }
  ConfigurationFile file;
  file.Kind = KindOfConfiguration(bytes);
  if (file.Kind == ConfigurationKind::Image && bytes.size() > imageformat::LargestImage) {
    Refuse(Wording::InFile, {path, {Wording::LongerThanImage, {std::to_string(imageformat::LargestImage)}}});
  }
  if (bytes.size() > CIniFile::MaxFileSize) Refuse(Wording::CannotOpen, {path, Wording::ProjectTooLarge});
  if (file.Kind == ConfigurationKind::Project) {
    CheckProjectText(bytes, &file.Project);
    return file;
  }
  file.Exported = ReadExportedImage(bytes, file.Kind);
  if (!file.Exported.Ok) Refuse(Wording::InFile, {path, file.Exported.Refusal});
  return file;
}

ConfigurationKind KindOfConfigurationFile(const std::string& path) {
  // Enough for the signature, or for the include line behind a few blank lines.
  constexpr std::size_t Beginning = 4096;
  std::string bytes;
  if (ReadFileBytes(path, bytes, Beginning) != FileRead::Read) return ConfigurationKind::Project;
  return KindOfConfiguration(bytes);
}

ProjectImport ImportProject(const ExportedImage& exported) {
  const ImageContent& content = exported.Image.Content;
  CheckProjectHolds(content);
  CProject project;
  for (std::size_t i = 0; i < content.Numbers.size(); ++i) {
    project.Phones->Get(std::int32_t(i))->Number = content.Numbers[i];
  }
  for (const ImageEvent& event : content.Events) {
    project.Events->Add(std::make_unique<CEvent>(CEvent{event.Neg, event.Pin, event.Delay, event.Send, event.Text}));
  }
  ProjectImport import;
  import.ImageSize = exported.Bytes.size();
  import.FileText = project.FileText();
  // What a load of the file written gives must export to these very bytes.
  CheckProjectText(import.FileText, &import.Project);
  CProject reread;
  reread.Load(import.Project);
  const std::vector<std::uint8_t> again = EncodeImage(reread.Content());
  const auto [mine, theirs] = std::ranges::mismatch(again, exported.Bytes);
  if (mine != again.end() || theirs != exported.Bytes.end()) {
    Refuse(Wording::NotAsExported, {std::to_string(theirs - exported.Bytes.begin())});
  }
  import.Notes = Notes(exported.Image);
  return import;
}

ProjectImport ImportProjectFile(const std::string& path) {
  const ConfigurationFile file = ReadConfigurationFile(path);
  if (file.Kind == ConfigurationKind::Project) Refuse(Wording::InFile, {path, Wording::NotExported});
  try {
    ProjectImport import = ImportProject(file.Exported);
    import.Kind = file.Kind;
    return import;
  } catch (const text::MessageError& refusal) {
    Refuse(Wording::InFile, {path, refusal.Said()});
  }
}

}  // namespace smsconf
