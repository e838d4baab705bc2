#include "ui/Main.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QWindow>
#include <QMessageBox>
#include <QToolButton>
#include <QUndoStack>

#include "files/AtomicFile.h"
#include "files/ExportPaths.h"
#include "loading/DialogLoading.h"
#include "model/ProjectImport.h"
#include "ui/ActionButton.h"
#include "ui/Application.h"
#include "ui/CorePath.h"
#include "ui/UserSettings.h"
#include "ui/ProjectChange.h"
#include "ui/ModelText.h"
#include "ui_Main.h"
#include "version/Version.h"

#include <cstdio>
#include <string_view>

namespace smsconf {

namespace {

constexpr int PhoneListWidth = 350;
const QStringList ProjectFilters{"Конфигурация SMS *.sms (*.sms)", "Все файлы *.* (*)"};
constexpr const char* ProjectSuffix = "sms";
const QString Untitled = QStringLiteral("Без имени");

QFileDialog* MakeFileDialog(QWidget* owner, const char* name, const QString& title,
                            QFileDialog::AcceptMode mode) {
  auto* dialog = new QFileDialog(owner, title);
  dialog->setObjectName(QString::fromLatin1(name));
  dialog->setAcceptMode(mode);
  // The open dialog takes a name that does not exist yet, and the save
  // dialog replaces a file without asking.
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setOption(QFileDialog::DontConfirmOverwrite);
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  dialog->setNameFilters(ProjectFilters);
  dialog->setDefaultSuffix(ProjectSuffix);
  return dialog;
}

// The platform's keys and the two that users bring from elsewhere.
QList<QKeySequence> RedoKeys() {
  QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::Redo);
  for (const QKeySequence& key :
       {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)}) {
    if (!keys.contains(key)) keys << key;
  }
  return keys;
}

// The serial of the change below the stack's place `index`; 0 at the bottom.
std::uint64_t SerialBelow(const QUndoStack& stack, int index) {
  const auto* change = index > 0 ? dynamic_cast<const TProjectChange*>(stack.command(index - 1)) : nullptr;
  return change != nullptr ? change->Serial : 0;
}

}  // namespace

TMainForm::TMainForm(const std::string& fileName, QWidget* parent)
    : QWidget(parent),
      Form(std::make_unique<Ui::TMainForm>()),
      UndoStack(std::make_unique<QUndoStack>()) {
  Form->setupUi(this);
  setWindowIcon(QIcon(QStringLiteral(":/smsconf.png")));
  Form->Splitter1->setStretchFactor(0, 1);
  Form->Splitter1->setStretchFactor(1, 0);
  Form->Splitter1->setSizes({width() - PhoneListWidth, PhoneListWidth});
  OpenDialog1 = MakeFileDialog(this, "OpenDialog1", "Загрузить файл...", QFileDialog::AcceptOpen);
  SaveDialog1 = MakeFileDialog(this, "SaveDialog1", "Сохранить как...", QFileDialog::AcceptSave);
  RecentMenu = new QMenu(this);
  RecentMenu->setObjectName(QStringLiteral("RecentMenu"));
  Form->ButtonRecent->setMenu(RecentMenu);
  // The button's arrow says it all; the style's small menu mark beside it
  // would be a second one.
  Form->ButtonRecent->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
  connect(RecentMenu, &QMenu::aboutToShow, this, &TMainForm::FillRecentMenu);
  BindActions();
  FormCreate(fileName);
}

TMainForm::~TMainForm() = default;

