// The loading dialog driven as the engineer drives it, against the
// simulated gateway and unit on 127.0.0.1, with the fixed pauses shrunk.

#include "loading/DialogLoading.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>

#include <cstdio>
#include <filesystem>
#include <optional>

#include "common/GuiTest.h"
#include "common/TempDir.h"
#include "files/ExportPaths.h"
#include "model/Project.h"
#include "sim/Simulator.h"

namespace smsconf::testing {
namespace {

const QString Completed = QStringLiteral("Загрузка конфигурации завершена (");

struct Unit {
  explicit Unit(std::chrono::milliseconds replyDelay = {}, bool finishUnanswered = false)
      : Simulator(Options(replyDelay, finishUnanswered)) {
    EXPECT_TRUE(Simulator.Start());
  }
  static sim::SimulatorOptions Options(std::chrono::milliseconds replyDelay, bool finishUnanswered) {
    sim::SimulatorOptions options;
    options.Port = 0;
    options.InvalidFinishReply = finishUnanswered;
    options.ReplyDelay = replyDelay;
    return options;
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
    return ReadFile(DefaultImagePath());
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
    Control<QCheckBox>(dialog, "CheckBoxTrace")->setChecked(false);
    Control<QLineEdit>(dialog, "Edit1")->clear();
    QTest::keyClicks(Control<QLineEdit>(dialog, "Edit1"), gateway);
    for (const auto& [name, value] : {std::pair{"CSpinEdit2", unit}, {"CSpinEdit1", tries}, {"CSpinEdit3", timeout}}) {
      Control<QSpinBox>(dialog, name)->setValue(value);
    }
  }
  // The address, unit, tries, time-out and whether the exchange is traced.
  static QString Fields(QWidget* dialog) {
    QString fields = Control<QLineEdit>(dialog, "Edit1")->text();
    for (const char* name : {"CSpinEdit2", "CSpinEdit1", "CSpinEdit3"}) {
      fields += " " + QString::number(Control<QSpinBox>(dialog, name)->value());
    }
    return fields + (Control<QCheckBox>(dialog, "CheckBoxTrace")->isChecked() ? " traced" : "");
  }

  static void Press(QWidget* dialog) { QTest::mouseClick(Control<QPushButton>(dialog, "Button1"), Qt::LeftButton); }

  static QStringList Lines(QWidget* dialog) {
    QStringList lines;
    auto* list = Control<QListWidget>(dialog, "ListBox3");
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
  }
  static bool WaitForLast(QWidget* dialog, const QString& start, int ms = 60000) {
    return WaitUntil([&] { return Lines(dialog).value(Lines(dialog).size() - 1).startsWith(start); }, ms);
  }

