#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <memory>

#include "cli/Cli.h"
#include "cli/FlashCommand.h"
#include "serial/ComPort.h"

namespace {

// Set by the signal handlers, taken by the command on its own thread.
std::atomic<int> gInterrupts{0};
std::atomic<bool> gTerminate{false};

extern "C" void OnStopSignal(int sig) {
  if (sig == SIGTERM) {
    gTerminate.store(true);
  } else {
    gInterrupts.fetch_add(1);
  }
}

// Ctrl-C and SIGTERM become requests the update decides on: it must not die half-way through
// writing the flash without a word. No SA_RESTART: a blocked call returns and the loop looks.
void CatchStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

int TakeStopRequest() {
  if (gTerminate.exchange(false)) return tarvex::cli::kExitTerminated;
  int n = gInterrupts.load();
  while (n > 0 && !gInterrupts.compare_exchange_weak(n, n - 1)) {
  }
  return n > 0 ? tarvex::cli::kExitInterrupted : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  tarvex::cli::TFlashServices services;
  services.Terminal = ::isatty(STDOUT_FILENO) == 1;
  CatchStopSignals();
  services.TakeStopRequest = TakeStopRequest;
  services.MakeComPort = [](const tarvex::cli::TPortContext& context) {
    auto port = std::make_unique<tarvex::TSerComPort>();
    port->DevicePath = context.DevicePath;
    // The product's line; the port is opened by Connect, never by the component on its own.
    port->Baud = 115200;
    port->AutoOpen = false;
    port->PromptForPort = false;
    return port;
  };
  return tarvex::cli::RunCli(args, std::cout, std::cerr, services);
}
