// In-memory stand-ins for the serial port component and the user-interface message queue, for
// tests of the main window's protocol logic without threads or a line.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial/ComPortIntf.h"
#include "serial/MessagePump.h"

namespace tarvex::test {

class FakeComPort : public IComPort {
 public:
  struct Timer {
    std::int32_t period = 0;
    bool active = false;
    int starts = 0;  // activations (each arms it anew)
  };

  // Called at every open; may throw to simulate a failing open.
  std::function<void(std::uint16_t number)> openHook;

  std::vector<std::string> written;  // every PutString, in order
  std::string rx;                    // received, not yet taken
  std::map<std::uint16_t, Timer> timers;
  int flushIn = 0, flushOut = 0, opens = 0, closes = 0;
  std::uint16_t triggerLength = 1;  // kept across a close, as the real port keeps it

  void SetComNumber(std::uint16_t number) override { number_ = number; }
  [[nodiscard]] std::uint16_t ComNumber() const override { return number_; }
  void SetOpen(bool open) override {
    if (open == open_) return;
    if (open) {
      if (openHook) openHook(number_);
      open_ = true;
      ++opens;
      nextHandle_ = 8;  // every open starts the handle counter afresh
    } else {
      open_ = false;
      ++closes;
      timers.clear();
    }
  }
  [[nodiscard]] bool Open() const override { return open_; }

  std::uint16_t AddTimerTrigger() override {
    RequireOpen();
    const auto h = nextHandle_;
    nextHandle_ = static_cast<std::uint16_t>(nextHandle_ + 8);
    timers[h] = Timer{};
    return h;
  }
  void SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate) override {
    RequireOpen();
    auto& t = timers.at(handle);
    if (activate) {
      if (ticks != 0) t.period = ticks;
      ++t.starts;
    }
    t.active = activate;
  }
  void RemoveTrigger(std::uint16_t handle) override {
    if (!open_) return;
    timers.erase(handle);
  }
  char GetChar() override {
    RequireOpen();
    if (rx.empty()) throw std::runtime_error("Buffer is empty");
    const char c = rx.front();
    rx.erase(0, 1);
    return c;
  }
  void PutString(const std::string& bytes) override {
    RequireOpen();
    if (!bytes.empty()) written.push_back(bytes);
  }
  void SetTriggerLength(std::uint16_t length) override {
    RequireOpen();
    triggerLength = length;
  }
  void FlushInBuffer() override {
    RequireOpen();
    rx.clear();
    ++flushIn;
  }
  void FlushOutBuffer() override {
    RequireOpen();
    ++flushOut;
  }

  // The product sends these bytes: one data-available event for everything unread.
  void Receive(const std::string& bytes) {
    rx += bytes;
    if (OnTriggerAvail && !rx.empty()) OnTriggerAvail(static_cast<std::uint16_t>(rx.size()));
  }
  // The timer's period ran out: fires only while it is active, and once per start.
  bool Expire(std::uint16_t handle) {
    auto it = timers.find(handle);
    if (it == timers.end() || !it->second.active) return false;
    it->second.active = false;
    if (OnTriggerTimer) OnTriggerTimer(handle);
    return true;
  }
  [[nodiscard]] bool TimerActive(std::uint16_t handle) const {
    auto it = timers.find(handle);
    return it != timers.end() && it->second.active;
  }
  [[nodiscard]] std::int32_t TimerPeriod(std::uint16_t handle) const { return timers.at(handle).period; }
  // Everything written since the last call, concatenated.
  std::string TakeWritten() {
    std::string all;
    for (const auto& w : written) all += w;
    written.clear();
    return all;
  }

 private:
  void RequireOpen() const {
    if (!open_) throw std::runtime_error("ie_NOpen - device not open");
  }
  std::uint16_t number_ = 0;
  bool open_ = false;
  std::uint16_t nextHandle_ = 8;
};

// A single-threaded message queue: posts wait until the test pumps them.
class FakePump : public IMessagePump {
 public:
  std::deque<TMessageHandler> queue;
  bool quit = false;
  int exitCode = 0;

  void Post(TMessageHandler message) override { queue.push_back(std::move(message)); }
  bool Send(TMessageHandler message, std::chrono::milliseconds /*timeout*/) override {
    RunMessage(message);
    return true;
  }
  int PumpOne() override {
    if (quit) return WM_QUIT;
    if (queue.empty()) return 0;
    auto m = std::move(queue.front());
    queue.pop_front();
    RunMessage(m);
    return 1;
  }
  void WaitForMessage(std::chrono::steady_clock::time_point /*deadline*/) override {}
  void Quit(int code) override {
    quit = true;
    exitCode = code;
  }
  // Handles every pending message, including those posted while handling; returns the count.
  int RunAll() {
    int n = 0;
    while (!queue.empty()) {
      auto m = std::move(queue.front());
      queue.pop_front();
      RunMessage(m);
      ++n;
    }
    return n;
  }
};

}  // namespace tarvex::test
