// The main window driven as the engineer drives it: start-up, the project
// file commands, the unsaved-changes question and the export.

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QComboBox>
#include <QGroupBox>
#include <QSplitter>
#include <QTimer>
#include <QDir>

#include <filesystem>
#include <optional>

#include "common/GuiTest.h"
#include "loading/DialogLoading.h"
#include "files/ExportPaths.h"
#include "ui/Application.h"
#include "ui/DialogPhone.h"
#include "ui/CorePath.h"
#include "ui/FrameEventList.h"
#include "ui/ReportView.h"
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

// The toolkit's own texts are Russian like the program's, whatever the
// system's language.
TEST(Application, TheToolkitsButtonsSpeakRussian) {
  QMessageBox box(QMessageBox::Question, "", "", QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  for (const auto& [button, caption] : std::vector<std::pair<QMessageBox::StandardButton, QString>>{
           {QMessageBox::Yes, "Да"}, {QMessageBox::No, "Нет"}, {QMessageBox::Cancel, "Отмена"}}) {
    EXPECT_EQ(box.button(button)->text().remove(u'&'), caption);
  }
}

struct StartCase {
  const char* Name;
  std::string (*Path)(const TempDir&);
  QString Box;  // the text of the box that start-up shows, with %1 for the path; empty: no box
  QMessageBox::Icon Icon;
  QString Details;  // what the box keeps under "details"
  QString EventsCaption;
  const char* FileTitle;  // the file's part of the window title; null: not checked
  // What "Сохранить" then opens: the start of an error box's text, or the
  // save dialog's title; empty: it writes the file
  QString SaveReply;
};

// The path of a file of `text` made in the test's folder.
std::string Made(const TempDir& dir, const char* name, const char* text) {
  WriteFile(dir.File(name), text);
  return dir.File(name);
}

const StartCase StartCases[] = {
    {"existing project", [](const TempDir&) { return Sample; }, "", {}, "", "Сообщения (8)",
     "pumping-station.sms", ""},
    {"missing file", [](const TempDir& d) { return d.File("new.sms"); }, "", {}, "", "Сообщения (0)", "new.sms", ""},
    {"no argument", [](const TempDir&) { return std::string(); }, "", {}, "", "Сообщения (0)", "Без имени",
     "Сохранить как..."},
    {"unreadable file", [](const TempDir& d) { return d.Path.string(); }, "Cannot open file %1: это папка",
     QMessageBox::Critical, "", "Сообщения (0)", nullptr, "Cannot open file "},
    // Read as a blank project, but not without a word.
    {"not a project", [](const TempDir& d) { return Made(d, "notes.txt", "Купить:\r\nхлеб\r\n"); },
     "Файл \"notes.txt\" открыт, но не всё в нём читается так, как кажется:\n\n"
     "нет ни одной секции Phone или Event: файл открывается как пустой проект\n"
     "Строка 1, строки до первой секции не читаются (2)",
     QMessageBox::Warning, "", "Сообщения (0)", "notes.txt", ""},
    // Six findings about how the file reads, and one about content that the
    // window lets the user make (no recipients), which it does not show.
    {"findings past the box's text",
     [](const TempDir& d) {
       return Made(d, "odd.sms",
                   "[Phone9]\r\nNumber=1\r\n[Event0]\r\nNeg=2\r\nPin=40\r\nDelay=x\r\nSend=256\r\n"
                   "[Event2]\r\nPin=1\r\n");
     },
     "Файл \"odd.sms\" открыт, но не всё в нём читается так, как кажется:\n\n"
     "Строка 1, [Phone9] не читается: абоненты — это Phone0 … Phone7\n"
     "Строка 4, [Event0] Neg: Neg 2 — ни 0 (фронт), ни 1 (срез); читается как срез\n"
     "Строка 5, [Event0] Pin: Pin 40 вне входов 0 … 31\n"
     "Строка 6, [Event0] Delay: \"x\" — не целое число в 32-битном диапазоне; читается как 0\n"
     "Строка 7, [Event0] Send: Send 256 вне 0 … 255; в счёт идут только младшие 8 бит: 0\n\n"
     "Ещё 1 — в подробностях.",
     QMessageBox::Warning,
     "Строка 8, [Event2] не читается: события читаются с Event0 до первой отсутствующей или пустой секции, "
     "здесь Event1",
     "Сообщения (1)", "odd.sms", ""},
};

// Notes what a modal window said and closes it: a message box by its OK,
// a file dialog by Cancel.
ModalAnswer::Answer NoteAndClose(QString* seen) {
  return [seen](QWidget* modal) {
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
      *seen = dialog->windowTitle();
      return dialog->reject();
    }
    BoxReply(QMessageBox::Ok)(modal);
    *seen = BoxText(modal);
  };
}

