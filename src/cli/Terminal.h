// The console the command line runs in: whether its output is a terminal, and its arguments in
// UTF-8 (on Windows taken from the wide command line, so "Überwachung.hex" arrives whole).
#pragma once

#include <string>
#include <vector>

namespace tarvex::cli {

bool StandardOutputIsTerminal();
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace tarvex::cli
