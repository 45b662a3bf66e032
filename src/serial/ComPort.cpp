#include "serial/ComPort.h"

#include <atomic>

#include "core/Globals.h"
#include "serial/SerialErrors.h"
#include "serial/Ticks.h"

namespace tarvex {

namespace {

// Each open port gets its own receiver identity, as each open made its own event window.
std::uintptr_t NextWindowId() {
  static std::atomic<std::uintptr_t> next{1};
  return next.fetch_add(1);
}

// The system's answers for "access denied" and "no such device or path" become the layer's own.
int TranslateOpenResult(int code) {
  if (code == -kDeviceHeldElsewhere) return ecAlreadyOpen;
  if (code == -kNoSuchDevice || code == -kNoSuchPath) return ecBadId;
  return code;
}

}  // namespace

TSerComPort::TSerComPort() : self_(std::make_shared<TSerComPort*>(this)) {}

TSerComPort::~TSerComPort() {
  try {
    if (portState_ == TPortState::psOpen) CloseSequence();
  } catch (const std::exception& e) {
    LogDebug(e.what());
  }
  // A close still waiting for its worker threads finishes now: the dispatcher's own shutdown
  // waits for them.
  if (FDispatcher) FinishClose();
  self_.reset();
}

// ---- Open and close ------------------------------------------------------------------------------

void TSerComPort::SetOpen(bool open) {
  if (open == FOpen) return;
  if (!open) {
    if (portState_ == TPortState::psOpen) CloseSequence();
    return;
  }
  if (portState_ != TPortState::psClosed) {
    OpenPending = true;
    return;
  }
  OpenSequence();
}

void TSerComPort::SetComNumber(std::uint16_t number) {
  if (number == comNumber_) return;
  if (!FOpen || portState_ != TPortState::psOpen) {
    comNumber_ = number;
    return;
  }
  TTriggerSave saved;
  FDispatcher->SaveTriggers(saved);
  const TTraceLogState tracing = Tracing;
  const TTraceLogState logging = Logging;
  SetOpen(false);
  comNumber_ = number;
  Tracing = tracing;
  Logging = logging;
  SetOpen(true);
  if (FDispatcher) FDispatcher->RestoreTriggers(saved);
}

bool TSerComPort::AnyEventAssigned() const {
  return static_cast<bool>(OnTrigger) || static_cast<bool>(OnTriggerAvail) ||
         static_cast<bool>(OnTriggerTimer);
}

void TSerComPort::OpenSequence() {
  if (TapiMode != TTapiMode::tmOn && comNumber_ == 0) {
    // No port-selection dialog in this program: an unset number is refused whatever the prompt.
    RaiseSerialError(ecNoPortSelected);
  }
  if (DeviceLayer != TDeviceLayer::dlWin32) RaiseSerialError(ecNullApi);

  FDispatcher = MakeDispatcher ? MakeDispatcher(this) : MakeDeviceDispatcher(this);
  FDispatcher->DeviceName = "COM" + std::to_string(comNumber_);
  pump_ = UiMessagePump();
  std::weak_ptr<TSerComPort*> weak = self_;
  IMessagePump* pump = pump_;
  const std::uint64_t generation = ++openGeneration_;
  FDispatcher->OnThreadError = [weak, pump, generation](const std::string& text) {
    // Raised on a worker thread; the user is told on the user-interface thread, unless the port
    // has been closed (and perhaps opened again) since: that failure is no longer this port's.
    auto show = [weak, text, generation] {
      auto self = weak.lock();
      if (!self) return;
      TSerComPort* port = *self;
      if (port->openGeneration_ != generation || !port->FDispatcher) {
        LogDebug(text);
        return;
      }
      if (port->OnThreadError) {
        port->OnThreadError(text);
      } else {
        LogDebug(text);
      }
    };
    if (pump != nullptr) {
      pump->Post(show);
    } else {
      LogDebug(text);
    }
  };
  try {
    std::uint32_t options = 0;
    if (DTR) options |= foDtrRaised;
    if (RTS) options |= foRtsRaised;
    if ((HWFlowOptions & hwfUseDTR) != 0) options |= foDtrFlow;
    if ((HWFlowOptions & hwfUseRTS) != 0) options |= foRtsFlow;
    std::string device;
    if (DevicePath) device = DevicePath(comNumber_).value_or(std::string());
    const int code = TranslateOpenResult(FDispatcher->InitPort(
        device, Baud, static_cast<std::uint8_t>(Parity), static_cast<std::uint8_t>(DataBits),
        static_cast<std::uint8_t>(StopBits == 2 ? TWOSTOPBITS : ONESTOPBIT), InSize, OutSize, options));
    if (code != 0) RaiseSerialError(code);

    portState_ = TPortState::psOpen;
    FDispatcher->UpdateHandlerFlags(AnyEventAssigned() ? TSerHandlerFlagUpdate::fuEnablePort
                                                       : TSerHandlerFlagUpdate::fuDisablePort);
    Force = true;
    {
      const std::uint16_t full =
          BufferFull == 0 || BufferFull > InSize ? static_cast<std::uint16_t>(InSize * 9 / 10) : BufferFull;
      const std::uint16_t resume =
          BufferResume == 0 || BufferResume > full ? static_cast<std::uint16_t>(InSize / 10) : BufferResume;
      RaiseSerialError(FDispatcher->HWFlowOptions(full, resume, HWFlowOptions));
    }
    if (SWFlowOptions != swfNone) {
      const std::uint16_t full =
          BufferFull == 0 || BufferFull > InSize ? static_cast<std::uint16_t>(InSize * 3 / 4) : BufferFull;
      const std::uint16_t resume =
          BufferResume == 0 || BufferResume > full ? static_cast<std::uint16_t>(InSize / 4) : BufferResume;
      RaiseSerialError(FDispatcher->SWFlowEnable(full, resume, SWFlowOptions));
    } else {
      // Whatever the device was left with, XON and XOFF are data bytes on this line.
      RaiseSerialError(FDispatcher->SWFlowDisable());
    }
    RaiseSerialError(FDispatcher->SWFlowChars(XOnChar, XOffChar));
    FDispatcher->ChangeLengthTrigger(TriggerLength);
    FDispatcher->SetDtr(DTR);
    FDispatcher->SetRts(RTS);
    FDispatcher->SetThreadBoost(static_cast<std::uint8_t>(ThreadBoost));
    Force = false;

    FOpen = true;
    fComWindow = NextWindowId();
    FDispatcher->RegisterWndTriggerHandler(
        fComWindow, pump_, [weak](std::uint32_t msg, std::uint32_t wParam, std::int32_t lParam) {
          if (auto self = weak.lock()) (*self)->ComEventWindowProc(msg, wParam, lParam);
        });
    if (CopyTriggers) {
      CopyTriggers = false;
      FDispatcher->RestoreTriggers(SaveTriggerBuffer);
    }
    if (OnPortOpen) OnPortOpen();
  } catch (...) {
    Force = false;
    FOpen = false;
    portState_ = TPortState::psClosed;
    fComWindow = 0;
    FDispatcher.reset();  // closes the device and stops its threads
    throw;
  }
}

void TSerComPort::CloseSequence() {
  if (portState_ != TPortState::psOpen) return;
  portState_ = TPortState::psShuttingDown;
  FDispatcher->SaveTriggers(SaveTriggerBuffer);
  CopyTriggers = true;
  FDispatcher->DonePort();
  if (FDispatcher->fEventBusy() || FDispatcher->ClosePending()) {
    // Closed from inside one of this port's own events: the delivery in progress still refers to
    // the dispatcher, so the close finishes once its threads have gone.
    PostClosePending();
    PumpOneMessage();
  } else {
    FinishClose();
  }
  if (OnPortClose) OnPortClose();
}

void TSerComPort::FinishClose() {
  if (FDispatcher) FDispatcher->DeregisterWndTriggerHandler(fComWindow);
  fComWindow = 0;
  FDispatcher.reset();
  portState_ = TPortState::psClosed;
  FOpen = false;
}

void TSerComPort::PostClosePending() {
  if (pump_ == nullptr) {
    FinishClose();
    return;
  }
  std::weak_ptr<TSerComPort*> weak = self_;
  pump_->Post([weak] {
    if (auto self = weak.lock()) (*self)->ComEventWindowProc(MsgClosePending, 0, 0);
  });
}

void TSerComPort::ComEventWindowProc(std::uint32_t msg, std::uint32_t wParam, std::int32_t lParam) {
  if (msg == MsgClosePending) {
    if (portState_ != TPortState::psShuttingDown || !FDispatcher) return;
    if (FDispatcher->ActiveThreads() > 0) {
      PostClosePending();
      return;
    }
    FinishClose();
    if (OpenPending) {
      OpenPending = false;
      OpenSequence();
    }
    return;
  }
  const int index = static_cast<int>(static_cast<std::uint32_t>(lParam) >> 16);
  TSerBaseDispatcher* owner = PortListDispatcher(index);
  if (owner == nullptr || owner != FDispatcher.get()) return;
  const auto data = static_cast<std::uint16_t>(static_cast<std::uint32_t>(lParam) & 0xFFFF);
  try {
    if (OnTrigger) {
      if (msg == MsgTriggerAvail) {
        OnTrigger(static_cast<std::uint16_t>(msg), static_cast<std::uint16_t>(wParam),
                  static_cast<std::uint16_t>(wParam));
      } else {
        OnTrigger(static_cast<std::uint16_t>(msg), static_cast<std::uint16_t>(wParam), data);
      }
    }
    if (msg == MsgTriggerAvail && OnTriggerAvail) {
      OnTriggerAvail(static_cast<std::uint16_t>(wParam));
    } else if (msg == MsgTriggerTimer && OnTriggerTimer) {
      OnTriggerTimer(static_cast<std::uint16_t>(wParam));
    }
  } catch (const std::exception& e) {
    // The port stays open and later events are delivered as usual.
    if (OnHandlerException) {
      OnHandlerException(e);
    } else {
      LogDebug(e.what());
    }
  }
}

// ---- Operations ----------------------------------------------------------------------------------

bool TSerComPort::Gate() {
  if (portState_ == TPortState::psShuttingDown) return false;
  if (!FDispatcher) {
    if (!AutoOpen) RaiseSerialError(ecCommNotOpen);
    SetOpen(true);
  }
  return true;
}

std::uint16_t TSerComPort::AddTimerTrigger() {
  if (!Gate()) return 0;
  return static_cast<std::uint16_t>(RaiseSerialError(FDispatcher->AddTimerTrigger()));
}

void TSerComPort::SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate) {
  if (!Gate()) return;
  RaiseSerialError(FDispatcher->SetTimerTrigger(handle, ticks, activate));
}