TEST_F(UiTest, StartUpShowsTheProjectOrABlankOneAndSaveWritesItsFile) {
  for (const StartCase& c : StartCases) {
    SCOPED_TRACE(c.Name);
    const std::string path = c.Path(Dir);
    BoxSeen box;
    QString details;
    {
      ModalAnswer answer([&](QWidget* modal) {
        if (auto* shown = qobject_cast<QMessageBox*>(modal)) details = shown->detailedText();
        BoxReply(QMessageBox::Ok, &box)(modal);
      });
      Open(path);
    }
    EXPECT_EQ(box.Text, c.Box.contains("%1") ? c.Box.arg(QString::fromStdString(path)) : c.Box);
    EXPECT_EQ(box.Icon, c.Box.isEmpty() ? QMessageBox::NoIcon : c.Icon);
    EXPECT_EQ(details, c.Details);
    EXPECT_EQ(Caption("FrmEventList1"), c.EventsCaption);
    EXPECT_EQ(Caption("FrmPhoneList1"), "Абоненты (8)");
    if (c.FileTitle != nullptr) {
      EXPECT_EQ(Window->windowTitle(), QString(c.FileTitle) + " — " + TApplication::Title());
    }
    EXPECT_TRUE(Named<QPushButton>(Window.get(), "Загрузить в АУ...")->isEnabled());
    // A screen smaller than the designed window (the offscreen one is
    // 800 x 600) takes the whole window.
    EXPECT_TRUE(Window->screen()->availableGeometry().contains(Window->frameGeometry()));
    if (path == Sample) continue;  // the sample stays untouched

    QString saveReply;
    ModalAnswer answer(NoteAndClose(&saveReply));
    Press("Сохранить");
    EXPECT_EQ(saveReply.left(c.SaveReply.size()), c.SaveReply);
    EXPECT_EQ(saveReply.isEmpty(), c.SaveReply.isEmpty());
    EXPECT_EQ(QFile::exists(QString::fromStdString(path)), !path.empty());
  }
}

