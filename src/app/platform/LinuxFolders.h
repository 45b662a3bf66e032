// Special folders and folder creation on Linux. The common application data folder becomes
// $XDG_DATA_HOME (default ~/.local/share): the programmer runs per user there.
#pragma once

#include "core/Platform.h"

namespace tarvex {

class LinuxFolders : public IFolders {
 public:
  std::string GetSpecialFolder(int csidl) override;
  bool DirectoryExists(const std::string& path) override;
  bool CreateDir(const std::string& path) override;
  std::string ProgramFolder() override;
};

}  // namespace tarvex
