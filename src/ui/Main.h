#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/Project.h"
#include "model/ProjectCheck.h"

class QFileDialog;
class QMenu;
class QUndoStack;

namespace smsconf {

namespace Ui {
class TMainForm;
}

// The program's one window: the events on the left, the phone book on the
// right, and the buttons for the project file, the export and the loading.
// It owns the run's project.
class TMainForm : public QWidget {
 public:
  // Opens `fileName` when it names an existing file; the project keeps the
  // name in any case, so that "Сохранить" creates the file.
  explicit TMainForm(const std::string& fileName, QWidget* parent = nullptr);
  ~TMainForm() override;

  std::unique_ptr<CProject> Project;
  // Set while the project differs from the last save, the opening or the
  // new project: the undo stack is away from its clean state. The window's
  // title shows it.
  bool Modified = false;
  // Clear while the image file holds what the window shows, as far as the
  // window knows: the undo stack stands where the last export, or the
  // start-up, left it. A new project and an opened one set it.
  bool ModifiedSinceExport = false;
  bool ExportedInRun = false;  // the image file's time says nothing after that

  void ActionNewExecute();
  void ActionOpenExecute();
  void ActionSaveExecute();
  void ActionSaveAsExecute();
  void ActionLoadExecute();
  void ActionCompileExecute();
  void ActionUndoExecute();
  void ActionRedoExecute();

  QFileDialog* OpenDialog1;
  QFileDialog* SaveDialog1;
  QMenu* RecentMenu;  // the drop-down of "Последние проекты", Ctrl+R

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate(const std::string& fileName);
  // Reads the project's file, with the places where it does not mean what
  // it seems to: a file that is not a project at all, values read as
  // something else, sections never read. A file not there yet is a blank
  // project.
  std::vector<ProjectFinding> LoadProject();
  // One warning box for them, once the views show what was read.
  void ShowFindings(const std::vector<ProjectFinding>& findings);
  void BindActions();
  void RefreshViews();
  // Reads `path` into the project, which takes its name even when the read
  // fails; a project read is remembered as a recent one.
  void OpenProject(const QString& path);
  // Offers the project restored from the image or firmware source at
  // `path`, and on Yes opens it unsaved and without a file name, so that
  // "Сохранить" asks where it goes.
  void OfferRestore(const QString& path);
  void FillRecentMenu();
  void OpenRecent(const QString& path);
  bool ChooseFile(QFileDialog* dialog);
  bool Save();
  bool SaveAs();
  // Saves under the project's file name; false when the user declined to
  // replace a file with a project begun by "Новый...".
  bool SaveProject();
  void WriteProject();
  bool ConfirmReplace();
  void SetModified(bool modified);
  // A new project or an opened one: its changes start afresh.
  void ForgetChanges();
  // Notes where the undo stack stands when the image file holds the project.
  void MarkExported();
  bool AtExportedState() const;
  // "pumping-station.sms* — Smsconf": the file that "Сохранить" writes, and
  // whether the project has changed since.
  void ShowTitle();
  // Asks "Сохранить изменения в проекте?" while there are unsaved changes:
  // true when the caller may go on and drop the project's content.
  bool ConfirmDiscard();
  // Why the image file may not be the project's, or empty text.
  QString StaleImageReason() const;

  std::unique_ptr<Ui::TMainForm> Form;
  // "Новый..." keeps the file name, so the first save of the new project
  // would silently replace the file that was open: it asks first.
  bool BegunWithNew = false;
  // Every change to the project's content, one project at a time; destroyed
  // before the project. Its clean state is the last save.
  std::unique_ptr<QUndoStack> UndoStack;
  // Where the stack stood at the last export: its index and the serial of
  // the change below it (0 at the bottom); index -1: nowhere.
  int ExportedIndex = -1;
  std::uint64_t ExportedSerial = 0;
};

// The program's start: the application object, the main window for the
// first command-line argument, and the message loop.
int RunProgram(int argc, char** argv);

}  // namespace smsconf
