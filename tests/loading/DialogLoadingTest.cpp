// The loading dialog driven as the engineer drives it, against the
// simulated gateway and unit on 127.0.0.1, with the fixed pauses shrunk.

#include "loading/DialogLoading.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "common/GuiTest.h"
#include "common/TempDir.h"
#include "files/ExportPaths.h"
#include "model/Project.h"
#include "sim/Simulator.h"

namespace smsconf {
namespace {

using testing::Control;

const QString Completed = QStringLiteral("Загрузка конфигурации завершена (");

QString AccessibleName(QObject* object) { return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name); }

struct Unit {
  explicit Unit(std::chrono::milliseconds replyDelay = {}, bool finishUnanswered = false) : Simulator([&] {
    sim::SimulatorOptions options;
    options.Port = 0;
    options.ReplyDelay = replyDelay;
    options.InvalidFinishReply = finishUnanswered;
    return options;
  }()) {
    EXPECT_TRUE(Simulator.Start());
  }
  QString Address() const { return QStringLiteral("127.0.0.1:%1").arg(Simulator.Port()); }
  std::string Image() const {
    const std::vector<std::uint8_t> bytes = Simulator.ReceivedImage();
    return std::string(bytes.begin(), bytes.end());
  }
  sim::CSimulator Simulator;
};

// The fixed image path lies in a fresh home folder of the test's own.
class DialogLoading : public ::testing::Test {
 protected:
  DialogLoading() { ::setenv("HOME", Home.Path.c_str(), 1); }

  // What "Экспорт" writes for the sample project; its bytes.
  static std::string ExportSample() {
    CProject project;
    project.FileName = SMSCONF_SOURCE_DIR "/examples/pumping-station.sms";
    project.Load();
    project.Compile(DefaultSourcePath());
    return testing::ReadFile(DefaultImagePath());
  }

  static std::unique_ptr<TDlgLoading> Open(const QString& gateway, int tries = 5, int timeout = 200) {
    auto dialog = std::make_unique<TDlgLoading>(nullptr);
    Fill(dialog.get(), gateway, tries, timeout);
    dialog->show();
    return dialog;
  }

  // Every field, as the dialog may show what an earlier test typed.
  static void Fill(QWidget* dialog, const QString& gateway, int tries, int timeout, int unit = 1) {
    static_cast<TDlgLoading*>(dialog)->Pauses.Scale = 0.0;
    auto* edit = Control<QLineEdit>(dialog, "Edit1");
    edit->clear();
    QTest::keyClicks(edit, gateway);
    Control<QSpinBox>(dialog, "CSpinEdit2")->setValue(unit);
    Control<QSpinBox>(dialog, "CSpinEdit1")->setValue(tries);
    Control<QSpinBox>(dialog, "CSpinEdit3")->setValue(timeout);
  }
  static std::string Fields(QWidget* dialog) {
    return QStringLiteral("%1 %2 %3 %4")
        .arg(Control<QLineEdit>(dialog, "Edit1")->text())
        .arg(Control<QSpinBox>(dialog, "CSpinEdit2")->value())
        .arg(Control<QSpinBox>(dialog, "CSpinEdit1")->value())
        .arg(Control<QSpinBox>(dialog, "CSpinEdit3")->value())
        .toStdString();
  }

  static void Press(QWidget* dialog) { QTest::mouseClick(Control<QPushButton>(dialog, "Button1"), Qt::LeftButton); }

  static QStringList Lines(QWidget* dialog) {
    QStringList lines;
    auto* list = Control<QListWidget>(dialog, "ListBox3");
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
  }
  static bool WaitForLast(QWidget* dialog, const QString& start) {
    return testing::WaitUntil([&] { return Lines(dialog).value(Lines(dialog).size() - 1).startsWith(start); }, 60000);
  }
  static QColor LabelColour(QWidget* dialog) {
    return Control<QLabel>(dialog, "LabelProgress2")->palette().color(QPalette::WindowText);
  }