void TMainForm::BindActions() {
  const std::pair<QAbstractButton*, QAction*> bindings[] = {
      {Form->Button6, Form->ActionNew},    {Form->Button1, Form->ActionOpen},
      {Form->Button2, Form->ActionSave},   {Form->Button3, Form->ActionSaveAs},
      {Form->Button4, Form->ActionLoad},   {Form->Button7, Form->ActionCompile}};
  for (const auto& [button, action] : bindings) BindButton(button, action);
  const std::pair<QAction*, void (TMainForm::*)()> handlers[] = {
      {Form->ActionNew, &TMainForm::ActionNewExecute},
      {Form->ActionOpen, &TMainForm::ActionOpenExecute},
      {Form->ActionSave, &TMainForm::ActionSaveExecute},
      {Form->ActionSaveAs, &TMainForm::ActionSaveAsExecute},
      {Form->ActionLoad, &TMainForm::ActionLoadExecute},
      {Form->ActionCompile, &TMainForm::ActionCompileExecute},
      {Form->ActionUndo, &TMainForm::ActionUndoExecute},
      {Form->ActionRedo, &TMainForm::ActionRedoExecute}};
  for (const auto& [action, handler] : handlers) {
    connect(action, &QAction::triggered, this,
            [this, handler = handler] { TApplication::Guarded([this, handler] { (this->*handler)(); }); });
  }
  // Undo and redo act when the window has the focus; in a dialog's field
  // the keys are the field's own.
  Form->ActionUndo->setShortcuts(QKeySequence::Undo);
  Form->ActionRedo->setShortcuts(RedoKeys());
  connect(Form->ActionRecent, &QAction::triggered, Form->ButtonRecent, &QToolButton::showMenu);
  addActions({Form->ActionOpen, Form->ActionRecent, Form->ActionSave, Form->ActionSaveAs, Form->ActionCompile,
              Form->ActionUndo, Form->ActionRedo});
  QMenu* popup = Form->FrmEventList1->PopupMenu1;
  popup->addSeparator();
  popup->addActions({Form->ActionUndo, Form->ActionRedo});

  QUndoStack* stack = UndoStack.get();
  Form->ActionUndo->setEnabled(false);
  Form->ActionRedo->setEnabled(false);
  connect(stack, &QUndoStack::canUndoChanged, Form->ActionUndo, &QAction::setEnabled);
  connect(stack, &QUndoStack::canRedoChanged, Form->ActionRedo, &QAction::setEnabled);
  connect(stack, &QUndoStack::cleanChanged, this, [this](bool clean) { SetModified(!clean); });
  connect(stack, &QUndoStack::indexChanged, this, [this] { ModifiedSinceExport = !AtExportedState(); });
  Form->FrmPhoneList1->UndoStack = stack;
  Form->FrmEventList1->UndoStack = stack;
}

void TMainForm::FormCreate(const std::string& fileName) {
  Project = std::make_unique<CProject>();
  Project->FileName = fileName;
  std::vector<ProjectFinding> findings;
  if (!fileName.empty() && QFileInfo::exists(QtPath(fileName.c_str()))) {
    TApplication::Guarded([this, &findings] {
      findings = LoadProject();
      RememberProject(QtPath(Project->FileName.c_str()));
    });
  }
  Form->FrmPhoneList1->PhoneList = Project->Phones.get();
  Form->FrmEventList1->EventList = Project->Events.get();
  Form->FrmEventList1->PhoneList = Project->Phones.get();
  MarkExported();  // as far as the window knows: the image's age tells the rest
  RefreshViews();
  ShowTitle();
  // Over the window, once it is there, not alone on the screen before it.
  if (!findings.empty()) QTimer::singleShot(0, this, [this, findings] { ShowFindings(findings); });
}

std::vector<ProjectFinding> TMainForm::LoadProject() {
  if (!QFileInfo::exists(QtPath(Project->FileName.c_str()))) {
    Project->Load();
    return {};
  }
  // The check reads the file once, and the project takes what it read.
  ProjectRead read;
  std::vector<ProjectFinding> findings = CheckProjectFile(Project->FileName, &read);
  Project->Load(read);
  return findings;
}

namespace {

// The findings shown in the box's text; the rest are under "details".
constexpr qsizetype ShownFindings = 5;

// "Строка 12, [Event3] Delay: Delay 3601 вне 0 … 3600 секунд".
QString FindingLine(const ProjectFinding& finding) {
  QString line;
  if (finding.Line != 0) line = QStringLiteral("Строка %1, ").arg(finding.Line);
  if (!finding.Section.empty()) line += QStringLiteral("[%1] ").arg(ShownText(finding.Section));
  if (!finding.Key.empty()) line += ShownText(finding.Key) + QStringLiteral(": ");
  return line + ShownMessage(finding.Message);
}

}  // namespace

