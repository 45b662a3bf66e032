// The product emulator behind an in-memory serial port that behaves like the real component in
// what the window sees: events arrive on the user-interface thread through the message pump, sent
// by a worker thread of the port's own, and the reply timer runs on the tick clock. Replies come
// after the emulator's delays on the same clock, so an accelerated clock makes minutes of time-outs
// pass in seconds.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devices/UsbClass.h"
#include "serial/ComPortIntf.h"
#include "serial/MessagePump.h"
#include "serial/SerialErrors.h"
#include "serial/Ticks.h"
#include "support/FastClock.h"
#include "tools/panel-sim/PanelSim.h"

namespace tarvex::test {

// USB events the port's worker raises when the emulated lead re-enumerates.
class SimUsbBackend : public IUsbBackend {
 public:
  void Start(std::function<void(const TUsbDeviceEvent&)> report) override {
    std::lock_guard lock(m_);
    report_ = std::move(report);
  }
  void Stop() override {
    std::lock_guard lock(m_);
    report_ = nullptr;
  }
  void Raise(bool arrival) {
    std::lock_guard lock(m_);
    if (report_) report_(TUsbDeviceEvent{arrival, "USB", "usbser", "USB-Bridge"});
  }

 private:
  std::mutex m_;
  std::function<void(const TUsbDeviceEvent&)> report_;
};

// What the window's notifier owns: a stand-in that passes on to the test's long-lived watcher.
class SimUsbHandle : public IUsbBackend {
 public:
  explicit SimUsbHandle(SimUsbBackend& backend) : backend_(backend) {}
  ~SimUsbHandle() override { backend_.Stop(); }
  SimUsbHandle(const SimUsbHandle&) = delete;
  SimUsbHandle& operator=(const SimUsbHandle&) = delete;
  void Start(std::function<void(const TUsbDeviceEvent&)> report) override {
    backend_.Start(std::move(report));
  }
  void Stop() override { backend_.Stop(); }

 private:
  SimUsbBackend& backend_;
};

class SimComPort : public IComPort {
 public:
  // Events go to the pump the front end has installed for the user-interface thread.
  SimComPort(panelsim::TPanelSim& sim, FastClock& clock, SimUsbBackend* usb = nullptr)
      : sim_(sim), pump_(*UiMessagePump()), clock_(clock), usb_(usb), worker_([this] { Work(); }) {}
  ~SimComPort() override {
    {
      std::lock_guard lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    worker_.join();
  }
  SimComPort(const SimComPort&) = delete;
  SimComPort& operator=(const SimComPort&) = delete;

  // Set before use: the port does not open (the device is missing); its timers never fire (a
  // broken component, which leaves the window waiting for ever).
  bool missing = false;
  bool deadTimers = false;
  // Called after each open (the user-interface thread).
  std::function<void()> onOpen;
  // Every frame written, in order (user-interface thread only); onWrite sees each as it goes.
  std::vector<std::string> written;
  std::function<void(SimComPort&, const std::string&)> onWrite;
  int opens = 0;

  void SetComNumber(std::uint16_t number) override { number_ = number; }
  [[nodiscard]] std::uint16_t ComNumber() const override { return number_; }
  void SetOpen(bool open) override {
    {
      std::lock_guard lock(m_);
      if (open == open_) return;
      if (open && missing) throw EBadId(ecBadId);
      open_ = open;
      ++generation_;
      rx_.clear();
      timers_.clear();
      // Replies under way die with the line; the lead's own comings and goings stay.
      std::erase_if(due_, [](const Due& d) { return d.kind == Due::Kind::Bytes; });
      if (open) ++opens;
    }
    if (open && onOpen) onOpen();
  }
  [[nodiscard]] bool Open() const override {
    std::lock_guard lock(m_);
    return open_;
  }
  std::uint16_t AddTimerTrigger() override {
    std::lock_guard lock(m_);
    RequireOpen();
    nextHandle_ = static_cast<std::uint16_t>(nextHandle_ + 8);
    const std::uint16_t h = nextHandle_;
    timers_[h] = Timer{};
    return h;
  }
  void SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate) override {
    {
      std::lock_guard lock(m_);
      RequireOpen();
      Timer& t = timers_.at(handle);
      if (ticks != 0) t.ticks = ticks;
      t.active = activate && !deadTimers;
      ++t.generation;
      t.expireMs = clock_.NowMs() + static_cast<std::uint64_t>(t.ticks) * TickLength;
    }
    cv_.notify_all();
  }
  void RemoveTrigger(std::uint16_t handle) override {
    std::lock_guard lock(m_);
    timers_.erase(handle);
  }
  char GetChar() override {
    std::lock_guard lock(m_);
    RequireOpen();
    if (rx_.empty()) throw EBufferIsEmpty(ecBufferIsEmpty);
    const char c = rx_.front();
    rx_.erase(0, 1);
    return c;
  }
  void PutString(const std::string& bytes) override {
    std::lock_guard lock(m_);
    RequireOpen();
    written.push_back(bytes);
    if (onWrite) onWrite(*this, bytes);
    std::uint64_t at = clock_.NowMs();
    for (const panelsim::TSimAction& a : sim_.Feed(bytes, at)) {
      at += a.DelayMs;
      if (a.What == panelsim::TSimAction::Kind::Send) {
        due_.push_back({at, Due::Kind::Bytes, a.Bytes, generation_});
      } else if (a.What == panelsim::TSimAction::Kind::Reenumerate) {
        // The lead leaves and returns once for every re-enumeration the product makes: its
        // serial port and its USB device go, then the USB device and its port come back.
        for (std::uint32_t i = 0; i < sim_.Config().Reenumerations; ++i) {
          const std::uint64_t gone = at + 800 * i + 400;
          due_.push_back({gone, Due::Kind::Removal, {}, 0});
          due_.push_back({gone + 1, Due::Kind::Removal, {}, 0});
          due_.push_back({gone + 400, Due::Kind::Arrival, {}, 0});
          due_.push_back({gone + 401, Due::Kind::Arrival, {}, 0});
        }
      }
    }
    cv_.notify_all();
  }
  void FlushInBuffer() override {
    std::lock_guard lock(m_);
    RequireOpen();
    rx_.clear();
  }
  void FlushOutBuffer() override {
    std::lock_guard lock(m_);
    RequireOpen();
  }

