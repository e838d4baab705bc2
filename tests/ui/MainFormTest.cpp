// The main window driven as the engineer drives it: start-up, the project
// file commands, the unsaved-changes question and the export.

#include <QAccessible>
#include <QDir>
#include <QGroupBox>
#include <QMenu>
#include <QSplitter>

#include <filesystem>
#include <optional>

#include "files/ExportPaths.h"
#include "loading/DialogLoading.h"
#include "ui/Application.h"
#include "ui/CorePath.h"
#include "ui/DialogPhone.h"
#include "ui/ReportView.h"
#include "UiFixture.h"
#include "common/ChildProcess.h"

namespace smsconf::testing {
namespace {

const std::string Sample = std::string(SMSCONF_SOURCE_DIR) + "/examples/pumping-station.sms";

// The toolkit's own texts are Russian, whatever the system's language.
TEST(Application, TitleIsTheExecutableNameCapitalisedAndTheToolkitSpeaksRussian) {
  EXPECT_EQ(TApplication::TitleFor("/usr/bin/smsconf"), "Smsconf");
  EXPECT_EQ(TApplication::TitleFor("C:/Tools/SMSCONF.EXE"), "Smsconf");
  EXPECT_EQ(TApplication::TitleFor("/opt/sms.conf.bin"), "Sms");
  QMessageBox box(QMessageBox::Question, "", "", QMessageBox::Yes | QMessageBox::Cancel);
  EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove(u'&') + box.button(QMessageBox::Cancel)->text(), "ДаОтмена");
}

// --version and --help are answered before the toolkit starts, so they need
// no display; the version is the command line tool's, and one that cannot
// be written fails.
TEST(Program, VersionAndHelpNeedNoDisplay) {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM"), display = qgetenv("DISPLAY");
  qunsetenv("QT_QPA_PLATFORM");
  qunsetenv("DISPLAY");
  const std::pair<std::string, std::string> cases[] = {
      {"--version", "smsconf " SMSCONF_VERSION},
      {"--help", "Usage: smsconf [PROJECT.sms]\n"},
      {"-h", "Usage: smsconf [PROJECT.sms]\n"},
  };
  for (const auto& [option, start] : cases) {
    const ProcessResult run = RunProcess({SMSCONF_GUI_PROGRAM, option});
    EXPECT_EQ(run.Status, 0) << option << ": " << run.Err;
    EXPECT_TRUE(run.Out.starts_with(start)) << option << ": " << run.Out;
  }
  const std::string gui = RunProcess({SMSCONF_GUI_PROGRAM, "--version"}).Out;
  const std::string cli = RunProcess({SMSCONF_CLI_PROGRAM, "--version"}).Out;
  EXPECT_EQ(gui.substr(gui.find(' ')), cli.substr(cli.find(' ')));
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  const ProcessResult lost = RunProcess({SMSCONF_GUI_PROGRAM, "--version"}, full);
  ::close(full);
  EXPECT_EQ(lost.Status, 1);
  EXPECT_EQ(lost.Err, "smsconf: cannot write the output\n");
  qputenv("QT_QPA_PLATFORM", platform);
  if (!display.isEmpty()) qputenv("DISPLAY", display);
}

// The file named on the command line, in the test's folder unless absolute
// (empty: none), what is written there first (null: nothing); the text of
// the box that start-up shows (%1: the path), its icon and its details; the
// events, the file's part of the title, and what "Сохранить" then opens: the
// start of an error box's text, or the save dialog's title (empty: nothing).
const QString OddOpened = "Файл \"%1\" открыт, но не всё в нём читается так, как кажется:\n\n"
                          "Строка 1, [Phone9] не читается: абоненты — это Phone0 … Phone7\n"
                          "Строка 4, [Event0] Neg: Neg 2 — ни 0 (фронт), ни 1 (срез); читается как срез\n"
                          "Строка 5, [Event0] Pin: Pin 40 вне входов 0 … 31\n"
                          "Строка 6, [Event0] Delay: \"x\" — не целое число в 32-битном диапазоне; читается как 0\n"
                          "Строка 7, [Event0] Send: Send 256 вне 0 … 255; в счёт идут только младшие 8 бит: 0";
const std::tuple<std::string, const char*, QString, QMessageBox::Icon, QString, int, QString, QString> StartCases[] = {
    {Sample, nullptr, "", {}, "", 8, "pumping-station.sms", ""},
    {"new.sms", nullptr, "", {}, "", 0, "new.sms", ""},
    {"", nullptr, "", {}, "", 0, "Без имени", "Сохранить как..."},
    {".", nullptr, "Cannot open file %1: это папка", QMessageBox::Critical, "", 0, ".", "Cannot open file "},
    // Six findings about how the file reads, and one about content that the
    // window lets the user make (no recipients), which it does not show;
    // five fit the box without details.
    {"odd.sms", "[Phone9]\r\nNumber=1\r\n[Event0]\r\nNeg=2\r\nPin=40\r\nDelay=x\r\nSend=256\r\n[Event2]\r\nPin=1\r\n",
     OddOpened.arg("odd.sms") + "\n\nЕщё 1 — в подробностях.", QMessageBox::Warning,
     "Строка 8, [Event2] не читается: события читаются с Event0 до первой отсутствующей или пустой секции, "
     "здесь Event1",
     1, "odd.sms", ""},
    {"five.sms", "[Phone9]\r\nNumber=1\r\n[Event0]\r\nNeg=2\r\nPin=40\r\nDelay=x\r\nSend=256\r\n",
     OddOpened.arg("five.sms"), QMessageBox::Warning, "", 1, "five.sms", ""},
};

// Notes what a modal window said and closes it, a message box by its OK.
ModalAnswer::Answer NoteAndClose(QString* seen) {
  return [seen](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    *seen = box != nullptr ? box->text() : modal->windowTitle();
    box != nullptr ? BoxReply(QMessageBox::Ok)(box) : void(modal->close());
  };
}

TEST_F(UiTest, StartUpShowsTheProjectOrABlankOneAndSaveWritesItsFile) {
  for (const auto& [file, content, text, icon, details, events, title, saveReply] : StartCases) {
    const std::string path = file.empty() || file[0] == '/' ? file : Dir.File(file);
    SCOPED_TRACE(path);
    if (content != nullptr) WriteFile(path, content);
    BoxSeen box;
    Open(path, {BoxReply(QMessageBox::Ok, &box)});
    EXPECT_EQ(box.Text, QString(text).replace("%1", QString::fromStdString(path)));
    EXPECT_EQ(box.Icon, icon);
    EXPECT_EQ(box.Details, details);
    EXPECT_EQ(EventsCaption(), QString("Сообщения (%1)").arg(events));
    EXPECT_EQ(Window->windowTitle(), title + " — " + TApplication::Title());
    EXPECT_TRUE(Named<QPushButton>(Window.get(), "Загрузить в АУ...")->isEnabled());
    // A screen smaller than the designed window (offscreen: 800 x 600) takes it whole.
    EXPECT_TRUE(Window->screen()->availableGeometry().contains(Window->frameGeometry()));
    if (path == Sample) continue;  // the sample stays untouched

    QString replied;
    Press("Сохранить", {NoteAndClose(&replied)});
    EXPECT_TRUE(saveReply.isEmpty() ? replied.isEmpty() : replied.startsWith(saveReply)) << replied;
    EXPECT_EQ(QFile::exists(QString::fromStdString(path)), !path.empty());
  }
}

// The title names the file that "Сохранить" writes and marks changes since.
TEST_F(UiTest, OpenAndSaveAsGoThroughTheFileDialogsAndCancelChangesNothing) {
  const auto title = [this] { return Window->windowTitle().chopped(TApplication::Title().size() + 3); };
  Open(Dir.File("first.sms"));
  AddEvent({.Pin = 4, .Text = "x"});
  const QString copy = QString::fromStdString(Dir.File("copy"));
  BoxSeen writeError;
  BoxSeen replace;
  ModalAnswer answers({ChooseFile(""), ChooseFile(copy),
                       [this](QWidget* modal) {  // a folder that goes before the save
                         std::filesystem::create_directory(Dir.File("gone"));
                         auto* dialog = qobject_cast<QFileDialog*>(modal);
                         ASSERT_NE(dialog, nullptr);
                         // Chosen at once, not typed: the folder view, still loading, may
                         // put the preset name back; any name in the folder will do.
                         dialog->selectFile(QString::fromStdString(Dir.File("gone/x.sms")));
                         static_cast<QDialog*>(dialog)->accept();
                         std::filesystem::remove(Dir.File("gone"));
                       },
                       BoxReply(QMessageBox::Ok, &writeError), BoxReply(QMessageBox::No, &replace),
                       ChooseFile(copy + ".sms"), BoxReply(QMessageBox::Yes)});

  Press("Сохранить как...");  // cancelled
  EXPECT_EQ(title(), "first.sms*");
  Press("Сохранить как...");
  EXPECT_EQ(title(), "copy.sms") << "the suffix completes the name";
  EXPECT_EQ(Window->SaveDialog1->windowTitle(), "Сохранить как...");
  EXPECT_EQ(Window->SaveDialog1->nameFilters(), QStringList({"Конфигурация SMS *.sms (*.sms)", "Все файлы *.* (*)"}));
  Press("Сохранить как...");  // into a folder that is gone
  EXPECT_TRUE(writeError.Text.startsWith("Cannot create file")) << writeError.Text;
  EXPECT_EQ(Window->Project->FileName, Dir.File("copy.sms")) << "a failed save keeps the name";

  // "Новый..." keeps the file name; its first save asks before replacing
  // the file, and No, the default, writes nothing.
  const std::string saved = ReadFile(Dir.File("copy.sms"));
  Press("Новый...");
  EXPECT_EQ(title(), "copy.sms");
  Press("Сохранить");
  EXPECT_EQ(replace.Text, "Файл \"copy.sms\" уже существует. Заменить его новым проектом?");
  EXPECT_EQ(replace.Default, QMessageBox::No);
  EXPECT_EQ(ReadFile(Dir.File("copy.sms")), saved);

  Press("Открыть...");
  EXPECT_EQ(Cell(Events(), 0, 1), "DI4-R-0");
  EXPECT_EQ(Window->OpenDialog1->windowTitle(), "Загрузить файл...");

  Press("Новый...");
  Press("Сохранить");  // Yes
  EXPECT_EQ(ReadFile(Dir.File("copy.sms")).find("Pin=4"), std::string::npos);
  EXPECT_EQ(answers.Count(), 7u);
}

enum class SaveTo { File, MissingFolder, Untitled };

// The answer, where "Да" saves the project, and whether its content was
// dropped and the file holds the change afterwards.
const std::tuple<const char*, QMessageBox::StandardButton, SaveTo, bool, bool> QuestionCases[] = {
    {"yes", QMessageBox::Yes, SaveTo::File, true, true},
    {"no", QMessageBox::No, SaveTo::File, true, false},
    {"cancel", QMessageBox::Cancel, SaveTo::File, false, false},
    {"yes, but the save fails", QMessageBox::Yes, SaveTo::MissingFolder, false, false},
    // A project without a name asks for one, and Cancel there is no save.
    {"yes, then cancel in the save dialog", QMessageBox::Yes, SaveTo::Untitled, false, false},
};

TEST_F(UiTest, UnsavedChangesAreNeverDroppedWithoutTheUsersWord) {
  const QString empty = QString::fromStdString(Dir.File("empty.sms"));
  WriteFile(empty.toStdString(), "");
  const auto addEvent = [](UiTest& t) { t.AddEvent({.Pin = 9, .Text = "keep"}); };
  const std::tuple<const char*, std::function<void(UiTest&)>, std::function<void(UiTest&)>> commands[] = {
      {"new", addEvent, [](UiTest& t) { t.Press("Новый..."); }},
      {"open", addEvent, [](UiTest& t) { t.Press("Открыть..."); }},
      {"close after a phone edit", [](UiTest& t) { t.EditPhone(3, "+7999"); }, [](UiTest& t) { t.Window->close(); }},
  };
  for (const auto& [command, change, run] : commands) {
    for (const auto& [name, reply, target, discarded, saved] : QuestionCases) {
      SCOPED_TRACE(std::string(command) + ", " + name);
      std::remove(Dir.File("p.sms").c_str());
      Open(target == SaveTo::Untitled ? "" : Dir.File(target == SaveTo::File ? "p.sms" : "missing/p.sms"));
      change(*this);
      BoxSeen question;
      BoxSeen saveError;
      QString findings;  // or the title of a file dialog that should not have come
      ModalAnswer answers({BoxReply(reply, &question),
                           target == SaveTo::MissingFolder ? BoxReply(QMessageBox::Ok, &saveError)
                                                           : ChooseFile(target == SaveTo::File ? empty : ""),
                           NoteAndClose(&findings)});
      run(*this);
      EXPECT_EQ(question.Text, "Сохранить изменения в проекте?");
      EXPECT_EQ(saveError.Text.startsWith("Cannot create file"), target == SaveTo::MissingFolder);
      // The empty file opened is no project, and the window says so.
      EXPECT_EQ(findings.endsWith("\nнет ни одной секции Phone или Event: файл открывается как пустой проект"),
                std::string(command) == "open" && discarded)
          << findings;
      const bool kept = Window->Project->Events->Count() == 1 || Window->Project->Phones->Get(3)->Number == "+7999";
      EXPECT_EQ(!kept || !Window->isVisible(), discarded);
      const std::string file = ReadFile(Dir.File("p.sms"));
      EXPECT_EQ(file.find("Pin=9") != std::string::npos || file.find("Number=+7999") != std::string::npos, saved);
    }
  }
}

// The reasons are the program's own words in Russian; a file error keeps its
// fixed beginning, and the path is there whole, Cyrillic and all.
TEST_F(UiTest, ExportReportsTheImageSizeOrTheReasonItFailed) {
  Open("");
  BoxSeen report;
  Press("Экспорт", {BoxReply(QMessageBox::Ok, &report)});
  EXPECT_EQ(report.Text, "Экспорт конфигурации завершен: 28 байт.");
  EXPECT_EQ(report.Icon, QMessageBox::Information);
  EXPECT_EQ(report.Informative, "Записаны файлы:\n" + QString::fromStdString(Dir.File("sms.bin")) + "\n" +
                                    QString::fromStdString(Dir.File("stdcfg.c")));
  EXPECT_EQ(ReadFile(Dir.File("sms.bin")).size(), 28u);
  ::setenv("HOME", Dir.File("Объекты/Насосная").c_str(), 1);
  Press("Экспорт", {BoxReply(QMessageBox::Ok, &report)});
  EXPECT_EQ(report.Text, "Cannot create file " + QtPath(DefaultImagePath().c_str()) + ": нет такой папки");
  EXPECT_EQ(report.Icon, QMessageBox::Critical);
}

// Picks entry `key` ('1'..'8', or 0 for Escape) of the pop-up menu that
// `open` shows, and gives the menu's entries.
QStringList PickFromMenu(const std::function<void()>& open, char key) {
  QStringList entries;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr || !menu->isVisible()) return;
    poll.stop();
    for (const QAction* action : menu->actions()) entries << action->text();
    QTest::keyClick(menu, key == 0 ? Qt::Key_Escape : Qt::Key(key));
  });
  poll.start(5);
  open();
  WaitUntil([&poll] { return !poll.isActive(); }, 2000);
  return entries;
}

