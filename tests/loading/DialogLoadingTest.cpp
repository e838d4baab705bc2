// The loading dialog driven as the engineer drives it, against the
// simulated gateway and unit on 127.0.0.1, with the fixed pauses shrunk.

#include "loading/DialogLoading.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <optional>

#include "common/GuiTest.h"
#include "common/TempDir.h"
#include "common/UdpPeer.h"
#include "image/ExportPaths.h"
#include "model/Project.h"
#include "sim/Simulator.h"

namespace smsconf {
namespace {

using testing::Control;
using testing::WaitUntil;

constexpr int LongWaitMs = 60000;
const QString Completed = QStringLiteral("Загрузка конфигурации завершена (");

QString AccessibleText(QObject* object, QAccessible::Text which) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(object);
  return accessible != nullptr ? accessible->text(which) : QStringLiteral("<none>");
}

struct Unit {
  explicit Unit(std::chrono::milliseconds replyDelay = {}) : Simulator([&] {
    sim::SimulatorOptions options;
    options.Port = 0;
    options.ReplyDelay = replyDelay;
    return options;
  }()) {
    EXPECT_TRUE(Simulator.Start());
  }
  QString Address() const { return QStringLiteral("127.0.0.1:%1").arg(Simulator.Port()); }
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
  static void Fill(QWidget* dialog, const QString& gateway, int tries, int timeout) {
    static_cast<TDlgLoading*>(dialog)->Pauses.Scale = 0.0;
    auto* edit = Control<QLineEdit>(dialog, "Edit1");
    edit->clear();
    QTest::keyClicks(edit, gateway);
    Control<QSpinBox>(dialog, "CSpinEdit2")->setValue(1);
    Control<QSpinBox>(dialog, "CSpinEdit1")->setValue(tries);
    Control<QSpinBox>(dialog, "CSpinEdit3")->setValue(timeout);
  }

  static void Press(QWidget* dialog) { QTest::mouseClick(Control<QPushButton>(dialog, "Button1"), Qt::LeftButton); }

  static QStringList Lines(QWidget* dialog) {
    QStringList lines;
    auto* list = Control<QListWidget>(dialog, "ListBox3");
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
  }
  static QString LastLine(QWidget* dialog) { return Lines(dialog).value(Lines(dialog).size() - 1); }
  static bool WaitForLast(QWidget* dialog, const QString& start) {
    return WaitUntil([&] { return LastLine(dialog).startsWith(start); }, LongWaitMs);
  }

  static QColor LabelColour(QWidget* dialog) {
    return Control<QLabel>(dialog, "LabelProgress2")->palette().color(QPalette::WindowText);
  }

