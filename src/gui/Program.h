// The desktop program's entry: the application, the look and feel, the platform seams, the main
// window and its event loop.
#pragma once

#include <string>

namespace tarvex {

// Options of the program beside the window's own switches ("/M", "/NV"):
//   --snapshot DIR   writes a picture of the advisory dialog (when it shows) and of the window,
//                    and a list of the controls' states, into DIR, then ends; for checking a
//                    build on a machine without anyone at the screen.
//   --demo           plays a simulated panel on a port of its own, paced as a real line, and
//                    opens the file dialog beside a sample firmware made for it.
int RunDesktopProgram(int argc, char** argv);

// The application's names, as the program sets them (the window captions stay its own).
void ConfigureApplication();

}  // namespace tarvex
