// Command-line front end: `tarvex-flash <command> [options]`. Each command is a function taking
// its own arguments; RunCli dispatches and returns the process exit status.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tarvex::cli {

// Exit statuses shared by every command.
enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 2,
};

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tarvex::cli