  TempDir Home;
};

// The first opening of the run shows the defaults at the designed size on
// the address, later ones what was typed last. The upload takes the tries
// and time-out that the fields show when it begins: those restored, or a
// time-out changed since the start. A traced loading writes the exchange
// beside the image, afresh each time, and says where; one whose trace lost
// lines says so last.
TEST_F(DialogLoading, FieldsKeepTheirLastValuesAndTheUploadTakesThemWhenItBegins) {
  ExportSample();
  Unit unit;
  QString first;
  ModalAnswer answer([&](QWidget* modal) {
    EXPECT_EQ(modal, DlgLoading);
    first = Fields(modal) + QStringLiteral(" %1x%2 ").arg(modal->width()).arg(modal->height());
    if (modal->focusWidget() != nullptr) first += modal->focusWidget()->objectName();
    Fill(modal, unit.Address(), 7, 300, 9);
    QTest::mouseClick(Control<QCheckBox>(modal, "CheckBoxTrace"), Qt::LeftButton);
    modal->close();
  });
  TDlgLoading::Execute(nullptr);
  EXPECT_EQ(DlgLoading, nullptr);
  EXPECT_EQ(first, "192.168.1.1 1 15 250 638x563 Edit1");
  auto dialog = std::make_unique<TDlgLoading>(nullptr);
  ASSERT_EQ(Fields(dialog.get()), unit.Address() + " 9 7 300 traced");
  dialog->Pauses.Scale = 0.0;
  Control<QSpinBox>(dialog.get(), "CSpinEdit2")->setValue(1);
  dialog->show();
  const std::string trace = Home.Path.string() + "/sms.trace";
  for (const std::uint32_t timeout : {300u, 350u}) {
    const bool full = timeout == 350u;
    if (full) std::filesystem::create_symlink("/dev/full", trace);
    Press(dialog.get());
    // The worker waits until its first line is shown: the upload is to come.
    Control<QSpinBox>(dialog.get(), "CSpinEdit3")->setValue(static_cast<int>(timeout));
    ASSERT_TRUE(WaitForLast(dialog.get(), full ? "Обмен записан не полностью: Cannot write file " +
                                                     QString::fromStdString(trace) + ": диск заполнен"
                                               : Completed,
                            full ? 10000 : 60000))
        << timeout;
    EXPECT_EQ(Lines(dialog.get()).value(1), "Обмен записывается в файл " + QString::fromStdString(trace));
    EXPECT_EQ(dialog->Rpc->Tries, 7) << timeout;
    EXPECT_EQ(dialog->Rpc->Timeout, timeout);
    if (full) break;
    const std::string written = ReadFile(trace);
    EXPECT_NE(written.find(" -- load " + DefaultImagePath() + " into unit 1 behind " + unit.Address().toStdString()),
              std::string::npos);
    EXPECT_NE(written.find(" WriteBlock"), std::string::npos) << written;
    EXPECT_NE(written.find(" -- step "), std::string::npos);
    std::filesystem::remove(trace);
  }
}

// When "Загрузить" is pressed a second time: it aborts the loading under
// way, clears the list and starts afresh.
enum class Again { Never, AtOnce, MidUpload };

// The dialog's own size line comes first, then the loading's lines as they
// come, with the unit and gateway of the fields; the loading's whole log is
// the procedure's tests' to check. An ending the unit did not confirm keeps
// the completion line, but the label ends red on the warning behind it.
TEST_F(DialogLoading, WritesTheExportedImageAndShowsItsLog) {
  const std::string image = ExportSample();
  for (const auto& [confirmed, again] :
       {std::pair{true, Again::Never}, {false, Again::Never}, {true, Again::AtOnce}, {true, Again::MidUpload}}) {
    SCOPED_TRACE(::testing::Message() << confirmed << " " << static_cast<int>(again));
    Unit unit({}, !confirmed);
    auto dialog = Open(unit.Address());
    auto* bar = Control<QProgressBar>(dialog.get(), "ProgressBar1");
    Press(dialog.get());
    if (again != Again::Never) {
      ASSERT_TRUE(again == Again::AtOnce || WaitUntil([&] { return bar->value() > 0; }));
      Press(dialog.get());
      EXPECT_EQ(bar->value(), 0);
    }
    ASSERT_TRUE(WaitForLast(dialog.get(), confirmed ? Completed : "Внимание! АУ не подтвердил завершение"));
    const QStringList lines = Lines(dialog.get());
    EXPECT_EQ(lines.mid(0, 3), QStringList({"Размер файла конфигурации " + QString::number(image.size()) + " байт",
                                            "Обновление конфигурации АУ [1]",
                                            "Подключение к ВЕЛАР по адресу [" + unit.Address() + "]"}));
    EXPECT_EQ(lines.filter("Обновление конфигурации АУ [1]").size(), 1);
    EXPECT_TRUE(lines.value(lines.size() - (confirmed ? 1 : 2)).startsWith(Completed));
    EXPECT_EQ(unit.Image(), image);

    auto* label = Control<QLabel>(dialog.get(), "LabelProgress2");
    auto* list = Control<QListWidget>(dialog.get(), "ListBox3");
    EXPECT_EQ(label->text(), lines.last());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name), label->text());
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(confirmed ? 0x008000 : 0xFF0000));
    EXPECT_EQ(bar->value(), 100);
    EXPECT_EQ(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
  }
}