// The file dialogs start where the user last chose a file, never in the
// program's folder, and the recent projects outlive the run.
TEST_F(UiTest, FileDialogsAndRecentProjectsAreKeptAcrossRuns) {
  for (const char* folder : {"Documents", "site"}) std::filesystem::create_directories(Dir.File(folder));
  for (const char* name : {"a.sms", "b.sms"}) std::filesystem::copy_file(Sample, Dir.File("site/") + name);
  const QString site = QString::fromStdString(Dir.File("site"));
  QString startedIn;
  const ModalAnswer::Answer noteFolderAndCancel = [&startedIn](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    startedIn = dialog != nullptr ? dialog->directory().absolutePath() : "not a file dialog";
    modal->close();
  };
  // Through the button: the offscreen platform may leave the keys in a
  // closed file dialog.
  const auto recent = [this](char key) {
    return PickFromMenu([this] { Click(Window.get(), "Последние проекты"); }, key);
  };

  Open("");
  EXPECT_EQ(PickFromMenu([this] { QTest::keyClick(Window.get(), Qt::Key_R, Qt::ControlModifier); }, 0),
            QStringList{"Список пуст"});
  Press("Открыть...", {noteFolderAndCancel});
  Press("Открыть...", {ChooseFile(site + "/a.sms")});
  Press("Открыть...", {ChooseFile(site + "/b.sms")});
  EXPECT_EQ(startedIn, QString::fromStdString(Dir.File("Documents")));

  Window.reset();  // the next run
  Open("");
  Press("Открыть...", {noteFolderAndCancel});
  EXPECT_EQ(startedIn, site);
  const QString folder = QStringLiteral("  (%1)").arg(QDir::toNativeSeparators(site));
  EXPECT_EQ(recent('2'), QStringList({"&1 b.sms" + folder, "&2 a.sms" + folder}));
  EXPECT_EQ(Window->Project->FileName, Dir.File("site/a.sms"));

  std::filesystem::remove(Dir.File("site/b.sms"));
  BoxSeen gone;
  ModalAnswer answer(BoxReply(QMessageBox::Ok, &gone));
  EXPECT_EQ(recent('2'), QStringList({"&1 a.sms" + folder, "&2 b.sms" + folder}));
  EXPECT_TRUE(gone.Text.contains("не найден")) << gone.Text;
  EXPECT_EQ(Window->Project->FileName, Dir.File("site/a.sms")) << "the open project stays";
  EXPECT_EQ(recent(0), QStringList{"&1 a.sms" + folder});
}

