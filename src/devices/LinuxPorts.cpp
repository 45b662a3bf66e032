#include "devices/LinuxPorts.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
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

struct Family {
  const char* prefix;
  int base;      // COM<base + k> for k below 100
  int extended;  // COM<extended + k> for k from 100 to 999
};
constexpr Family kFamilies[] = {
    {"ttyUSB", 100, 2000},
    {"ttyACM", 200, 3000},
    {"ttyAMA", 300, 4000},
    {"ttyS", 1, 1000},
};

// A device of another driver: "tty", letters, a number; not a virtual console (tty<N>), and a
// device of its own behind it in the kernel's tty class.
bool IsOtherSerialDevice(const std::string& sysTtyDir, const std::string& name) {
  if (name.size() < 5 || name.compare(0, 3, "tty") != 0) return false;
  std::size_t i = 3;
  while (i < name.size() && std::isalpha(static_cast<unsigned char>(name[i])) != 0) ++i;
  if (i == 3 || i == name.size()) return false;
  if (name.find_first_not_of("0123456789", i) != std::string::npos) return false;
  std::error_code ec;
  return fs::exists(sysTtyDir + "/" + name + "/device", ec);
}

constexpr int kVendorBase = 10000;
constexpr int kVendorSpan = 50000;

std::uint32_t NameHash(const std::string& s) {
  std::uint32_t h = 2166136261u;  // FNV-1a
  for (unsigned char c : s) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

}  // namespace

std::optional<int> ComNumberForDevice(const std::string& name) {
  for (const Family& f : kFamilies) {
    const auto k = SuffixNumber(name, f.prefix);
    if (!k) continue;
    if (*k < 100) return f.base + *k;
    if (*k <= 999) return f.extended + *k;
    return std::nullopt;
  }
  return std::nullopt;
}

std::vector<std::pair<std::string, int>> VendorComNumbers(std::vector<std::string> names,
                                                          const std::vector<int>& taken) {
  std::sort(names.begin(), names.end());
  std::vector<int> used = taken;
  std::vector<std::pair<std::string, int>> out;
  for (const auto& name : names) {
    int n = kVendorBase + static_cast<int>(NameHash(name) % kVendorSpan);
    while (std::find(used.begin(), used.end(), n) != used.end()) {
      n = n + 1 >= kVendorBase + kVendorSpan ? kVendorBase : n + 1;
    }
    used.push_back(n);
    out.emplace_back(name, n);
  }
  return out;
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
    std::vector<std::string> others;
    for (const auto& e : fs::directory_iterator(devDir_, ec)) {
      const std::string name = e.path().filename().string();
      // A ttyS<k> the kernel makes for every possible UART is a port only with hardware behind it.
      if (SuffixNumber(name, "ttyS") && !IsRealUart(sysTtyDir_, name)) continue;
      if (const auto n = ComNumberForDevice(name)) {
        byNumber[*n] = e.path().string();
      } else if (IsOtherSerialDevice(sysTtyDir_, name)) {
        others.push_back(name);
      }
    }
    std::vector<int> taken;
    for (const auto& [n, dev] : byNumber) taken.push_back(n);
    for (const auto& [name, n] : VendorComNumbers(others, taken)) byNumber[n] = devDir_ + "/" + name;
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
