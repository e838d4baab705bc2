// smsconf-cli import and diff, run as a user would.

#include "common/ChildProcess.h"
#include "common/TempDir.h"
#include "image/ImageEncoder.h"
#include "image/ImageFormat.h"
#include "text/Cp1251.h"

#include <gtest/gtest.h>


namespace smsconf {
namespace {

using testing::ProcessResult;
using testing::ReadFile;
using testing::WriteFile;
using Texts = std::vector<std::string>;

ProcessResult Cli(Texts arguments) {
  arguments.insert(arguments.begin(), SMSCONF_CLI);
  return testing::RunProcess(arguments);
}

const std::string Example = SMSCONF_SOURCE_DIR "/examples/pumping-station.sms";
const std::string SiteImage = SMSCONF_SOURCE_DIR "/examples/site/pumping-station.bin";

// The example, its export, and a project restored from that.
struct Files {
  Files() {
    EXPECT_EQ(Cli({"export", Example, "--image", Image, "--source", Source}).Status, 0);
    EXPECT_EQ(Cli({"import", Image, "-o", Restored}).Status, 0);
  }
  // A copy of the image with `edit` applied and its checksum made right.
  template <class Edit>
  std::string Changed(const std::string& name, Edit edit) const {
    std::string bytes = ReadFile(Image);
    edit(bytes);
    bytes.back() = char(imageformat::Checksum(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size() - 1));
    WriteFile(Dir.File(name), bytes);
    return Dir.File(name);
  }
  // A copy of the example with `from` put as `to`, or with `to` added.
  std::string Edited(const std::string& name, const std::string& from, const std::string& to) const {
    const std::string example = ReadFile(Example);
    WriteFile(Dir.File(name), from.empty() ? example + text::Cp1251(to)
                                           : testing::Replaced(example, text::Cp1251(from), text::Cp1251(to)));
    return Dir.File(name);
  }
  testing::TempDir Dir;
  std::string Image = Dir.File("sms.bin"), Source = Dir.File("stdcfg.c"), Restored = Dir.File("restored.sms");
};

// Every example comes back from its image or its source, and the project
// written exports the very bytes again; what the image lacks is told.
TEST(ImportDiff, ImportRestoresAProjectThatExportsTheSameBytes) {
  const Files files;
  const std::string crlf = files.Dir.File("edited.c");
  WriteFile(crlf, testing::Replaced(ReadFile(files.Source), "\n", " \r\n", true));
  for (const std::string& input : {files.Image, files.Source, crlf, SiteImage}) {
    const std::string project = files.Dir.File("p.sms"), image = files.Dir.File("again.bin");
    const ProcessResult run = Cli({"import", input, "-o", project});
    EXPECT_EQ(run.Status, 0) << input << ": " << run.Err;
    EXPECT_EQ(run.Out, "Restored " + project + " from 271 bytes of image: 8 events.\n");
    EXPECT_EQ(run.Err, "note: the image holds no phone comments: all eight are empty\n"
                       "note: event 4, event 5 come back as \"АВАРИЯ НАСОСА\": the image stores texts that differ "
                       "only in letter case once, in the first spelling\n");
    ASSERT_EQ(Cli({"export", project, "--image", image, "--source", files.Dir.File("again.c")}).Status, 0);
    EXPECT_EQ(ReadFile(image), ReadFile(files.Image)) << input;
    EXPECT_EQ(ReadFile(files.Dir.File("again.c")), ReadFile(files.Source)) << input;
    std::filesystem::remove(project);
  }
}

// Each side is read as what it is; an image and a project are compared as
// the unit sees them, and comments only between two projects.
TEST(ImportDiff, DiffNamesEachDifferenceAndNothingElse) {
  const Files files;
  // The delay of event 4 of 8 is the first word of its record, 4 records
  // before the checksum byte.
  const auto delay60 = [](std::string& b) { b[b.size() - 1 - 8 * 4] = 60, b[b.size() - 8 * 4] = 0; };
  const struct {
    std::string A, B;
    int Status;
    std::string Out;
  } cases[] = {
      {Example, files.Image, 0, ""},
      {files.Source, Example, 0, ""},
      {files.Image, files.Source, 0, ""},
      {files.Restored, files.Image, 0, ""},
      {Example, files.Restored, 1,
       "phone 0 comment: \"Дежурный инженер\" → (empty)\nphone 1 comment: \"Начальник смены\" → (empty)\n"
       "phone 2 comment: \"Охрана\" → (empty)\nphone 4 comment: \"Резерв\" → (empty)\n"
       "phone 7 comment: \"Сервисный центр\" → (empty)\nevent 5: text \"авария насоса\" → \"АВАРИЯ НАСОСА\"\n"},
      {Example, files.Changed("delay.bin", delay60), 1,
       "event 4: delay 300 → 60\n"},
      {files.Edited("phone.sms", "Number=+79031112233", "Number="), files.Image, 1,
       "phone 2: (empty) → +79031112233\n"},
      {files.Image, files.Edited("fields.sms", "Neg=0\r\nPin=3\r\nDelay=0\r\nSend=5\r\nText=Дверь закрыта",
                                 "Neg=1\r\nPin=4\r\nDelay=0\r\nSend=0\r\nText= Дверь  закрыта"), 1,
       "event 2: input DI3 → DI4\nevent 2: edge rising → falling\nevent 2: recipients 0,2 → none\n"
       "event 2: text \"Дверь закрыта\" → \"Дверь  закрыта\"\n"},
      {files.Edited("more.sms", "", "\r\n[Event8]\r\nNeg=1\r\nPin=1\r\nDelay=5\r\nSend=129\r\nText=Ё\x01ж\r\n"),
       files.Source, 1,
       "event 8: input DI1, edge falling, delay 5, recipients 0,7, text \"Ё\\x01ж\" → (none)\n"},
  };
  for (const auto& c : cases) {
    const ProcessResult run = Cli({"diff", c.A, c.B});
    EXPECT_EQ(run.Status, c.Status) << c.A << " " << c.B << ": " << run.Err;
    EXPECT_EQ(run.Out, c.Out) << c.A << " " << c.B;
    EXPECT_EQ(run.Err, "");
  }
}

// What cannot be restored or compared is refused with its reason, and no
// project is written; a project is replaced only with --force.
TEST(ImportDiff, RefusalsSayWhyAndWriteNothing) {
  const Files files;
  const testing::TempDir out;
  const std::string project = out.File("p.sms"), existing = files.Restored, missing = files.Dir.File("none.bin");
  const std::string truncated = files.Dir.File("short.bin"), large = files.Dir.File("large.bin");
  const std::string badSource = files.Dir.File("bad.c"), slots = files.Dir.File("slots.bin");
  WriteFile(truncated, ReadFile(files.Image).substr(0, 100));
  WriteFile(large, "1s" + std::string(65536, '\0'));
  WriteFile(badSource, testing::Replaced(ReadFile(files.Source), "0x73,", "0x73;"));
  const std::vector<std::uint8_t> seven = EncodeImage({std::vector<std::string>(7), {}});
  WriteFile(slots, std::string(seven.begin(), seven.end()));
  const std::string before = ReadFile(existing);
  const struct {
    Texts Arguments;
    int Status;
    std::string Err;
  } cases[] = {
      {{"import", files.Image}, 2, "--output is required"},
      {{"import", "-o", project}, 2, "INPUT is required"},
      {{"import", files.Image, "-o", existing}, 1, "Cannot create file " + existing + ": it exists; --force replaces it\n"},
      {{"import", files.Image, "-o", files.Image, "--force"}, 1, "Cannot create file " + files.Image + ": it is the file being imported\n"},
      {{"import", missing, "-o", project}, 1, "Cannot open file " + missing + ": no such file\n"},
      {{"import", truncated, "-o", project}, 1, truncated + ": offset 2: length word 271 does not match the file size 100\n"},
      {{"import", large, "-o", project}, 1, large + ": file is longer than the largest possible image of 65535 bytes\n"},
      {{"import", badSource, "-o", project}, 1, badSource + ": line 6: \"\\t0x73;\" where an export writes a byte, such as \"\\t0x1F,\"\n"},
      {{"import", slots, "-o", project}, 1, slots + ": the image has 7 phone slots, and a project has 8\n"},
      {{"import", Example, "-o", project}, 1, Example + ": a project file, not a configuration image or its firmware source\n"},
      {{"diff", Example}, 2, "B is required"},
      {{"diff", Example, files.Image, files.Source}, 2, "The following argument was not expected"},
      {{"diff", Example, missing}, 2, "Cannot open file " + missing + ": no such file\n"},
      {{"diff", truncated, Example}, 2, truncated + ": offset 2: length word 271 does not match the file size 100\n"},
  };
  for (const auto& c : cases) {
    const ProcessResult run = Cli(c.Arguments);
    EXPECT_EQ(run.Status, c.Status) << ::testing::PrintToString(c.Arguments);
    EXPECT_EQ(run.Out, "") << ::testing::PrintToString(c.Arguments);
    EXPECT_TRUE(run.Err.find(c.Err) != std::string::npos) << ::testing::PrintToString(c.Arguments) << ": " << run.Err;
  }
  EXPECT_EQ(out.EntryCount(), 0u);
  EXPECT_EQ(ReadFile(existing), before);
  EXPECT_EQ(Cli({"import", files.Image, "-o", existing, "--force"}).Status, 0);
}

}  // namespace
}  // namespace smsconf
