// The Windows device seams: the device path's keys, the registry's port list, and the notifier's
// hidden window going up and down.
#include <gtest/gtest.h>

#include <algorithm>

#include "devices/WindowsPorts.h"
#include "devices/WindowsUsbBackend.h"

namespace tarvex {
namespace {

TEST(WindowsUsb, DevicePathGivesTheHardwareAndInstanceKeys) {
  const auto keys =
      SplitUsbDevicePath("\\\\?\\USB#VID_0403&PID_6001#A6008isP#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
  EXPECT_EQ(keys.Hardware, "VID_0403&PID_6001");
  EXPECT_EQ(keys.Instance, "A6008isP");
  const auto cut = SplitUsbDevicePath("\\\\?\\USB#VID_0403&PID_6001#A6008isP");
  EXPECT_EQ(cut.Hardware, "VID_0403&PID_6001");
  EXPECT_EQ(cut.Instance, "");
  EXPECT_EQ(SplitUsbDevicePath("no hash").Hardware, "");
}

// Bounded even where the system's device-notification service is slow to answer.
TEST(WindowsUsb, TheNotifierStartsAndStopsRepeatedly) {
  for (int i = 0; i < 3; ++i) {
    WindowsUsbBackend backend;
    backend.Start([](const TUsbDeviceEvent&) {});
    backend.Stop();
    backend.Stop();
  }
}

TEST(WindowsPortList, PortsComeFromTheSerialCommKeyAsComNames) {
  WindowsPorts ports;
  for (const auto& name : ports.PortNames()) EXPECT_EQ(name.rfind("COM", 0), 0u) << name;
  EXPECT_EQ(WindowsPorts::DevicePathFor(12), "\\\\.\\COM12");
  EXPECT_FALSE(WindowsPorts::DevicePathFor(0));
}

}  // namespace
}  // namespace tarvex
