// The engine behind an open serial port: the receive and transmit rings, the trigger lists, the
// dispatcher thread that hands each fired trigger to the user-interface thread and waits for its
// handling, the line settings, and the order of opening and shutting down. The device side (open,
// read, write, purge, line control and the device threads) is supplied by a subclass through the
// virtual device operations.
//
// Locks, in the order they may nest: DispSection before the I/O queue's own lock; OutputSection
// and DataSection are never held together. No lock is held while a handler runs.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/Win32Names.h"
#include "serial/IOQueue.h"
#include "serial/MessagePump.h"
#include "serial/SyncObjects.h"
#include "serial/Ticks.h"

namespace tarvex {

inline constexpr std::uint32_t kDispatchBufferSize = 8192;  // the receive ring
inline constexpr std::uint16_t AvailTriggerHandle = 1;
inline constexpr std::chrono::milliseconds kDeliveryTimeout{3000};
inline constexpr std::chrono::milliseconds kDispatchWait{50};

// The system errors the port component translates (the numbers the layer's table gives them, the
// Windows error numbers of a missing device and of one held elsewhere).
inline constexpr int kNoSuchDevice = 2;         // "file not found"
inline constexpr int kNoSuchPath = 3;           // "path not found"
inline constexpr int kDeviceHeldElsewhere = 5;  // "access denied"

// Line options of InitPort.
inline constexpr std::uint32_t foDtrRaised = 0x01;
inline constexpr std::uint32_t foRtsRaised = 0x02;
inline constexpr std::uint32_t foDtrFlow = 0x10;
inline constexpr std::uint32_t foRtsFlow = 0x20;

// Hardware flow options (HWFlowOptions) and software ones (SWFlowEnable).
inline constexpr std::uint32_t hwfUseDTR = 1;
inline constexpr std::uint32_t hwfUseRTS = 2;
inline constexpr std::uint32_t hwfRequireDSR = 4;
inline constexpr std::uint32_t hwfRequireCTS = 8;
inline constexpr std::uint32_t swfReceive = 1;
inline constexpr std::uint32_t swfTransmit = 2;

// Device event bits that steer a pass (EV_BREAK, EV_ERR and EV_RING are the system's names).
inline constexpr std::uint32_t kModemEvents = 0x2138;

// The device's line settings, whatever the platform calls them.
struct TDeviceControlBlock {
  std::uint32_t BaudRate = 0;
  bool fBinary = false;
  bool fParity = false;
  bool fOutxCtsFlow = false;
  bool fOutxDsrFlow = false;
  std::uint8_t fDtrControl = DTR_CONTROL_DISABLE;
  bool fDsrSensitivity = false;
  bool fTXContinueOnXoff = false;
  bool fOutX = false;
  bool fInX = false;
  bool fNull = false;
  std::uint8_t fRtsControl = RTS_CONTROL_DISABLE;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 8;
  std::uint8_t Parity = 0;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits = ONESTOPBIT;
  char XonChar = 17;
  char XoffChar = 19;
  bool operator==(const TDeviceControlBlock&) const = default;
};

// Line status as last read: bytes waiting each way.
struct TComStat {
  std::uint32_t cbInQue = 0;
  std::uint32_t cbOutQue = 0;
};

enum class TSerHandlerFlagUpdate : std::uint8_t { fuKeepPort, fuEnablePort, fuDisablePort };

struct TTimerTrigger {
  std::uint32_t Handle = 0;
  TTickTimer Timer;
  std::int32_t Period = 0;
  bool Active = false;
};

// The trigger set kept across a close and re-installed at the next open.
struct TTriggerSave {
  std::uint32_t LenTrigger = 0;
  std::vector<TTimerTrigger> TimerTriggers;
};

// The receiver of trigger messages: runs on the user-interface thread with the message number,
// wParam, and lParam (the dispatcher's PortList index in the high word, a data word in the low).
using TTriggerWindowProc = std::function<void(std::uint32_t msg, std::uint32_t wParam, std::int32_t lParam)>;

struct TWndTriggerHandler {
  std::uintptr_t Window = 0;  // identifies the receiver
  IMessagePump* Pump = nullptr;
  TTriggerWindowProc Proc;
  bool Deleted = false;
};

enum class TSerThreadKind : std::uint8_t { tkRead = 0, tkDispatch = 1, tkWrite = 2, tkStatus = 3 };

class TSerBaseDispatcher {
 public:
  explicit TSerBaseDispatcher(void* owner);
  virtual ~TSerBaseDispatcher();
  TSerBaseDispatcher(const TSerBaseDispatcher&) = delete;
  TSerBaseDispatcher& operator=(const TSerBaseDispatcher&) = delete;