 private:
  struct Timer {
    std::int32_t ticks = 0;
    bool active = false;
    std::uint32_t generation = 0;
    std::uint64_t expireMs = 0;
  };
  struct Due {
    enum class Kind { Bytes, Removal, Arrival };
    std::uint64_t atMs;
    Kind kind;
    std::string bytes;
    std::uint32_t generation;
  };

  void RequireOpen() const {
    if (!open_) throw ECommNotOpen(ecCommNotOpen);
  }

  // The worker: hands replies and expired timers to the user-interface thread as they fall due.
  void Work() {
    std::unique_lock lock(m_);
    while (!stop_) {
      const std::uint64_t now = clock_.NowMs();
      std::sort(due_.begin(), due_.end(), [](const Due& a, const Due& b) { return a.atMs < b.atMs; });
      while (!due_.empty() && due_.front().atMs <= now) {
        Due d = std::move(due_.front());
        due_.erase(due_.begin());
        if (d.kind == Due::Kind::Bytes) {
          rx_ += d.bytes;
          const std::uint32_t gen = d.generation;
          pump_.Post([this, gen] { DeliverAvail(gen); });
        } else if (usb_ != nullptr) {
          const bool arrival = d.kind == Due::Kind::Arrival;
          lock.unlock();
          usb_->Raise(arrival);
          lock.lock();
        }
      }
      for (auto& [handle, t] : timers_) {
        if (!t.active || t.expireMs > now) continue;
        t.active = false;
        const std::uint16_t h = handle;
        const std::uint32_t gen = t.generation;
        pump_.Post([this, h, gen] { DeliverTimer(h, gen); });
      }
      cv_.wait_for(lock, std::chrono::milliseconds(1));
    }
  }
  void DeliverAvail(std::uint32_t gen) {
    std::size_t count = 0;
    {
      std::lock_guard lock(m_);
      if (!open_ || gen != generation_) return;
      count = rx_.size();
    }
    if (count > 0 && OnTriggerAvail)
      OnTriggerAvail(static_cast<std::uint16_t>(std::min<std::size_t>(count, 0xFFFF)));
  }
  void DeliverTimer(std::uint16_t handle, std::uint32_t gen) {
    {
      std::lock_guard lock(m_);
      const auto it = timers_.find(handle);
      // Stopped or started again since it fired: that expiry is stale.
      if (!open_ || it == timers_.end() || it->second.generation != gen) return;
    }
    if (OnTriggerTimer) OnTriggerTimer(handle);
  }

  panelsim::TPanelSim& sim_;
  IMessagePump& pump_;
  FastClock& clock_;
  SimUsbBackend* usb_;  // outlives the port
  std::uint16_t nextHandle_ = 0;
  mutable std::mutex m_;
  std::condition_variable cv_;
  bool stop_ = false;
  bool open_ = false;
  std::uint32_t generation_ = 0;
  std::uint16_t number_ = 0;
  std::string rx_;
  std::map<std::uint16_t, Timer> timers_;
  std::vector<Due> due_;
  std::thread worker_;
};

}  // namespace tarvex::test