// The title names the file that "Сохранить" writes and marks changes since.
TEST_F(UiTest, OpenAndSaveAsGoThroughTheFileDialogsAndCancelChangesNothing) {
  const auto title = [this] { return Window->windowTitle().chopped(TApplication::Title().size() + 3); };
  Open(Dir.File("first.sms"));
  EXPECT_EQ(title(), "first.sms");
  AddEvent({.Pin = 4, .Text = "x"});
  EXPECT_EQ(title(), "first.sms*");
  const QString copy = QString::fromStdString(Dir.File("copy"));
  BoxSeen writeError;
  BoxSeen replace;
  bool declinedByDefault = false;
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
                       BoxReply(QMessageBox::Ok, &writeError),
                       [&](QWidget* modal) {
                         auto* box = qobject_cast<QMessageBox*>(modal);
                         declinedByDefault = box != nullptr && box->defaultButton() == box->button(QMessageBox::No);
                         BoxReply(QMessageBox::No, &replace)(modal);
                       },
                       ChooseFile(""), ChooseFile(copy + ".sms"), BoxReply(QMessageBox::Yes)});

  Press("Сохранить как...");  // cancelled
  EXPECT_EQ(Window->Project->FileName, Dir.File("first.sms"));
  EXPECT_TRUE(Window->Modified);

  Press("Сохранить как...");
  EXPECT_EQ(Window->Project->FileName, Dir.File("copy.sms")) << "the suffix completes the name";
  EXPECT_FALSE(Window->Modified);
  EXPECT_EQ(title(), "copy.sms");
  EXPECT_EQ(Window->SaveDialog1->windowTitle(), "Сохранить как...");
  EXPECT_EQ(Window->SaveDialog1->nameFilters(),
            QStringList({"Конфигурация SMS *.sms (*.sms)", "Все файлы *.* (*)"}));

  Press("Сохранить как...");  // into a folder that is gone
  EXPECT_TRUE(writeError.Text.startsWith("Cannot create file")) << writeError.Text.toStdString();
  EXPECT_EQ(Window->Project->FileName, Dir.File("copy.sms")) << "a failed save keeps the name";

  // "Новый..." keeps the file name; its first save asks before replacing
  // the file, and No writes nothing.
  const std::string saved = ReadFile(Dir.File("copy.sms"));
  Press("Новый...");
  EXPECT_EQ(Caption("FrmEventList1"), "Сообщения (0)");
  EXPECT_EQ(Window->Project->FileName, Dir.File("copy.sms"));
  EXPECT_EQ(title(), "copy.sms");
  Press("Сохранить");
  EXPECT_EQ(replace.Text, "Файл \"copy.sms\" уже существует. Заменить его новым проектом?");
  EXPECT_TRUE(declinedByDefault);
  EXPECT_EQ(ReadFile(Dir.File("copy.sms")), saved);

  Press("Открыть...");  // cancelled
  EXPECT_EQ(Caption("FrmEventList1"), "Сообщения (0)");

  Press("Открыть...");
  EXPECT_EQ(Cell(Events(), 0, 1), "DI4-R-0");
  EXPECT_EQ(Window->OpenDialog1->windowTitle(), "Загрузить файл...");

  Press("Новый...");
  Press("Сохранить");  // Yes
  EXPECT_EQ(ReadFile(Dir.File("copy.sms")).find("Pin=4"), std::string::npos);

  EXPECT_TRUE(answers.Answered());
  EXPECT_EQ(answers.Count(), 8u);
}

enum class SaveTo { File, MissingFolder, Untitled };

struct QuestionCase {
  const char* Name;
  QMessageBox::StandardButton Answer;
  SaveTo Target;   // where "Да" saves the project
  bool Discarded;  // the project's content was dropped afterwards
  bool Saved;      // the file holds the change afterwards
};

const QuestionCase QuestionCases[] = {
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
  const auto editPhone = [](UiTest& t) {
    ModalAnswer answer([](QWidget* dialog) {
      Named<QLineEdit>(dialog, "Номер:")->setText("+7999");
      Click(dialog, "OK");
    });
    DoubleClick(t.Phones(), 3);
  };
  const std::tuple<const char*, std::function<void(UiTest&)>, std::function<void(UiTest&)>> commands[] = {
      {"new", addEvent, [](UiTest& t) { t.Press("Новый..."); }},
      {"open", addEvent, [](UiTest& t) { t.Press("Открыть..."); }},
      {"close after a phone edit", editPhone, [](UiTest& t) { t.Window->close(); }},
  };
  for (const auto& [command, change, run] : commands) {
    for (const QuestionCase& c : QuestionCases) {
      SCOPED_TRACE(std::string(command) + ", " + c.Name);
      std::remove(Dir.File("p.sms").c_str());
      Open(c.Target == SaveTo::Untitled ? "" : Dir.File(c.Target == SaveTo::File ? "p.sms" : "missing/p.sms"));
      change(*this);
      BoxSeen question;
      BoxSeen saveError;
      QString findings;  // or the title of a file dialog that should not have come
      ModalAnswer answers({BoxReply(c.Answer, &question),
                           c.Target == SaveTo::MissingFolder ? BoxReply(QMessageBox::Ok, &saveError)
                                                             : ChooseFile(c.Target == SaveTo::File ? empty : ""),
                           NoteAndClose(&findings)});
      run(*this);
      EXPECT_EQ(question.Text, "Сохранить изменения в проекте?");
      EXPECT_EQ(saveError.Text.startsWith("Cannot create file"), c.Target == SaveTo::MissingFolder);
      // The empty file opened is no project, and the window says so.
      EXPECT_EQ(findings.endsWith("\nнет ни одной секции Phone или Event: файл открывается как пустой проект"),
                std::string(command) == "open" && c.Discarded)
          << findings.toStdString();
      const bool kept = Window->Project->Events->Count() == 1 || Window->Project->Phones->Get(3)->Number == "+7999";
      EXPECT_EQ(!kept || !Window->isVisible(), c.Discarded);
      const std::string file = ReadFile(Dir.File("p.sms"));
      EXPECT_EQ(file.find("Pin=9") != std::string::npos || file.find("Number=+7999") != std::string::npos, c.Saved);
    }
  }
}

