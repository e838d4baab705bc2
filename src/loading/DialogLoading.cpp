#include "loading/DialogLoading.h"

#include <QColor>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPalette>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

#include <algorithm>
#include <optional>
#include <string>

#include "files/ExportPaths.h"
#include "files/FileBytes.h"
#include "limits/Limits.h"
#include "text/Cp1251.h"
#include "ui_DialogLoading.h"

namespace smsconf {

TDlgLoading* DlgLoading = nullptr;

namespace {

const QColor InfoColour(0x00, 0x00, 0x00);
const QColor AlertColour(0xFF, 0x00, 0x00);
const QColor SuccessColour(0x00, 0x80, 0x00);
constexpr int ProgressFontPixels = 16;
constexpr int FullPercent = 100;

// What the engineer typed last, for the next opening within this run; the
// first opening shows the form's own defaults.
struct Fields {
  QString Gateway;
  int Unit = 0;
  int Tries = 0;
  int Timeout = 0;
  bool Trace = false;
};
std::optional<Fields> LastFields;

QString FromCp1251(const std::string& bytes) { return QString::fromStdString(text::Cp1251ToUtf8(bytes)); }

void Offer(QSpinBox* field, limits::Range range, int value) {
  field->setRange(range.Min, range.Max);
  field->setValue(value);
}

}  // namespace

TDlgLoading::TDlgLoading(QWidget* owner) : QDialog(owner), Form(std::make_unique<Ui::TDlgLoading>()) {
  Form->setupUi(this);
  QFont progressFont(QStringLiteral("Calibri"));
  progressFont.setPixelSize(ProgressFontPixels);
  progressFont.setBold(true);
  Form->LabelProgress2->setFont(progressFont);
  QPalette panel = Form->Panel14->palette();
  panel.setColor(QPalette::Window, Qt::white);
  Form->Panel14->setPalette(panel);
  ApplyLimits();
  RestoreFields();
  KeepLinkSettings();
  // A long path gives way rather than widen the dialog.
  Form->LabelImage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  Form->ButtonRow->setStretchFactor(Form->LabelImage, 1);
  ShowImage();
  // The address comes first to type, though Tab runs through the list first.
  Form->Edit1->setFocus();
  DesignedSize = size();
  const QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
  if (screen != nullptr) FitTo(screen->availableGeometry());
  connect(Form->Button1, &QPushButton::clicked, this, &TDlgLoading::Button1Click);
  connect(Form->CSpinEdit1, &QSpinBox::valueChanged, this, &TDlgLoading::KeepLinkSettings);
  connect(Form->CSpinEdit3, &QSpinBox::valueChanged, this, &TDlgLoading::KeepLinkSettings);
  FormCreate();
}

// Runs before the controls go, which the loading still writes its lines to.
TDlgLoading::~TDlgLoading() { FormDestroy(); }

TDlgLoading::Fit TDlgLoading::FittedSize(const QSize& designed, const QSize& least, const QSize& available) {
  const QSize minimum = least.boundedTo(available);
  return {designed.boundedTo(available).expandedTo(minimum), minimum};
}

void TDlgLoading::FitTo(const QRect& available) {
  Available = available;
  // The window's frame is known only once it exists; until then it counts
  // as none, and the first showing fits again.
  const QMargins frame = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
  const QSize room = available.size().shrunkBy(frame);
  const Fit fit = FittedSize(DesignedSize, layout()->totalMinimumSize(), room);
  setMinimumSize(fit.Minimum);
  resize(fit.Initial);
}

void TDlgLoading::showEvent(QShowEvent* event) {
  if (!event->spontaneous() && Available.isValid()) FitTo(Available);
  QDialog::showEvent(event);
}

void TDlgLoading::Execute(QWidget* owner) {
  auto dialog = std::make_unique<TDlgLoading>(owner);
  DlgLoading = dialog.get();
  dialog->exec();
  dialog.reset();
  DlgLoading = nullptr;
}

// The transport has no address yet, so this first Open makes no socket;
// "Загрузить" opens it for real.
void TDlgLoading::FormCreate() {
  Sockets = std::make_unique<SocketLibrary>();
  Rpc = std::make_unique<CRPCInterface>();
  Rpc->Open();
}

void TDlgLoading::FormDestroy() {
  StopLoading();
  RememberFields();
  Rpc.reset();
  Sockets.reset();
}

void TDlgLoading::StopLoading() {
  if (!Thread) return;
  if (Thread->Started()) {
    // Abort ends a request under way at once; the lines the worker still
    // writes on its way out are shown, and nothing else of the dialog runs.
    Rpc->Abort = true;
    Thread->RequestStop();
    HandOver->ShowUntilEnded([this](const CLogHandOver::Line& line) { ShowLog(line); });
    Thread->Wait();
  }
  Thread.reset();
  HandOver.reset();
  DropTrace();
}

// The transport tells the trace of every datagram until it is let go.
void TDlgLoading::DropTrace() {
  if (Rpc) Rpc->Observer = nullptr;
  Trace.reset();
}

void TDlgLoading::Button1Click() {
  StopLoading();
  ShowImage();
  LoadingTarget target = FieldTarget();
  if (Form->CheckBoxTrace->isChecked()) Trace = std::make_unique<trace::CWireTrace>();
  target.Trace = Trace.get();
  LoadingImage image = ReadLoadingImage(DefaultImagePath(), false);
  LoadingSetup setup = SetUpLoading(target, image, *Rpc);
  if (setup.Verdict.Outcome == LoadingVerdict::BadAddress) {
    Warn(QStringLiteral("Ошибка в написании IP адреса"));
    return;
  }
  Form->ListBox3->clear();
  Form->ProgressBar1->setValue(0);
  UploadPercent = 0;
  // The engineer's yes sends the very bytes that were checked and named in
  // the question, not whatever the file holds by then.
  if (setup.Verdict.Outcome == LoadingVerdict::Damaged && LoadDamaged(setup.Verdict.DefectSaid)) {
    image.Verdict.Outcome = LoadingVerdict::Ready;
    setup = SetUpLoading(target, image, *Rpc);
  }
  if (!Accepted(setup.Verdict) || !StartTrace(target)) {
    DropTrace();
    return;
  }
  Thread = std::move(setup.Procedure);
  Form->ListBox3->addItem(QStringLiteral("Размер файла конфигурации %1 байт").arg(Thread->ImageSize));
  if (Trace) Form->ListBox3->addItem(QStringLiteral("Обмен записывается в файл %1").arg(QFile::decodeName(DefaultTracePath().c_str())));
  StartLoading();
}

// The unit, gateway, tries and time-out as the fields say.
LoadingTarget TDlgLoading::FieldTarget() const {
  return {Form->Edit1->text().toStdString(), Form->CSpinEdit2->value(), FieldLinkSettings()};
}

// A trace that cannot be made keeps the loading back: the engineer asked
// for the record of it.
bool TDlgLoading::StartTrace(const LoadingTarget& target) {
  if (!Trace) return true;
  if (Trace->WriteTextTo(DefaultTracePath()).empty()) {
    Trace->Begin("load " + DefaultImagePath() + " into unit " + std::to_string(target.Unit) + " behind " +
                 target.Gateway);
    return true;
  }
  Warn(QString::fromStdString(Trace->Trouble().value_or("").Render(text::Language::Russian)));
  return false;
}

// Says why an image cannot go; a damaged one has been asked about already.
// One that does not fit the unit's memory is refused whole rather than cut.
bool TDlgLoading::Accepted(const LoadingVerdict& verdict) {
  const QString path = QFile::decodeName(DefaultImagePath().c_str());
  switch (verdict.Outcome) {
    case LoadingVerdict::Ready: return true;
    case LoadingVerdict::Unreadable:
      Warn(QStringLiteral("Ошибка чтения файла %1: %2")
               .arg(path, QString::fromStdString(FileError(verdict.Error).Render(text::Language::Russian))));
      break;
    case LoadingVerdict::TooLarge:
      Warn(QStringLiteral("Файл конфигурации слишком велик (%1 байт)").arg(verdict.FileSize));
      break;
    case LoadingVerdict::BadAddress:
    case LoadingVerdict::Damaged: break;
  }
  return false;
}

// A damaged image would leave the unit with a configuration it cannot use;
// the engineer decides whether it goes all the same.
bool TDlgLoading::LoadDamaged(const text::Message& defect) {
  const QString text = QStringLiteral("Файл конфигурации повреждён: %1\nЗагрузить всё равно?")
                           .arg(QString::fromStdString(defect.Render(text::Language::Russian)));
  QMessageBox box(QMessageBox::Warning, QString(), text, QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);  // Enter keeps a damaged image back
  return box.exec() == QMessageBox::Yes;
}

void TDlgLoading::StartLoading() {
  HandOver = std::make_unique<CLogHandOver>();
  CLogHandOver* const handOver = HandOver.get();
  Thread->Pauses = Pauses;
  Thread->Sink = [this, handOver](int kind, const std::string& text) {
    handOver->Hand(kind, text, [this] { QMetaObject::invokeMethod(this, "ShowPendingLog", Qt::QueuedConnection); });
  };
  Thread->CurrentLinkSettings = [this] { return Link.load(); };
  Thread->OnProgress = [this](std::uint32_t written, std::uint32_t total) {
    UploadPercent = static_cast<int>(std::min<std::uint64_t>(std::uint64_t{written} * FullPercent / total, FullPercent));
  };
  // After its final step the worker only waits to be stopped. A trace that
  // lost lines on the way says so last.
  Thread->OnFinalStep = [this, handOver, trace = Trace.get()](int) {
    if (const auto trouble = trace != nullptr ? trace->Trouble() : std::nullopt) {
      handOver->Hand(CThreadConfigLoading::Alert,
                     text::Cp1251("Обмен записан не полностью: ") +
                         trouble->Render(text::Language::Russian, text::Charset::Cp1251),
                     [this] { QMetaObject::invokeMethod(this, "ShowPendingLog", Qt::QueuedConnection); });
    }
    Running = false;
  };
  Thread->OnEnd = [this, handOver] {
    Running = false;
    handOver->WorkerEnded();
  };
  Running = true;
  Thread->Start();
}

void TDlgLoading::ShowPendingLog() {
  if (HandOver) HandOver->ShowPending([this](const CLogHandOver::Line& line) { ShowLog(line); });
}

void TDlgLoading::ShowLog(const CLogHandOver::Line& line) { ShowLine(line.Kind, FromCp1251(line.Text)); }

void TDlgLoading::ShowLine(int kind, const QString& text) {
  const QColor colour = kind == CThreadConfigLoading::Alert     ? AlertColour
                        : kind == CThreadConfigLoading::Success ? SuccessColour
                                                                : InfoColour;
  QPalette palette = Form->LabelProgress2->palette();
  palette.setColor(QPalette::WindowText, colour);
  Form->LabelProgress2->setPalette(palette);
  Form->LabelProgress2->setText(text);
  Form->LabelProgress2->setAccessibleName(text);
  Form->ListBox3->addItem(text);
  Form->ListBox3->scrollToBottom();
  Form->ProgressBar1->setValue(kind == CThreadConfigLoading::Success ? FullPercent : UploadPercent.load());
}

// A loading cut short leaves the unit waiting for the rest of its image, so
// closing asks first; the loading goes on while the question is open.
void TDlgLoading::reject() {
  if (Running && !ConfirmAbort()) return;
  if (Running) {  // it may have ended while the question was open
    StopLoading();
    ShowLine(CThreadConfigLoading::Alert, QStringLiteral("Загрузка прервана пользователем"));
  }
  QDialog::reject();
}

bool TDlgLoading::ConfirmAbort() {
  QMessageBox box(QMessageBox::Warning, QString(),
                  QStringLiteral("Прервать загрузку? АУ может остаться в режиме \"ЗАГРУЗКА КОНФИГУРАЦИИ\""),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void TDlgLoading::ShowImage() {
  const QString text = ImageDescription(DefaultImagePath());
  Form->LabelImage->setText(text);
  Form->LabelImage->setToolTip(text);
}

// The file's time is that of the export that wrote it.
QString TDlgLoading::ImageDescription(const std::string& path) {
  const QString shown = QFile::decodeName(path.c_str());
  const QFileInfo file(shown);
  if (!file.isFile()) return QStringLiteral("Файл: %1 (нет файла)").arg(shown);
  return QStringLiteral("Файл: %1, %2 байт, %3")
      .arg(shown)
      .arg(file.size())
      .arg(file.lastModified().toString(QStringLiteral("dd.MM.yyyy HH:mm")));
}

void TDlgLoading::Warn(const QString& text) {
  QMessageBox box(QMessageBox::Warning, QString(), text, QMessageBox::Ok, this);
  box.exec();
}

// The upload takes the tries and time-out afresh; the worker reads them
// from here, never from the fields.
void TDlgLoading::KeepLinkSettings() { Link = FieldLinkSettings(); }

LinkSettings TDlgLoading::FieldLinkSettings() const {
  return LinkSettings{Form->CSpinEdit1->value(), static_cast<std::uint32_t>(Form->CSpinEdit3->value())};
}

// What the engineer may type and what a first opening shows come from the
// limits; the form holds none of these numbers.
void TDlgLoading::ApplyLimits() {
  Form->Edit1->setText(QString::fromLatin1(limits::DefaultGateway));
  Form->Edit1->setToolTip(
      QStringLiteral("Адрес ВЕЛАР: a.b.c.d или a.b.c.d:порт (по умолчанию порт %1)").arg(limits::GatewayPort));
  Offer(Form->CSpinEdit2, limits::Unit, limits::DefaultUnit);
  Offer(Form->CSpinEdit1, limits::Tries, limits::DefaultTries);
  Offer(Form->CSpinEdit3, limits::TimeoutMs, limits::DefaultTimeoutMs);
}

void TDlgLoading::RestoreFields() {
  if (!LastFields) return;
  Form->Edit1->setText(LastFields->Gateway);
  Form->CSpinEdit2->setValue(LastFields->Unit);
  Form->CSpinEdit1->setValue(LastFields->Tries);
  Form->CSpinEdit3->setValue(LastFields->Timeout);
  Form->CheckBoxTrace->setChecked(LastFields->Trace);
}

void TDlgLoading::RememberFields() const {
  LastFields = Fields{Form->Edit1->text(), Form->CSpinEdit2->value(), Form->CSpinEdit1->value(),
                      Form->CSpinEdit3->value(), Form->CheckBoxTrace->isChecked()};
}

}  // namespace smsconf