  testing::TempDir Home;
};

// The first opening of the run shows the defaults, later ones what was
// typed last; this test comes first, so that its opening is the run's first.
TEST_F(DialogLoading, FieldsKeepTheirLastValues) {
  const struct {
    QString Gateway;
    int Unit, Tries, Timeout;
  } shown[] = {{"192.168.1.1", 1, 15, 250}, {"10.0.0.7:1200", 9, 3, 400}};
  for (int opening = 0; opening < 2; ++opening) {
    testing::ModalAnswer answer([&](QWidget* modal) {
      EXPECT_EQ(modal->windowTitle(), "Загрузка конфигурации ONLINE");
      EXPECT_EQ(Control<QLineEdit>(modal, "Edit1")->text().toStdString(), shown[opening].Gateway.toStdString());
      const char* spins[] = {"CSpinEdit2", "CSpinEdit1", "CSpinEdit3"};
      const int values[] = {shown[opening].Unit, shown[opening].Tries, shown[opening].Timeout};
      const char* labels[] = {"Label2", "Label8", "Label9"};
      for (int i = 0; i < 3; ++i) {
        auto* spin = Control<QSpinBox>(modal, spins[i]);
        EXPECT_EQ(spin->value(), values[i]) << spins[i];
        EXPECT_EQ(AccessibleText(spin, QAccessible::Name), Control<QLabel>(modal, labels[i])->text()) << spins[i];
      }
      Control<QLineEdit>(modal, "Edit1")->setText(shown[1].Gateway);
      Control<QSpinBox>(modal, "CSpinEdit2")->setValue(shown[1].Unit);
      Control<QSpinBox>(modal, "CSpinEdit1")->setValue(shown[1].Tries);
      Control<QSpinBox>(modal, "CSpinEdit3")->setValue(shown[1].Timeout);
      modal->close();
    });
    TDlgLoading::Execute(nullptr);
    ASSERT_TRUE(answer.Answered());
  }
}

TEST_F(DialogLoading, WritesTheExportedImageAndShowsEveryStep) {
  const std::string image = ExportSample();
  Unit unit;
  auto dialog = Open(unit.Address());
  Press(dialog.get());
  ASSERT_TRUE(WaitForLast(dialog.get(), Completed));

  const QString size = QString::number(image.size());
  QStringList expected = {
      "Размер файла конфигурации " + size + " байт", "Обновление конфигурации АУ [1]",
      "Подключение к ВЕЛАР по адресу [" + unit.Address() + "]", "Выполнено подключение к [127.0.0.1]",
      "Идентификатор [SMS-AU SIM 1.00]", "Переводим АУ в режим \"BOOT\"", "АУ в режиме \"ОБНОВЛЕНИЕ ПРОШИВКИ\"",
      "Переводим АУ в режим \"ЗАГРУЗКА КОНФИГУРАЦИИ\"", "АУ в режиме \"ЗАГРУЗКА КОНФИГУРАЦИИ\"",
      "Загрузка файла конфигурации (" + size + " байт)"};
  for (std::size_t block = 0; block < (image.size() + 63) / 64; ++block) expected << "Выполнено N %";
  expected << "Загрузка завершена" << "Завершение" << "АУ в режиме \"РАБОТА\"" << "Переводим АУ в режим \"РАБОТА\""
           << "Идентификатор [SMS-AU SIM 1.00]" << "completed";
  QStringList lines = Lines(dialog.get());
  lines.replaceInStrings(QRegularExpression("^Выполнено \\d+ %$"), "Выполнено N %");
  lines.replaceInStrings(QRegularExpression("^Загрузка конфигурации завершена \\(\\d+ мс\\)$"), "completed");
  EXPECT_EQ(lines, expected);

  const std::vector<std::uint8_t> received = unit.Simulator.ReceivedImage();
  EXPECT_EQ(std::string(received.begin(), received.end()), image);
  auto* label = Control<QLabel>(dialog.get(), "LabelProgress2");
  auto* list = Control<QListWidget>(dialog.get(), "ListBox3");
  EXPECT_EQ(label->text(), LastLine(dialog.get()));
  EXPECT_EQ(LabelColour(dialog.get()), QColor(0x00, 0x80, 0x00));
  EXPECT_EQ(Control<QProgressBar>(dialog.get(), "ProgressBar1")->value(), 100);
  EXPECT_EQ(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
  // What a screen reader is told.
  EXPECT_EQ(AccessibleText(label, QAccessible::Name), label->text());
  EXPECT_EQ(AccessibleText(Control<QLineEdit>(dialog.get(), "Edit1"), QAccessible::Value), unit.Address());
  QAccessibleInterface* listAccess = QAccessible::queryAccessibleInterface(list);
  ASSERT_NE(listAccess, nullptr);
  ASSERT_GT(listAccess->childCount(), 0);
  EXPECT_EQ(listAccess->child(listAccess->childCount() - 1)->text(QAccessible::Name), label->text());
}

// Every refusal comes as a warning box with an empty caption, before any
// request goes out.
TEST_F(DialogLoading, RefusesBadInputWithAWarning) {
  const struct {
    const char* Name;
    std::optional<std::string> Image;  // none: no image file
    QString Gateway;
    QString Box;  // the start of the box's text
    QStringList Lines;
  } cases[] = {
      {"bad address", std::string(30, '\0'), "192.168.1.1.5", "Ошибка в написании IP адреса", {"earlier run"}},
      {"no image", std::nullopt, "127.0.0.1", "Ошибка чтения файла", {}},
      {"too large", std::string(65537, 'x'), "127.0.0.1", "Файл конфигурации слишком велик (65537 байт)", {}},
      {"damaged, not loaded", std::string(30, '\0'), "127.0.0.1", "Файл конфигурации повреждён: offset 0: ", {}},
  };
  for (const auto& c : cases) {
    if (c.Image) testing::WriteFile(DefaultImagePath(), *c.Image);
    auto dialog = Open(c.Gateway);
    Control<QListWidget>(dialog.get(), "ListBox3")->addItem("earlier run");
    QString text;
    testing::ModalAnswer answer([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      text = box->text();
      EXPECT_TRUE(box->windowTitle().isEmpty()) << c.Name;
      EXPECT_EQ(box->icon(), QMessageBox::Warning) << c.Name;
      testing::PressBoxButton(box, box->button(QMessageBox::Ok) != nullptr ? QMessageBox::Ok : QMessageBox::No);
    });
    Press(dialog.get());
    EXPECT_TRUE(answer.Answered()) << c.Name;
    EXPECT_TRUE(text.startsWith(c.Box)) << c.Name << ": " << text.toStdString();
    EXPECT_EQ(Lines(dialog.get()), c.Lines) << c.Name;
    EXPECT_TRUE(!dialog->Thread || !dialog->Thread->Started()) << c.Name;
    std::remove(DefaultImagePath().c_str());
  }
}

// An empty image is damaged, but still goes when the engineer says so: no
// block is written and the loading runs every other step.
TEST_F(DialogLoading, LoadsADamagedImageWhenTheEngineerInsists) {
  testing::WriteFile(DefaultImagePath(), "");
  Unit unit;
  auto dialog = Open(unit.Address());
  QString text;
  testing::ModalAnswer answer([&](QWidget* modal) {
    text = testing::BoxText(modal);
    testing::PressBoxButton(modal, QMessageBox::Yes);
  });
  Press(dialog.get());
  EXPECT_TRUE(text.endsWith("\nЗагрузить всё равно?")) << text.toStdString();
  ASSERT_TRUE(WaitForLast(dialog.get(), Completed));
  const QStringList lines = Lines(dialog.get());
  EXPECT_EQ(lines.front(), "Размер файла конфигурации 0 байт");
  EXPECT_TRUE(lines.contains("Загрузка файла конфигурации (0 байт)"));
  EXPECT_TRUE(lines.filter(QRegularExpression("^Выполнено \\d+ %$")).isEmpty());
  EXPECT_TRUE(unit.Simulator.BlockAddresses().empty());
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
      ASSERT_TRUE(WaitUntil([&] { return bar->value() > 0; }, LongWaitMs));
    }
    Press(dialog.get());
    EXPECT_EQ(bar->value(), 0) << midUpload;
    ASSERT_TRUE(WaitForLast(dialog.get(), Completed)) << midUpload;
    const QStringList lines = Lines(dialog.get());
    EXPECT_TRUE(lines.front().startsWith("Размер файла конфигурации ")) << midUpload;
    EXPECT_EQ(lines.filter("Обновление конфигурации АУ [1]").size(), 1) << midUpload;
    const std::vector<std::uint8_t> received = unit.Simulator.ReceivedImage();
    EXPECT_EQ(std::string(received.begin(), received.end()), image) << midUpload;
  }
}

