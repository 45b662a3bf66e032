#include "app/platform/ConsoleServices.h"

namespace tarvex {

std::string MessageBoxLine(TMsgKind kind, const std::string& text) {
  switch (kind) {
    case TMsgKind::mkError: return "Error: " + text;
    case TMsgKind::mkInformation: return "Information: " + text;
    case TMsgKind::mkWarning: return "Warning: " + text;
    case TMsgKind::mkPlain: return text;
  }
  return text;
}

ConsoleMessageBoxes::ConsoleMessageBoxes(std::ostream& out) : out_(out) {}

void ConsoleMessageBoxes::Show(TMsgKind kind, const std::string& text) {
  out_ << MessageBoxLine(kind, text) << std::endl;
  if (OnShow) OnShow(kind, text);
}

std::optional<std::string> PresetFileDialog::Execute(const TOpenDialogOptions& /*options*/) {
  if (Answer.empty()) return std::nullopt;
  return Answer;
}

}  // namespace tarvex
