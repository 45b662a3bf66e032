// The desktop program's entry on Windows: the platform seams, the main window rendered natively,
// and the system's message loop.
#pragma once

#include <string>
#include <vector>

namespace tarvex {

// args: the command line's arguments after the program's name, in UTF-8. Beside the window's own
// switches ("/M", "/NV"):
//   --snapshot DIR   writes a picture of the window (window.png) and a list of the controls'
//                    states (controls.txt) into DIR once the window is on the screen, then ends.
int RunWin32DesktopProgram(const std::vector<std::string>& args);

}  // namespace tarvex