// A keyboard alone reaches every command: Tab leaves the tables, a table
// reached by Tab has a row to act on, and each command has its key.
TEST_F(UiTest, TheKeyboardReachesEveryCommand) {
  Open(Sample);
  Named<QPushButton>(Window.get(), "Экспорт")->setFocus();
  QStringList reached;
  for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Backtab}) {
    QTest::keyClick(QApplication::focusWidget(), key);
    reached << UserName(QApplication::focusWidget());
  }
  EXPECT_EQ(reached, QStringList({"Сообщения", "Абоненты", "Новый...", "Абоненты", "Сообщения"}));
  BoxSeen question;
  ModalAnswer answer(BoxReply(QMessageBox::No, &question));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
  EXPECT_EQ(question.Text, "Удалить сообщение \"" + Cell(Events(), 0, 10) + "\"?");

  const auto alt = [](char16_t letter) { return QKeyCombination(Qt::AltModifier, Qt::Key(letter)); };
  const std::pair<QKeyCombination, const char*> keys[] = {
      {Qt::CTRL | Qt::Key_S, "ActionSave"},  {Qt::CTRL | Qt::SHIFT | Qt::Key_S, "ActionSaveAs"},
      {Qt::CTRL | Qt::Key_O, "ActionOpen"},  {QKeyCombination(Qt::Key_F9), "ActionCompile"},
      {alt(u'Н'), "ActionNew"},              {alt(u'О'), "ActionOpen"},
      {alt(u'С'), "ActionSave"},             {alt(u'К'), "ActionSaveAs"},
      {alt(u'З'), "ActionLoad"},             {alt(u'Э'), "ActionCompile"},
  };
  for (const auto& [key, action] : keys) {
    SCOPED_TRACE(QKeySequence(key).toString().toStdString());
    // A window of its own: the offscreen platform leaves the focus in a
    // closed file dialog.
    Open(Dir.File("keys.sms"));
    QString ran;
    QObject spy;  // ends the connections before `ran` goes
    for (QAction* each : Window->findChildren<QAction*>()) {
      QObject::connect(each, &QAction::triggered, &spy, [&ran, each] { ran = each->objectName(); });
    }
    // Escape closes each window a key opens (the export's report, a question).
    const ModalAnswer::Answer escape = [](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); };
    ModalAnswer close({escape, escape, escape});
    Key(key);
    WaitUntil([&ran] { return !ran.isEmpty(); }, 1000);  // a mnemonic clicks after a flash
    EXPECT_EQ(ran, action);
  }
}

