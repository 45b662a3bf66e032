// Serial port names on Linux. The program names ports "COM<n>" as installers know them; on Linux
// they come from two places:
//  1. the ports folder: symbolic links named COM<n> pointing at a device. The product emulator
//     registers itself there, and an installer may link any device under a name of their choice.
//     $TARVEX_PORTS_DIR, default $XDG_CONFIG_HOME/tarvex-flash-programmer/ports (~/.config/...).
//  2. the machine's serial devices, numbered by a fixed rule so a lead keeps its name:
//     /dev/ttyUSB<k> is COM<100+k>, /dev/ttyACM<k> is COM<200+k>, and a real UART /dev/ttyS<k>
//     (one the kernel reports a port type for) is COM<k+1>.
// A name in the ports folder wins over the same name from the rule. Links whose device has gone
// are not offered.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/Platform.h"

namespace tarvex {

class LinuxPorts : public IPortEnumerator {
 public:
  // Roots are parameters so tests can stand up a fake /dev and /sys.
  explicit LinuxPorts(std::string portsDir = DefaultPortsDir(), std::string devDir = "/dev",
                      std::string sysTtyDir = "/sys/class/tty");

  static std::string DefaultPortsDir();

  // Every available port name, unsorted, each once.
  std::vector<std::string> PortNames() override;
  // The device behind port n (links resolved), or nothing when no such port exists now.
  [[nodiscard]] std::optional<std::string> DevicePathFor(int number) const;

  [[nodiscard]] const std::string& PortsDir() const { return portsDir_; }

 private:
  struct Entry {
    int number;
    std::string device;
  };
  [[nodiscard]] std::vector<Entry> Scan() const;

  std::string portsDir_;
  std::string devDir_;
  std::string sysTtyDir_;
};

// "COM7" -> 7; nothing for any other shape.
std::optional<int> ComNumberOf(const std::string& name);

}  // namespace tarvex
