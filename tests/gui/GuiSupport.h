// Helpers of the desktop program's tests: the application on the offscreen platform, waits on
// conditions with deadlines, and an answerer that deals with modal boxes as a user would.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "gui/MainWindow.h"

namespace tarvex::test {

inline QApplication& App() {
  static QApplication* app = [] {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "gui_tests";
    static char* argv[] = {name, nullptr};
    auto* a = new QApplication(argc, argv);  // lives to the end of the process
    a->setStyleSheet(TarvexThemeStyleSheet());
    return a;
  }();
  return *app;
}

// Handles events until the condition holds or the deadline passes; the condition's last value.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeoutMs) return condition();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Watches for modal windows and answers each: a message box with OK, any other dialog as the
// answer function says (default: rejected, as with the window's close box).
class ModalAnswerer {
 public:
  struct Seen {
    std::string className;
    std::string title;
    std::string text;
    bool modal = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
  };

  ModalAnswerer() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }

  // Return true when the dialog was dealt with; false to look again at the next poll.
  std::function<bool(QWidget*)> answer;
  std::vector<Seen> seen;

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    if (modal != current_) {
      current_ = modal;
      Seen s;
      s.className = modal->metaObject()->className();
      s.title = modal->windowTitle().toStdString();
      s.modal = modal->isModal() || modal->windowModality() != Qt::NonModal;
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        s.text = box->text().toStdString();
        s.icon = box->icon();
      }
      seen.push_back(s);
    }
    if (answer && !answer(modal)) return;
    if (!answer) {
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        box->button(QMessageBox::Ok)->click();
      } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
      }
    }
    current_ = nullptr;
  }

  QTimer timer_;
  QWidget* current_ = nullptr;
};

}  // namespace tarvex::test