void TMainForm::ShowFindings(const std::vector<ProjectFinding>& findings) {
  QStringList lines;
  for (const ProjectFinding& finding : findings) {
    // What the window's own dialogs let the engineer make (an event with no
    // recipients) reads as it seems, and the window shows it.
    if (!finding.Content) lines << FindingLine(finding);
  }
  if (lines.isEmpty()) return;
  const QString name = QFileInfo(QtPath(Project->FileName.c_str())).fileName();
  QString said = QStringLiteral("Файл \"%1\" открыт, но не всё в нём читается так, как кажется:\n\n").arg(name) +
                 lines.first(std::min(ShownFindings, lines.size())).join(u'\n');
  if (lines.size() > ShownFindings) {
    said += QStringLiteral("\n\nЕщё %1 — в подробностях.").arg(lines.size() - ShownFindings);
  }
  QMessageBox box(QMessageBox::Warning, TApplication::Title(), said, QMessageBox::Ok, this);
  if (lines.size() > ShownFindings) box.setDetailedText(lines.sliced(ShownFindings).join(u'\n'));
  box.exec();
}

void TMainForm::RefreshViews() {
  Form->FrmPhoneList1->RefreshView();
  Form->FrmEventList1->RefreshView();
}

void TMainForm::ActionNewExecute() {
  if (!ConfirmDiscard()) return;
  Project->New();
  BegunWithNew = true;
  ForgetChanges();
  RefreshViews();
}

void TMainForm::ActionOpenExecute() {
  if (!ConfirmDiscard()) return;
  OpenDialog1->setDirectory(LastFolder());
  if (!ChooseFile(OpenDialog1)) return;
  const QString path = OpenDialog1->selectedFiles().constFirst();
  RememberFolder(QFileInfo(path).absolutePath());  // where the next dialog starts
  if (KindOfConfigurationFile(CorePath(path)) != ConfigurationKind::Project) return OfferRestore(path);
  OpenProject(path);
}

void TMainForm::OfferRestore(const QString& path) {
  const ProjectImport import = ImportProjectFile(CorePath(path));
  const QString what = import.Kind == ConfigurationKind::Source ? QStringLiteral("исходный текст образа конфигурации")
                                                                : QStringLiteral("образ конфигурации");
  QMessageBox question(QMessageBox::Question, TApplication::Title(),
                       QStringLiteral("Файл \"%1\" — не проект, а %2. Восстановить из него проект?")
                           .arg(QFileInfo(path).fileName(), what),
                       QMessageBox::Yes | QMessageBox::No, this);
  QStringList notes;
  for (const text::Message& note : import.Notes) notes << ShownMessage(note);
  question.setInformativeText(notes.join(u'\n'));
  question.setDefaultButton(QMessageBox::Yes);
  if (question.exec() != QMessageBox::Yes) return;
  Project->FileName.clear();
  Project->Load(import.Project);
  BegunWithNew = false;
  ForgetChanges();
  UndoStack->resetClean();  // unsaved: the title marks it, and closing asks
  RefreshViews();
  ShowTitle();
}

void TMainForm::OpenProject(const QString& path) {
  Project->FileName = CorePath(path);
  ShowTitle();  // a failed open keeps the chosen name
  const std::vector<ProjectFinding> findings = LoadProject();
  BegunWithNew = false;
  ForgetChanges();
  RefreshViews();
  RememberProject(path);
  ShowFindings(findings);
}

// "&1 pumping-station.sms  (/home/engineer/sites)": the name to find, the
// folder to tell apart two of the same name.
void TMainForm::FillRecentMenu() {
  RecentMenu->clear();
  const QStringList paths = RecentProjects();
  if (paths.isEmpty()) RecentMenu->addAction(QStringLiteral("Список пуст"))->setEnabled(false);
  for (int i = 0; i < paths.size(); ++i) {
    const QFileInfo file(paths.at(i));
    const QString text = QStringLiteral("&%1 %2  (%3)")
                             .arg(i + 1)
                             .arg(file.fileName(), QDir::toNativeSeparators(file.absolutePath()));
    connect(RecentMenu->addAction(text), &QAction::triggered, this, [this, path = paths.at(i)] {
      TApplication::Guarded([this, &path] { OpenRecent(path); });
    });
  }
}

