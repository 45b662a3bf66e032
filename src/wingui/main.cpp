#include "core/Win32Names.h"
// after windows.h, which it needs
#include <shellapi.h>

#include <string>
#include <vector>

#include "serial/Win32Text.h"
#include "wingui/Program.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  std::vector<std::string> args;
  for (int i = 1; wide != nullptr && i < n; ++i) args.push_back(tarvex::Utf8FromWide(wide[i]));
  if (wide != nullptr) LocalFree(wide);
  return tarvex::RunWin32DesktopProgram(args);
}
