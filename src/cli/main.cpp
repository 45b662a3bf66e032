#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/Cli.h"
#include "cli/FlashCommand.h"
#include "cli/StopRequests.h"
#include "cli/Terminal.h"
#include "serial/ComPort.h"

int main(int argc, char** argv) {
  std::vector<std::string> args = tarvex::cli::CommandLineArguments(argc, argv);
  tarvex::cli::TFlashServices services;
  services.Terminal = tarvex::cli::StandardOutputIsTerminal();
  tarvex::cli::CatchStopRequests();
  services.TakeStopRequest = tarvex::cli::TakeStopRequest;
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