// A project that has gone since is dropped from the list; the open project
// stays as it is.
void TMainForm::OpenRecent(const QString& path) {
  if (!QFileInfo(path).isFile()) {
    ForgetProject(path);
    QMessageBox box(QMessageBox::Warning, TApplication::Title(),
                    QStringLiteral("Файл \"%1\" не найден; он убран из списка последних проектов.")
                        .arg(QDir::toNativeSeparators(path)),
                    QMessageBox::Ok, this);
    box.exec();
    return;
  }
  if (!ConfirmDiscard()) return;
  OpenProject(path);
}

void TMainForm::ForgetChanges() {
  ExportedIndex = -1;  // the image shows another project
  UndoStack->clear();  // clean again: the title loses its mark
  ModifiedSinceExport = true;
}

void TMainForm::ActionUndoExecute() { UndoStack->undo(); }

void TMainForm::ActionRedoExecute() { UndoStack->redo(); }

void TMainForm::ActionSaveExecute() { Save(); }

// A project without a file name has nowhere to go but where the user says.
bool TMainForm::Save() { return Project->FileName.empty() ? SaveAs() : SaveProject(); }

void TMainForm::ActionSaveAsExecute() { SaveAs(); }

// The name chosen in the save dialog is the user's word on replacing it.
bool TMainForm::SaveAs() {
  // A project with a file name starts in its own folder.
  SaveDialog1->setDirectory(LastFolder());
  SaveDialog1->selectFile(QtPath(Project->FileName.c_str()));
  if (!ChooseFile(SaveDialog1)) return false;
  const std::string previous = Project->FileName;
  const QString path = SaveDialog1->selectedFiles().constFirst();
  RememberFolder(QFileInfo(path).absolutePath());
  Project->FileName = CorePath(path);
  try {
    WriteProject();
  } catch (...) {
    Project->FileName = previous;  // "Сохранить" must not go to a file never written
    throw;
  }
  return true;
}

bool TMainForm::SaveProject() {
  if (BegunWithNew && QFileInfo::exists(QtPath(Project->FileName.c_str())) && !ConfirmReplace()) {
    return false;
  }
  WriteProject();
  return true;
}

void TMainForm::WriteProject() {
  Project->Save();
  BegunWithNew = false;
  UndoStack->setClean();  // the title loses its mark
  ShowTitle();            // and may name another file
  RememberProject(QtPath(Project->FileName.c_str()));
}

bool TMainForm::ConfirmReplace() {
  const QString name = QFileInfo(QtPath(Project->FileName.c_str())).fileName();
  QMessageBox question(QMessageBox::Warning, TApplication::Title(),
                       QStringLiteral("Файл \"%1\" уже существует. Заменить его новым проектом?").arg(name),
                       QMessageBox::Yes | QMessageBox::No, this);
  question.setDefaultButton(QMessageBox::No);
  return question.exec() == QMessageBox::Yes;
}

void TMainForm::SetModified(bool modified) {
  Modified = modified;
  ShowTitle();
}

void TMainForm::ShowTitle() {
  const QString name = Project->FileName.empty() ? Untitled
                                                 : QFileInfo(QtPath(Project->FileName.c_str())).fileName();
  setWindowTitle(name + (Modified ? QStringLiteral("*") : QString()) + QStringLiteral(" — ") +
                 TApplication::Title());
}

void TMainForm::MarkExported() {
  ExportedIndex = UndoStack->index();
  ExportedSerial = SerialBelow(*UndoStack, ExportedIndex);
  ModifiedSinceExport = false;
}

// The same place on the stack is the same project only while the change
// below it is the same: an undo and a new change put another one there.
bool TMainForm::AtExportedState() const {
  const int index = UndoStack->index();
  return index == ExportedIndex && SerialBelow(*UndoStack, index) == ExportedSerial;
}

bool TMainForm::ChooseFile(QFileDialog* dialog) {
  return dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty();
}

