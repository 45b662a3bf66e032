// Command-line front end: `tarvex-flash <command> [options]`. Each command is a function taking
// its own arguments; RunCli dispatches and returns the process exit status.
#pragma once

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace tarvex::cli {

struct TFlashServices;  // cli/FlashCommand.h

// Exit statuses shared by every command.
enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,
  kExitUsage = 2,
  // `flash`: what stopped the update.
  kExitPort = 3,
  kExitProductRefused = 4,
  kExitFileRefused = 5,
  kExitUpdateFailed = 6,
  kExitVerifyFailed = 7,
  kExitNoReconnect = 8,
  // Stopped by the user: 128 + the signal's number, as a shell reports it.
  kExitInterrupted = 130,  // Ctrl-C (SIGINT)
  kExitTerminated = 143,   // SIGTERM
};

// A command's arguments: the positional ones in order, and the options given as "--name",
// "--name VALUE" or "--name=VALUE" (flags map to ""). "--" ends the options.
struct TParsedArgs {
  std::vector<std::string> Positional;
  std::map<std::string, std::string> Options;
  [[nodiscard]] bool Has(const std::string& name) const { return Options.count(name) != 0; }
};

struct TOptionSpec {
  std::string Name;  // without the leading "--"
  bool TakesValue = false;
};

// False with a message in `error` for an unknown option, a missing or unwanted value, or an option
// given twice. "-h" is read as "--help" when the command knows "help".
bool ParseArgs(const std::vector<std::string>& args, const std::vector<TOptionSpec>& options,
               TParsedArgs& out, std::string& error);

// `tarvex-flash info FILE.hex [--mem-code N] [--dump-image OUT.bin]`: loads a firmware file as the
// program would for a product of that memory-size code and prints what it is for and what it holds.
int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `tarvex-flash history [--last N]`: the update history as a table.
int RunHistory(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const TFlashServices& services);

// `tarvex-flash ports`: the serial ports, one a line.
int RunPorts(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const TFlashServices& services);

// A usage error: one line saying what is wrong (command empty: the program's own), then where help is.
void UsageError(std::ostream& err, const std::string& command, const std::string& what);

// "tarvex-flash 1.20.0.0"
std::string VersionLine();

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// The program's own entry: `flash` gets the serial port component and the console from services.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const TFlashServices& services);

}  // namespace tarvex::cli