// Screen readers and end-to-end tools know every control of every window by
// what it is: a labelled field by its label, never by its value, a button by
// its caption, and read the tables' cells.
TEST_F(UiTest, EveryControlOfEveryWindowIsNamedByWhatItIs) {
  Open(Sample);
  TDlgEvent event(Window.get());
  TDlgPhone phone(Window.get());
  TDlgLoading loading(Window.get());
  for (QWidget* window : std::initializer_list<QWidget*>{Window.get(), &event, &phone, &loading}) {
    window->show();
    for (QWidget* control : window->findChildren<QWidget*>()) {
      // A spin box's own line edit is not a control of its own.
      if (!control->isVisible() || control->objectName().startsWith("qt_")) continue;
      if (control->focusPolicy() == Qt::NoFocus && qobject_cast<QSplitter*>(control) == nullptr) continue;
      SCOPED_TRACE(window->objectName().toStdString() + "." + control->objectName().toStdString());
      const QString name = QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
      EXPECT_FALSE(name.isEmpty());
      for (const QLabel* label : window->findChildren<QLabel*>()) {
        if (label->buddy() == control) {
          EXPECT_EQ(name, QString(label->text()).remove('&'));
        }
      }
      const auto* combo = qobject_cast<QComboBox*>(control);
      EXPECT_NE(name, combo != nullptr ? combo->currentText() : QString());
      const auto* button = qobject_cast<QPushButton*>(control);
      EXPECT_EQ(name, button != nullptr ? button->text().remove('&') : name);
      // A group's title names its one field, not one of several.
      const auto* group = qobject_cast<QGroupBox*>(control->parentWidget());
      if (group != nullptr && group->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly).size() +
                                      group->findChildren<QSpinBox*>(Qt::FindDirectChildrenOnly).size() > 1) {
        EXPECT_NE(name, group->title());
      }
    }
    window->hide();
  }
  QAccessibleTableInterface* table = QAccessible::queryAccessibleInterface(Events())->tableInterface();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->cellAt(4, 1)->text(QAccessible::Name), "DI5-F-300");
  EXPECT_EQ(table->columnDescription(1), "Триггер");
}