// Sends the image that the last export wrote. One that may not be the
// project's is exported first if the user says so.
void TMainForm::ActionLoadExecute() {
  const QString stale = StaleImageReason();
  if (!stale.isEmpty()) {
    QMessageBox question(QMessageBox::Question, TApplication::Title(),
                         stale + QStringLiteral("\nВыполнить экспорт перед загрузкой?"),
                         QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    question.setDefaultButton(QMessageBox::Yes);
    switch (question.exec()) {
      case QMessageBox::Yes: ActionCompileExecute(); break;
      case QMessageBox::No: break;
      default: return;
    }
  }
  TDlgLoading::Execute(this);
}

QString TMainForm::StaleImageReason() const {
  if (ModifiedSinceExport) return QStringLiteral("Проект изменён после последнего экспорта.");
  // A save after this run's export makes the project file the newer one.
  if (ExportedInRun) return {};
  const QFileInfo image(QtPath(DefaultImagePath().c_str()));
  if (!image.exists()) return QStringLiteral("Файл %1 ещё не создан экспортом.").arg(image.filePath());
  const QFileInfo project(QtPath(Project->FileName.c_str()));
  if (image.isFile() && project.isFile() && image.lastModified() < project.lastModified()) {
    return QStringLiteral("Файл %1 старше файла проекта.").arg(image.filePath());
  }
  return {};
}

void TMainForm::ActionCompileExecute() {
  const std::int32_t size = Project->Compile(DefaultSourcePath());
  MarkExported();
  ExportedInRun = true;
  QMessageBox report(QMessageBox::Information, TApplication::Title(),
                     QStringLiteral("Экспорт конфигурации завершен: %1 байт.").arg(size),
                     QMessageBox::Ok, this);
  report.setInformativeText(QStringLiteral("Записаны файлы:\n%1\n%2")
                                .arg(QDir::toNativeSeparators(QtPath(DefaultImagePath().c_str())),
                                     QDir::toNativeSeparators(QtPath(DefaultSourcePath().c_str()))));
  report.exec();
}

bool TMainForm::ConfirmDiscard() {
  if (!Modified) return true;
  QMessageBox question(QMessageBox::Question, TApplication::Title(),
                       "Сохранить изменения в проекте?",
                       QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
  switch (question.exec()) {
    case QMessageBox::No:
      return true;
    case QMessageBox::Yes: {
      bool saved = false;
      TApplication::Guarded([this, &saved] { saved = Save(); });
      return saved;
    }
    default:
      return false;
  }
}

// The designed size, where the screen has room for it: at 1.5 times on a
// 1366 x 768 screen the window would reach past the bottom edge.
void TMainForm::showEvent(QShowEvent* event) {
  if (const QScreen* desktop = screen(); desktop != nullptr && !event->spontaneous()) {
    const QMargins frame = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
    const QRect available = desktop->availableGeometry();
    resize(size().boundedTo(available.marginsRemoved(frame).size()));
    if (!available.contains(frameGeometry())) move(available.topLeft());  // the frame's corner
  }
  QWidget::showEvent(event);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (ConfirmDiscard()) {
    event->accept();
  } else {
    event->ignore();
  }
}

namespace {

constexpr const char* Usage =
    "Usage: smsconf [PROJECT.sms]\n"
    "Opens the configuration window for SMS alarm units with the project file PROJECT.sms\n"
    "(a new project of that name when there is no such file).\n"
    "  -h, --help  print this help and exit\n"
    "  --version   print the version and exit\n"
    "smsconf-cli does the same work from the command line; see smsconf(1) and smsconf-cli(1).\n";

// Answers --help and --version, the only argument then, before the toolkit
// starts, so that they need no display; -1 for every other command line.
int AnswerInfoOption(int argc, char** argv) {
  if (argc != 2) return -1;
  const std::string_view option = argv[1];
  if (option == "--version") {
    std::printf("smsconf %s\n", VersionText());
  } else if (option == "--help" || option == "-h") {
    std::fputs(Usage, stdout);
  } else {
    return -1;
  }
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return 0;
  std::fputs("smsconf: cannot write the output\n", stderr);
  return 1;
}

}  // namespace

int RunProgram(int argc, char** argv) {
  if (const int status = AnswerInfoOption(argc, argv); status >= 0) return status;
  IgnoreFileSizeLimitSignal();
  TApplication application(argc, argv);
  const QStringList arguments = QCoreApplication::arguments();
  try {
    TMainForm form(arguments.size() > 1 ? CorePath(arguments.at(1)) : std::string());
    form.show();
    return application.exec();
  } catch (const std::exception& error) {
    TApplication::ShowException(error);
    return 1;
  }
}

}  // namespace smsconf
