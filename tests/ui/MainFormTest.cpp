// The main window driven as the engineer drives it: start-up, the project
// file commands, the unsaved-changes question and the export.

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMenu>

#include <optional>

#include "common/GuiTest.h"
#include "loading/DialogLoading.h"
#include "ui/Application.h"
#include "ui/FrameEventList.h"
#include "UiFixture.h"

namespace smsconf::testing {
namespace {

const std::string Sample = std::string(SMSCONF_SOURCE_DIR) + "/examples/pumping-station.sms";

TEST(Application, TitleIsTheExecutableNameCapitalised) {
  for (const auto& [path, title] : std::vector<std::pair<QString, QString>>{
           {"/usr/bin/smsconf", "Smsconf"}, {"C:/Tools/SMSCONF.EXE", "Smsconf"},
           {"/opt/sms.conf.bin", "Sms"}}) {
    EXPECT_EQ(TApplication::TitleFor(path), title) << path.toStdString();
  }
}

struct StartCase {
  const char* Name;
  std::string (*Path)(const TempDir&);
  QString ErrorBox;  // start of the box's text; empty: no box
  QString EventsCaption;
  QString SaveError;  // what "Сохранить" then reports; empty: it writes the file
};

const StartCase StartCases[] = {
    {"existing project", [](const TempDir&) { return Sample; }, "", "Сообщения (8)", ""},
    {"missing file", [](const TempDir& d) { return d.File("new.sms"); }, "", "Сообщения (0)", ""},
    {"no argument", [](const TempDir&) { return std::string(); }, "", "Сообщения (0)",
     "Cannot create file "},
    {"unreadable file", [](const TempDir& d) { return d.Path.string(); }, "Cannot open file ",
     "Сообщения (0)", "Cannot open file "},
};

TEST_F(UiTest, StartUpShowsTheProjectOrABlankOneAndSaveWritesItsFile) {
  for (const StartCase& c : StartCases) {
    SCOPED_TRACE(c.Name);
    const std::string path = c.Path(Dir);
    BoxSeen error;
    {
      ModalAnswer answer(BoxReply(QMessageBox::Ok, &error));
      Open(path);
    }
    EXPECT_EQ(error.Text.left(c.ErrorBox.size()), c.ErrorBox);
    EXPECT_EQ(error.Text.isEmpty(), c.ErrorBox.isEmpty());
    EXPECT_EQ(Caption("FrmEventList1"), c.EventsCaption);
    EXPECT_EQ(Caption("FrmPhoneList1"), "Абоненты (8)");
    EXPECT_EQ(Window->windowTitle(), TApplication::Title());
    EXPECT_TRUE(Named<QPushButton>(Window.get(), "Загрузить в АУ...")->isEnabled());
    if (path == Sample) continue;  // the sample stays untouched

    BoxSeen saveError;
    ModalAnswer answer(BoxReply(QMessageBox::Ok, &saveError));
    Press("Сохранить");
    EXPECT_EQ(saveError.Text.left(c.SaveError.size()), c.SaveError);
    EXPECT_EQ(saveError.Text.isEmpty(), c.SaveError.isEmpty());
    if (c.SaveError.isEmpty()) {
      EXPECT_TRUE(QFile::exists(QString::fromStdString(path)));
    }
  }
}

TEST_F(UiTest, OpenAndSaveAsGoThroughTheFileDialogsAndCancelChangesNothing) {
  Open(Dir.File("first.sms"));
  AddEvent({.Pin = 4, .Text = "x"});
  const QString copy = QString::fromStdString(Dir.File("copy"));
  ModalAnswer answers({ChooseFile(""), ChooseFile(copy), ChooseFile(""), ChooseFile(copy + ".sms")});

  Press("Сохранить как...");  // cancelled
  EXPECT_EQ(Window->Project->FileName, Dir.File("first.sms"));
  EXPECT_TRUE(Window->Modified);

  Press("Сохранить как...");
  EXPECT_EQ(Window->Project->FileName, Dir.File("copy.sms")) << "the suffix completes the name";
  EXPECT_FALSE(Window->Modified);
  EXPECT_EQ(Window->SaveDialog1->windowTitle(), "Сохранить как...");
  EXPECT_EQ(Window->SaveDialog1->nameFilters(),
            QStringList({"Конфигурация SMS *.sms (*.sms)", "Все файлы *.* (*)"}));

  Press("Новый...");
  EXPECT_EQ(Caption("FrmEventList1"), "Сообщения (0)");
  EXPECT_EQ(Window->Project->FileName, Dir.File("copy.sms"));

  Press("Открыть...");  // cancelled
  EXPECT_EQ(Caption("FrmEventList1"), "Сообщения (0)");

  Press("Открыть...");
  EXPECT_EQ(Cell(Events(), 0, 1), "DI4-R-0");
  EXPECT_EQ(Window->OpenDialog1->windowTitle(), "Загрузить файл...");
  EXPECT_EQ(Window->OpenDialog1->directory().absolutePath(), QApplication::applicationDirPath());
  EXPECT_TRUE(answers.Answered());
}

struct QuestionCase {
  const char* Name;
  QMessageBox::StandardButton Answer;
  bool SaveFails;
  bool Discarded;  // the project's content was dropped afterwards
  bool Saved;      // the file holds the event afterwards
};

const QuestionCase QuestionCases[] = {
    {"yes", QMessageBox::Yes, false, true, true},
    {"no", QMessageBox::No, false, true, false},
    {"cancel", QMessageBox::Cancel, false, false, false},
    {"yes, but the save fails", QMessageBox::Yes, true, false, false},
};

TEST_F(UiTest, UnsavedChangesAreNeverDroppedWithoutTheUsersWord) {
  const QString empty = QString::fromStdString(Dir.File("empty.sms"));
  WriteFile(empty.toStdString(), "");
  const std::pair<const char*, std::function<void(UiTest&)>> commands[] = {
      {"new", [](UiTest& t) { t.Press("Новый..."); }},
      {"open", [](UiTest& t) { t.Press("Открыть..."); }},
      {"close", [](UiTest& t) { t.Window->close(); }},
  };
  for (const auto& [command, run] : commands) {
    for (const QuestionCase& c : QuestionCases) {
      SCOPED_TRACE(std::string(command) + ", " + c.Name);
      std::remove(Dir.File("p.sms").c_str());
      Open(c.SaveFails ? Dir.File("missing/p.sms") : Dir.File("p.sms"));
      AddEvent({.Pin = 9, .Text = "keep"});
      BoxSeen question;
      BoxSeen saveError;
      ModalAnswer answers({BoxReply(c.Answer, &question),
                           c.SaveFails ? BoxReply(QMessageBox::Ok, &saveError) : ChooseFile(empty)});
      run(*this);
      EXPECT_EQ(question.Text, "Сохранить изменения в проекте?");
      EXPECT_EQ(saveError.Text.startsWith("Cannot create file"), c.SaveFails);
      const bool dropped = Window->Project->Events->Count() == 0 || !Window->isVisible();
      EXPECT_EQ(dropped, c.Discarded);
      EXPECT_EQ(ReadFile(Dir.File("p.sms")).find("Pin=9") != std::string::npos, c.Saved);
    }
  }
}

TEST_F(UiTest, ExportReportsTheImageSizeOrTheReasonItFailed) {
  Open("");
  BoxSeen report;
  BoxSeen error;
  ModalAnswer answers({BoxReply(QMessageBox::Ok, &report), BoxReply(QMessageBox::Ok, &error)});
  QTest::keyClick(Window.get(), Qt::Key_F9);
  EXPECT_EQ(report.Text, "Экспорт конфигурации завершен: 28 байт.");
  EXPECT_EQ(report.Icon, QMessageBox::Information);
  EXPECT_EQ(ReadFile(Dir.File("sms.bin")).size(), 28u);

  ::setenv("HOME", Dir.File("no-such-folder").c_str(), 1);
  Press("Экспорт");
  EXPECT_TRUE(error.Text.startsWith("Cannot create file")) << error.Text.toStdString();
  EXPECT_EQ(error.Icon, QMessageBox::Critical);
}

// Screen readers and end-to-end tools find every control by its visible
// text, and read the tables' cells.
TEST_F(UiTest, EveryControlAndCellHasItsVisibleTextAsAccessibleName) {
  Open(Sample);
  for (QWidget* control : Window->findChildren<QWidget*>()) {
    if (!control->isVisible() || control->focusPolicy() == Qt::NoFocus) continue;
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(control);
    EXPECT_FALSE(face->text(QAccessible::Name).isEmpty()) << control->objectName().toStdString();
  }
  QAccessibleTableInterface* table = QAccessible::queryAccessibleInterface(Events())->tableInterface();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->cellAt(4, 1)->text(QAccessible::Name), "DI5-F-300");
  EXPECT_EQ(table->columnDescription(1), "Триггер");
}

struct StaleCase {
  const char* Name;
  bool Edited;       // an event added after the project was opened
  bool ImageOlder;   // the image's time before the project file's
  std::optional<QMessageBox::StandardButton> Answer;  // none: not asked
  bool Exported;
  bool Loaded;       // the loading dialog opened
};

const StaleCase StaleCases[] = {
    {"image newer, unchanged", false, false, std::nullopt, false, true},
    {"event added, yes", true, false, QMessageBox::Yes, true, true},
    {"event added, no", true, false, QMessageBox::No, false, true},
    {"event added, cancel", true, false, QMessageBox::Cancel, false, false},
    {"image older than the project file", false, true, QMessageBox::No, false, true},
};

// "Загрузить в АУ..." sends the image file; one that may not be the
// project's is exported first if the user says so.
TEST_F(UiTest, LoadingAStaleImageAsksToExportFirst) {
  const std::string project = Dir.File("p.sms");
  const std::string image = Dir.File("sms.bin");
  for (const StaleCase& c : StaleCases) {
    SCOPED_TRACE(c.Name);
    Open(project);
    {
      ModalAnswer report(BoxReply(QMessageBox::Ok));
      Press("Сохранить");
      Press("Экспорт");
    }
    const QDateTime saved = QFileInfo(QString::fromStdString(project)).lastModified();
    QFile imageFile(QString::fromStdString(image));
    ASSERT_TRUE(imageFile.open(QIODevice::ReadWrite));
    ASSERT_TRUE(imageFile.setFileTime(saved.addSecs(c.ImageOlder ? -3600 : 3600), QFileDevice::FileModificationTime));
    imageFile.close();
    Open(project);  // a new run, which has exported nothing yet
    if (c.Edited) AddEvent({.Pin = 7, .Text = "new"});
    const std::string before = ReadFile(image);

    BoxSeen question;
    bool loaded = false;
    std::vector<ModalAnswer::Answer> steps;
    // A box expected but not come: what came is closed, and the count tells.
    const auto reply = [](QMessageBox::StandardButton which, BoxSeen* seen) -> ModalAnswer::Answer {
      return [which, seen](QWidget* modal) {
        if (qobject_cast<QMessageBox*>(modal) == nullptr) return void(modal->close());
        BoxReply(which, seen)(modal);
      };
    };
    if (c.Answer) steps.push_back(reply(*c.Answer, &question));
    if (c.Exported) steps.push_back(reply(QMessageBox::Ok, nullptr));
    // Closes whatever comes next, noting whether it is the loading dialog.
    steps.push_back([&](QWidget* modal) {
      loaded = qobject_cast<TDlgLoading*>(modal) != nullptr;
      modal->close();
    });
    ModalAnswer answers(steps);
    Press("Загрузить в АУ...");
    EXPECT_EQ(answers.Count(), steps.size() - (c.Loaded ? 0 : 1));
    EXPECT_EQ(question.Text.endsWith("\nВыполнить экспорт перед загрузкой?"), c.Answer.has_value()) << question.Text.toStdString();
    EXPECT_EQ(ReadFile(image) != before, c.Exported);
    EXPECT_EQ(loaded, c.Loaded);
    if (!c.Exported) continue;

    // Exported in this run and unchanged since: a save makes the project
    // file the newer one, but the image is the project's all the same.
    Activate();
    Press("Сохранить");
    ModalAnswer again([&](QWidget* modal) {
      loaded = qobject_cast<TDlgLoading*>(modal) != nullptr;
      modal->close();
    });
    loaded = false;
    Press("Загрузить в АУ...");
    EXPECT_TRUE(loaded) << "asked again";
  }
}

}  // namespace
}  // namespace smsconf::testing
