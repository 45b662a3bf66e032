// The serial port component: opens and closes a COM port, queues outgoing bytes, and turns the
// arrival of data and the expiry of timers into events on the user-interface thread. The engine
// behind an open port is a dispatcher (created at open, freed at close); events reach the
// component through the user-interface thread's message pump, which stands in for a hidden
// event window.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "serial/ComPortIntf.h"
#include "serial/Dispatcher.h"

namespace tarvex {

enum class TPortState : std::uint8_t { psClosed, psShuttingDown, psOpen };
enum class TDeviceLayer : std::uint8_t { dlWin32, dlWinsock };
enum class TParity : std::uint8_t { pNone, pOdd, pEven, pMark, pSpace };
// Software flow options: none, or swfReceive and/or swfTransmit.
inline constexpr std::uint32_t swfNone = 0;
inline constexpr std::uint32_t swfBoth = swfReceive | swfTransmit;
enum class TTraceLogState : std::uint8_t { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };
enum class TTapiMode : std::uint8_t { tmNone, tmAuto, tmOn, tmOff };
enum class TSerThreadBoost : std::uint8_t { tbNone, tbPlusOne, tbPlusTwo };

class TSerComPort : public IComPort {
 public:
  TSerComPort();
  ~TSerComPort() override;
  TSerComPort(const TSerComPort&) = delete;
  TSerComPort& operator=(const TSerComPort&) = delete;

  // ---- What the main window uses ----
  void SetComNumber(std::uint16_t number) override;
  [[nodiscard]] std::uint16_t ComNumber() const override { return comNumber_; }
  void SetOpen(bool open) override;
  [[nodiscard]] bool Open() const override { return FOpen; }
  std::uint16_t AddTimerTrigger() override;
  void SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate) override;
  void RemoveTrigger(std::uint16_t handle) override;
  char GetChar() override;
  void PutString(const std::string& bytes) override;
  void FlushInBuffer() override;
  void FlushOutBuffer() override;
  void SetTriggerLength(std::uint16_t length) override;

  // ---- Line and buffer state nothing in the program reads, for diagnostics ----
  [[nodiscard]] std::uint32_t InBuffUsed();
  [[nodiscard]] std::uint32_t OutBuffUsed();
  [[nodiscard]] std::uint32_t OutBuffFree();
  [[nodiscard]] TPortState PortState() const { return portState_; }
  // The dispatcher while open, else nullptr.
  [[nodiscard]] TSerBaseDispatcher* Dispatcher() const { return FDispatcher.get(); }

  // ---- Properties ----
  TDeviceLayer DeviceLayer = TDeviceLayer::dlWin32;
  std::int32_t Baud = 19200;
  bool PromptForPort = true;
  TParity Parity = TParity::pNone;
  std::uint16_t DataBits = 8;
  std::uint16_t StopBits = 1;
  std::uint16_t InSize = 4096;
  std::uint16_t OutSize = 4096;
  bool AutoOpen = true;
  bool DTR = true;
  bool RTS = true;
  std::uint32_t HWFlowOptions = 0;  // hwfUseDTR, hwfUseRTS, hwfRequireDSR, hwfRequireCTS
  std::uint32_t SWFlowOptions = swfNone;
  char XOnChar = 17;
  char XOffChar = 19;
  std::uint16_t BufferFull = 0;
  std::uint16_t BufferResume = 0;
  std::uint16_t TriggerLength = 1;
  TSerThreadBoost ThreadBoost = TSerThreadBoost::tbNone;
  // Kept as given; nothing in the program switches tracing, logging, telephony or RS-485 on.
  TTraceLogState Tracing = TTraceLogState::tlOff;
  std::uint32_t TraceSize = 10000;
  std::string TraceName = "VUNO.TRC";
  bool TraceHex = true, TraceAllHex = false;
  TTraceLogState Logging = TTraceLogState::tlOff;
  std::uint32_t LogSize = 10000;
  std::string LogName = "VUNO.LOG";
  bool LogHex = true, LogAllHex = false;
  bool UseMSRShadow = true, UseEventWord = true;
  std::uint16_t CommNotificationLevel = 10;
  TTapiMode TapiMode = TTapiMode::tmAuto;
  bool RS485Mode = false;

  // ---- Platform hooks ----
  // The device behind COM<n>, or nothing when there is no such port.
  std::function<std::optional<std::string>(int)> DevicePath;
  // OnThreadError and OnHandlerException (IComPort) arrive on the user-interface thread; each is
  // logged when unset.
  // Makes the dispatcher; tests may hand in another device side.
  std::function<std::unique_ptr<TSerBaseDispatcher>(void* owner)> MakeDispatcher;

  // ---- The other events ----
  std::function<void(std::uint16_t msg, std::uint16_t triggerHandle, std::uint16_t data)> OnTrigger;
  std::function<void()> OnPortOpen;
  std::function<void()> OnPortClose;

 private:
  void OpenSequence();
  void CloseSequence();
  void FinishClose();
  void ComEventWindowProc(std::uint32_t msg, std::uint32_t wParam, std::int32_t lParam);
  void PostClosePending();
  // The common gate: false when the operation is to do nothing (shutting down); raises
  // ECommNotOpen on a closed port.
  bool Gate();
  [[nodiscard]] bool AnyEventAssigned() const;

  std::uint16_t comNumber_ = 0;
  bool FOpen = false;
  TPortState portState_ = TPortState::psClosed;
  bool OpenPending = false;
  bool Force = false;
  bool CopyTriggers = false;
  TTriggerSave SaveTriggerBuffer;
  std::unique_ptr<TSerBaseDispatcher> FDispatcher;
  IMessagePump* pump_ = nullptr;
  std::uintptr_t fComWindow = 0;
  std::uint64_t openGeneration_ = 0;  // counts opens; a late failure report names its open
  // Shared with the messages in flight, so one that runs after the component is gone does
  // nothing.
  std::shared_ptr<TSerComPort*> self_;
};

}  // namespace tarvex
