// The user's requests to stop the command line (Ctrl-C, SIGTERM or the console closing), caught
// so that the update decides on them rather than dying half-way through writing the flash.
#pragma once

namespace tarvex::cli {

// Installs the system's handlers; call once at start.
void CatchStopRequests();
// The next request not taken yet: 0, kExitInterrupted (Ctrl-C) or kExitTerminated.
int TakeStopRequest();

}  // namespace tarvex::cli
