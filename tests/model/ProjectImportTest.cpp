#include "model/ProjectImport.h"

#include "common/Failure.h"
#include "image/ImageEncoder.h"
#include "image/ImageFormat.h"
#include "image/Output.h"
#include "model/EventBuilder.h"
#include "model/Project.h"

#include <gtest/gtest.h>

namespace smsconf {
namespace {

using testing::AddEvent;
using Bytes = std::vector<std::uint8_t>;

std::string AsText(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

ExportedImage Read(const Bytes& image) {
  ExportedImage read = ReadExportedImage(AsText(image), ConfigurationKind::Image);
  EXPECT_TRUE(read.Ok) << read.Refusal.Render(text::Language::English);
  return read;
}

// The image of the project that a load of the restored file gives.
Bytes ExportOfRestored(const ProjectImport& import) {
  ProjectRead read;
  CheckProjectText(import.FileText, &read);
  CProject project;
  project.Load(read);
  return EncodeImage(project.Content());
}

const std::string Alarm = "\xC0\xE2\xE0\xF0\xE8\xFF", Shouted = "\xC0\xC2\xC0\xD0\xC8\xDF";  // Авария, АВАРИЯ

// Projects of every shape an image takes; each restored from its image and
// from its source exports the same bytes again.
const std::pair<const char*, void (*)(CProject&)> Projects[] = {
    {"empty", [](CProject&) {}},
    {"the example", [](CProject& p) {
       p.FileName = SMSCONF_SOURCE_DIR "/examples/pumping-station.sms";
       p.Load();
     }},
    {"Cyrillic, widest fields, unsorted", [](CProject& p) {
       for (int i = 0; i < 8; ++i) p.Phones->Get(i)->Number = "+7916000000" + std::to_string(i);
       AddEvent(*p.Events, 31, true, 3600, 0xFF, Alarm + " \xB8\xA8 \xF1\xEB\xEE\xE2\xEE");
       AddEvent(*p.Events, 255, false, 65535, 0x81, "\xCD\xE0\xF1\xEE\xF1 \xB9" "5; [x] = y");
       AddEvent(*p.Events, 0, false, 0, 0, "");
     }},
    {"255 events of 70 characters", [](CProject& p) {
       for (int i = 0; i < 255; ++i) AddEvent(*p.Events, i % 32, i % 2, i * 14, std::uint8_t(i), std::to_string(1000 + i) + std::string(66, char(0xC0 + i % 64)));
     }},
    {"texts equal but for letter case", [](CProject& p) {
       p.Phones->Get(3)->Number = "alarm";
       AddEvent(*p.Events, 1, false, 0, 1, Shouted);
       AddEvent(*p.Events, 2, false, 0, 1, Alarm);
       AddEvent(*p.Events, 3, false, 0, 1, "ALARM");
       AddEvent(*p.Events, 4, false, 0, 1, Shouted);
     }},
};

TEST(ProjectImport, ARestoredProjectExportsTheSameBytes) {
  for (const auto& [name, fill] : Projects) {
    SCOPED_TRACE(name);
    CProject project;
    fill(project);
    const Bytes image = EncodeImage(project.Content());
    const ProjectImport import = ImportProject(Read(image));
    EXPECT_EQ(ExportOfRestored(import), image);
    const ExportedImage source = ReadExportedImage(FirmwareSource(image), ConfigurationKind::Source);
    ASSERT_TRUE(source.Ok) << source.Refusal.Render(text::Language::English);
    EXPECT_EQ(ImportProject(source).FileText, import.FileText);
    EXPECT_EQ(import.Project.Events.size(), std::size_t(project.Events->Count()));
  }
}

std::vector<std::string> NotesOf(const ProjectImport& import) {
  std::vector<std::string> notes;
  for (const text::Message& note : import.Notes) notes.push_back(note.Render(text::Language::English, text::Charset::Cp1251));
  return notes;
}

// The comments are never in an image; a text that several events share
// names them all and the one spelling they come back in, but only when it
// has letters that have a case.
TEST(ProjectImport, NotesSayWhatTheImageDoesNotHold) {
  CProject project;
  Projects[4].second(project);
  AddEvent(*project.Events, 5, false, 0, 1, "112");
  AddEvent(*project.Events, 6, false, 0, 1, "112");
  const std::string spelling = " come back as \"";
  const std::string why = "\": the image stores texts that differ only in letter case once, in the first spelling";
  EXPECT_EQ(NotesOf(ImportProject(Read(EncodeImage(project.Content())))),
            (std::vector<std::string>{"the image holds no phone comments: all eight are empty",
                                      "phone 3, event 2" + spelling + "alarm" + why,
                                      "event 0, event 1, event 3" + spelling + Shouted + why}));
}

// An image that no project file gives is refused, and says why.
TEST(ProjectImport, RefusesAnImageThatNoProjectFileGives) {
  const auto slots = [](std::vector<std::string> numbers, std::vector<ImageEvent> events = {}) {
    numbers.resize(8);
    return EncodeImage({numbers, events});
  };
  // Phone 1 refers into the middle of phone 0's number, which ends the same:
  // a sound image, but the export stores "9" on its own.
  Bytes shared = slots({"+79", "9"});
  const std::size_t phone1 = shared[imageformat::PhoneTableOffset] + 3;
  shared[phone1] = imageformat::StringAreaStart + 2;
  shared.back() = imageformat::Checksum(shared.data(), shared.size() - 1);
  const std::string kept = ": the text begins or ends with a blank or control character or holds a line break, which a project file does not keep";
  const std::pair<Bytes, std::string> cases[] = {
      {EncodeImage({std::vector<std::string>(7), {}}), "the image has 7 phone slots, and a project has 8"},
      {EncodeImage({std::vector<std::string>(9), {}}), "the image has 9 phone slots, and a project has 8"},
      {slots({"", " +7"}), "phone 1" + kept},
      {slots({}, {{0, false, 0, 0, "x"}, {0, false, 0, 0, "x\t"}}), "event 1" + kept},
      {slots({}, {{0, false, 0, 0, "two\nlines"}}), "event 0" + kept},
      {slots({}, {{0, false, 0, 0, "two\rlines"}}), "event 0" + kept},
      {shared, "the image is not laid out as an export lays it out: the restored project would export to other "
               "bytes from offset " + std::to_string(phone1) + " on"},
  };
  for (const auto& [image, refusal] : cases) {
    EXPECT_EQ(testing::FailureOf([&] { ImportProject(Read(image)); }), refusal);
  }
}

}  // namespace
}  // namespace smsconf