// The reasons are the program's own words, in Russian like the window; the
// fixed beginning of a file error stays.
TEST_F(UiTest, ExportReportsTheImageSizeOrTheReasonItFailed) {
  Open("");
  BoxSeen report;
  ModalAnswer answer(BoxReply(QMessageBox::Ok, &report));
  QTest::keyClick(Window.get(), Qt::Key_F9);
  EXPECT_EQ(report.Text, "Экспорт конфигурации завершен: 28 байт.");
  EXPECT_EQ(report.Icon, QMessageBox::Information);
  EXPECT_EQ(report.Informative, "Записаны файлы:\n" + QString::fromStdString(Dir.File("sms.bin")) + "\n" +
                                    QString::fromStdString(Dir.File("stdcfg.c")));
  EXPECT_EQ(ReadFile(Dir.File("sms.bin")).size(), 28u);

  const struct {
    const char* Name;
    std::function<void(UiTest&)> Spoil;
    QString Error;  // %1 for the image file
  } failures[] = {
      // The path and the reason are in the message whole, Cyrillic and all.
      {"no folder", [](UiTest& t) { ::setenv("HOME", t.Dir.File("Объекты/Насосная").c_str(), 1); },
       "Cannot create file %1: нет такой папки"},
      {"too many events",
       [](UiTest& t) {
         for (int i = 0; i < 256; ++i) t.Window->Project->Events->Add(std::make_unique<CEvent>());
       },
       "Слишком много событий: 256; образ вмещает не более 255"},
  };
  for (const auto& c : failures) {
    SCOPED_TRACE(c.Name);
    Open("");
    c.Spoil(*this);
    BoxSeen error;
    ModalAnswer answer(BoxReply(QMessageBox::Ok, &error));
    Press("Экспорт");
    EXPECT_EQ(error.Text, QString(c.Error).replace("%1", QtPath(DefaultImagePath().c_str())));
    EXPECT_EQ(error.Icon, QMessageBox::Critical);
  }
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
  std::filesystem::create_directories(Dir.File("Documents"));
  std::filesystem::create_directories(Dir.File("site"));
  for (const char* name : {"a.sms", "b.sms"}) std::filesystem::copy_file(Sample, Dir.File("site/") + name);
  const QString site = QString::fromStdString(Dir.File("site"));
  QString startedIn;
  const ModalAnswer::Answer noteFolderAndCancel = [&startedIn](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    startedIn = dialog->directory().absolutePath();
    dialog->reject();
  };
  // Through the button: the offscreen platform may leave the keys in a
  // closed file dialog.
  const auto recent = [this](char key) {
    return PickFromMenu([this] { Click(Window.get(), "Последние проекты"); }, key);
  };

  Open("");
  Activate();
  EXPECT_EQ(PickFromMenu([this] { QTest::keyClick(Window.get(), Qt::Key_R, Qt::ControlModifier); }, 0),
            QStringList{"Список пуст"});
  {
    ModalAnswer answers({noteFolderAndCancel, ChooseFile(site + "/a.sms"), ChooseFile(site + "/b.sms")});
    for (int i = 0; i < 3; ++i) Press("Открыть...");
    EXPECT_TRUE(answers.Answered());
  }
  EXPECT_EQ(startedIn, QString::fromStdString(Dir.File("Documents")));

  Window.reset();  // the next run
  Open("");
  {
    ModalAnswer answers({noteFolderAndCancel});
    Press("Открыть...");
  }
  EXPECT_EQ(startedIn, site);
  const QString folder = QStringLiteral("  (%1)").arg(QDir::toNativeSeparators(site));
  EXPECT_EQ(recent('2'), QStringList({"&1 b.sms" + folder, "&2 a.sms" + folder}));
  EXPECT_EQ(Window->Project->FileName, Dir.File("site/a.sms"));
  EXPECT_EQ(Caption("FrmEventList1"), "Сообщения (8)");

  std::filesystem::remove(Dir.File("site/b.sms"));
  BoxSeen gone;
  ModalAnswer answer(BoxReply(QMessageBox::Ok, &gone));
  EXPECT_EQ(recent('2'), QStringList({"&1 a.sms" + folder, "&2 b.sms" + folder}));
  EXPECT_TRUE(gone.Text.contains("не найден")) << gone.Text.toStdString();
  EXPECT_EQ(Window->Project->FileName, Dir.File("site/a.sms")) << "the open project stays";
  EXPECT_EQ(recent(0), QStringList{"&1 a.sms" + folder});
}

