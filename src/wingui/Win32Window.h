// The main window on Windows: a native renderer of TfrmMain's view model. Every control becomes a
// standard child control (label, button, drop-down list, edit box, group box, picture, progress
// bar) placed at its absolute geometry; pages are shown by showing their controls; the header,
// side panel and footer are painted in the theme's colours. Clicks reach TfrmMain's handlers only
// from visible, enabled controls. No logic of the program lives here.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/Main.h"
#include "core/Win32Names.h"

namespace tarvex {

class TWin32MainWindow {
 public:
  explicit TWin32MainWindow(TfrmMain& form);
  ~TWin32MainWindow();
  TWin32MainWindow(const TWin32MainWindow&) = delete;
  TWin32MainWindow& operator=(const TWin32MainWindow&) = delete;

  // Window creation: the window and its controls, TfrmMain's start-up, the whole view model.
  bool Create();
  // Shows the window; the advisory dialog follows once it is on the screen.
  void Show();
  // Asks to close, as the window's close box does: true when it closed.
  bool Close();

  [[nodiscard]] HWND Handle() const { return hwnd_; }
  // The child control that renders the named control (nullptr for an unknown name).
  [[nodiscard]] HWND ControlWindow(const std::string& name) const;
  [[nodiscard]] TfrmMain& Form() const { return form_; }
  [[nodiscard]] bool Closed() const { return closed_; }

  // Runs one handler of TfrmMain; an exception that escapes it goes to the default error report.
  void Invoke(const std::function<void()>& handler);

  // The window's picture as it is on the screen, as a PNG file. False on failure.
  bool SaveScreenshot(const std::string& file) const;

 private:
  friend LRESULT CALLBACK MainWindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  void BuildControls();
  void Render(const TControl& control);
  void RenderAll();
  [[nodiscard]] bool ShownOnScreen(const TControl& control) const;
  [[nodiscard]] TGeometry AbsoluteGeometry(const TControl& control) const;
  void Clicked(const TControl& control);
  void Paint();
  LRESULT ColorStatic(HDC dc, HWND child);
  void DrawPicture(const DRAWITEMSTRUCT& item);
  [[nodiscard]] int Scale(int v) const;

  TfrmMain& form_;
  HWND hwnd_ = nullptr;
  std::map<std::string, HWND> windows_;
  std::map<HWND, const TControl*> controls_;
  std::map<int, const TControl*> byId_;
  int renderedPage_ = -1;
  int dpi_ = 96;
  HFONT font_ = nullptr, bold_ = nullptr, title_ = nullptr;
  HBRUSH page_ = nullptr, header_ = nullptr, side_ = nullptr, footer_ = nullptr, white_ = nullptr;
  std::shared_ptr<TWin32MainWindow*> self_;
  bool closed_ = false;
  bool shown_ = false;
};

// Registers the window classes and the common controls; once per process.
void InitWin32Gui();
// A picture of the program's resources by name ("Icon_OK") as a 32-bit premultiplied bitmap,
// nullptr when there is none; width and height give its size.
HBITMAP LoadPicture(const std::string& name, int& width, int& height);
// A window's client area as it is on the screen, as a PNG file. False on failure.
bool SaveWindowPicture(HWND window, const std::string& file);

}  // namespace tarvex
