// The main window over the fake seams, as most window tests use it: a fake port and pump wired
// into the platform, and the shared state cleared before and after each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/Main.h"
#include "link/ComsTasks.h"
#include "serial/MessagePump.h"
#include "serial/Ticks.h"
#include "support/FakeComPort.h"
#include "support/Fakes.h"

namespace tarvex::test {

class WindowFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetGlobals();
    CommsJob.reset();
  }
  void TearDown() override {
    frm.reset();
    CommsJob.reset();
    SetTickClock(nullptr);
    SetUiMessagePump(nullptr);
    ResetGlobals();
  }
  // The fake platform with the fake port and pump in it.
  TPlatform WiredPlatform() {
    TPlatform p = fp.Get();
    p.ComPort = &port;
    p.Pump = &pump;
    return p;
  }

  FakePlatform fp;
  FakeComPort port;
  FakePump pump;
  std::unique_ptr<TfrmMain> frm;
};

}  // namespace tarvex::test
