#pragma once

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "model/Project.h"
#include "model/ProjectCheck.h"

class QFileDialog;

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
  // Set by any change to a phone or an event; cleared by a new project, a
  // successful open and a successful save. The window's title shows it.
  bool Modified = false;
  // Set by every change to the project's content; cleared by a successful
  // export, after which the image file holds what the window shows.
  bool ModifiedSinceExport = false;
  bool ExportedInRun = false;  // the image file's time says nothing after that

  void ActionNewExecute();
  void ActionOpenExecute();
  void ActionSaveExecute();
  void ActionSaveAsExecute();
  void ActionLoadExecute();
  void ActionCompileExecute();

  QFileDialog* OpenDialog1;
  QFileDialog* SaveDialog1;

 protected:
  void closeEvent(QCloseEvent* event) override;

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
  bool ChooseFile(QFileDialog* dialog);
  bool Save();
  bool SaveAs();
  // Saves under the project's file name; false when the user declined to
  // replace a file with a project begun by "Новый...".
  bool SaveProject();
  void WriteProject();
  bool ConfirmReplace();
  void SetModified(bool modified);
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
};

// The program's start: the application object, the main window for the
// first command-line argument, and the message loop.
int RunProgram(int argc, char** argv);

}  // namespace smsconf
