// Per-user settings with registry semantics, kept in a human-readable typed text file:
//
//   [Software\Tarvex Ltd\Tarvex Flash Programer\1.20.0.0]
//   "USB-Bridge Port"=dword:00000007
//   "Last Folder"="/home/user/firmware/"
//
// The whole file is rewritten through a temporary file and a rename, so a crash never leaves a
// half-written file behind.
#pragma once

#include <map>
#include <string>
#include <variant>

#include "core/Platform.h"

namespace tarvex {

class LinuxSettingsStore : public ISettingsStore {
 public:
  // The file to keep the settings in.
  explicit LinuxSettingsStore(std::string filePath);
  // $XDG_CONFIG_HOME (default ~/.config) + "/tarvex-flash-programmer/settings.reg"; empty when no
  // home folder is known.
  static std::string DefaultFilePath();

  std::unique_ptr<ISettingsKey> OpenKey(const std::string& path, bool canCreate) override;

  using Value = std::variant<std::int32_t, std::string>;
  using Key = std::map<std::string, Value>;
  using Hive = std::map<std::string, Key>;

  // The text form of a hive and back. Parsing skips lines it does not understand.
  static std::string Serialize(const Hive& hive);
  static Hive Parse(const std::string& text);

 private:
  std::string filePath_;
};

}  // namespace tarvex
