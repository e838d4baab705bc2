#include "model/ProjectCheck.h"

#include "common/TempDir.h"
#include "model/Project.h"

#include <gtest/gtest.h>

namespace smsconf {
namespace {

using Findings = std::vector<std::string>;

// "line [Section] Key: message", and "(content)" after a finding about
// content the window itself lets the engineer make.
Findings Check(const std::string& file) {
  Findings lines;
  for (const ProjectFinding& f : CheckProjectText(file)) {
    lines.push_back(std::to_string(f.Line) + " [" + f.Section + "] " + f.Key + ": " +
                    f.Message.Render(text::Language::English) + (f.Content ? " (content)" : ""));
  }
  return lines;
}

// Lines 1 to 4 are a sound project: one event to a phone with a number.
const std::string Sound = "[Phone0]\nNumber=+7\n[Event0]\nSend=1\n";

TEST(ProjectCheck, NamesEveryPlaceThatDoesNotMeanWhatItSeems) {
  const std::string utf8 = "Привет";  // this source file is UTF-8
  const std::string notInteger = " is not an integer in the 32-bit range; read as 0";
  const std::string repeatedSend =
      "4 [Event0] Send: ignored: the key is repeated at line 5, and only the last value is read";
  const std::string afterGap =
      " : never read: events are read from Event0 up to the first missing or empty section, here Event1";
  const std::string plus = " Number: the number holds characters other than digits and one leading \"+\" (content)";
  const std::string blank = "0 [] : no Phone or Event section: the file loads as a blank project";
  const std::string longer = " characters, more than the 12 the phone dialog allows";
  std::string pastImage = Sound;  // 257 events, Event255 at line 513
  for (int i = 1; i < 257; ++i) pastImage += "[Event" + std::to_string(i) + "]\nSend=1\n";
  const struct {
    std::string text;
    Findings expected;
  } cases[] = {
      {Sound, {}},
      {Sound + "Pin=12abc", {"5 [Event0] Pin: \"12abc\"" + notInteger}},
      {Sound + "Delay=", {"5 [Event0] Delay: \"\"" + notInteger}},
      {Sound + "Pin=99999999999999999999", {"5 [Event0] Pin: \"99999999999999999999\"" + notInteger}},
      {Sound + "Pin=32", {"5 [Event0] Pin: Pin 32 is outside the inputs 0 to 31"}},
      {Sound + "Pin=0x1F\nDelay=3600\nNeg=1", {}},
      {Sound + "Delay=3601", {"5 [Event0] Delay: Delay 3601 is outside 0 to 3600 seconds"}},
      {Sound + "Neg=-1", {"5 [Event0] Neg: Neg -1 is neither 0 (rising) nor 1 (falling); read as falling"}},
      {Sound + "send=257",
       {repeatedSend, "5 [Event0] Send: Send 257 is outside 0 to 255; only its low 8 bits count: 1"}},
      {Sound + "[Event2]\nSend=1\n[Event00]\nSend=1",
       {"5 [Event2]" + afterGap, "7 [Event00] : never read: the load looks for Event0, without leading zeros"}},
      {Sound + "[Event1]\n[Event2]\nSend=1", {"6 [Event2]" + afterGap}},
      {Sound + "[Phone8]\nNumber=1", {"5 [Phone8] : never read: the phone slots are Phone0 to Phone7"}},
      {"[Phone0]\nNumber=+7-1\n[Event0]\nSend=1\n[event0]\nSend=1",  // found by a later pass, listed first
       {"2 [Phone0]" + plus,
        "3 [Event0] : ignored: the section is repeated at line 5, and only the last occurrence is read"}},
      {"\xEF\xBB\xBF" + Sound,
       {"1 [] : the file starts with a UTF-8 byte-order mark, so its first line is not read",
        "1 [] : 2 line(s) before the first section are not read",
        "4 [Event0] Send: sends to phone slot 0, whose number is empty (content)"}},
      {"; a comment\r\nkey=1\r\n" + Sound, {"2 [] : 1 line(s) before the first section are not read"}},
      {Sound + "Text=" + utf8, {"5 [Event0] Text: the text looks like UTF-8, not Windows-1251"}},
      {Sound + "Text=\xCF\xF0\xE8\xE2\xE5\xF2", {}},  // Привет in Windows-1251
      {Sound + "Text=a\x7Fz", {"5 [Event0] Text: the text holds control bytes"}},
      {"[Phone1]\nComment=a\x1b[2Jz\n", {"2 [Phone1] Comment: the text holds control bytes"}},
      {Sound + "Text=" + std::string(70, 'x'), {}},
      {Sound + "Text=" + std::string(71, 'x'),
       {"5 [Event0] Text: the text has 71 characters, more than the 70 the event dialog allows"}},
      {pastImage, {"513 [Event255] : the image holds at most 255 events; export refuses a project of 257"}},
      {Sound + "[Phone1]\nNumber=+79161234567\n[Phone2]\nNumber=102", {}},
      {Sound + "[Phone1]\nNumber=" + std::string(5000, '7'), {"6 [Phone1] Number: the number has 5000" + longer}},
      {Sound + "[Phone1]\nNumber=+791612345678", {"6 [Phone1] Number: the number has 13" + longer}},
      {Sound + "[Phone1]\nNumber=+7 916-12\n[Phone2]\nNumber=++7\n[Phone3]\nNumber=7+",
       {"6 [Phone1]" + plus, "8 [Phone2]" + plus, "10 [Phone3]" + plus}},
      {"[Other]\nkey=1\n", {blank}}, {"", {blank}},
      {"[Event0]\nPin=1\n", {"1 [Event0] Send: the event has no recipients (content)"}},
      {Sound + "Send=0x81", {repeatedSend, "5 [Event0] Send: sends to phone slot 7, whose number is empty (content)"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Check(c.text), c.expected) << c.text;
}

// A file of nothing but repeats lists a bounded number of them: the first
// in line order, though the number on line 2 is looked at after the repeats.
TEST(ProjectCheck, ListsAtMostAThousandFindings) {
  std::string text = "[Phone0]\nNumber=+7-1\n[Event0]\nSend=1\n";
  for (int i = 0; i < 2500; ++i) text += "[S]\n";
  const Findings findings = Check(text);
  ASSERT_EQ(findings.size(), 1001u);
  EXPECT_EQ(findings.front().substr(0, 18), "2 [Phone0] Number:");
  EXPECT_EQ(findings[999], "1003 [S] : ignored: the section is repeated at line 2504, and only the last occurrence is read");
  EXPECT_EQ(findings.back(), "0 [] : 1500 more findings are not listed");
}

// One line per event and per phone slot, every field, for comparing readers.
std::string Line(const CEvent& e) {
  return "event " + std::to_string(e.Neg) + " " + std::to_string(e.Pin) + " " + std::to_string(e.Delay) + " " +
         std::to_string(e.Send) + " [" + e.Text + "]";
}
std::string Line(const CPhone& p) { return "phone " + std::to_string(p.ID) + " [" + p.Number + "] [" + p.Comment + "]"; }

Findings Lines(const CProject& project) {
  Findings lines;
  for (int i = 0; i < project.Events->Count(); ++i) lines.push_back(Line(*project.Events->Get(i)));
  for (int i = 0; i < project.Phones->Count(); ++i) lines.push_back(Line(*project.Phones->Get(i)));
  return lines;
}

// The check and the load read a file each on their own: for files that test
// the reading rules, a project that takes what the check read (as the
// window's open does) ends up as the load makes it.
TEST(ProjectCheck, ReadsEveryFileAsTheLoadDoes) {
  const struct {
    const char* name;
    std::string text;
    int events;  // as both read it
  } cases[] = {
      {"repeated section, the last counts", "[Event0]\nPin=1\nSend=1\n[event0]\nPin=2\n", 1},
      {"repeated key, the last counts", "[Event0]\nPin=1\npin=2\nText=a\nTEXT=b\n", 1},
      {"gap in the numbering", "[Event0]\nPin=1\n[Event2]\nPin=3\n", 1},
      {"Event00 and Event01 beside Event0",
       "[Event0]\nPin=1\n[Event00]\nPin=5\n[Event01]\nPin=6\n[Event1]\nPin=2\n", 2},
      {"sections out of order", "[Event1]\nPin=2\n[Event0]\nPin=1\n", 2},
      {"byte-order mark", "\xEF\xBB\xBF[Event0]\nPin=1\n[Event1]\nPin=2\n", 0},
      {"lines before the first section", "Pin=9\n[x\n[Event0]\nPin=1\n", 1},
      {"malformed numbers", "[Event0]\nPin=12abc\nDelay=\nSend=9999999999\nNeg=x\n", 1},
      {"signs and hexadecimal", "[Event0]\nPin=+5\nDelay=0xFFFFFFFF\nSend=$1FF\nNeg=X10\n", 1},
      {"out of the dialogs' ranges", "[Event0]\nPin=-3\nDelay=4000\nNeg=-1\nText=" + std::string(90, 't') + "\n", 1},
      {"case of names", "[EVENT0]\nPIN=3\nsend=4\n[phone2]\nnumber=+7 999\nCOMMENT=c\n", 1},
      {"empty section stops the events", "[Event0]\nPin=1\n[Event1]\n\n[Event2]\nPin=3\n", 1},
      {"empty first section", "[Event0]\n[Event1]\nPin=1\n", 0},
      {"repeated section, the last empty", "[Event0]\nPin=1\n[Event0]\n", 0},
      {"a line without a key", "[Event0]\njunk\n[Event1]\n;Pin=5\n", 1},
      {"blanks around names and values", "[ Event0 ]\n Pin = 4 \n Text =  a b  \n\tDelay\t=\t7\n", 1},
      {"header with a comment after it", "[Event0] ; first\nPin=1\n", 0},
      {"CR and LF line ends", "[Event0]\rPin=6\r[Event1]\r\nPin=7\n[Event2]\nText=a\x01z\n", 3},
      {"phone sections", "[Phone8]\nNumber=1\n[Phone03]\nNumber=2\n[Phone3]\nComment=c\n[Phone7]\nNumber=\xCF\n", 0},
      {"an equals sign in a value", "[Event0]\nText=a=b\n=c\n[Phone0]\nNumber==1\n", 1},
  };
  testing::TempDir dir;
  const std::string path = dir.File("p.sms");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::WriteFile(path, c.text);
    ProjectRead read;
    CheckProjectFile(path, &read);
    CProject project;
    project.FileName = path;
    project.Load();
    EXPECT_EQ(project.Events->Count(), c.events);
    CProject taken;
    taken.Events->Add(std::make_unique<CEvent>());  // what it held goes
    taken.Phones->Get(1)->Comment = "held";
    taken.Load(read);
    EXPECT_EQ(Lines(taken), Lines(project));
  }
}

}  // namespace
}  // namespace smsconf
