#include "model/Project.h"

#include "files/AtomicFile.h"
#include "files/ExportPair.h"
#include "files/ExportPaths.h"
#include "image/ImageEncoder.h"
#include "image/Output.h"
#include "model/IniFile.h"
#include "model/ProjectCheck.h"

#include <stdexcept>
#include <string_view>
#include <vector>

namespace smsconf {


CProject::CProject()
    : Phones(std::make_unique<CPhoneList>()), Events(std::make_unique<CEventList>()) {
  New();
}

CProject::~CProject() {
  Events.reset();
  Phones.reset();
}

void CProject::New() {
  Phones->Clear();
  Events->Clear();
  Phones->Init();
}

void CProject::Load() {
  const CIniFile ini(FileName);
  New();
  Phones->Load(ini);
  Events->Load(ini);
}

void CProject::Load(const ProjectRead& read) {
  New();
  for (std::int32_t i = 0; i < Phones->Count() && std::size_t(i) < read.Phones.size(); ++i) {
    *Phones->Get(i) = read.Phones[std::size_t(i)];
  }
  for (const CEvent& event : read.Events) Events->Add(std::make_unique<CEvent>(event));
}

void CProject::Save() {
  if (FileName.empty()) ThrowCannotCreate(FileName, text::Wording::NoFileName);
  CIniFile ini(FileName);
  Phones->Save(ini);
  Events->Save(ini);
  // Sections of events that no longer exist would be read back as events.
  for (std::int32_t i = Events->Count();; ++i) {
    const std::string section = "Event" + std::to_string(i);
    if (!ini.SectionExists(section)) break;
    ini.EraseSection(section);
  }
  ini.UpdateFile(FileName);
}

namespace {

std::string_view AsText(const std::vector<std::uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

ImageContent CProject::Content() const {
  ImageContent content;
  for (std::int32_t i = 0; i < Phones->Count(); ++i) content.Numbers.push_back(Phones->Get(i)->Number);
  for (std::int32_t i = 0; i < Events->Count(); ++i) {
    const CEvent& event = *Events->Get(i);
    content.Events.push_back({event.Pin, event.Neg, event.Delay, event.Send, event.Text});
  }
  return content;
}

std::string CProject::FileText() const {
  CIniFile ini;
  Phones->Save(ini);
  Events->Save(ini);
  return ini.Text();
}

std::int32_t CProject::Compile(const std::string& sourceFileName) const {
  return Compile(sourceFileName, DefaultImagePath());
}

std::int32_t CProject::Compile(const std::string& sourceFileName,
                               const std::string& imageFileName) const {
  const std::vector<std::uint8_t> image = EncodeImage(Content());
  const std::string source = FirmwareSource(image);
  WriteExportPair({imageFileName, AsText(image)}, {sourceFileName, source}, FileName);
  return static_cast<std::int32_t>(image.size());
}

}  // namespace smsconf
