// Recording fakes of the platform seams.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/Globals.h"
#include "core/Platform.h"

namespace tarvex::test {

// Settings in memory, with the registry's typed values.
class FakeSettingsStore : public ISettingsStore {
 public:
  struct Value {
    bool isInt = false;
    std::int32_t i = 0;
    std::string s;
  };
  using Key = std::map<std::string, Value>;

  std::map<std::string, Key> keys;
  bool failOpen = false;  // the key cannot be opened or created
  int closes = 0;

  std::unique_ptr<ISettingsKey> OpenKey(const std::string& path, bool canCreate) override;
  void SetInt(const std::string& path, const std::string& name, std::int32_t v) {
    keys[path][name] = Value{true, v, {}};
  }
  void SetString(const std::string& path, const std::string& name, const std::string& v) {
    keys[path][name] = Value{false, 0, v};
  }
};

// Folders in memory: base folder and the set of folders that exist.
class FakeFolders : public IFolders {
 public:
  std::string base = "/data";
  std::string program = "/opt/tarvex/";
  std::set<std::string> existing{"/data"};
  std::set<std::string> refuse;  // folders whose creation fails
  std::vector<std::string> created;

  std::string GetSpecialFolder(int csidl) override {
    return csidl == CSIDL_COMMON_APPDATA ? base : std::string();
  }
  bool DirectoryExists(const std::string& path) override { return existing.count(path) != 0; }
  bool CreateDir(const std::string& path) override {
    if (refuse.count(path) != 0) return false;
    existing.insert(path);
    created.push_back(path);
    return true;
  }
  std::string ProgramFolder() override { return program; }
};

class FakeMessageBoxes : public IMessageBoxes {
 public:
  std::vector<std::pair<TMsgKind, std::string>> shown;
  void Show(TMsgKind kind, const std::string& text) override { shown.emplace_back(kind, text); }
  [[nodiscard]] std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& s : shown) t.push_back(s.second);
    return t;
  }
};

class FakeFileDialog : public IFileDialog {
 public:
  std::optional<std::string> answer;
  std::vector<TOpenDialogOptions> calls;
  std::optional<std::string> Execute(const TOpenDialogOptions& options) override {
    calls.push_back(options);
    return answer;
  }
};

class FakeShell : public IShell {
 public:
  std::vector<std::string> opened;
  void Open(const std::string& target) override { opened.push_back(target); }
};

class FakePorts : public IPortEnumerator {
 public:
  std::vector<std::string> names;
  std::vector<std::string> PortNames() override { return names; }
};

class FakeAdvisory : public IAdvisoryDialog {
 public:
  bool closedWithClose = true;
  bool ticked = false;
  int shows = 0;
  bool GetUDLMessageOpts() override {
    ++shows;
    return closedWithClose && ticked;
  }
};

// Captures LogDebug lines in order while alive.
class DebugCapture : public IDebugOutput {
 public:
  DebugCapture() { SetDebugOutput(this); }
  ~DebugCapture() override { SetDebugOutput(nullptr); }
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;
  std::vector<std::string> lines;
  void Output(const std::string& line) override { lines.push_back(line); }
};

// All fakes together, wired into a TPlatform.
struct FakePlatform {
  FakeSettingsStore settings;
  FakeFolders folders;
  FakeMessageBoxes boxes;
  FakeFileDialog dialog;
  FakeShell shell;
  FakePorts ports;
  FakeAdvisory advisory;
  [[nodiscard]] TPlatform Get() {
    TPlatform p;
    p.Settings = &settings;
    p.Folders = &folders;
    p.MessageBoxes = &boxes;
    p.FileDialog = &dialog;
    p.Shell = &shell;
    p.Ports = &ports;
    p.Advisory = &advisory;
    return p;
  }
};

}  // namespace tarvex::test
