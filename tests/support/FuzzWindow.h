// What a fuzzer of the main window needs around one input: a fake port, pump and message boxes, a
// stepping tick clock and a silent debug log, installed for the input and every global restored
// afterwards. Declare the window after it, so that the window goes first.
#pragma once

#include <string>

#include "app/Main.h"
#include "link/ComsTasks.h"
#include "support/FakeComPort.h"
#include "support/Fakes.h"
#include "support/SteppingClock.h"

namespace tarvex::test {

class FuzzWindowScope {
 public:
  FuzzWindowScope() {
    SetDebugOutput(&log_);
    SetTickClock(&clock);
    SetUiMessagePump(&pump);
  }
  ~FuzzWindowScope() {
    pump.queue.clear();
    CommsJob.reset();
    ResetGlobals();
    SetTickClock(nullptr);
    SetUiMessagePump(nullptr);
    SetDebugOutput(nullptr);
  }
  FuzzWindowScope(const FuzzWindowScope&) = delete;
  FuzzWindowScope& operator=(const FuzzWindowScope&) = delete;

  [[nodiscard]] TPlatform Platform() {
    TPlatform p;
    p.ComPort = &port;
    p.Pump = &pump;
    p.MessageBoxes = &boxes;
    return p;
  }

  FakeComPort port;
  FakePump pump;
  FakeMessageBoxes boxes;
  SteppingClock clock{0, 10};

 private:
  // The window's debug lines would drown the fuzzer's own output.
  class NoLog : public IDebugOutput {
   public:
    void Output(const std::string& /*line*/) override {}
  } log_;
};

}  // namespace tarvex::test