// A keyboard alone reaches every command: Tab leaves the tables, a table
// reached by Tab has a row to act on, and each command has its key.
TEST_F(UiTest, TheKeyboardReachesEveryCommand) {
  Open(Sample);
  QTableView* events = Events();
  QTableView* phones = Phones();
  const auto tab = [](Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); };
  Named<QPushButton>(Window.get(), "Экспорт")->setFocus();
  tab(Qt::Key_Tab);
  EXPECT_TRUE(events->hasFocus());
  tab(Qt::Key_Tab);
  EXPECT_TRUE(phones->hasFocus());
  EXPECT_EQ(SelectedRow(phones), 0) << "a table reached by Tab selects its first row";
  tab(Qt::Key_Tab);
  EXPECT_FALSE(phones->hasFocus() || events->hasFocus());
  tab(Qt::Key_Backtab);
  tab(Qt::Key_Backtab);
  ASSERT_TRUE(events->hasFocus());
  BoxSeen question;
  {
    ModalAnswer answer(BoxReply(QMessageBox::No, &question));
    tab(Qt::Key_Delete);
  }
  EXPECT_EQ(question.Text, "Удалить сообщение \"" + Cell(events, 0, 10) + "\"?");

  struct KeyCase {
    QKeyCombination Key;
    const char* Action;
  };
  const auto alt = [](char16_t letter) { return QKeyCombination(Qt::AltModifier, Qt::Key(letter)); };
  const KeyCase keys[] = {
      {Qt::CTRL | Qt::Key_S, "ActionSave"},  {Qt::CTRL | Qt::SHIFT | Qt::Key_S, "ActionSaveAs"},
      {Qt::CTRL | Qt::Key_O, "ActionOpen"},  {QKeyCombination(Qt::Key_F9), "ActionCompile"},
      {alt(u'Н'), "ActionNew"},              {alt(u'О'), "ActionOpen"},
      {alt(u'С'), "ActionSave"},             {alt(u'К'), "ActionSaveAs"},
      {alt(u'З'), "ActionLoad"},             {alt(u'Э'), "ActionCompile"},
  };
  // The buttons keep their captions for the user and for screen readers.
  for (const QString caption :
       {"Новый...", "Открыть...", "Сохранить", "Сохранить как...", "Загрузить в АУ...", "Экспорт"}) {
    QPushButton* button = Named<QPushButton>(Window.get(), caption);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), caption);
  }
  for (const KeyCase& c : keys) {
    SCOPED_TRACE(QKeySequence(c.Key).toString().toStdString());
    // A window of its own: the offscreen platform leaves the focus in a
    // closed file dialog.
    Open(Dir.File("keys.sms"));
    QString ran;
    QObject spy;  // ends the connections before `ran` goes
    for (QAction* action : Window->findChildren<QAction*>()) {
      QObject::connect(action, &QAction::triggered, &spy, [&ran, action] { ran = action->objectName(); });
    }
    // Each window a key opens is closed, or its box answered by default:
    // loading asks whether to export first, and the export reports its size.
    const ModalAnswer::Answer closeOrDefault = [](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      if (box == nullptr) return (void)modal->close();
      PressBoxButton(box, box->defaultButton() != nullptr ? box->standardButton(box->defaultButton())
                                                          : QMessageBox::Ok);
    };
    ModalAnswer close(std::vector<ModalAnswer::Answer>(3, closeOrDefault));
    Activate();
    if (c.Key.key() < 0x400) {
      QTest::keyClick(Window.get(), c.Key.key(), c.Key.keyboardModifiers());
    } else {  // QTest::keyClick takes Latin keys only
      const QString letter = QChar(char16_t(c.Key.key())).toLower();
      QTest::sendKeyEvent(QTest::Press, Window.get(), c.Key.key(), letter, c.Key.keyboardModifiers());
      QTest::sendKeyEvent(QTest::Release, Window.get(), c.Key.key(), letter, c.Key.keyboardModifiers());
    }
    WaitUntil([&ran] { return !ran.isEmpty(); }, 1000);  // a mnemonic clicks after a flash
    EXPECT_EQ(ran, c.Action);
  }
}

