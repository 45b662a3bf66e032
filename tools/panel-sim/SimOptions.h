// Command line of the product emulator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/panel-sim/PanelSim.h"

namespace tarvex::panelsim {

struct TSimOptions {
  TProductConfig Product;
  std::string Device;                 // a real serial device plays the line instead of a pseudo-terminal
  std::optional<int> Com;             // COM number of the port link
  bool Register = true;               // create the port link at all
  std::string PortsDir;               // where port links live
  std::uint32_t Baud = 0;             // line-rate pacing; 0 = as fast as the line takes it
  bool Bytewise = false;              // paced bytes are written one at a time, each when due
  std::string LogFile;                // transcript
  std::string DumpFlashFile;          // the flash's whole contents, written at exit
  std::uint32_t ReplugMs = 1500;      // how long an unplugged lead stays out
  std::uint32_t ReenumerateMs = 400;  // how long the lead is gone in each USB cycle after GO
  bool Help = false;
};

// Fills options from the arguments (without the program name). Returns an error text for an
// unknown option or a bad value; options are untouched beyond what was parsed by then.
std::optional<std::string> ParseOptions(const std::vector<std::string>& args, TSimOptions& opts);
std::string HelpText();

// The folder of port links: TARVEX_PORTS_DIR, else ${XDG_CONFIG_HOME:-$HOME/.config}/
// tarvex-flash-programmer/ports.
std::string DefaultPortsDir();
// Lowest COM number from `from` up with no entry of that name in the folder.
int LowestFreeCom(const std::string& dir, int from = 20);

}  // namespace tarvex::panelsim
