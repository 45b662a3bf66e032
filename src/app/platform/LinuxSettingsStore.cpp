#include "app/platform/LinuxSettingsStore.h"

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarvex {

namespace fs = std::filesystem;

namespace {

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  out += '"';
  return out;
}

// Reads a quoted string starting at s[pos] == '"'; pos ends after the closing quote.
bool Unquote(const std::string& s, std::size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < s.size()) {
    char c = s[pos++];
    if (c == '"') return true;
    if (c == '\\' && pos < s.size()) {
      c = s[pos++];
      if (c == 'n') c = '\n';
    }
    out += c;
  }
  return false;
}

class FileKey : public ISettingsKey {
 public:
  FileKey(std::string file, std::string path, LinuxSettingsStore::Hive hive)
      : file_(std::move(file)), path_(std::move(path)), hive_(std::move(hive)) {}
  ~FileKey() override {
    try {
      Close();
    } catch (...) {  // a destructor must not throw; the write is lost, as when Close fails
    }
  }

  [[nodiscard]] bool ValueExists(const std::string& name) const override { return Values().count(name) != 0; }
  [[nodiscard]] std::int32_t ReadInteger(const std::string& name) const override {
    const auto& v = Values().at(name);
    if (!std::holds_alternative<std::int32_t>(v)) {
      throw ESettingsTypeError("Invalid data type for '" + name + "'");
    }
    return std::get<std::int32_t>(v);
  }
  [[nodiscard]] std::string ReadString(const std::string& name) const override {
    const auto& v = Values().at(name);
    if (!std::holds_alternative<std::string>(v)) {
      throw ESettingsTypeError("Invalid data type for '" + name + "'");
    }
    return std::get<std::string>(v);
  }
  void WriteInteger(const std::string& name, std::int32_t value) override {
    hive_[path_][name] = value;
    dirty_ = true;
  }
  void WriteString(const std::string& name, const std::string& value) override {
    hive_[path_][name] = value;
    dirty_ = true;
  }
  void Close() override {
    if (!dirty_) return;
    dirty_ = false;
    const fs::path target(file_);
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    const fs::path tmp = target.string() + ".tmp" + std::to_string(::getpid());
    {
      std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
      out << LinuxSettingsStore::Serialize(hive_);
      out.flush();
      if (!out) {
        fs::remove(tmp, ec);
        return;
      }
    }
    fs::rename(tmp, target, ec);
    if (ec) fs::remove(tmp, ec);
  }

 private:
  [[nodiscard]] const LinuxSettingsStore::Key& Values() const {
    static const LinuxSettingsStore::Key empty;
    auto it = hive_.find(path_);
    return it == hive_.end() ? empty : it->second;
  }

  std::string file_;
  std::string path_;
  LinuxSettingsStore::Hive hive_;
  bool dirty_ = false;
};

}  // namespace

LinuxSettingsStore::LinuxSettingsStore(std::string filePath) : filePath_(std::move(filePath)) {}

std::string LinuxSettingsStore::DefaultFilePath() {
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x != nullptr && *x == '/') {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h != nullptr && *h != 0) {
    base = std::string(h) + "/.config";
  } else {
    return {};
  }
  return base + "/tarvex-flash-programmer/settings.reg";
}

std::unique_ptr<ISettingsKey> LinuxSettingsStore::OpenKey(const std::string& path, bool canCreate) {
  if (filePath_.empty()) return nullptr;
  std::error_code ec;
  const fs::path file(filePath_);
  Hive hive;
  if (fs::exists(file, ec)) {
    // Present but not a readable file: the key cannot be opened.
    if (!fs::is_regular_file(file, ec)) return nullptr;
    std::ifstream in(file, std::ios::binary);
    if (!in) return nullptr;
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) return nullptr;
    hive = Parse(ss.str());
  } else if (ec) {
    return nullptr;
  }
  if (hive.count(path) == 0) {
    if (!canCreate) return nullptr;
    // The key exists from now on: its folder must be creatable and writable.
    fs::create_directories(file.parent_path(), ec);
    if (ec || ::access(file.parent_path().c_str(), W_OK) != 0) return nullptr;
    hive[path];
  }
  return std::make_unique<FileKey>(filePath_, path, std::move(hive));
}

std::string LinuxSettingsStore::Serialize(const Hive& hive) {
  std::string out = "; Tarvex Flash Programmer per-user settings\n";
  for (const auto& [path, values] : hive) {
    out += "\n[" + path + "]\n";
    for (const auto& [name, value] : values) {
      out += Quote(name) + "=";
      if (std::holds_alternative<std::int32_t>(value)) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x",
                      static_cast<std::uint32_t>(std::get<std::int32_t>(value)));
        out += buf;
      } else {
        out += Quote(std::get<std::string>(value));
      }
      out += '\n';
    }
  }
  return out;
}

LinuxSettingsStore::Hive LinuxSettingsStore::Parse(const std::string& text) {
  Hive hive;
  Key* current = nullptr;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const auto close = line.rfind(']');
      if (close == std::string::npos || close == 0) {
        current = nullptr;
        continue;
      }
      current = &hive[line.substr(1, close - 1)];
      continue;
    }
    if (current == nullptr) continue;
    std::size_t pos = 0;
    std::string name;
    if (!Unquote(line, pos, name) || pos >= line.size() || line[pos] != '=') continue;
    ++pos;
    if (line.compare(pos, 6, "dword:") == 0) {
      const std::string digits = line.substr(pos + 6);
      if (digits.empty() || digits.size() > 8 ||
          digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        continue;
      }
      (*current)[name] = static_cast<std::int32_t>(std::stoul(digits, nullptr, 16));
    } else {
      std::string value;
      if (Unquote(line, pos, value)) (*current)[name] = value;
    }
  }
  return hive;
}

}  // namespace tarvex
