// Times the main window on a project of 10,000 events through the real
// widgets on the offscreen platform: from creating the window to the event
// table's first paint, and adding one event, from OK in the event dialog to
// the table repainted with the new event sorted in and selected. The goal
// for an add is one 16 ms frame.
// Usage: bench_window [EVENTS [RUNS]] [--accessible]

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "model/Project.h"
#include "ui/Application.h"
#include "ui/Main.h"
#include "ui/ReportView.h"

namespace {

using Clock = std::chrono::steady_clock;

// The offscreen platform says so whenever a window asks for what it cannot
// do; those lines would bury the figures.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QStringLiteral("This plugin does not support"))) return;
  std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Notes each paint of a widget.
class PaintSpy : public QObject {
 public:
  explicit PaintSpy(QWidget* widget) { widget->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) Painted = true;
    return false;
  }
  bool Painted = false;
};

// Runs the event loop until the spy saw a paint, and handled it.
bool WaitForPaint(const PaintSpy& spy) {
  const Clock::time_point give_up = Clock::now() + std::chrono::seconds(30);
  while (!spy.Painted) {
    if (Clock::now() > give_up) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

QTableView* EventTable(QWidget* window) {
  return window->findChild<QWidget*>("FrmEventList1")->findChild<QTableView*>("ListView1");
}

void WriteProject(const std::string& path, int events) {
  smsconf::CProject project;
  project.FileName = path;
  for (int i = 0; i < 8; ++i) project.Phones->Get(i)->Number = "+7000000000" + std::to_string(i);
  for (int i = 0; i < events; ++i) {
    auto event = std::make_unique<smsconf::CEvent>();
    event->Pin = i % 32;
    event->Neg = (i / 32) % 2 == 1;
    event->Delay = i % 3600;
    event->Send = static_cast<std::uint8_t>(i);
    event->Text = "Event text number " + std::to_string(i);
    project.Events->Add(std::move(event));
  }
  project.Events->Sort();
  project.Save();
}

struct Figures {
  std::vector<double> Ms;
  void Print(const char* what) {
    std::sort(Ms.begin(), Ms.end());
    std::printf("  %-44s median %8.2f ms, max %8.2f ms (%zu runs)\n", what, Ms[Ms.size() / 2], Ms.back(),
                Ms.size());
  }
};

}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(QuietHandler);
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const bool accessible = argc > 1 && std::string(argv[argc - 1]) == "--accessible";
  const int numbers = argc - (accessible ? 2 : 1);
  const int events = numbers > 0 ? std::atoi(argv[1]) : 10000;
  const int runs = numbers > 1 ? std::atoi(argv[2]) : 15;
  if (numbers > 2 || events < 1 || runs < 1) {
    std::fputs("usage: bench_window [EVENTS [RUNS]] [--accessible]\n", stderr);
    return 2;
  }
  smsconf::TApplication application(argc, argv);
  // As a screen reader or an end-to-end tool would: every change of the
  // widgets goes out as an accessibility event, and its text is read.
  if (accessible) {
    QAccessible::installUpdateHandler([](QAccessibleEvent* event) {
      if (QAccessibleInterface* face = event->accessibleInterface()) (void)face->text(QAccessible::Name);
    });
    QAccessible::setActive(true);
  }
  const std::string path = (std::filesystem::temp_directory_path() / "smsconf-bench-window.sms").string();
  WriteProject(path, events);

  Figures firstPaint;
  for (int run = 0; run < std::max(1, runs / 3); ++run) {
    const Clock::time_point start = Clock::now();
    smsconf::TMainForm window(path);
    PaintSpy spy(EventTable(&window)->viewport());
    window.show();
    if (!WaitForPaint(spy)) return std::puts("the event table was never painted"), 1;
    firstPaint.Ms.push_back(Ms(Clock::now() - start));
  }

  smsconf::TMainForm window(path);
  QTableView* table = EventTable(&window);
  PaintSpy spy(table->viewport());
  window.show();
  WaitForPaint(spy);
  QAction* add = window.findChild<QAction*>("ActionAdd");
  Figures handled;
  Figures painted;
  for (int run = 0; run < runs; ++run) {
    const std::string text = "Added event " + std::to_string(run);
    Clock::time_point ok;
    // Answers the dialog from its own event loop: fills it in and presses
    // OK. The question whether to add past the image's capacity comes first
    // and is answered Yes.
    std::function<void()> answer = [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      if (auto* question = qobject_cast<QMessageBox*>(dialog)) {
        QTimer::singleShot(0, answer);
        return question->button(QMessageBox::Yes)->click();
      }
      dialog->findChild<QComboBox*>("ComboBox1")->setCurrentIndex(run % 32);
      dialog->findChild<QLineEdit*>("Edit1")->setText(QString::fromStdString(text));
      spy.Painted = false;
      ok = Clock::now();
      dialog->findChild<QAbstractButton*>("Button2")->click();
    };
    QTimer::singleShot(0, answer);
    add->trigger();
    const Clock::time_point done = Clock::now();
    if (!WaitForPaint(spy)) return std::puts("the event table was not repainted"), 1;
    handled.Ms.push_back(Ms(done - ok));
    painted.Ms.push_back(Ms(Clock::now() - ok));
    const int row = smsconf::SelectedRow(table);
    if (row < 0 || window.Project->Events->Get(row)->Text != text) {
      return std::puts("the added event is not the selected row"), 1;
    }
  }

  // What the paint alone costs, for comparison with an add.
  Figures repaint;
  for (int run = 0; run < runs; ++run) {
    const Clock::time_point start = Clock::now();
    table->viewport()->repaint();
    repaint.Ms.push_back(Ms(Clock::now() - start));
  }

  std::printf("main window with %d events (offscreen)\n", window.Project->Events->Count() - runs);
  firstPaint.Print("window created to first paint");
  handled.Print("add: OK to the handler's end");
  painted.Print("add: OK to the table repainted (goal 16 ms)");
  repaint.Print("a repaint of the table alone");
  std::filesystem::remove(path);
  return 0;
}
