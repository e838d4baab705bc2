#include "model/Project.h"

#include "model/IniFile.h"

#include <stdexcept>

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

void CProject::Save() {
  if (FileName.empty()) throw std::runtime_error("Cannot create file " + FileName);
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

}  // namespace smsconf
