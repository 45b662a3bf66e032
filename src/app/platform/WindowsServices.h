// The platform seams on Windows: the settings in the per-user registry, the shell's special
// folders, the debugger output channel and the shell's open verb.
#pragma once

#include "core/Globals.h"
#include "core/Platform.h"

namespace tarvex {

// Keys under HKEY_CURRENT_USER; 32-bit integers are REG_DWORD, strings REG_SZ.
class WindowsSettingsStore : public ISettingsStore {
 public:
  std::unique_ptr<ISettingsKey> OpenKey(const std::string& path, bool canCreate) override;
};

class WindowsFolders : public IFolders {
 public:
  std::string GetSpecialFolder(int csidl) override;
  bool DirectoryExists(const std::string& path) override;
  bool CreateDir(const std::string& path) override;
  std::string ProgramFolder() override;
};

class WindowsDebugOutput : public IDebugOutput {
 public:
  void Output(const std::string& line) override;
};

class WindowsShell : public IShell {
 public:
  void Open(const std::string& target) override;
};

}  // namespace tarvex
