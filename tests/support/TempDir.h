// A fresh folder of the test's own under the system's temporary folder, removed with the object,
// and the process environment, the same on every system. Without a folder of its own the helper
// throws: falling back to a shared folder would have the destructor remove that folder's files.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

#include "core/Platform.h"

namespace tarvex::test {

class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "tarvex-test") {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) throw std::runtime_error("no temporary folder: " + ec.message());
    std::mt19937_64 random(
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::filesystem::path p = base / (prefix + "-" + std::to_string(random() % 1000000000u));
      if (std::filesystem::create_directory(p, ec)) {
        path_ = p.string();
        return;
      }
      if (ec) break;  // the folder cannot be made there at all
    }
    throw std::runtime_error("cannot make a temporary folder in " + base.string());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::string& Path() const { return path_; }
  std::string Write(const std::string& name, const std::string& content) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(std::filesystem::u8path(file), std::ios::binary) << content;
    return file;
  }

 private:
  std::string path_;
};

// Real folders under a base of the test's choosing (the program's data folders in a temporary
// folder), the program folder beside the test.
class RealFolders : public IFolders {
 public:
  std::string base;
  std::string GetSpecialFolder(int /*csidl*/) override { return base; }
  bool DirectoryExists(const std::string& path) override {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(std::filesystem::u8path(path), ec);
  }
  bool CreateDir(const std::string& path) override {
    std::error_code ec;
    return std::filesystem::create_directory(std::filesystem::u8path(path), ec);
  }
  std::string ProgramFolder() override { return base + "/"; }
};

inline void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  ::setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnv(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");
#else
  ::unsetenv(name);
#endif
}

}  // namespace tarvex::test
