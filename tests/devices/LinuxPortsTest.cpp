#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "devices/LinuxPorts.h"
#include "support/TempDir.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;

class LinuxPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root + "/ports");
    fs::create_directories(root + "/dev");
    fs::create_directories(root + "/sys");
  }
  void Touch(const std::string& path) { std::ofstream(root + path) << ""; }
  void Uart(const std::string& name, int type) {
    fs::create_directories(root + "/sys/" + name);
    std::ofstream(root + "/sys/" + name + "/type") << type << "\n";
  }
  LinuxPorts Ports() { return LinuxPorts(root + "/ports", root + "/dev", root + "/sys"); }
  test::TempDir temp{"tarvex-ports"};
  std::string root = temp.Path();
};

TEST_F(LinuxPortsTest, DevicesNumberedByTheFixedRule) {
  Touch("/dev/ttyUSB0");
  Touch("/dev/ttyUSB3");
  Touch("/dev/ttyACM1");
  Touch("/dev/ttyS0");
  Touch("/dev/ttyS1");
  Touch("/dev/tty1");
  Touch("/dev/ttyUSBx");
  Uart("ttyS0", 4);  // a real 16550A
  Uart("ttyS1", 0);  // a placeholder without hardware
  auto ports = Ports();
  EXPECT_EQ(ports.PortNames(), (std::vector<std::string>{"COM1", "COM100", "COM103", "COM201"}));
  EXPECT_EQ(ports.DevicePathFor(103), root + "/dev/ttyUSB3");
  EXPECT_EQ(ports.DevicePathFor(1), root + "/dev/ttyS0");
  EXPECT_FALSE(ports.DevicePathFor(2));
}

// Every serial device gets a number of its own, the common ones as before; other drivers' devices
// are listed too, each keeping its number from run to run.
TEST_F(LinuxPortsTest, EveryDeviceHasADistinctStableNumber) {
  for (const char* d : {"/dev/ttyUSB100", "/dev/ttyACM0", "/dev/ttyAMA0", "/dev/ttyXRUSB0", "/dev/ttyXRUSB1",
                        "/dev/ttyMXUSB3", "/dev/tty7"}) {
    Touch(d);
  }
  fs::create_directories(root + "/sys/ttyXRUSB0/device");
  fs::create_directories(root + "/sys/ttyMXUSB3/device");
  fs::create_directories(root + "/sys/tty7/device");  // a virtual console is no serial port
  auto ports = Ports();
  const auto names = ports.PortNames();
  ASSERT_EQ(names.size(), 5u);
  EXPECT_EQ(ports.DevicePathFor(200), root + "/dev/ttyACM0");
  EXPECT_EQ(ports.DevicePathFor(2100), root + "/dev/ttyUSB100");
  EXPECT_EQ(ports.DevicePathFor(300), root + "/dev/ttyAMA0");
  std::vector<int> vendor;
  for (const auto& n : names) {
    const int number = *ComNumberOf(n);
    if (number >= 10000) vendor.push_back(number);
  }
  ASSERT_EQ(vendor.size(), 2u);
  EXPECT_NE(vendor[0], vendor[1]);
  EXPECT_EQ(Ports().PortNames(), names);  // the same numbers on the next look
  // A number taken already moves a device on to the next free one.
  const int first = VendorComNumbers({"ttyXRUSB0"}, {})[0].second;
  EXPECT_EQ(VendorComNumbers({"ttyXRUSB0"}, {first})[0].second, first + 1);
}

TEST_F(LinuxPortsTest, RegisteredLinksWinAndDanglingOnesAreHidden) {
  Touch("/dev/ttyUSB0");
  Touch("/dev/pts-7");
  fs::create_symlink(root + "/dev/pts-7", root + "/ports/COM20");
  fs::create_symlink(root + "/dev/pts-7", root + "/ports/COM100");  // takes the USB lead's name
  fs::create_symlink(root + "/dev/gone", root + "/ports/COM21");
  fs::create_symlink(root + "/dev/pts-7", root + "/ports/COMX");
  fs::create_symlink(root + "/dev/pts-7", root + "/ports/notaport");
  auto ports = Ports();
  EXPECT_EQ(ports.PortNames(), (std::vector<std::string>{"COM20", "COM100"}));
  EXPECT_EQ(ports.DevicePathFor(100), root + "/dev/pts-7");
  EXPECT_EQ(ports.DevicePathFor(20), root + "/dev/pts-7");
  EXPECT_FALSE(ports.DevicePathFor(21));
}

TEST_F(LinuxPortsTest, MissingFoldersGiveNoPorts) {
  LinuxPorts ports(root + "/none", root + "/none", root + "/none");
  EXPECT_TRUE(ports.PortNames().empty());
}

TEST(ComNumber, OnlyComFollowedByDigits) {
  EXPECT_EQ(ComNumberOf("COM7"), 7);
  EXPECT_EQ(ComNumberOf("COM123"), 123);
  EXPECT_FALSE(ComNumberOf("COM"));
  EXPECT_FALSE(ComNumberOf("COM0"));
  EXPECT_FALSE(ComNumberOf("com7"));
  EXPECT_FALSE(ComNumberOf("COM7a"));
  EXPECT_FALSE(ComNumberOf("COM99999"));
}

TEST(PortsDir, EnvironmentDecides) {
  const char* old = std::getenv("TARVEX_PORTS_DIR");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("TARVEX_PORTS_DIR", "/run/ports", 1);
  EXPECT_EQ(LinuxPorts::DefaultPortsDir(), "/run/ports");
  if (old != nullptr) {
    ::setenv("TARVEX_PORTS_DIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TARVEX_PORTS_DIR");
  }
}

}  // namespace
}  // namespace tarvex
