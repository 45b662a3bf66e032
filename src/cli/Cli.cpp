#include "cli/Cli.h"

#include "cli/FlashCommand.h"

#include "core/Globals.h"

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
  out << "\nOptions:\n  -h, --help     show this help\n  -V, --version  show the program's version\n"
         "\nRun 'tarvex-flash <command> --help' for the options of a command.\n";
}

}  // namespace

bool ParseArgs(const std::vector<std::string>& args, const std::vector<TOptionSpec>& options,
               TParsedArgs& out, std::string& error) {
  out = TParsedArgs{};
  const auto find = [&](const std::string& name) -> const TOptionSpec* {
    for (const auto& o : options) {
      if (o.Name == name) return &o;
    }
    return nullptr;
  };
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      out.Positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name;
    std::string value;
    bool hasValue = false;
    if (a == "-h") {
      name = "help";
    } else if (a.rfind("--", 0) == 0) {
      const std::size_t eq = a.find('=');
      name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        hasValue = true;
      }
    } else {
      error = "unknown option '" + a + "'";
      return false;
    }
    const TOptionSpec* opt = find(name);
    if (opt == nullptr) {
      error = "unknown option '" + a + "'";
      return false;
    }
    if (out.Has(name)) {
      error = "option '--" + name + "' given more than once";
      return false;
    }
    if (opt->TakesValue && !hasValue) {
      if (i + 1 >= args.size()) {
        error = "option '--" + name + "' needs a value";
        return false;
      }
      value = args[++i];
    } else if (!opt->TakesValue && hasValue) {
      error = "option '--" + name + "' takes no value";
      return false;
    }
    out.Options[name] = value;
  }
  return true;
}

void UsageError(std::ostream& err, const std::string& command, const std::string& what) {
  err << "tarvex-flash" << (command.empty() ? "" : " " + command) << ": " << what << "\n"
      << "Try 'tarvex-flash --help'.\n";
}

std::string VersionLine() {
  return std::string("tarvex-flash ") + kAppVersion;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return RunCli(args, out, err, TFlashServices{});
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const TFlashServices& services) {
  std::map<std::string, Command> commands;
  commands["help"] = {"show this help", nullptr};
  commands["info"] = {"show a firmware file's identity and the flash pages it uses", RunInfo};
  commands["flash"] = {"update the firmware of the product on a serial port",
                       [&services](const std::vector<std::string>& a, std::ostream& o, std::ostream& e) {
                         return RunFlash(a, o, e, services);
                       }};
  commands["history"] = {"show the record of every update attempt",
                         [&services](const std::vector<std::string>& a, std::ostream& o, std::ostream& e) {
                           return RunHistory(a, o, e, services);
                         }};

  commands["status"] = {"say what answers on a serial port: the product, a boot loader or nothing",
                        [&services](const std::vector<std::string>& a, std::ostream& o, std::ostream& e) {
                          return RunStatus(a, o, e, services);
                        }};
  commands["ports"] = {"list the serial ports",
                       [&services](const std::vector<std::string>& a, std::ostream& o, std::ostream& e) {
                         return RunPorts(a, o, e, services);
                       }};

  if (args.empty()) {
    UsageError(err, "", "no command given");
    return kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintHelp(out, commands);
    return kExitOk;
  }
  if (args[0] == "--version" || args[0] == "-V") {
    out << VersionLine() << "\n";
    return kExitOk;
  }
  const auto it = commands.find(args[0]);
  if (it == commands.end() || !it->second.run) {
    UsageError(err, "", "unknown command '" + args[0] + "'");
    return kExitUsage;
  }
  return it->second.run(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
}

}  // namespace tarvex::cli
