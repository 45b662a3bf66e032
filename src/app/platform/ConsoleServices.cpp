#include "app/platform/ConsoleServices.h"

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

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

void XdgShell::Open(const std::string& target) {
  // The answer is not reported, as a shell open's is not: start and forget (reaped below).
  std::string arg = target;
  char prog[] = "xdg-open";
  char* argv[] = {prog, arg.data(), nullptr};
  pid_t pid = 0;
  if (::posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) == 0) {
    int status = 0;
    ::waitpid(pid, &status, WNOHANG);
  }
}

}  // namespace tarvex
