// Qt implementations of the user-facing platform seams: modal message boxes, the file dialog and
// the shell's "open".
#pragma once

#include <QPointer>
#include <QString>

#include "core/Platform.h"

class QWidget;

namespace tarvex {

// The caption a box of that kind carries.
QString MessageBoxTitle(TMsgKind kind);

// Modal boxes with one OK button; Show returns when the user has closed the box. The box runs a
// nested event loop, so posted messages (serial events) keep being handled meanwhile.
class TQtMessageBoxes : public IMessageBoxes {
 public:
  void SetOwner(QWidget* owner) { owner_ = owner; }
  void Show(TMsgKind kind, const std::string& text) override;

 private:
  QPointer<QWidget> owner_;
};

// "Description|pattern|Description|pattern" as Qt name filters ("Description (pattern)").
QStringList NameFilters(const std::string& filter);

class TQtFileDialog : public IFileDialog {
 public:
  void SetOwner(QWidget* owner) { owner_ = owner; }
  std::optional<std::string> Execute(const TOpenDialogOptions& options) override;

 private:
  QPointer<QWidget> owner_;
};

// Hands files to their default program and addresses to the browser.
class TQtShell : public IShell {
 public:
  void Open(const std::string& target) override;
};

}  // namespace tarvex
