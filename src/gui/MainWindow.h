// The main window on Qt: renders TfrmMain's view model control by control and forwards the
// user's clicks to its handlers. No logic of the program lives here.
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/Main.h"

class QStackedWidget;

namespace tarvex {

// Loads the pictures and the style sheet compiled into the program (once per process).
void InitTarvexResources();
// The style sheet "Tarvex Security theme"; empty when the resources are missing.
QString TarvexThemeStyleSheet();
// A picture resource by name ("Icon_OK"), null when there is none.
QPixmap TarvexPicture(const std::string& name);

class TMainWindow : public QWidget {
 public:
  explicit TMainWindow(TfrmMain& form);
  ~TMainWindow() override;
  TMainWindow(const TMainWindow&) = delete;
  TMainWindow& operator=(const TMainWindow&) = delete;

  // Window creation: TfrmMain's start-up, then the whole view model rendered.
  void Create();

  // The widget that renders the named control (nullptr for an unknown name).
  [[nodiscard]] QWidget* ControlWidget(const std::string& name) const;
  [[nodiscard]] int VisiblePageIndex() const;
  [[nodiscard]] TfrmMain& Form() const { return form_; }

  // Runs one handler of TfrmMain; an exception that escapes it goes to the default error report.
  void Invoke(const std::function<void()>& handler);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Build();
  void Connect(const TControl& control, QWidget* widget);
  void SetTabOrder();
  void Render(const TControl& control);
  void RenderAll();
  QWidget* ContainerOf(const TControl& control) const;
  [[nodiscard]] TGeometry AbsoluteGeometry(const TControl& control) const;
  void ConnectClick();

  TfrmMain& form_;
  std::map<std::string, QWidget*> widgets_;
  QStackedWidget* pages_ = nullptr;
  QWidget* pageWidgets_[kPageCount] = {};
  std::shared_ptr<TMainWindow*> self_;
  bool shown_ = false;
  bool closed_ = false;
};

}  // namespace tarvex
