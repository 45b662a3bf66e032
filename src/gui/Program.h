// The desktop program's entry: the application, the look and feel, the platform seams, the main
// window and its event loop.
#pragma once

#include <string>

namespace tarvex {

class TfrmMain;
class IMessageBoxes;

// A worker thread of the serial port failed ("Device read error" when the lead is pulled or the
// panel dies): the port gives no further events, its reply timer included, until it is opened
// again. An update under way could then never end and the window could never close, so it ends
// here as one whose product fell silent does: the port is closed, the update is over and the
// installer is told. Outside an update only the box is shown; Connect reopens the port.
void PortThreadFailed(TfrmMain& form, IMessageBoxes& boxes, const std::string& text);

// Options of the program beside the window's own switches ("/M", "/NV"):
//   --snapshot DIR   writes a picture of the advisory dialog (when it shows) and of the window,
//                    and a list of the controls' states, into DIR, then ends; for checking a
//                    build on a machine without anyone at the screen.
//   --demo           plays a simulated panel on a port of its own, paced as a real line, and
//                    opens the file dialog beside a sample firmware made for it.
int RunDesktopProgram(int argc, char** argv);

}  // namespace tarvex