  // ---- Open and close (user-interface thread) ----
  // 0, or the first failure's code after everything done so far has been undone.
  int InitPort(const std::string& comName, std::int32_t baud, std::uint8_t parity, std::uint8_t dataBits,
               std::uint8_t stopBits, std::uint32_t inSize, std::uint32_t outSize, std::uint32_t flowOpts);
  // Stops the threads, closes the device and releases the buffers; while an event is being
  // delivered the release is left to the dispatcher thread (ClosePending).
  void DonePort();
  // What destroying the dispatcher does; every subclass calls it first in its destructor, while
  // its device operations still exist. Waits, handling messages, until every thread has ended.
  void Shutdown();

  // ---- Received bytes ----
  int GetChar(std::uint8_t& c);
  int PeekChar(std::uint8_t& c, std::uint32_t count);
  bool CharReady();
  std::uint32_t InBuffUsed();
  std::uint32_t InBuffFree();
  int FlushInBuffer();

  // ---- Bytes to send ----
  int PutBlock(const std::uint8_t* block, std::uint32_t len);
  int PutString(const std::string& s);
  int PutChar(std::uint8_t c);
  std::uint32_t OutBuffUsed();
  std::uint32_t OutBuffFree();
  int FlushOutBuffer();

  // ---- Triggers ----
  int AddTimerTrigger();
  int SetTimerTrigger(std::uint32_t triggerHandle, std::int32_t ticks, bool activate);
  int RemoveTrigger(std::uint32_t triggerHandle);
  void ChangeLengthTrigger(std::uint32_t length);
  void RemoveAllTriggers();
  void SaveTriggers(TTriggerSave& save);
  void RestoreTriggers(const TTriggerSave& save);

  // ---- Receivers of trigger events ----
  void RegisterWndTriggerHandler(std::uintptr_t window, IMessagePump* pump, TTriggerWindowProc proc);
  void DeregisterWndTriggerHandler(std::uintptr_t window);
  virtual void UpdateHandlerFlags(TSerHandlerFlagUpdate update);  // slot 20

  // ---- Line settings ----
  int SetLine(std::int32_t baud, std::uint8_t parity, std::uint8_t dataBits, std::uint8_t stopBits);
  int HWFlowOptions(std::uint32_t bufferFull, std::uint32_t bufferResume, std::uint32_t options);
  int SWFlowEnable(std::uint32_t bufferFull, std::uint32_t bufferResume, std::uint32_t options);
  int SWFlowDisable();
  int SWFlowChars(char on, char off);
  int SetDtr(bool on);
  int SetRts(bool on);
  virtual void SetThreadBoost(std::uint8_t boost);  // slot 19
  [[nodiscard]] TDeviceControlBlock CurrentDCB();

  // ---- State ----
  [[nodiscard]] bool fEventBusy() const { return FEventBusy.load(); }
  [[nodiscard]] bool DispActive() const { return FDispActive.load(); }
  [[nodiscard]] bool ClosePending() const { return FClosePending.load(); }
  [[nodiscard]] int ActiveThreads() const { return FActiveThreads.load(); }
  [[nodiscard]] bool BuffersReleased();
  [[nodiscard]] int Handle() const { return fHandle; }
  [[nodiscard]] void* Owner() const { return fOwner; }
  [[nodiscard]] std::uint32_t LastLineErrors();
  // Completed passes of the dispatcher thread's loop (for diagnostics and tests).
  [[nodiscard]] std::uint64_t PassCount() const { return passCount_.load(); }

  std::string DeviceName;  // "COM" and the number
  // How long one delivery waits for the user-interface thread; set before InitPort.
  std::chrono::milliseconds DeliveryTimeout = kDeliveryTimeout;
  // Shows a worker thread's failure to the user; LogDebug when unset. Set before InitPort.
  std::function<void(const std::string&)> OnThreadError;

