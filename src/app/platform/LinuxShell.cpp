#include "app/platform/LinuxShell.h"

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace tarvex {

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