// Screen readers and end-to-end tools know every control of every window by
// what it is: a labelled field by its label, never by its value, and read
// the tables' cells.
TEST_F(UiTest, EveryControlOfEveryWindowIsNamedByWhatItIs) {
  Open(Sample);
  TDlgEvent event(Window.get());
  TDlgPhone phone(Window.get());
  TDlgLoading loading(Window.get());
  for (QWidget* window : std::initializer_list<QWidget*>{Window.get(), &event, &phone, &loading}) {
    window->show();
    for (QWidget* control : window->findChildren<QWidget*>()) {
      if (!control->isVisible()) continue;
      const bool splitter = qobject_cast<QSplitter*>(control) != nullptr;
      // A spin box's own line edit is not a control of its own.
      if ((control->focusPolicy() == Qt::NoFocus && !splitter) || control->objectName().startsWith("qt_")) continue;
      SCOPED_TRACE(window->objectName().toStdString() + "." + control->objectName().toStdString());
      const QString name = QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
      EXPECT_FALSE(name.isEmpty());
      for (const QLabel* label : window->findChildren<QLabel*>()) {
        if (label->buddy() == control) {
          EXPECT_EQ(name, QString(label->text()).remove('&'));
        }
      }
      if (const auto* combo = qobject_cast<QComboBox*>(control)) {
        EXPECT_NE(name, combo->currentText());
      }
      // A group's title names its one field, not one of several.
      const auto* group = qobject_cast<QGroupBox*>(control->parentWidget());
      if (group != nullptr && group->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly).size() +
                                      group->findChildren<QSpinBox*>(Qt::FindDirectChildrenOnly).size() > 1) {
        EXPECT_NE(name, group->title());
      }
    }
    window->hide();
  }
  EXPECT_EQ(QAccessible::queryAccessibleInterface(Control<QLineEdit>(&loading, "Edit1"))->text(QAccessible::Name),
            "Адрес ВЕЛАР");
  QAccessibleTableInterface* table = QAccessible::queryAccessibleInterface(Events())->tableInterface();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->cellAt(4, 1)->text(QAccessible::Name), "DI5-F-300");
  EXPECT_EQ(table->columnDescription(1), "Триггер");
}

// The keys of the window's undo and redo.
void Key(UiTest& t, QKeyCombination key) {
  t.Activate();
  QTest::keyClick(t.Window.get(), key.key(), key.keyboardModifiers());
}
const QKeyCombination Undo = Qt::CTRL | Qt::Key_Z;
const QKeyCombination Redo = Qt::CTRL | Qt::Key_Y;
const QKeyCombination RedoToo = Qt::CTRL | Qt::SHIFT | Qt::Key_Z;

// One change, undone and redone: the table it is in shows the rows before
// it after an undo, and those after it after a redo, with the changed row
// selected as after the change itself (-1: none).
struct UndoCase {
  const char* Name;
  std::function<void(UiTest&)> Change;
  bool InPhones;
  QStringList Before;
  int BeforeRow;
  QStringList After;
  int AfterRow;
};

// The project's events stand out of order, as a file may hold them, and
// two share input and edge: an undo gives back the order that was saved.
const char* const UndoProject =
    "[Phone5]\r\nNumber=+7111\r\nComment=old\r\n"
    "[Event0]\r\nPin=5\r\nText=c\r\n[Event1]\r\nPin=1\r\nText=a\r\n[Event2]\r\nPin=1\r\nText=b\r\n";

