#include "devices/LinuxPorts.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace tarvex {

namespace fs = std::filesystem;

namespace {

// Trailing decimal number of a device name after its prefix ("ttyUSB3", "ttyUSB" -> 3).
std::optional<int> SuffixNumber(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  const std::string digits = name.substr(prefix.size());
  if (digits.size() > 4 || digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return std::stoi(digits);
}

// The kernel reports a UART type other than 0 ("unknown") for a port with hardware behind it.
bool IsRealUart(const std::string& sysTtyDir, const std::string& name) {
  std::ifstream in(sysTtyDir + "/" + name + "/type");
  int type = 0;
  return in >> type && type != 0;
}

}  // namespace

std::optional<int> ComNumberOf(const std::string& name) {
  if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return std::nullopt;
  const std::string digits = name.substr(3);
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const int n = std::stoi(digits);
  if (n < 1 || n > 0xFFFF) return std::nullopt;
  return n;
}

LinuxPorts::LinuxPorts(std::string portsDir, std::string devDir, std::string sysTtyDir)
    : portsDir_(std::move(portsDir)), devDir_(std::move(devDir)), sysTtyDir_(std::move(sysTtyDir)) {}

std::string LinuxPorts::DefaultPortsDir() {
  if (const char* d = std::getenv("TARVEX_PORTS_DIR"); d != nullptr && *d != 0) return d;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x != nullptr && *x == '/') {
    return std::string(x) + "/tarvex-flash-programmer/ports";
  }
  if (const char* h = std::getenv("HOME"); h != nullptr && *h != 0) {
    return std::string(h) + "/.config/tarvex-flash-programmer/ports";
  }
  return {};
}

std::vector<LinuxPorts::Entry> LinuxPorts::Scan() const {
  std::map<int, std::string> byNumber;
  std::error_code ec;

  if (!devDir_.empty() && fs::is_directory(devDir_, ec)) {
    for (const auto& e : fs::directory_iterator(devDir_, ec)) {
      const std::string name = e.path().filename().string();
      std::optional<int> n;
      if (auto k = SuffixNumber(name, "ttyUSB")) {
        n = 100 + *k;
      } else if (auto a = SuffixNumber(name, "ttyACM")) {
        n = 200 + *a;
      } else if (auto s = SuffixNumber(name, "ttyS"); s && IsRealUart(sysTtyDir_, name)) {
        n = *s + 1;
      }
      if (n) byNumber[*n] = e.path().string();
    }
  }

  // Registered names last: they win over the rule's.
  if (!portsDir_.empty() && fs::is_directory(portsDir_, ec)) {
    for (const auto& e : fs::directory_iterator(portsDir_, ec)) {
      const auto n = ComNumberOf(e.path().filename().string());
      if (!n) continue;
      std::error_code ec2;
      const fs::path target = fs::canonical(e.path(), ec2);
      if (ec2) continue;  // dangling: its device has gone
      byNumber[*n] = target.string();
    }
  }

  std::vector<Entry> out;
  for (auto& [n, dev] : byNumber) out.push_back({n, dev});
  return out;
}

std::vector<std::string> LinuxPorts::PortNames() {
  std::vector<std::string> names;
  for (const auto& e : Scan()) names.push_back("COM" + std::to_string(e.number));
  return names;
}

std::optional<std::string> LinuxPorts::DevicePathFor(int number) const {
  for (const auto& e : Scan()) {
    if (e.number == number) return e.device;
  }
  return std::nullopt;
}

}  // namespace tarvex