void TSerComPort::RemoveTrigger(std::uint16_t handle) {
  if (portState_ != TPortState::psOpen || !FDispatcher) return;
  RaiseSerialError(FDispatcher->RemoveTrigger(handle));
}

char TSerComPort::GetChar() {
  if (!Gate()) return 0;
  std::uint8_t c = 0;
  RaiseSerialError(FDispatcher->GetChar(c));
  return static_cast<char>(c);
}

void TSerComPort::PutString(const std::string& bytes) {
  if (!Gate()) return;
  RaiseSerialError(FDispatcher->PutString(bytes));
}

void TSerComPort::FlushInBuffer() {
  if (!Gate()) return;
  // A dead port (its threads stopped after a failure) has released its buffers.
  if (FDispatcher->BuffersReleased()) RaiseSerialError(ecCommNotOpen);
  FDispatcher->FlushInBuffer();
}

void TSerComPort::SetTriggerLength(std::uint16_t length) {
  if (!Gate()) return;
  // Saved with the triggers at a close and restored at the next open.
  FDispatcher->ChangeLengthTrigger(length);
}

void TSerComPort::FlushOutBuffer() {
  if (!Gate()) return;
  if (FDispatcher->BuffersReleased()) RaiseSerialError(ecCommNotOpen);
  FDispatcher->FlushOutBuffer();
}

std::uint32_t TSerComPort::InBuffUsed() {
  return FDispatcher ? FDispatcher->InBuffUsed() : 0;
}

std::uint32_t TSerComPort::OutBuffUsed() {
  return FDispatcher ? FDispatcher->OutBuffUsed() : 0;
}

std::uint32_t TSerComPort::OutBuffFree() {
  return FDispatcher ? FDispatcher->OutBuffFree() : 0;
}

}  // namespace tarvex
