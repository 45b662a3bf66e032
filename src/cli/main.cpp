#include <unistd.h>

#include <iostream>

#include "cli/Cli.h"
#include "cli/FlashCommand.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  tarvex::cli::TFlashServices services;
  services.Terminal = ::isatty(STDOUT_FILENO) == 1;
  return tarvex::cli::RunCli(args, std::cout, std::cerr, services);
}
