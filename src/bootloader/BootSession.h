// The boot loader's side of an update, as one machine: a command goes out, reply bytes and
// time-outs come in, and what follows (frames to send, the reply timer to stop, events of message
// 1124 to post, the port to close, a give-up) goes out through IBootActions. No window, port or
// pump is inside, so the whole protocol can be driven and checked on its own.
#pragma once

#include <cstdint>
#include <string_view>

#include "bootloader/BootEvents.h"
#include "core/Globals.h"

namespace tarvex {

// Sub-states of the commands with follow-on frames.
enum class TReadStage : std::uint8_t { rsCmd, rsAddress, rsSize, rsData };
enum class TWriteStage : std::uint8_t { wsCmd, wsAddress, wsData, wsDone };
enum class TEraseStage : std::uint8_t { esCmd, esPages, esDone };
enum class TGoStage : std::uint8_t { gsCmd, gsAddress, gsRunning };

// One event of message 1124 and the block it is about, as the block stood when it was posted.
struct TBootEvent {
  std::uint8_t WParam = 0;
  std::uint8_t LParam = 0;
  std::uint32_t Addr = 0;
  std::uint16_t Size = 0;
  std::size_t PageIdx = 0;
};

enum class TBootGiveUp : std::uint8_t {
  bgNack,     // the last transmission was refused
  bgSilence,  // the last transmission was not answered
};

class IBootActions {
 public:
  virtual ~IBootActions() = default;
  // The frame goes out with the reply timer armed; false when the line could not take it.
  virtual bool SendFrame(const ByteString& frame) = 0;
  virtual void StopTimer() = 0;
  virtual void PostEvent(const TBootEvent& event) = 0;
  // The next bytes are to be handed over once count of them are there (1: each as it comes).
  virtual void AwaitBytes(std::uint16_t count) = 0;
  // Bytes received and not yet handed over are dropped.
  virtual void DiscardInput() = 0;
  // The new firmware runs: nothing more is read from the line.
  virtual void ClosePort() = 0;
  // The command is over unanswered. A refusal closes the port before the installer is told, so
  // that nothing arriving meanwhile can restart the command.
  virtual void GiveUp(TBootGiveUp why) = 0;
};

// The state the machine works on: the window's own fields, which its other handlers and the
// tests read and set as well. PageList and PageIdx are the shared ones of core/Globals.h.
struct TBootFields {
  ByteString& Rx_Buffer;
  ByteString& Tx_Buffer;
  std::int32_t& RetryCount;
  std::uint8_t& CurCmd;
  bool& CommandActive;
  TComsState& ComsState;
  TReadStage& ReadStage;
  TWriteStage& WriteStage;
  TEraseStage& EraseStage;
  TGoStage& GoStage;
  std::uint32_t& StartAddr;
  std::uint32_t& EndAddr;
  std::uint16_t& RWSize;
};

// Transmissions a command may use, NACKs and time-outs together.
inline constexpr std::int32_t kBootTransmissions = 5;

class TBootSession {
 public:
  TBootSession(TBootFields fields, IBootActions& actions) : f_(fields), act_(actions) {}

  // Starts a command with a fresh set of transmissions. The sync only goes out before the target
  // has answered one, every other command only after.
  void SendCommand(std::uint8_t cmd);
  // One frame out: the reply to it is judged from scratch. False when the line could not take it.
  bool Send(const ByteString& frame);
  // Reply bytes as they arrive; judged together with those before them since the last frame.
  void OnBytes(std::string_view bytes);
  // The reply timer expired: the frame goes again, or the command is given up.
  void OnTimeout();
  // Bytes come one at a time again: before the line closes, as the port keeps its data-available
  // length across a close and would otherwise hold back the next product's short replies.
  void StopAwaiting();

 private:
  void Judge();
  void Post(std::uint8_t wParam, std::uint8_t lParam);
  void SendAddress(std::uint32_t addr);
  // After a block: true when it was the last block of the last page.
  bool Advance(std::uint8_t cmd);

  TBootFields f_;
  IBootActions& act_;
  // A READ block's ACK came and the rest of the block is awaited whole.
  bool awaiting_ = false;
};

}  // namespace tarvex
