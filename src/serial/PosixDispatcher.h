// The dispatcher's device side on a POSIX terminal device (a USB serial lead, a UART, or a
// pseudo-terminal): the device is opened non-blocking and for exclusive use, and three device
// threads run beside the dispatcher thread:
//  - the read thread waits on the device for input and drains it into 256-byte chunks on the I/O
//    queue the moment it arrives;
//  - the status thread watches the device for hang-up and errors, and polls the modem lines where
//    the device has them;
//  - the write thread sends what the transmit ring holds.
// Every blocking wait is sliced (50 or 100 ms) so a stop request is seen quickly. Results follow
// the layer's convention: a count or 0 for success, the negated system error for failure, with a
// missing device told as -2 and a device held elsewhere as -5.
#pragma once

#include <termios.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "serial/Dispatcher.h"

namespace tarvex {

// The one place a device's error number becomes a result of the layer: a missing device -2, a
// device held elsewhere -5, a refused permission ecPermissionDenied, anything else the system's
// own error with its own text (SystemErrorCode).
int TranslateDeviceErrno(int error);

// The folder of the UUCP lock files ("LCK..<device>") terminal programs take and honour:
// /var/lock, else /run/lock; empty when neither exists.
std::string DefaultLockDir();

inline constexpr std::chrono::milliseconds kReadWait{50};
inline constexpr std::chrono::milliseconds kDeviceSlice{100};
inline constexpr std::chrono::milliseconds kThreadStartWait{3000};
inline constexpr std::chrono::milliseconds kFlushAckWait{5000};
inline constexpr std::size_t kReadChunk = 256;

class TSerPosixDispatcher : public TSerBaseDispatcher {
 public:
  explicit TSerPosixDispatcher(void* owner);
  ~TSerPosixDispatcher() override;
  TSerPosixDispatcher(const TSerPosixDispatcher&) = delete;
  TSerPosixDispatcher& operator=(const TSerPosixDispatcher&) = delete;

  // The system's speed constant for a rate, or 0 when the rate is not one the system knows.
  static unsigned SpeedFor(std::uint32_t baud);

  // Where the UUCP lock file is looked for and taken; empty: none. Set before the port opens.
  std::string LockDir = DefaultLockDir();

 protected:
  int DeviceEscape(int func) override;
  int DevicePurge(int queue) override;
  std::uint32_t DeviceClearError(TComStat& stat) override;
  int DeviceGetState(TDeviceControlBlock& dcb) override;
  int DeviceSetState(const TDeviceControlBlock& dcb) override;
  int DeviceSetup(std::uint32_t inSize, std::uint32_t outSize) override;
  int DeviceWrite(const std::uint8_t* buffer, std::uint32_t size) override;
  void StartThreads() override;
  void StopThreads() override;
  // comName is the device path; an empty one is a port that does not exist.
  int OpenCom(const std::string& comName, std::uint32_t inQueue, std::uint32_t outQueue) override;
  int CloseCom() override;
  bool CheckPort(const std::string& comName) override;
  std::uint32_t DeviceModemStatus() override;

 private:
  void ReadThreadMain();
  void StatusThreadMain();
  void WriteThreadMain();
  // 0, or the thread's failure code.
  int ReadAvailable();
  int DrainTransmitRing();
  int WriteBlock(const std::string& block);
  void WakeDeviceThreads();
  void JoinDeviceThreads();
  // Takes the UUCP lock of the device: 0, or -kDeviceHeldElsewhere when a live process holds it.
  int TakeLockFile(const std::string& device);
  void ReleaseLockFile();
  // Leaves the line as it was found: its settings back, exclusive use off, the lock file gone,
  // the descriptor closed. 0, or -1 when the close failed.
  int ReleaseDevice(int fd);
  // Asks the driver to hand over received bytes at once (a USB adapter's latency timer).
  void RequestLowLatency(int fd);
  [[nodiscard]] int Fd() const { return static_cast<int>(CidEx.load()); }

  int wakeFd_ = -1;          // an event descriptor that ends the device threads' waits at close
  std::string lockFile_;     // the UUCP lock file this port holds, empty when none
  bool savedValid_ = false;  // savedTio_ holds the line's settings as found at open
  termios savedTio_{};
  bool writerBusy_ = false;  // OutputSection: the write thread holds a block it has not finished
  bool modemLines_ = false;  // the device has modem lines (a pseudo-terminal has none)
  std::atomic<std::uint32_t> lastModem_{0};
  std::mutex joinLock_;
  std::thread readThread_, writeThread_, statusThread_;
};

}  // namespace tarvex
