// An in-memory device under the dispatcher: the test feeds received bytes and device events into
// its queue, and it records writes, purges, escapes and line changes. One idle stand-in read
// thread can be told to fail, as a device thread does when the device vanishes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "serial/Dispatcher.h"
#include "serial/SerialErrors.h"
#include "support/SteppingClock.h"

namespace tarvex::test {

// A millisecond clock the test sets by hand.
class StepClock : public test::SteppingClock {
 public:
  StepClock() : test::SteppingClock(55u * 1000u) {}
};

class FakeDevice : public TSerBaseDispatcher {
 public:
  FakeDevice() : TSerBaseDispatcher(nullptr) {}
  ~FakeDevice() override {
    Shutdown();
    if (readThread_.joinable()) readThread_.join();
  }
  FakeDevice(const FakeDevice&) = delete;
  FakeDevice& operator=(const FakeDevice&) = delete;

  // ---- What the test controls ----
  int openResult = 3;      // the device handle, or minus a system error
  int setupResult = 0;     // 0 or minus a system error
  int setStateResult = 0;  // 0 or minus a system error
  bool closeWaitsForDispatcher = true;
  bool withReadThread = false;
  TDeviceControlBlock driverDcb;  // what the driver reports

  // Received bytes, queued as the read thread does: chunks of at most 256 bytes.
  void Feed(const std::string& bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += 256) {
      const std::size_t n = std::min<std::size_t>(256, bytes.size() - at);
      auto chunk = std::make_unique<TDataBuffer>(256);
      std::memcpy(chunk->FData.get(), bytes.data() + at, n);
      chunk->FDataUsed = static_cast<std::int32_t>(n);
      FQueue.Push(std::move(chunk));
    }
  }
  void FeedStatus(std::uint32_t mask) { FQueue.Push(std::make_unique<TStatusBuffer>(mask)); }
  // Runs once on the dispatcher thread just before its next pass: whatever it does is seen by
  // that pass as a whole.
  void BeforeNextPass(std::function<void()> action) {
    {
      std::lock_guard lock(m_);
      beforePass_ = std::move(action);
    }
    FQueue.Wake();
  }
  // The stand-in read thread stops with this return value.
  void FailReadThread(int code) { readFailure_.store(code); }
  // What a read thread does when its last read brought bytes and the next one failed.
  void FeedThenFail(const std::string& bytes, int code) {
    Feed(bytes);
    FailFromDeviceThread(code);
  }
  // What the write thread would send: takes everything out of the transmit ring.
  std::string Transmit() { return TakeOutputRing(); }

  // ---- What the test reads back ----
  std::vector<int> Escapes() { return Locked(escapes_); }
  std::vector<int> Purges() { return Locked(purges_); }
  std::vector<TDeviceControlBlock> SetStates() { return Locked(setStates_); }
  int Opens() { return Locked(opens_); }
  int Closes() { return Locked(closes_); }
  void SetLineErrors(std::uint32_t mask) {
    std::lock_guard lock(m_);
    lineErrors_ = mask;
  }

 protected:
  int DeviceEscape(int func) override {
    std::lock_guard lock(m_);
    escapes_.push_back(func);
    return 0;
  }
  int DevicePurge(int queue) override {
    {
      std::lock_guard lock(m_);
      purges_.push_back(queue);
    }
    if (queue == 0) {
      ClearOutputRing();
    } else {
      FQueue.Clear();
    }
    return 1;
  }
  std::uint32_t DeviceClearError(TComStat& stat) override {
    stat.cbOutQue = OutputRingUsed();
    std::lock_guard lock(m_);
    const std::uint32_t e = lineErrors_;
    lineErrors_ = 0;
    return e;
  }
  int DeviceGetState(TDeviceControlBlock& dcb) override {
    std::lock_guard lock(m_);
    dcb = driverDcb;
    return 0;
  }
  int DeviceSetState(const TDeviceControlBlock& dcb) override {
    std::lock_guard lock(m_);
    setStates_.push_back(dcb);
    if (setStateResult != 0) return setStateResult;
    driverDcb = dcb;
    return 0;
  }
  int DeviceSetup(std::uint32_t, std::uint32_t) override { return setupResult; }
  void StartThreads() override {
    if (FDispActive) throw std::runtime_error("Dispatcher already started.");
    FDispActive = true;
    KillThreads = false;
    if (withReadThread) {
      MarkThreadRunning(TSerThreadKind::tkRead);
      readThread_ = std::thread([this] { ReadThreadMain(); });
      GeneralEvent.WaitFor(std::chrono::milliseconds(3000));
    }
    StartDispatcherThread();
  }
  void StopThreads() override {
    if (FDispActive) CloseCom();
  }
  int OpenCom(const std::string&, std::uint32_t, std::uint32_t) override {
    std::lock_guard lock(m_);
    ++opens_;
    if (openResult >= 0) CidEx = openResult;
    return openResult;
  }
  int CloseCom() override {
    {
      std::lock_guard lock(DataSection);
      if (CloseComActive) return 0;
      CloseComActive = true;
    }
    if (FDispActive) {
      KillThreads = true;
      FQueue.Wake();
      WaitHandlingMessages([this] { return !ThreadRunning(TSerThreadKind::tkRead); }, -1);
      if (closeWaitsForDispatcher) WaitForDispatcherThread();
    }
    int r = 0;
    if (CidEx.load() >= 0) {
      CidEx = -1;
      std::lock_guard lock(m_);
      ++closes_;
    }
    std::lock_guard lock(DataSection);
    CloseComActive = false;
    return r;
  }
  bool CheckPort(const std::string&) override { return true; }
  void WaitForWork(std::chrono::milliseconds timeout) override {
    TSerBaseDispatcher::WaitForWork(timeout);
    std::function<void()> action;
    {
      std::lock_guard lock(m_);
      action.swap(beforePass_);
    }
    if (action) action();
  }

 private:
  void ReadThreadMain() {
    ThreadStarted(TSerThreadKind::tkRead);
    while (!KillThreads) {
      const int failure = readFailure_.load();
      if (failure != 0) {
        // As the device threads do: the dispatcher tells it once what was read is delivered.
        FailFromDeviceThread(failure);
        break;
      }
      readWake_.WaitFor(std::chrono::milliseconds(5));
    }
    ThreadStopped(TSerThreadKind::tkRead, 0);
  }
  template <class T>
  T Locked(const T& value) {
    std::lock_guard lock(m_);
    return value;
  }

  std::mutex m_;
  std::vector<int> escapes_;
  std::vector<int> purges_;
  std::vector<TDeviceControlBlock> setStates_;
  std::uint32_t lineErrors_ = 0;
  int opens_ = 0;
  int closes_ = 0;
  std::function<void()> beforePass_;
  std::atomic<int> readFailure_{0};
  TSyncEvent readWake_;
  std::thread readThread_;
};

}  // namespace tarvex::test