// Closing aborts the request under way; without the abort it would wait
// for up to 100 tries of half a second.
TEST_F(DialogLoading, ClosingDuringABlockWriteEndsAtOnce) {
  ExportSample();
  Unit unit(std::chrono::milliseconds(200));
  QElapsedTimer closing;
  testing::ModalAnswer answer([&](QWidget* modal) {
    EXPECT_EQ(modal, DlgLoading);
    Fill(modal, unit.Address(), 100, 500);
    Press(modal);
    const bool writing = WaitForLast(modal, "Загрузка файла конфигурации (");
    closing.start();
    modal->close();
    EXPECT_TRUE(writing);
  });
  TDlgLoading::Execute(nullptr);
  ASSERT_TRUE(answer.Answered());
  EXPECT_LT(closing.elapsed(), 1000);
  EXPECT_EQ(DlgLoading, nullptr);
}

TEST_F(DialogLoading, ReportsAMissingGatewayAfterEveryTry) {
  ExportSample();
  testing::UdpPeer silent;
  auto dialog = Open(QString::fromStdString(silent.Address()), 2, 100);
  QElapsedTimer clock;
  clock.start();
  Press(dialog.get());
  ASSERT_TRUE(WaitForLast(dialog.get(), "Ошибка!"));
  EXPECT_GE(clock.elapsed(), 2 * 100);
  const QStringList lines = Lines(dialog.get());
  EXPECT_EQ(lines.mid(1), (QStringList{"Обновление конфигурации АУ [1]",
                                       "Подключение к ВЕЛАР по адресу [" + QString::fromStdString(silent.Address()) + "]",
                                       "Ошибка! Нет связи с ВЕЛАР"}));
  EXPECT_EQ(LabelColour(dialog.get()), QColor(0xFF, 0x00, 0x00));
}

}  // namespace
}  // namespace smsconf
