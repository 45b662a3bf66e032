// The Linux USB backend: ports-folder links reported as device events, and the udev monitor's
// set-up and tear-down.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <vector>

#include "devices/LinuxUsbBackend.h"

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
  void SetUp() override {
    char tmpl[] = "/tmp/tarvex-usb-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root = tmpl;
  }
  void TearDown() override { fs::remove_all(root); }
  std::string root;
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