const QKeyCombination Undo = Qt::CTRL | Qt::Key_Z;
const QKeyCombination Redo = Qt::CTRL | Qt::Key_Y;

// The project's events stand out of order, as a file may hold them, and
// two share input and edge: an undo gives back the order that was saved.
const char* const UndoProject =
    "[Phone5]\r\nNumber=+7111\r\nComment=old\r\n"
    "[Event0]\r\nPin=5\r\nText=c\r\n[Event1]\r\nPin=1\r\nText=a\r\n[Event2]\r\nPin=1\r\nText=b\r\n";
const QStringList UndoEvents = {"DI5-R-0|c", "DI1-R-0|a", "DI1-R-0|b"};

// One change, undone and redone: its table (the events' or else the
// phones') shows the rows before it after an undo and those after it after
// a redo, the changed row selected as after the change itself (-1: none).
const std::tuple<const char*, std::function<void(UiTest&)>, bool, QStringList, int, QStringList, int> UndoCases[] = {
    {"add", [](UiTest& t) { t.AddEvent({.Pin = 3, .Text = "new"}); }, true, UndoEvents, -1,
     {"DI1-R-0|a", "DI1-R-0|b", "DI3-R-0|new", "DI5-R-0|c"}, 2},
    {"edit", [](UiTest& t) { t.EditEvent(1, {.Pin = 7, .Text = "a"}); }, true, UndoEvents, 1,
     {"DI1-R-0|b", "DI5-R-0|c", "DI7-R-0|a"}, 2},
    {"delete",
     [](UiTest& t) {
       ModalAnswer answer(BoxReply(QMessageBox::Yes));
       t.Events()->setFocus();
       SelectRow(t.Events(), 0);  // the first row: no row above it to fall back on
       QTest::keyClick(t.Events(), Qt::Key_Delete);
     },
     true, UndoEvents, 0, {"DI1-R-0|a", "DI1-R-0|b"}, -1},
    {"phone", [](UiTest& t) { t.EditPhone(5, "+7222", "new"); }, false, {"+7111|old"}, 5, {"+7222|new"}, 5},
};

