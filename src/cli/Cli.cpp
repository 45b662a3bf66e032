#include "cli/Cli.h"

#include <functional>
#include <map>
#include <ostream>

namespace tarvex::cli {

namespace {

struct Command {
  const char* summary;
  std::function<int(const std::vector<std::string>&, std::ostream&, std::ostream&)> run;
};

void PrintHelp(std::ostream& out, const std::map<std::string, Command>& commands) {
  out << "Usage: tarvex-flash <command> [options]\n\n"
         "Tarvex Flash Programmer, command-line front end.\n\nCommands:\n";
  for (const auto& [name, c] : commands) out << "  " << name << "\t" << c.summary << "\n";
  out << "\nRun 'tarvex-flash <command> --help' for the options of a command.\n";
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::map<std::string, Command> commands;
  commands["help"] = {"show this help", nullptr};

  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintHelp(out, commands);
    return args.empty() ? kExitUsage : kExitOk;
  }
  const auto it = commands.find(args[0]);
  if (it == commands.end() || !it->second.run) {
    err << "tarvex-flash: unknown command '" << args[0] << "'\n";
    PrintHelp(err, commands);
    return kExitUsage;
  }
  return it->second.run(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
}

}  // namespace tarvex::cli
