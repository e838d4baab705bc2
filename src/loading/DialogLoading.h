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

  // The size the dialog opens at and the least it may shrink to on a screen
  // whose free area is `available`: the designed size where it fits, else
  // as much as fits, the log list taking the loss.
  struct Fit {
    QSize Initial;
    QSize Minimum;
  };
  static Fit FittedSize(const QSize& designed, const QSize& least, const QSize& available);
  // Fits the dialog to a screen whose free area is `available`.
  void FitTo(const QRect& available);

 protected:
  void showEvent(QShowEvent* event) override;

 public:

  // "Файл: <path>, <size> байт, <time>": the image "Загрузить" sends.
  static QString ImageDescription(const std::string& path);

  // The fixed pauses of the loadings this dialog starts.
  LoadingPauses Pauses;

  std::unique_ptr<SocketLibrary> Sockets;        // started while the dialog is open
  std::unique_ptr<CRPCInterface> Rpc;            // lent to every loading
  std::unique_ptr<trace::CWireTrace> Trace;      // the current loading's wire trace, when asked for
  std::unique_ptr<CThreadConfigLoading> Thread;  // the current loading, if any

 public slots:
  // Closing (the close box or Esc) while a loading runs asks first.
  void reject() override;

 private slots:
  void ShowPendingLog();

 private:
  void ShowLog(const CLogHandOver::Line& line);
  LoadingTarget FieldTarget() const;
  bool Accepted(const LoadingVerdict& verdict);
  bool LoadDamaged(const text::Message& defect);
  bool StartTrace(const LoadingTarget& target);
  void DropTrace();
  void StartLoading();
  void ShowLine(int kind, const QString& text);
  bool ConfirmAbort();
  void ShowImage();
  void Warn(const QString& text);
  void ApplyLimits();
  LinkSettings FieldLinkSettings() const;
  void KeepLinkSettings();
  void RestoreFields();
  void RememberFields() const;

  std::unique_ptr<Ui::TDlgLoading> Form;
  QSize DesignedSize;  // the form's own
  QRect Available;     // the free area of the screen the dialog fits
  std::unique_ptr<CLogHandOver> HandOver;  // the current loading's log lines
  // What the worker reads of the dialog, kept up to date by the GUI thread.
  std::atomic<LinkSettings> Link{};
  std::atomic<int> UploadPercent{0};
  std::atomic<bool> Running{false};  // from the start of a loading until its worker ends
};

// The loading dialog while it is open.
extern TDlgLoading* DlgLoading;

}  // namespace smsconf
