// What the main window needs of the serial port component: the operations it calls and the two
// events it handles. The serial layer's port component implements it; tests substitute a fake.
// Operations raise the serial layer's exceptions (ESerialException and its subclasses).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace tarvex {

class IComPort {
 public:
  virtual ~IComPort() = default;

  virtual void SetComNumber(std::uint16_t number) = 0;
  [[nodiscard]] virtual std::uint16_t ComNumber() const = 0;
  // True opens the port, false closes it.
  virtual void SetOpen(bool open) = 0;
  [[nodiscard]] virtual bool Open() const = 0;

  // A new, inactive timer trigger; returns its handle.
  virtual std::uint16_t AddTimerTrigger() = 0;
  virtual void SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate) = 0;
  virtual void RemoveTrigger(std::uint16_t handle) = 0;

  // The next unread received byte.
  virtual char GetChar() = 0;
  // Queues all bytes for transmission, or none.
  virtual void PutString(const std::string& bytes) = 0;
  virtual void FlushInBuffer() = 0;
  virtual void FlushOutBuffer() = 0;
  // The data-available event waits until this many bytes are there (1: each byte as it comes),
  // so a reply of known length arrives whole rather than byte by byte. Kept across a close and
  // the next open, as the triggers are: whoever raises it lowers it again.
  virtual void SetTriggerLength(std::uint16_t length) { (void)length; }

  // Events, always delivered on the user-interface thread.
  std::function<void(std::uint16_t count)> OnTriggerAvail;
  std::function<void(std::uint16_t triggerHandle)> OnTriggerTimer;
  // A worker thread's failure ("Device read error", ...): the port delivers nothing more until it
  // is closed and opened again.
  std::function<void(const std::string&)> OnThreadError;
  // An exception escaping one of the event handlers (the application's default report).
  std::function<void(const std::exception&)> OnHandlerException;
};

}  // namespace tarvex
