#include <signal.h>

#include "cli/StopRequests.h"
#include "cli/StopRequestsCommon.h"

namespace tarvex::cli {

namespace {
extern "C" void OnStopSignal(int sig) {
  if (sig == SIGTERM) {
    detail::gTerminate.store(true);
  } else {
    detail::gInterrupts.fetch_add(1);
  }
}
}  // namespace

void CatchStopRequests() {
  // No SA_RESTART: a blocked call returns and the loop looks at the request.
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

int TakeStopRequest() {
  return detail::TakeCountedRequest();
}

}  // namespace tarvex::cli

#include <unistd.h>

#include "cli/Terminal.h"

namespace tarvex::cli {

bool StandardOutputIsTerminal() {
  return ::isatty(STDOUT_FILENO) == 1;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace tarvex::cli
