#pragma once

// The dialog through which the engineer writes the last exported
// configuration image into a unit: the gateway and unit addresses, the tries
// and time-out of every request, the button that starts a loading, and the
// loading's log as it comes.

#include <QDialog>

#include <atomic>
#include <memory>

#include "link/Rpcinterface.h"
#include "loading/LoadingSetup.h"
#include "loading/LogHandOver.h"
#include "loading/ThreadConfigLoading.h"

namespace smsconf {

namespace Ui {
class TDlgLoading;
}

class TDlgLoading : public QDialog {
  Q_OBJECT

 public:
  explicit TDlgLoading(QWidget* owner);
  ~TDlgLoading() override;
  TDlgLoading(const TDlgLoading&) = delete;
  TDlgLoading& operator=(const TDlgLoading&) = delete;

  // The main window's "Загрузить в АУ...": shows the dialog modally over
  // owner and destroys it when the user closes it.
  static void Execute(QWidget* owner);

  void FormCreate();
  void FormDestroy();
  // "Загрузить": ends a loading under way and starts a new one.
  void Button1Click();
  // Ends the current loading, if any, and lets its object go.
  void StopLoading();

  // The fixed pauses of the loadings this dialog starts.
  LoadingPauses Pauses;

  std::unique_ptr<SocketLibrary> Sockets;        // started while the dialog is open
  std::unique_ptr<CRPCInterface> Rpc;            // lent to every loading
  std::unique_ptr<CThreadConfigLoading> Thread;  // the current loading, if any

 private slots:
  void ShowPendingLog();

 private:
  void ShowLog(const CLogHandOver::Line& line);
  LoadingTarget FieldTarget() const;
  bool Accepted(const LoadingVerdict& verdict);
  bool LoadDamaged(const std::string& defect);
  void StartLoading();
  void Warn(const QString& text);
  void ApplyLimits();
  LinkSettings FieldLinkSettings() const;
  void KeepLinkSettings();
  void RestoreFields();
  void RememberFields() const;

  std::unique_ptr<Ui::TDlgLoading> Form;
  std::unique_ptr<CLogHandOver> HandOver;  // the current loading's log lines
  // What the worker reads of the dialog, kept up to date by the GUI thread.
  std::atomic<LinkSettings> Link{};
  std::atomic<int> UploadPercent{0};
};

// The loading dialog while it is open.
extern TDlgLoading* DlgLoading;

}  // namespace smsconf