const UndoCase UndoCases[] = {
    {"add", [](UiTest& t) { t.AddEvent({.Pin = 3, .Text = "new"}); }, false,
     {"DI5-R-0 c", "DI1-R-0 a", "DI1-R-0 b"}, -1,
     {"DI1-R-0 a", "DI1-R-0 b", "DI3-R-0 new", "DI5-R-0 c"}, 2},
    {"edit",
     [](UiTest& t) {
       ModalAnswer answer(UiTest::EnterEvent({.Pin = 7, .Text = "a"}));
       UiTest::DoubleClick(t.Events(), 1);
     },
     false, {"DI5-R-0 c", "DI1-R-0 a", "DI1-R-0 b"}, 1, {"DI1-R-0 b", "DI5-R-0 c", "DI7-R-0 a"}, 2},
    {"delete",
     [](UiTest& t) {
       ModalAnswer answer(BoxReply(QMessageBox::Yes));
       t.Events()->setFocus();
       SelectRow(t.Events(), 0);  // the first row: no row above it to fall back on
       QTest::keyClick(t.Events(), Qt::Key_Delete);
     },
     false, {"DI5-R-0 c", "DI1-R-0 a", "DI1-R-0 b"}, 0, {"DI1-R-0 a", "DI1-R-0 b"}, -1},
    {"phone",
     [](UiTest& t) {
       ModalAnswer answer([](QWidget* dialog) {
         Named<QLineEdit>(dialog, "Номер:")->setText("+7222");
         Named<QLineEdit>(dialog, "Коммент:")->setText("new");
         Click(dialog, "OK");
       });
       UiTest::DoubleClick(t.Phones(), 5);
     },
     true, {"5 +7111 old"}, 5, {"5 +7222 new"}, 5},
};

// The rows as the user reads them: events by trigger and text, phone slots
// by ID, number and comment, blank slots left out.
QStringList Rows(QTableView* view, bool phones) {
  QStringList rows;
  for (int row = 0; row < view->model()->rowCount(); ++row) {
    const auto cell = [view, row](int column) { return view->model()->index(row, column).data().toString(); };
    if (!phones) {
      rows << cell(1) + " " + cell(10);
    } else if (!cell(1).isEmpty() || !cell(2).isEmpty()) {
      rows << cell(0) + " " + cell(1) + " " + cell(2);
    }
  }
  return rows;
}

TEST_F(UiTest, ChangesAreUndoneAndRedoneWithTheirRowSelected) {
  const std::string path = Dir.File("p.sms");
  WriteFile(path, UndoProject);
  for (const UndoCase& c : UndoCases) {
    SCOPED_TRACE(c.Name);
    Open(path);
    QTableView* table = c.InPhones ? Phones() : Events();
    QAction* undo = Window->findChild<QAction*>("ActionUndo");
    QAction* redo = Window->findChild<QAction*>("ActionRedo");
    ASSERT_TRUE(undo != nullptr && redo != nullptr);
    EXPECT_FALSE(undo->isEnabled());
    const auto expect = [&](const char* step, const QStringList& rows, int selected, bool marked) {
      SCOPED_TRACE(step);
      EXPECT_EQ(Rows(table, c.InPhones), rows);
      EXPECT_EQ(SelectedRow(table), selected);
      EXPECT_EQ(Window->windowTitle().startsWith("p.sms* "), marked) << Window->windowTitle().toStdString();
      EXPECT_EQ(undo->isEnabled(), marked);
      EXPECT_EQ(redo->isEnabled(), !marked);
    };
    c.Change(*this);
    expect("changed", c.After, c.AfterRow, true);
    Key(*this, Undo);
    expect("undone", c.Before, c.BeforeRow, false);
    Key(*this, Redo);
    expect("redone", c.After, c.AfterRow, true);
    Key(*this, Undo);
    Key(*this, RedoToo);
    expect("redone by Ctrl+Shift+Z", c.After, c.AfterRow, true);
  }
}

