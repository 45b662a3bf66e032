// The advisory dialog about backing up the panel's configuration before an update.
#pragma once

#include <QDialog>
#include <QPointer>

#include "app/AdvisoryTexts.h"
#include "core/Platform.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace tarvex {

class TfrmUDLMessage : public QDialog {
 public:
  TfrmUDLMessage(QWidget* owner, IShell* shell);

  // Shows the dialog modally: true only when it was left with "Close" while "Do not show this
  // message again" was ticked.
  bool GetUDLMessageOpts();
  // The link label: opens the installers' portal.
  void lbFirmwareDLClick();

  [[nodiscard]] QCheckBox* DontShowBox() const { return cbDontShow_; }
  [[nodiscard]] QPushButton* CloseButton() const { return btnClose_; }
  [[nodiscard]] QLabel* LinkLabel() const { return lbFirmwareDL_; }

 private:
  IShell* shell_;
  QLabel* lbFirmwareDL_ = nullptr;
  QCheckBox* cbDontShow_ = nullptr;
  QPushButton* btnClose_ = nullptr;
};

// The seam the window logic shows the dialog through.
class TQtAdvisoryDialog : public IAdvisoryDialog {
 public:
  explicit TQtAdvisoryDialog(IShell* shell) : shell_(shell) {}
  void SetOwner(QWidget* owner) { owner_ = owner; }
  bool GetUDLMessageOpts() override;

 private:
  IShell* shell_;
  QPointer<QWidget> owner_;
};

}  // namespace tarvex
