// The Linux USB backend: ports-folder links reported as device events, and the udev monitor's
// set-up and tear-down.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "devices/LinuxPorts.h"
#include "devices/LinuxUsbBackend.h"
#include "support/TempDir.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;

struct Collector {
  std::mutex m;
  std::condition_variable cv;
  std::vector<TUsbDeviceEvent> events;
  void Add(const TUsbDeviceEvent& e) {
    std::lock_guard<std::mutex> lock(m);
    events.push_back(e);
    cv.notify_all();
  }
  // Waits until n events have come, at most 5 s.
  bool WaitFor(std::size_t n) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, std::chrono::seconds(5), [&] { return events.size() >= n; });
  }
};

class UsbBackend : public ::testing::Test {
 protected:
  test::TempDir temp{"tarvex-usb"};
  std::string root = temp.Path();
};

TEST_F(UsbBackend, PortLinksComingAndGoingAreDeviceEvents) {
  const std::string ports = root + "/ports";  // created by the backend
  LinuxUsbBackend backend(ports);
  ASSERT_TRUE(backend.WatchingPortsDir());
  Collector got;
  backend.Start([&](const TUsbDeviceEvent& e) { got.Add(e); });
  fs::create_symlink("/dev/null", ports + "/notaport");  // not a port name: no event
  fs::create_symlink("/dev/null", ports + "/COM21");
  ASSERT_TRUE(got.WaitFor(1));
  fs::remove(ports + "/COM21");
  // Re-registering through a temporary name and a rename counts as an arrival too.
  fs::create_symlink("/dev/null", ports + "/.COM22.tmp");
  fs::rename(ports + "/.COM22.tmp", ports + "/COM22");
  ASSERT_TRUE(got.WaitFor(3));
  backend.Stop();
  ASSERT_EQ(got.events.size(), 3u);
  EXPECT_TRUE(got.events[0].Arrival);
  EXPECT_EQ(got.events[0].FriendlyName, "COM21");
  EXPECT_FALSE(got.events[1].Arrival);
  EXPECT_TRUE(got.events[2].Arrival);
  EXPECT_EQ(got.events[2].FriendlyName, "COM22");
}

// A USB serial lead is two device events each way, its USB device and its serial port, as the PC
// counts them: one re-enumeration after GO is enough to reconnect.
TEST_F(UsbBackend, ALeadIsItsUsbDeviceAndItsPort) {
  const std::string ports = root + "/ports";
  LinuxUsbBackend backend(ports);
  Collector got;
  backend.Start([&](const TUsbDeviceEvent& e) { got.Add(e); });
  std::ofstream(ports + "/" + UsbDeviceEntryName("COM5")) << "/dev/null\n";
  fs::create_symlink("/dev/null", ports + "/COM5");
  ASSERT_TRUE(got.WaitFor(2));
  fs::remove(ports + "/COM5");
  fs::remove(ports + "/" + UsbDeviceEntryName("COM5"));
  ASSERT_TRUE(got.WaitFor(4));
  backend.Stop();
  ASSERT_EQ(got.events.size(), 4u);
  EXPECT_EQ(got.events[0].DevType, "USB device");
  EXPECT_EQ(got.events[1].DevType, "Serial port");
  EXPECT_TRUE(got.events[0].Arrival && got.events[1].Arrival);
  EXPECT_FALSE(got.events[2].Arrival || got.events[3].Arrival);

  // From udev: the USB device, and a tty on a USB device; other ttys and USB parts say nothing.
  TUdevEventInfo usb{"add", "usb", "usb_device", false, "CP2102", "usb", "Silicon Labs", "1-1"};
  TUdevEventInfo tty{"add", "tty", "", true, "", "cp210x", "", "ttyUSB0"};
  TUdevEventInfo console{"add", "tty", "", false, "", "", "", "tty3"};
  TUdevEventInfo iface{"add", "usb", "usb_interface", false, "", "", "", "1-1:1.0"};
  ASSERT_TRUE(UdevDeviceEvent(usb));
  ASSERT_TRUE(UdevDeviceEvent(tty));
  EXPECT_EQ(UdevDeviceEvent(tty)->FriendlyName, "ttyUSB0");
  EXPECT_FALSE(UdevDeviceEvent(console));
  EXPECT_FALSE(UdevDeviceEvent(iface));
  tty.Action = "remove";
  ASSERT_TRUE(UdevDeviceEvent(tty));
  EXPECT_FALSE(UdevDeviceEvent(tty)->Arrival);
  tty.Action = "change";
  EXPECT_FALSE(UdevDeviceEvent(tty));
}

TEST_F(UsbBackend, StopEndsReportsAndCanRepeat) {
  LinuxUsbBackend backend(root + "/ports");
  Collector got;
  backend.Start([&](const TUsbDeviceEvent& e) { got.Add(e); });
  backend.Stop();
  backend.Stop();
  fs::create_symlink("/dev/null", root + "/ports/COM5");
  EXPECT_TRUE(got.events.empty());
}

TEST(UsbUdev, MonitorSetsUpAndTearsDown) {
  // Created and destroyed repeatedly: AddressSanitizer's leak check covers the udev handles.
  for (int i = 0; i < 20; ++i) {
    LinuxUsbBackend backend("");
    if (!backend.UdevMonitoring()) {
      GTEST_SKIP() << "no udev netlink monitor on this machine (a container?); the udev path is built "
                      "but cannot run here";
    }
    backend.Start([](const TUsbDeviceEvent&) {});
    backend.Stop();
  }
}

}  // namespace
}  // namespace tarvex
