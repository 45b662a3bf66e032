#include "cli/StopRequests.h"
#include "cli/StopRequestsCommon.h"
#include "core/Win32Names.h"

namespace tarvex::cli {

namespace {
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT) {
    detail::gInterrupts.fetch_add(1);
    return TRUE;
  }
  // Ctrl-Break, the console closing, a log-off or shut-down: stop, cleanly.
  detail::gTerminate.store(true);
  if (event == CTRL_BREAK_EVENT) return TRUE;
  // For the others the system ends the process once this returns: give the update a moment to
  // close the port and say where it stood.
  Sleep(2000);
  return TRUE;
}
}  // namespace

void CatchStopRequests() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int TakeStopRequest() {
  return detail::TakeCountedRequest();
}

}  // namespace tarvex::cli

#include <shellapi.h>

#include <io.h>

#include "cli/Terminal.h"
#include "serial/Win32Text.h"

namespace tarvex::cli {

bool StandardOutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (wide == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < n; ++i) args.push_back(Utf8FromWide(wide[i]));
  LocalFree(wide);
  // Lines go out in UTF-8, as the program's strings are.
  SetConsoleOutputCP(CP_UTF8);
  return args;
}

}  // namespace tarvex::cli
