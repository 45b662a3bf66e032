// The product link's side of a job, as one machine: the job's tasks are packed into frames,
// reply bytes and time-outs come in, and what follows (frames to send, the reply timer to stop, a
// complete frame to hand over, a refusal to tell, the job's end) goes out through ILinkActions.
// The identity a reply carries lands in ProductInfo. No window, port or pump is inside.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/Globals.h"
#include "core/Platform.h"

namespace tarvex {

// Why the last job ended without completing.
enum class TLinkGiveUp : std::uint8_t {
  lgNone,
  lgNoAnswer,  // silence after the last transmission
  lgBadReply,  // replies that could not be trusted, or did not answer the request
  lgRefused,   // an error record the product sent (its message has been shown)
  lgLineLost,  // the frame could not be sent: the port is closed or dead
};

class ILinkActions {
 public:
  virtual ~ILinkActions() = default;
  // The frame goes out with the reply timer armed; false when the line could not take it.
  virtual bool SendFrame(const ByteString& frame) = 0;
  // A frame could not go out: whatever runs on the line ends.
  virtual void LineLost() = 0;
  virtual void StopTimer() = 0;
  // Bytes formed a whole frame: it comes back to ProcessReply (as message 1125, say).
  virtual void FrameReceived(std::unique_ptr<ByteString> frame) = 0;
  // The product refused a request with an error the installer must read.
  virtual void Refused(TMsgKind kind, const std::string& text) = 0;
  // The job in CommsJob has been given up (LinkGiveUp says why) and destroyed.
  virtual void JobAborted(std::uint16_t jobId) = 0;
  // Every task of the job was answered; the job has been destroyed.
  virtual void JobFinished(std::uint16_t jobId) = 0;
};

// The state the machine works on: the window's own fields, which its other handlers and the
// tests read and set as well. The job is the shared CommsJob of core/Globals.h.
struct TLinkFields {
  ByteString& Rx_Buffer;
  ByteString& Tx_Buffer;
  std::int32_t& RetryCount;
  TComsState& ComsState;
  TLinkGiveUp& LinkGiveUp;
};

// Transmissions of one frame: the first and two repeats.
inline constexpr std::int32_t kLinkTransmissions = 3;
inline constexpr std::int32_t kReplyTimeoutTicks = 36;
// No reply of a product with a 480-byte buffer comes near this; a longer run of bytes that never
// formed a frame is line noise and is dropped.
inline constexpr std::size_t kMaxReceiveBuffer = 4096;

class TLinkSession {
 public:
  TLinkSession(TLinkFields fields, ILinkActions& actions) : f_(fields), act_(actions) {}

  // The job's next frame, or its end.
  void SendNextTasks();
  // One frame out; the reply to it is gathered from scratch. False when the line could not take it.
  bool Send(const ByteString& frame);
  // Reply bytes as they arrive.
  void OnBytes(std::string_view bytes);
  // The reply timer expired: the frame goes again, or the job is given up.
  void OnTimeout();
  // One complete frame that OnBytes handed over.
  void ProcessReply(ByteString frame);

 private:
  void RejectReply();

  TLinkFields f_;
  ILinkActions& act_;
};

}  // namespace tarvex