  testing::TempDir Home;
};

// The first opening of the run shows the defaults, later ones what was
// typed last (this test comes first, so that its opening is the run's
// first). The upload takes the tries and time-out that the fields show
// when it begins: those restored, or a time-out changed since the start.
TEST_F(DialogLoading, FieldsKeepTheirLastValuesAndTheUploadTakesThemWhenItBegins) {
  ExportSample();
  Unit unit;
  std::string first;
  testing::ModalAnswer answer([&](QWidget* modal) {
    EXPECT_EQ(modal, DlgLoading);
    first = Fields(modal);
    Fill(modal, unit.Address(), 7, 300, 9);
    modal->close();
  });
  TDlgLoading::Execute(nullptr);
  EXPECT_EQ(DlgLoading, nullptr);
  EXPECT_EQ(first, "192.168.1.1 1 15 250");
  auto dialog = std::make_unique<TDlgLoading>(nullptr);
  ASSERT_EQ(Fields(dialog.get()), unit.Address().toStdString() + " 9 7 300");
  dialog->Pauses.Scale = 0.0;
  Control<QSpinBox>(dialog.get(), "CSpinEdit2")->setValue(1);
  dialog->show();
  for (const std::uint32_t timeout : {300u, 350u}) {
    Press(dialog.get());
    // The worker waits until its first line is shown: the upload is to come.
    Control<QSpinBox>(dialog.get(), "CSpinEdit3")->setValue(static_cast<int>(timeout));
    ASSERT_TRUE(WaitForLast(dialog.get(), Completed)) << timeout;
    EXPECT_EQ(dialog->Rpc->Tries, 7) << timeout;
    EXPECT_EQ(dialog->Rpc->Timeout, timeout);
  }
}

// The dialog's own size line comes first, then the loading's lines as they
// come, with the unit and gateway of the fields; the loading's whole log is
// the procedure's tests' to check.
TEST_F(DialogLoading, WritesTheExportedImageAndShowsItsLog) {
  const std::string image = ExportSample();
  Unit unit;
  auto dialog = Open(unit.Address());
  Press(dialog.get());
  ASSERT_TRUE(WaitForLast(dialog.get(), Completed));

  const QStringList lines = Lines(dialog.get());
  EXPECT_EQ(lines.mid(0, 3).join('\n').toStdString(),
            QStringList({"Размер файла конфигурации " + QString::number(image.size()) + " байт",
                         "Обновление конфигурации АУ [1]", "Подключение к ВЕЛАР по адресу [" + unit.Address() + "]"})
                .join('\n')
                .toStdString());
  EXPECT_EQ(unit.Image(), image);

  auto* label = Control<QLabel>(dialog.get(), "LabelProgress2");
  auto* list = Control<QListWidget>(dialog.get(), "ListBox3");
  EXPECT_EQ(label->text(), Lines(dialog.get()).last());
  EXPECT_EQ(LabelColour(dialog.get()), QColor(0x00, 0x80, 0x00));
  EXPECT_EQ(Control<QProgressBar>(dialog.get(), "ProgressBar1")->value(), 100);
  EXPECT_EQ(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
  // What a screen reader is told.
  EXPECT_EQ(AccessibleName(label), label->text());
  QAccessibleInterface* listAccess = QAccessible::queryAccessibleInterface(list);
  EXPECT_EQ(listAccess->child(listAccess->childCount() - 1)->text(QAccessible::Name), label->text());
  EXPECT_EQ(QAccessible::queryAccessibleInterface(Control<QLineEdit>(dialog.get(), "Edit1"))->text(QAccessible::Value),
            unit.Address());
  for (const char* field : {"Label2", "Label8", "Label9"}) {
    auto* caption = Control<QLabel>(dialog.get(), field);
    EXPECT_EQ(AccessibleName(caption->buddy()), caption->text()) << field;
  }
}

// Every check comes as a warning box with an empty caption, before any
// request goes out. An empty image is damaged, but goes when the engineer
// says so, and its loading ends with a full bar.
TEST_F(DialogLoading, ChecksTheInputFirst) {
  Unit unit;
  const struct {
    const char* Name;
    std::optional<std::string> Image;  // none: no image file
    QString Gateway;
    QString Box;  // a part of the box's text
    QMessageBox::StandardButton Answer;
    QString FirstLine;  // of the list afterwards; empty: no line
  } cases[] = {
      {"bad address", std::string(30, '\0'), "192.168.1.1.5", "Ошибка в написании IP адреса", QMessageBox::Ok,
       "earlier run"},
      {"no image", std::nullopt, "127.0.0.1", "sms.bin: нет такого файла", QMessageBox::Ok, ""},
      {"too large", std::string(65537, 'x'), "127.0.0.1", "Файл конфигурации слишком велик (65537 байт)",
       QMessageBox::Ok, ""},
      {"damaged", std::string(30, '\0'), "127.0.0.1", "повреждён: смещение 0: сигнатура 0x0000 — не 0x7331\n", QMessageBox::No, ""},
      {"damaged, loaded all the same", "", unit.Address(), "\nЗагрузить всё равно?", QMessageBox::Yes,
       "Размер файла конфигурации 0 байт"},
  };
  for (const auto& c : cases) {
    std::remove(DefaultImagePath().c_str());
    if (c.Image) testing::WriteFile(DefaultImagePath(), *c.Image);
    auto dialog = Open(c.Gateway);
    Control<QListWidget>(dialog.get(), "ListBox3")->addItem("earlier run");
    QString text;
    testing::ModalAnswer answer([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      text = box->text();
      EXPECT_TRUE(box->windowTitle().isEmpty() && box->icon() == QMessageBox::Warning) << c.Name;
      // Enter gives the default answer: OK, or No to a damaged image.
      if (c.Answer == QMessageBox::Yes) return testing::PressBoxButton(box, c.Answer);
      QTest::keyClick(box, Qt::Key_Return);
    });
    Press(dialog.get());
    EXPECT_TRUE(text.contains(c.Box)) << c.Name << ": " << text.toStdString();
    EXPECT_EQ(Lines(dialog.get()).value(0), c.FirstLine) << c.Name;
    ASSERT_EQ(dialog->Thread && dialog->Thread->Started(), c.Answer == QMessageBox::Yes) << c.Name;
    if (c.Answer != QMessageBox::Yes) continue;
    ASSERT_TRUE(WaitForLast(dialog.get(), Completed));
    EXPECT_EQ(Control<QProgressBar>(dialog.get(), "ProgressBar1")->value(), 100);
  }
}

// A second press aborts the loading under way, clears the list and starts
// afresh, whether the first had only begun or was writing blocks.
TEST_F(DialogLoading, PressingAgainStartsAfresh) {
  const std::string image = ExportSample();
  for (const bool midUpload : {false, true}) {
    Unit unit;
    auto dialog = Open(unit.Address());
    auto* bar = Control<QProgressBar>(dialog.get(), "ProgressBar1");
    Press(dialog.get());
    if (midUpload) {
      ASSERT_TRUE(testing::WaitUntil([&] { return bar->value() > 0; }));
    }
    Press(dialog.get());
    EXPECT_EQ(bar->value(), 0) << midUpload;
    ASSERT_TRUE(WaitForLast(dialog.get(), Completed)) << midUpload;
    const QStringList lines = Lines(dialog.get());
    EXPECT_TRUE(lines.front().startsWith("Размер файла конфигурации ")) << midUpload;
    EXPECT_EQ(lines.filter("Обновление конфигурации АУ [1]").size(), 1) << midUpload;
    EXPECT_EQ(unit.Image(), image) << midUpload;
  }
}

// A loading cut short leaves the unit in its loading mode, so closing asks
// while one runs; No goes on with it, Yes ends it at once and says so: it
// aborts the request under way, which a unit gone silent would hold for ten
// tries of half a second, and cuts short the fixed pauses, of which "BOOT"
// has three of half a second. Once it has ended, closing asks nothing.
TEST_F(DialogLoading, ClosingDuringALoadingAsksFirst) {
  ExportSample();
  const QString writing = "Загрузка файла конфигурации (";
  const QString aborted = "Загрузка прервана пользователем";
  const struct {
    const char* Name;
    std::optional<QMessageBox::StandardButton> Answer;  // none: closed after the end, not asked
    QString ClosedAfter;  // the start of the last line when it is closed
    bool Silent;          // the unit goes silent then
    double Pauses;        // the fixed pauses' scale
    bool StaysOpen;
    QString Last;  // the start of the last line in the end
  } cases[] = {
      {"no", QMessageBox::No, writing, false, 0.0, true, Completed},
      {"yes, the unit gone silent", QMessageBox::Yes, writing, true, 0.0, false, aborted},
      {"yes, in the pauses of BOOT", QMessageBox::Yes, "Переводим АУ в режим \"BOOT\"", false, 1.0, false, aborted},
      {"after the end", std::nullopt, Completed, false, 0.0, false, Completed},
  };
  for (const auto& c : cases) {
    Unit unit(std::chrono::milliseconds(c.Answer ? 20 : 0));
    auto dialog = Open(unit.Address(), 10, 500);
    dialog->Pauses.Scale = c.Pauses;
    Press(dialog.get());
    ASSERT_TRUE(WaitForLast(dialog.get(), c.ClosedAfter)) << c.Name;
    if (c.Silent) unit.Simulator.Stop();
    QTest::qWait(c.Answer ? 0 : 100);  // the worker ends just after its last line
    QMessageBox* asked = nullptr;
    testing::ModalAnswer answer([&](QWidget* modal) {
      asked = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(asked, nullptr) << c.Name;
      EXPECT_EQ(asked->text(), "Прервать загрузку? АУ может остаться в режиме \"ЗАГРУЗКА КОНФИГУРАЦИИ\"");
      EXPECT_TRUE(asked->windowTitle().isEmpty()) << c.Name;
      EXPECT_EQ(asked->defaultButton(), asked->button(QMessageBox::No)) << c.Name;
      testing::PressBoxButton(modal, c.Answer.value_or(QMessageBox::No));
    });
    QElapsedTimer closing;
    closing.start();
    dialog->close();
    EXPECT_LT(closing.elapsed(), 1000) << c.Name;
    EXPECT_EQ(answer.Count(), c.Answer ? 1u : 0u) << c.Name;
    EXPECT_EQ(dialog->isVisible(), c.StaysOpen) << c.Name;
    if (c.StaysOpen) {
      ASSERT_TRUE(WaitForLast(dialog.get(), Completed)) << c.Name;
      EXPECT_EQ(unit.Image(), testing::ReadFile(DefaultImagePath())) << c.Name;
    }
    EXPECT_TRUE(Lines(dialog.get()).last().startsWith(c.Last)) << c.Name << ": " << Lines(dialog.get()).last().toStdString();
    EXPECT_EQ(Lines(dialog.get()).filter("прервана").size(), c.Answer == QMessageBox::Yes ? 1 : 0) << c.Name;
  }
}

// The designed size where the screen has room for it, else what fits, never
// less than the controls need while the screen has room for that; the log
// list takes the loss, and "Загрузить" stays on the screen.
TEST_F(DialogLoading, FitsTheScreenAndOpensOnTheAddress) {
  const QSize designed(638, 563);
  const QSize least(420, 300);
  const struct {
    QSize Available;
    QSize Initial;
    QSize Minimum;
  } fits[] = {
      {{1366, 728}, {638, 563}, {420, 300}},  // fits
      {{910, 480}, {638, 480}, {420, 300}},   // 1366 x 768 at 1.5 times, less the task bar
      {{400, 250}, {400, 250}, {400, 250}},   // not even the controls fit
  };
  for (const auto& f : fits) {
    const TDlgLoading::Fit fit = TDlgLoading::FittedSize(designed, least, f.Available);
    EXPECT_EQ(fit.Initial, f.Initial) << f.Available.height();
    EXPECT_EQ(fit.Minimum, f.Minimum) << f.Available.height();
  }

  // The whole form at the designed size on the test's screen, and on a short one.
  QSize opened;
  QString focus;
  testing::ModalAnswer answer([&](QWidget* modal) {
    opened = modal->size();
    focus = modal->focusWidget() != nullptr ? modal->focusWidget()->objectName() : QString();
    modal->close();
  });
  TDlgLoading::Execute(nullptr);
  EXPECT_EQ(opened, designed);
  EXPECT_EQ(focus, "Edit1");

  auto dialog = std::make_unique<TDlgLoading>(nullptr);
  dialog->FitTo(QRect(0, 0, 910, 480));
  dialog->show();
  EXPECT_EQ(dialog->width(), 638);
  EXPECT_LE(dialog->frameGeometry().height(), 480);
  EXPECT_GT(dialog->height(), 440);  // the frame aside
  auto* button = Control<QPushButton>(dialog.get(), "Button1");
  EXPECT_TRUE(dialog->rect().contains(QRect(button->mapTo(dialog.get(), QPoint(0, 0)), button->size())));
  EXPECT_GT(Control<QListWidget>(dialog.get(), "ListBox3")->height(), 0);
}

// The image "Загрузить" sends: the file as it is when the dialog opens, and
// again when the button is pressed.
TEST_F(DialogLoading, NamesTheImageItSends) {
  std::remove(DefaultImagePath().c_str());
  auto dialog = Open("1.2.3.4.5");
  auto* label = Control<QLabel>(dialog.get(), "LabelImage");
  const QString path = QString::fromStdString(DefaultImagePath());
  EXPECT_EQ(label->text(), "Файл: " + path + " (нет файла)");

  testing::WriteFile(DefaultImagePath(), std::string(1234, 'x'));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2026, 12, 7), QTime(1, 23, 45)), QFileDevice::FileModificationTime));
  file.close();
  testing::ModalAnswer answer(testing::BoxReply(QMessageBox::Ok));
  Press(dialog.get());
  EXPECT_EQ(label->text(), "Файл: " + path + ", 1234 байт, 07.12.2026 01:23");
}

// The completion line stays, but the label ends red on the warning behind it.
TEST_F(DialogLoading, AnEndingTheUnitDidNotConfirmEndsRed) {
  ExportSample();
  Unit unit({}, true);
  auto dialog = Open(unit.Address());
  Press(dialog.get());
  ASSERT_TRUE(WaitForLast(dialog.get(), "Внимание! АУ не подтвердил завершение загрузки"));
  EXPECT_TRUE(Lines(dialog.get()).value(Lines(dialog.get()).size() - 2).startsWith(Completed));
  EXPECT_EQ(LabelColour(dialog.get()), QColor(0xFF, 0x00, 0x00));
}

}  // namespace
}  // namespace smsconf
