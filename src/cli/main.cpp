#include <unistd.h>

#include <iostream>
#include <memory>

#include "cli/Cli.h"
#include "cli/FlashCommand.h"
#include "serial/ComPort.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  tarvex::cli::TFlashServices services;
  services.Terminal = ::isatty(STDOUT_FILENO) == 1;
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