// The title's mark follows the undo stack to and from the last save, and
// the image counts as the project's again when an undo returns to the last
// export; a new project and an opened one start without changes to undo.
struct UndoStep {
  const char* Name;
  std::function<void(UiTest&)> Do;
  int Events;
  bool Marked;
  bool Stale;  // ModifiedSinceExport
  bool CanUndo;
};

TEST_F(UiTest, TheUndoStackKnowsTheSavedAndTheExportedProject) {
  const QString file = QString::fromStdString(Dir.File("s.sms"));
  const auto add = [](const char* text) {
    return [text](UiTest& t) { t.AddEvent({.Pin = 2, .Text = text}); };
  };
  const auto key = [](QKeyCombination k) { return [k](UiTest& t) { Key(t, k); }; };
  const auto exportImage = [](UiTest& t) {
    ModalAnswer report(BoxReply(QMessageBox::Ok));
    t.Press("Экспорт");
  };
  const UndoStep steps[] = {
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
      {"new, not saved",
       [](UiTest& t) {
         ModalAnswer no(BoxReply(QMessageBox::No));
         t.Press("Новый...");
       },
       0, false, true, false},
      {"add d", add("d"), 1, true, true, true},
      {"undo d: empty, but not the exported project", key(Undo), 0, false, true, false},
      {"redo d", key(Redo), 1, true, true, true},
      {"open, not saved",
       [file](UiTest& t) {
         ModalAnswer answers({BoxReply(QMessageBox::No), UiTest::ChooseFile(file)});
         t.Press("Открыть...");
       },
       1, false, true, false},
      {"undo after open", key(Undo), 1, false, true, false},
  };
  Open(file.toStdString());
  QAction* undo = Window->findChild<QAction*>("ActionUndo");
  ASSERT_NE(undo, nullptr);
  for (const UndoStep& step : steps) {
    SCOPED_TRACE(step.Name);
    step.Do(*this);
    EXPECT_EQ(Window->Project->Events->Count(), step.Events);
    EXPECT_EQ(Window->windowTitle().startsWith("s.sms* "), step.Marked) << Window->windowTitle().toStdString();
    EXPECT_EQ(Window->Modified, step.Marked);
    EXPECT_EQ(Window->ModifiedSinceExport, step.Stale);
    EXPECT_EQ(undo->isEnabled(), step.CanUndo);
  }
  EXPECT_EQ(Cell(Events(), 0, 10), "a") << "the file holds what was saved";
}

enum class Image { Newer, Older, Missing };  // than the project file
enum class Edit { None, Added, Undone };      // an event added after the project was opened

struct StaleCase {
  const char* Name;
  Edit Edited;
  Image Age;
  std::optional<QMessageBox::StandardButton> Answer;  // none: not asked
  bool Exported;
  bool Loaded;       // the loading dialog opened
};

const StaleCase StaleCases[] = {
    {"image newer, unchanged", Edit::None, Image::Newer, std::nullopt, false, true},
    {"event added and undone", Edit::Undone, Image::Newer, std::nullopt, false, true},
    {"event added, yes", Edit::Added, Image::Newer, QMessageBox::Yes, true, true},
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
    ASSERT_TRUE(imageFile.setFileTime(saved.addSecs(c.Age == Image::Older ? -3600 : 3600), QFileDevice::FileModificationTime));
    imageFile.close();
    if (c.Age == Image::Missing) imageFile.remove();
    Open(project);  // a new run, which has exported nothing yet
    if (c.Edited != Edit::None) AddEvent({.Pin = 7, .Text = "new"});
    if (c.Edited == Edit::Undone) Key(*this, Undo);
    const std::string before = ReadFile(image);

    BoxSeen question;
    bool loaded = false;
    std::vector<ModalAnswer::Answer> steps;
    // A box expected but not come: what came is closed, and the count tells.
    // Yes, to export first, is the default: Enter gives it.
    const auto reply = [](QMessageBox::StandardButton which, BoxSeen* seen) -> ModalAnswer::Answer {
      return [which, seen](QWidget* modal) {
        if (qobject_cast<QMessageBox*>(modal) == nullptr) return void(modal->close());
        if (which != QMessageBox::Yes) return BoxReply(which, seen)(modal);
        seen->Text = BoxText(modal);
        QTest::keyClick(modal, Qt::Key_Return);
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