 protected:
  // ---- Device operations (the subclass supplies them) ----
  virtual int DeviceEscape(int func) = 0;                                    // 0
  virtual int DevicePurge(int queue) = 0;                                    // 1: 0 output, 1 input
  virtual std::uint32_t DeviceClearError(TComStat& stat) = 0;                // 2
  virtual std::uint32_t DeviceEventMask() { return 0; }                      // 3
  virtual int DeviceGetState(TDeviceControlBlock& dcb) = 0;                  // 4
  virtual int DeviceRead(std::uint8_t* buffer, std::uint32_t size);          // 5: out of FQueue
  virtual int DeviceSetState(const TDeviceControlBlock& dcb) = 0;            // 6
  virtual int DeviceWrite(const std::uint8_t* buffer, std::uint32_t size);   // 7: into the ring
  virtual bool DeviceWaitEvent() { return true; }                            // 8
  virtual int DeviceSetup(std::uint32_t inSize, std::uint32_t outSize) = 0;  // 9: 0 or -error
  virtual void ReleasePortBuffers();                                         // 10
  virtual void StartThreads() = 0;                                           // 11
  virtual void StopThreads() = 0;                                            // 12
  virtual std::uint32_t OutputRingUsed();                                    // 13
  virtual std::uint32_t QueuedInputBytes();                                  // 14
  virtual int OpenCom(const std::string& comName, std::uint32_t inQueue, std::uint32_t outQueue) = 0;  // 15
  virtual int CloseCom() = 0;                                                                          // 16
  virtual bool CheckPort(const std::string& comName) = 0;                                              // 17
  virtual int ProcessCommunications();                                                                 // 18
  // The modem line states and their change bits.
  virtual std::uint32_t DeviceModemStatus() { return 0; }
  // The dispatcher thread's wait for work at the top of each pass.
  virtual void WaitForWork(std::chrono::milliseconds timeout);

  // ---- For the device side ----
  // Starts the dispatcher thread and waits for it to report in (up to 3000 ms).
  void StartDispatcherThread();
  // Handles messages until the dispatcher thread has ended or 36 ticks have passed, then sets
  // ComEvent and waits 36 ticks more. True when it ended.
  bool WaitForDispatcherThread();
  // The read thread's hand-over of a chunk it read. The dispatcher is woken only when it has
  // something to deliver: while the data-available event waits for more bytes than are there,
  // the chunk waits for the dispatcher's next pass (within its 50 ms wait), where a wake-up for
  // every byte of a slow line would cost two thread switches a byte.
  void QueueInput(std::unique_ptr<TDataBuffer> chunk);
  // How long the read thread may leave the device before it looks again: while the
  // data-available event waits for more bytes than have come, those bytes cannot be there before
  // the line has carried them (at the line's rate, at most 1 ms); zero otherwise.
  std::chrono::microseconds InputPause();
  // Every worker thread calls these first and last.
  void ThreadStarted(TSerThreadKind kind);
  void ThreadStopped(TSerThreadKind kind, int returnValue);
  // A device thread's failure: every thread stops, and the dispatcher thread delivers the bytes
  // already read before it reports the failure (the first one only) on its way out.
  void FailFromDeviceThread(int code);
  void MarkThreadRunning(TSerThreadKind kind) { threadRunning_[static_cast<int>(kind)].store(true); }
  [[nodiscard]] bool ThreadRunning(TSerThreadKind kind) const {
    return threadRunning_[static_cast<int>(kind)].load();
  }
  // The write side: takes every byte of the transmit ring out in one block, freeing the ring.
  std::string TakeOutputRing();
  // Empties the transmit ring (an output purge).
  void ClearOutputRing();
  // Handles messages of this thread (when it is the user-interface thread) until done() holds or
  // the ticks have passed (ticks < 0: no limit). True when done() held.
  static bool WaitHandlingMessages(const std::function<bool()>& done, std::int32_t ticks);

