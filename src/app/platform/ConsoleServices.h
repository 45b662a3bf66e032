// Console implementations of the user-facing seams, for the command-line front end: message boxes
// become lines on standard error, and the file dialog answers with a file chosen in advance.
#pragma once

#include <functional>
#include <ostream>

#include "core/Platform.h"

namespace tarvex {

// "Error: text", "Information: text", "Warning: text", or the text alone for a plain box.
std::string MessageBoxLine(TMsgKind kind, const std::string& text);

class ConsoleMessageBoxes : public IMessageBoxes {
 public:
  explicit ConsoleMessageBoxes(std::ostream& out);
  void Show(TMsgKind kind, const std::string& text) override;
  // Called after each box (the front end uses it to remember what went wrong).
  std::function<void(TMsgKind, const std::string&)> OnShow;

 private:
  std::ostream& out_;
};

// A file dialog whose answer is set beforehand (empty: the user cancels).
class PresetFileDialog : public IFileDialog {
 public:
  std::string Answer;
  std::optional<std::string> Execute(const TOpenDialogOptions& options) override;
};

}  // namespace tarvex
