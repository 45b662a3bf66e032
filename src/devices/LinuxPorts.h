// Serial port names on Linux. The program names ports "COM<n>" as installers know them; on Linux
// they come from two places:
//  1. the ports folder: symbolic links named COM<n> pointing at a device. The product emulator
//     registers itself there, and an installer may link any device under a name of their choice.
//     $TARVEX_PORTS_DIR, default $XDG_CONFIG_HOME/tarvex-flash-programmer/ports (~/.config/...).
//  2. the machine's serial devices, numbered by a fixed rule so a lead keeps its name and no two
//     devices share one (ComNumberForDevice).
// A name in the ports folder wins over the same name from the rule. Links whose device has gone
// are not offered.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/Platform.h"
#include "devices/PortNames.h"

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

// The fixed number of a serial device of a known family, by its name under /dev:
//   ttyS<k>  COM<k+1>    ttyUSB<k> COM<100+k>   ttyACM<k> COM<200+k>   ttyAMA<k> COM<300+k>
// for k below 100, and COM<1000+k>, COM<2000+k>, COM<3000+k>, COM<4000+k> for k from 100 to 999.
// Nothing for any other name: another driver's devices (ttyXRUSB0, ...) are numbered from 10000
// on by their name (VendorComNumbers).
std::optional<int> ComNumberForDevice(const std::string& name);

// Numbers for devices of other drivers: 10000 + a hash of the name below 50000, the next free one
// on a collision (names taken in sorted order), so each keeps its number from run to run.
std::vector<std::pair<std::string, int>> VendorComNumbers(std::vector<std::string> names,
                                                          const std::vector<int>& taken);

}  // namespace tarvex