// Every check comes as a warning box with an empty caption, before any
// request goes out. An empty image is damaged, but goes when the engineer
// says so, and its loading ends with a full bar.
TEST_F(DialogLoading, ChecksTheInputFirst) {
  Unit unit;
  const std::string image = ExportSample();
  // The image file (none: no file), the gateway, a part of the box's text,
  // the answer, and the list's first line afterwards (empty: no line).
  const std::tuple<std::optional<std::string>, QString, QString, QMessageBox::StandardButton, QString> cases[] = {
      // Enter gives the default answer: OK, or No to a damaged image.
      {std::string(30, '\0'), "192.168.1.1.5", "Ошибка в написании IP адреса", Enter, "earlier run"},
      {std::nullopt, "127.0.0.1", "sms.bin: нет такого файла", Enter, ""},
      {std::string(65537, 'x'), "127.0.0.1", "Файл конфигурации слишком велик (65537 байт)", Enter, ""},
      {std::string(30, '\0'), "127.0.0.1", "повреждён: смещение 0: сигнатура 0x0000 — не 0x7331\n", Enter, ""},
      {"", unit.Address(), "\nЗагрузить всё равно?", QMessageBox::Yes, "Размер файла конфигурации 0 байт"},
      // The trace asked for cannot be made: nothing goes.
      {image, unit.Address(), "Cannot create file " + QString::fromStdString(Home.Path.string()) + "/sms.trace: это папка",
       Enter, ""},
  };
  for (const auto& [image, gateway, part, reply, firstLine] : cases) {
    SCOPED_TRACE(part.toStdString());
    std::remove(DefaultImagePath().c_str());
    if (image) WriteFile(DefaultImagePath(), *image);
    auto dialog = Open(gateway);
    const bool traced = part.contains("sms.trace");
    if (traced) std::filesystem::create_directory(DefaultTracePath());
    Control<QCheckBox>(dialog.get(), "CheckBoxTrace")->setChecked(traced);
    Control<QListWidget>(dialog.get(), "ListBox3")->addItem("earlier run");
    BoxSeen box;
    ModalAnswer answer(BoxReply(reply, &box));
    Press(dialog.get());
    EXPECT_TRUE(box.Text.contains(part)) << box.Text;
    EXPECT_TRUE(box.Title.isEmpty() && box.Icon == QMessageBox::Warning);
    EXPECT_EQ(Lines(dialog.get()).value(0), firstLine);
    ASSERT_EQ(dialog->Thread && dialog->Thread->Started(), reply == QMessageBox::Yes);
    EXPECT_EQ(unit.Simulator.ReceivedImage().size(), 0u);
    if (reply != QMessageBox::Yes) continue;
    ASSERT_TRUE(WaitForLast(dialog.get(), Completed));
    EXPECT_EQ(Control<QProgressBar>(dialog.get(), "ProgressBar1")->value(), 100);
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
  // The answer (none: closed after the end, not asked), the start of the
  // last line when it is closed, whether the unit goes silent then, the
  // fixed pauses' scale and the start of the last line in the end.
  const std::tuple<const char*, std::optional<QMessageBox::StandardButton>, QString, bool, double, QString> cases[] = {
      {"no", QMessageBox::No, writing, false, 0.0, Completed},
      {"yes, the unit gone silent", QMessageBox::Yes, writing, true, 0.0, aborted},
      {"yes, in the pauses of BOOT", QMessageBox::Yes, "Переводим АУ в режим \"BOOT\"", false, 1.0, aborted},
      {"after the end", std::nullopt, Completed, false, 0.0, Completed},
  };
  for (const auto& [name, reply, closedAfter, silent, pauses, last] : cases) {
    SCOPED_TRACE(name);
    Unit unit(std::chrono::milliseconds(reply ? 20 : 0));
    auto dialog = Open(unit.Address(), 10, 500);
    dialog->Pauses.Scale = pauses;
    Press(dialog.get());
    ASSERT_TRUE(WaitForLast(dialog.get(), closedAfter));
    if (silent) unit.Simulator.Stop();
    QTest::qWait(reply ? 0 : 100);  // the worker ends just after its last line
    BoxSeen asked;
    ModalAnswer answer(BoxReply(reply.value_or(QMessageBox::No), &asked));
    QElapsedTimer closing;
    closing.start();
    dialog->close();
    EXPECT_LT(closing.elapsed(), 1000);
    EXPECT_EQ(answer.Count(), reply ? 1u : 0u);
    if (reply) {
      EXPECT_EQ(asked.Text, "Прервать загрузку? АУ может остаться в режиме \"ЗАГРУЗКА КОНФИГУРАЦИИ\"");
      EXPECT_TRUE(asked.Title.isEmpty() && asked.Default == QMessageBox::No);
    }
    EXPECT_EQ(dialog->isVisible(), reply == QMessageBox::No);
    if (reply == QMessageBox::No) {
      ASSERT_TRUE(WaitForLast(dialog.get(), Completed));
      EXPECT_EQ(unit.Image(), ReadFile(DefaultImagePath()));
    }
    EXPECT_TRUE(Lines(dialog.get()).last().startsWith(last)) << Lines(dialog.get()).last();
    EXPECT_EQ(Lines(dialog.get()).filter("прервана").size(), reply == QMessageBox::Yes ? 1 : 0);
  }
}

// The designed size where the screen has room for it, else what fits, never
// less than the controls need while the screen has room for that; the log
// list takes the loss, and "Загрузить" stays on the screen.
TEST_F(DialogLoading, FitsTheScreen) {
  for (const auto& [available, initial, minimum] : std::vector<std::tuple<QSize, QSize, QSize>>{
           {{1366, 728}, {638, 563}, {420, 300}},    // fits
           {{910, 480}, {638, 480}, {420, 300}},     // 1366 x 768 at 1.5 times, less the task bar
           {{400, 250}, {400, 250}, {400, 250}}}) {  // not even the controls fit
    const TDlgLoading::Fit fit = TDlgLoading::FittedSize({638, 563}, {420, 300}, available);
    EXPECT_EQ(fit.Initial, initial) << available.height();
    EXPECT_EQ(fit.Minimum, minimum) << available.height();
  }
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

  WriteFile(DefaultImagePath(), std::string(1234, 'x'));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2026, 12, 7), QTime(1, 23, 45)), QFileDevice::FileModificationTime));
  file.close();
  ModalAnswer answer(BoxReply(QMessageBox::Ok));
  Press(dialog.get());
  EXPECT_EQ(label->text(), "Файл: " + path + ", 1234 байт, 07.12.2026 01:23");
}

}  // namespace
}  // namespace smsconf::testing