TEST_F(UiTest, ChangesAreUndoneAndRedoneWithTheirRowSelected) {
  WriteFile(Dir.File("p.sms"), UndoProject);
  for (const auto& [name, change, inEvents, before, beforeRow, after, afterRow] : UndoCases) {
    SCOPED_TRACE(name);
    Open(Dir.File("p.sms"));
    QTableView* table = inEvents ? Events() : Phones();
    const QList<int> columns = inEvents ? QList{1, 10} : QList{1, 2};  // the trigger and text, or number and comment
    QAction* undo = Control<QAction>(Window.get(), "ActionUndo");
    QAction* redo = Control<QAction>(Window.get(), "ActionRedo");
    const auto expect = [&](const char* step, const QStringList& rows, int selected, bool marked) {
      SCOPED_TRACE(step);
      EXPECT_EQ(Rows(table, columns), rows);
      EXPECT_EQ(SelectedRow(table), selected);
      EXPECT_EQ(Window->windowTitle().startsWith("p.sms* "), marked) << Window->windowTitle();
      EXPECT_EQ(undo->isEnabled(), marked);
      EXPECT_EQ(redo->isEnabled(), !marked);
    };
    change(*this);
    expect("changed", after, afterRow, true);
    Key(Undo);
    expect("undone", before, beforeRow, false);
    Key(Redo);
    expect("redone", after, afterRow, true);
    Key(Undo);
    Key(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
    expect("redone by Ctrl+Shift+Z", after, afterRow, true);
  }
}

// The title's mark follows the undo stack to and from the last save, and
// the image counts as the project's again when an undo returns to the last
// export; a new project and an opened one start without changes to undo.
TEST_F(UiTest, TheUndoStackKnowsTheSavedAndTheExportedProject) {
  const QString file = QString::fromStdString(Dir.File("s.sms"));
  const auto add = [](const char* text) { return [text](UiTest& t) { t.AddEvent({.Pin = 2, .Text = text}); }; };
  const auto key = [](QKeyCombination k) { return [k](UiTest& t) { t.Key(k); }; };
  const auto exportImage = [](UiTest& t) { t.Press("Экспорт", {BoxReply(QMessageBox::Ok)}); };
  // A step, and then the events, whether the title is marked, whether the
  // image may be stale (ModifiedSinceExport), and whether undo is offered.
  const std::tuple<const char*, std::function<void(UiTest&)>, int, bool, bool, bool> steps[] = {
      {"add a", add("a"), 1, true, true, true},
      {"save", [](UiTest& t) { t.Press("Сохранить"); }, 1, false, true, true},
      {"export", exportImage, 1, false, false, true},
      {"add b", add("b"), 2, true, true, true},
      {"undo b: the saved and exported project", key(Undo), 1, false, false, true},
      {"undo a: past both", key(Undo), 0, true, true, false},
      {"redo a", key(Redo), 1, false, false, true},
      {"undo a again", key(Undo), 0, true, true, false},
      {"add c where a stood", add("c"), 1, true, true, true},
      {"undo c", key(Undo), 0, true, true, false},
      {"export the empty project", exportImage, 0, true, false, false},
      {"new, not saved", [](UiTest& t) { t.Press("Новый...", {BoxReply(QMessageBox::No)}); }, 0, false, true, false},
      {"add d", add("d"), 1, true, true, true},
      {"undo d: empty, but not the exported project", key(Undo), 0, false, true, false},
      {"redo d", key(Redo), 1, true, true, true},
      {"open, not saved",
       [file](UiTest& t) { t.Press("Открыть...", {BoxReply(QMessageBox::No), UiTest::ChooseFile(file)}); }, 1,
       false, true, false},
      {"undo after open", key(Undo), 1, false, true, false},
  };
  Open(file.toStdString());
  QAction* undo = Control<QAction>(Window.get(), "ActionUndo");
  for (const auto& [name, action, events, marked, stale, canUndo] : steps) {
    SCOPED_TRACE(name);
    action(*this);
    EXPECT_EQ(Window->Project->Events->Count(), events);
    EXPECT_EQ(Window->windowTitle().startsWith("s.sms* "), marked) << Window->windowTitle();
    EXPECT_EQ(Window->ModifiedSinceExport, stale);
    EXPECT_EQ(undo->isEnabled(), canUndo);
  }
  EXPECT_EQ(Cell(Events(), 0, 10), "a") << "the file holds what was saved";
}

enum class Image { Newer, Older, Missing };  // than the project file
enum class Edit { None, Added, Undone };     // an event added after the project was opened

// The answer to the question whether to export first (none: not asked),
// whether the image was exported then, and whether the loading dialog opened.
const std::tuple<const char*, Edit, Image, std::optional<QMessageBox::StandardButton>, bool, bool> StaleCases[] = {
    {"image newer, unchanged", Edit::None, Image::Newer, std::nullopt, false, true},
    {"event added and undone", Edit::Undone, Image::Newer, std::nullopt, false, true},
    {"event added, Enter: export first", Edit::Added, Image::Newer, Enter, true, true},
    {"event added, no", Edit::Added, Image::Newer, QMessageBox::No, false, true},
    {"event added, cancel", Edit::Added, Image::Newer, QMessageBox::Cancel, false, false},
    {"image older than the project file", Edit::None, Image::Older, QMessageBox::No, false, true},
    {"no image at all", Edit::None, Image::Missing, QMessageBox::No, false, true},
};

// "Загрузить в АУ..." sends the image file; one that may not be the
// project's is exported first if the user says so.
TEST_F(UiTest, LoadingAStaleImageAsksToExportFirst) {
  const std::string project = Dir.File("p.sms");
  const std::string image = Dir.File("sms.bin");
  bool loaded = false;
  // Closes the window that comes, noting whether it is the loading dialog.
  const ModalAnswer::Answer noteLoading = [&loaded](QWidget* modal) {
    loaded = qobject_cast<TDlgLoading*>(modal) != nullptr;
    modal->close();
  };
  for (const auto& [name, edited, age, answer, exported, opened] : StaleCases) {
    SCOPED_TRACE(name);
    Open(project);
    Press("Сохранить");
    Press("Экспорт", {BoxReply(QMessageBox::Ok)});
    const auto saved = std::filesystem::last_write_time(project);
    std::filesystem::last_write_time(image, saved + std::chrono::hours(age == Image::Older ? -1 : 1));
    if (age == Image::Missing) std::filesystem::remove(image);
    Open(project);  // a new run, which has exported nothing yet
    if (edited != Edit::None) AddEvent({.Pin = 7, .Text = "new"});
    if (edited == Edit::Undone) Key(Undo);
    const std::string before = ReadFile(image);

    BoxSeen question;
    std::vector<ModalAnswer::Answer> steps;
    if (answer) steps.push_back(BoxReply(*answer, &question));
    if (exported) steps.push_back(BoxReply(QMessageBox::Ok));
    steps.push_back(noteLoading);
    loaded = false;
    Press("Загрузить в АУ...", steps);
    EXPECT_EQ(question.Text.endsWith("\nВыполнить экспорт перед загрузкой?"), answer.has_value()) << question.Text;
    EXPECT_EQ(ReadFile(image) != before, exported);
    EXPECT_EQ(loaded, opened);
    if (!exported) continue;

    // Exported in this run and unchanged since: a save makes the project
    // file the newer one, but the image is the project's all the same.
    Activate();
    Press("Сохранить");
    loaded = false;
    Press("Загрузить в АУ...", {noteLoading});
    EXPECT_TRUE(loaded) << "asked again";
  }
}

// "Открыть..." on an image or its source, whatever its name, offers the
// project restored from it, with what the image did not keep. Yes opens it
// unsaved and without a name, so that "Сохранить" asks where it goes; No
// and a damaged image leave the project as it was.
TEST_F(UiTest, OpeningAnImageOffersToRestoreItsProject) {
  const std::string image = Dir.File("backup.dat"), source = Dir.File("firmware.txt"), damaged = Dir.File("d.sms");
  CProject sample;
  sample.FileName = Sample;
  sample.Load();
  sample.Compile(source, image);
  WriteFile(damaged, ReadFile(image).substr(0, 100));
  const QString question = "Файл \"%1\" — не проект, а %2. Восстановить из него проект?";
  const QString notes = "в образе нет комментариев к абонентам: все восемь пусты\nсобытие 4, событие 5 восстановлены "
                        "как \"АВАРИЯ НАСОСА\": образ хранит тексты, различающиеся лишь регистром букв, один раз, в "
                        "первом написании";
  const struct {
    std::string File;
    QMessageBox::StandardButton Answer;
    QString Said;
    int Events;
    QString Title;
  } cases[] = {
      {damaged, QMessageBox::Ok,
       QString::fromStdString(damaged) + ": смещение 2: слово длины 271 не совпадает с размером файла 100", 1, "p.sms"},
      {image, QMessageBox::No, question.arg("backup.dat", "образ конфигурации"), 1, "p.sms"},
      {source, Enter, question.arg("firmware.txt", "исходный текст образа конфигурации"), 8, "Без имени*"},
  };
  Open(Dir.File("p.sms"));
  AddEvent({.Pin = 4, .Text = "x"});
  Press("Сохранить");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    BoxSeen seen;
    Press("Открыть...", {ChooseFile(QString::fromStdString(c.File)), BoxReply(c.Answer, &seen)});
    EXPECT_EQ(seen.Text, c.Said);
    EXPECT_EQ(seen.Informative, c.Answer == QMessageBox::Ok ? "" : notes);
    EXPECT_EQ(Window->Project->Events->Count(), c.Events);
    EXPECT_EQ(Window->windowTitle(), c.Title + " — " + TApplication::Title());
  }
  Press("Сохранить", {ChooseFile(QString::fromStdString(Dir.File("restored.sms")))});
  EXPECT_EQ(Window->windowTitle(), "restored.sms — " + TApplication::Title());
  Window->Project->Compile(Dir.File("again.c"), Dir.File("again.bin"));
  EXPECT_EQ(ReadFile(Dir.File("again.bin")), ReadFile(image));
}

}  // namespace
}  // namespace smsconf::testing