  void* fOwner;
  int fHandle = -1;
  // The device: a descriptor, or a Win32 HANDLE's value; -1 when none is open.
  std::atomic<std::intptr_t> CidEx{-1};
  std::uint32_t LastError = 0;  // DataSection
  std::uint32_t InQue = 0;
  std::uint32_t OutQue = 0;
  std::atomic<std::uint32_t> ModemStatus{0};
  TComStat ComStatus;       // DataSection
  TDeviceControlBlock DCB;  // DataSection
  std::int32_t LastBaud = 115200;
  bool DTRState = false, DTRAuto = false, RTSState = false, RTSAuto = false;  // DataSection
  bool RS485Mode = false;
  bool PortHandlerInstalled = false;                   // DataSection
  bool HandlerServiceNeeded = false;                   // DataSection
  std::vector<TWndTriggerHandler> WndTriggerHandlers;  // DataSection
  std::vector<TTimerTrigger> TimerTriggers;            // DataSection
  std::uint32_t LastTailData = 0;                      // DispSection
  std::uint32_t LenTrigger = 0;                        // DataSection
  bool InAvailMessage = false;                         // DispSection
  std::uint32_t GetCount = 0, MaxGetCount = 0;         // DispSection
  bool DispatchFull = false;                           // DispSection
  std::uint32_t NotifyTail = 0;                        // DispSection
  std::atomic<bool> KillThreads{false};
  std::atomic<std::uint8_t> ThreadBoost{0};

  std::recursive_mutex DataSection;
  std::recursive_mutex OutputSection;
  std::recursive_mutex DispSection;

  TSyncEvent ComEvent, ReadyEvent, GeneralEvent, OutputEvent, OutFlushEvent;
  std::uint32_t CurrentEvent = 0;  // dispatcher thread only
  std::atomic<bool> RingFlag{false};
  TIOQueue FQueue;

  std::vector<std::uint8_t> OBuffer;  // OutputSection
  std::uint32_t OBufHead = 0, OBufTail = 0;
  bool OBufFull = false;
  std::vector<std::uint8_t> DBuffer;  // DispSection
  std::uint32_t DBufHead = 0, DBufTail = 0;

  std::atomic<bool> FEventBusy{false};
  bool DeletePending = false;  // DataSection
  std::atomic<bool> FClosePending{false};
  std::uint32_t TimeBase = 0;
  std::uint32_t TriggerCounter = 1;  // DataSection
  std::atomic<bool> FDispActive{false};
  std::atomic<bool> DoDonePortPrim{false};
  std::atomic<int> FActiveThreads{0};
  bool CloseComActive = false;  // DataSection

 private:
  void DispatcherThreadMain();
  void PassPartA();
  void PassPartB();
  void FillDispatchBuffer();
  bool EvaluateReceiveTriggers();
  bool EvaluateTimerTriggers();
  bool DeliverTriggerEvent(std::uint32_t msg, std::uint32_t trigger, std::uint16_t data);
  std::uint32_t RingBytes() const;  // under DispSection
  std::uint32_t AllocateTriggerHandle();
  TTimerTrigger* FindTimer(std::uint32_t handle);
  void WaitForDrain();
  int ApplyDCB();
  void ReportThreadError(const std::string& text);

  std::thread dispThread_;
  TSyncEvent roomMade_;  // the full receive ring has room again
  std::atomic<bool> threadRunning_[4] = {false, false, false, false};
  std::atomic<std::uint64_t> passCount_{0};
  std::atomic<std::uint32_t> queuedInput_{0};  // input count of the last fill
  std::uint64_t filledTotal_ = 0;              // DispSection: bytes ever moved into the ring
  std::uint64_t notifiedTotal_ = 0;            // DispSection: filledTotal_ at the last event
  bool shutDown_ = false;
  std::atomic<int> deferredError_{0};  // the first device thread failure, reported at the end
  std::uint32_t quietInput_ = 0;       // read thread: bytes queued since it last woke the dispatcher
};

// The device side of this platform (POSIX terminals, or Win32 comms) for a port component.
std::unique_ptr<TSerBaseDispatcher> MakeDeviceDispatcher(void* owner);

// The process-wide list of open dispatchers; a trigger message's lParam names one by its index.
// nullptr for an index that is out of range or empty.
TSerBaseDispatcher* PortListDispatcher(int index);

}  // namespace tarvex
