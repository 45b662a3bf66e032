// The user-facing seams on Windows: modal message boxes, the system's file-open dialog, and the
// advisory dialog TfrmUDLMessage, each owned by the main window.
#pragma once

#include <string>

#include "core/Platform.h"
#include "core/Win32Names.h"

namespace tarvex {

class TWin32MessageBoxes : public IMessageBoxes {
 public:
  void SetOwner(HWND owner) { owner_ = owner; }
  // Modal, one OK button; the serial events keep arriving while it waits (its loop dispatches the
  // message pump's window too).
  void Show(TMsgKind kind, const std::string& text) override;

 private:
  HWND owner_ = nullptr;
};

class TWin32FileDialog : public IFileDialog {
 public:
  void SetOwner(HWND owner) { owner_ = owner; }
  std::optional<std::string> Execute(const TOpenDialogOptions& options) override;

 private:
  HWND owner_ = nullptr;
};

// The advisory dialog about backing up the panel's configuration before an update.
class TfrmUDLMessage {
 public:
  TfrmUDLMessage(HWND owner, IShell* shell);
  ~TfrmUDLMessage();
  TfrmUDLMessage(const TfrmUDLMessage&) = delete;
  TfrmUDLMessage& operator=(const TfrmUDLMessage&) = delete;

  // Shows the dialog modally: true only when it was left with "Close" while "Do not show this
  // message again" was ticked.
  bool GetUDLMessageOpts();
  // The link label: opens the installers' portal.
  void lbFirmwareDLClick();
  [[nodiscard]] HWND Handle() const { return hwnd_; }

 private:
  friend LRESULT CALLBACK AdvisoryProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);

  HWND owner_;
  IShell* shell_;
  HWND hwnd_ = nullptr;
  HWND link_ = nullptr;
  HWND check_ = nullptr;
  HFONT font_ = nullptr, linkFont_ = nullptr;
  bool done_ = false;
  bool closedWithClose_ = false;
};

class TWin32AdvisoryDialog : public IAdvisoryDialog {
 public:
  explicit TWin32AdvisoryDialog(IShell* shell) : shell_(shell) {}
  void SetOwner(HWND owner) { owner_ = owner; }
  bool GetUDLMessageOpts() override;

 private:
  IShell* shell_;
  HWND owner_ = nullptr;
};

}  // namespace tarvex
