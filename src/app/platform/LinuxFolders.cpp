#include "app/platform/LinuxFolders.h"

#include <sys/stat.h>
#include <cstdlib>
#include <filesystem>

namespace tarvex {

namespace fs = std::filesystem;

std::string LinuxFolders::GetSpecialFolder(int csidl) {
  if (csidl != CSIDL_COMMON_APPDATA) return {};
  if (const char* x = std::getenv("XDG_DATA_HOME"); x != nullptr && *x == '/') return x;
  if (const char* h = std::getenv("HOME"); h != nullptr && *h != 0) {
    return std::string(h) + "/.local/share";
  }
  return {};
}

bool LinuxFolders::DirectoryExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

bool LinuxFolders::CreateDir(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0;
}

std::string LinuxFolders::ProgramFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.parent_path().string() + "/";
}

}  // namespace tarvex
