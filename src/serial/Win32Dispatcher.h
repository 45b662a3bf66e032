// The dispatcher's device side on the Win32 communications interface: the COM device
// ("\\.\COM<n>") opened exclusively for overlapped I/O, and three device threads beside the
// dispatcher thread:
//  - the read thread drains the device into 256-byte chunks on the I/O queue, woken by the status
//    thread's EV_RXCHAR and at least every 50 ms;
//  - the status thread waits for device events (WaitCommEvent);
//  - the write thread sends what the transmit ring holds.
// Every blocking wait is sliced (50 or 100 ms) so a stop request is seen quickly. Results follow
// the layer's convention: a count or 0 for success; a missing device is -2 or -3, one held
// elsewhere -5, every other system error told in the system's words (SystemErrorCode).
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "core/Win32Names.h"
#include "serial/Dispatcher.h"

namespace tarvex {

// The one place a Win32 error number becomes a result of the layer.
int TranslateWin32Error(DWORD error);

class TSerWin32Dispatcher : public TSerBaseDispatcher {
 public:
  explicit TSerWin32Dispatcher(void* owner);
  ~TSerWin32Dispatcher() override;
  TSerWin32Dispatcher(const TSerWin32Dispatcher&) = delete;
  TSerWin32Dispatcher& operator=(const TSerWin32Dispatcher&) = delete;

  // The device name of COM<n>: "\\.\COM<n>", which also reaches ports above COM9.
  static std::string DevicePathOf(int comNumber);

 protected:
  int DeviceEscape(int func) override;
  int DevicePurge(int queue) override;
  std::uint32_t DeviceClearError(TComStat& stat) override;
  int DeviceGetState(TDeviceControlBlock& dcb) override;
  int DeviceSetState(const TDeviceControlBlock& dcb) override;
  int DeviceSetup(std::uint32_t inSize, std::uint32_t outSize) override;
  void StartThreads() override;
  void StopThreads() override;
  int OpenCom(const std::string& comName, std::uint32_t inQueue, std::uint32_t outQueue) override;
  int CloseCom() override;
  bool CheckPort(const std::string& comName) override;
  std::uint32_t DeviceModemStatus() override;

 private:
  void ReadThreadMain();
  void StatusThreadMain();
  void WriteThreadMain();
  // Reads until the device has nothing more; false when the thread is to stop (result set on a
  // failure).
  bool DrainDevice(HANDLE event, int& result);
  // Bytes read into the buffer (0 when none), or -1 on a failure (err holds the system error).
  int ReadChunk(HANDLE event, char* buffer, DWORD size, DWORD& err);
  // 0, or the write thread's failure code.
  int DrainTransmitRing(HANDLE event);
  // Waits in slices for an overlapped operation; the bytes moved, 0 when stopped, -1 on failure.
  int WaitForIo(HANDLE device, OVERLAPPED& ov, DWORD& err);
  void JoinDeviceThreads();
  [[nodiscard]] HANDLE Device() const { return reinterpret_cast<HANDLE>(CidEx.load()); }

  HANDLE serialEvent_ = nullptr;  // auto-reset: the status thread saw input
  std::mutex joinLock_;
  std::thread readThread_, writeThread_, statusThread_;
  std::atomic<bool> modemEvents_{true};  // the device takes the modem-line event bits
};

}  // namespace tarvex
