#include "model/Project.h"

#include "files/AtomicFile.h"
#include "files/ExportPaths.h"
#include "files/FileBytes.h"
#include "files/FileSystem.h"
#include "image/ImageFormat.h"
#include "image/Output.h"
#include "image/SymTable.h"
#include "model/IniFile.h"

#include <filesystem>
#include <optional>
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
  if (FileName.empty()) throw std::runtime_error("Cannot create file : no file name");
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

// Every count, offset and field of the image is one byte or one 16-bit word.
constexpr std::int32_t MaxEvents = 255;
constexpr std::int32_t MaxByte = 0xFF;
constexpr std::int32_t MaxWord = 0xFFFF;

[[noreturn]] void Refuse(const std::string& what) { throw std::runtime_error(what); }

void CheckFields(const CEventList& events) {
  if (events.Count() > MaxEvents) {
    Refuse("Too many events: " + std::to_string(events.Count()) + "; the image holds at most " +
           std::to_string(MaxEvents));
  }
  for (std::int32_t i = 0; i < events.Count(); ++i) {
    const CEvent& event = *events.Get(i);
    if (event.Pin < 0 || event.Pin > MaxByte) {
      Refuse("Event " + std::to_string(i) + ": Pin " + std::to_string(event.Pin) +
             " is outside 0..255");
    }
    if (event.Delay < 0 || event.Delay > MaxWord) {
      Refuse("Event " + std::to_string(i) + ": Delay " + std::to_string(event.Delay) +
             " is outside 0..65535");
    }
  }
}

// The 16-bit reference to a text already in the string area.
std::uint32_t StringReference(CSymTable& table, const std::string& text, const std::string& owner) {
  const std::int64_t reference =
      static_cast<std::int64_t>(table.AddString(text)) + imageformat::StringAreaStart;
  if (reference > MaxWord) {
    Refuse(owner + ": the text lies at image offset " + std::to_string(reference) +
           ", past the 65535 that a reference can hold");
  }
  return static_cast<std::uint32_t>(reference);
}

void Assemble(const CPhoneList& phones, const CEventList& events, COutput& out) {
  CSymTable table;
  for (std::int32_t i = 0; i < phones.Count(); ++i) table.AddString(phones.Get(i)->Number);
  for (std::int32_t i = 0; i < events.Count(); ++i) table.AddString(events.Get(i)->Text);

  out.PutWord(imageformat::Signature);
  const std::int32_t lengthWord = out.ReserveWord();
  const std::int32_t phoneTableWord = out.ReserveWord();
  const std::int32_t eventTableWord = out.ReserveWord();
  out.PutBytes(table.Code(), table.Length());

  out.PatchWord(phoneTableWord, static_cast<std::uint32_t>(out.Position()));
  out.PutByte(static_cast<std::uint8_t>(phones.Count()));
  for (std::int32_t i = 0; i < phones.Count(); ++i) {
    out.PutWord(StringReference(table, phones.Get(i)->Number, "Phone " + std::to_string(i) + ": Number"));
  }

  out.PatchWord(eventTableWord, static_cast<std::uint32_t>(out.Position()));
  out.PutByte(static_cast<std::uint8_t>(events.Count()));
  for (std::int32_t i = 0; i < events.Count(); ++i) {
    const CEvent& event = *events.Get(i);
    out.PutWord(static_cast<std::uint32_t>(event.Delay));
    out.PutWord(event.Send);
    out.PutByte(static_cast<std::uint8_t>(event.Pin));
    out.PutByte(event.Neg ? 1 : 0);
    out.PutWord(StringReference(table, event.Text, "Event " + std::to_string(i) + ": Text"));
  }

  // The length counts the checksum byte that is still to come.
  const std::int64_t total = static_cast<std::int64_t>(out.Position()) + 1;
  if (total > MaxWord) {
    Refuse("The image would be " + std::to_string(total) +
           " bytes long; it can be at most 65535");
  }
  out.PatchWord(lengthWord, static_cast<std::uint32_t>(total));
  out.PutByte(imageformat::Checksum(out.Code(), static_cast<std::size_t>(out.Position())));
}

// No export writes a larger file: the firmware source of the largest image
// is under 460 KB. A larger file in an export's place is something else.
constexpr std::size_t LargestExportFile = 512 * 1024;

[[noreturn]] void CannotCreate(const std::string& path, const std::string& reason) {
  throw std::runtime_error("Cannot create file " + path + ": " + reason);
}

// The current content of a file, kept to put back if the export fails
// halfway; nothing when there is none.
std::optional<std::string> Snapshot(const std::string& path) {
  std::string bytes;
  int error = 0;
  const FileRead read = ReadFileBytes(path, bytes, LargestExportFile + 1, &error);
  if (read == FileRead::Missing) return std::nullopt;
  // Without a copy the old file could not be put back.
  if (read == FileRead::Unreadable) CannotCreate(path, FileErrorReason(error));
  if (bytes.size() > LargestExportFile) {
    CannotCreate(path, "the file there is larger than any image or source, so it is not replaced");
  }
  return bytes;
}

// Two names for one file: the same file when both exist (hard links too),
// the same path once resolved otherwise.
bool SameFile(const std::string& a, const std::string& b) {
  if (const std::optional<bool> same = SameExistingFile(a, b)) return *same;
  std::error_code error;
  const std::filesystem::path left = std::filesystem::weakly_canonical(NativePath(a), error);
  if (error) return false;
  const std::filesystem::path right = std::filesystem::weakly_canonical(NativePath(b), error);
  return !error && left == right;
}

// An export must never write over the project it comes from, nor put the
// image and the source into one file.
void RefuseSharedTargets(const std::string& image, const std::string& source, const std::string& project) {
  if (!project.empty()) {
    for (const std::string* target : {&image, &source}) {
      if (SameFile(*target, project)) CannotCreate(*target, "it is the project file being compiled");
    }
  }
  if (SameFile(image, source)) CannotCreate(source, "it is also the image file");
}

}  // namespace

std::int32_t CProject::Compile(const std::string& sourceFileName) const {
  return Compile(sourceFileName, DefaultImagePath());
}

std::int32_t CProject::Compile(const std::string& sourceFileName,
                               const std::string& imageFileName) const {
  CheckFields(*Events);
  COutput out;
  Assemble(*Phones, *Events, out);
  const std::int32_t size = out.Position();

  // Every target is checked before anything is written.
  ReplaceableFile(imageFileName);
  ReplaceableFile(sourceFileName);
  RefuseSharedTargets(imageFileName, sourceFileName, FileName);
  // The two files belong together: when the source cannot be written, the
  // image goes back to what it was, so no export is ever half done.
  const std::optional<std::string> oldImage = Snapshot(imageFileName);
  out.SaveToFile(imageFileName);
  try {
    out.SaveAsSource(sourceFileName);
  } catch (...) {
    try {
      if (oldImage) {
        WriteFileAtomically(imageFileName, *oldImage);
      } else {
        RemoveFile(imageFileName);
      }
    } catch (...) {
    }
    throw;
  }
  return size;
}

}  // namespace smsconf
