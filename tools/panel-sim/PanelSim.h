// The emulated product: its firmware's side of the product link and its boot loader, fed the
// bytes that arrive on the line and answering with the bytes (and line events) it sends back.
// Nothing here touches a device or a clock, so the whole product can be driven from tests.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Globals.h"
#include "link/Frame.h"

namespace tarvex::panelsim {

// Faults to inject; each is off by default.
struct TFaults {
  bool Silent = false;                       // never answer anything
  std::uint32_t AnswerAfter = 0;             // ignore this many request frames first
  std::uint32_t BadCrcFrames = 0;            // corrupt the CRC of this many reply frames
  std::uint16_t AccessError = 0;             // answer every access request with this error (2 to 5)
  std::uint16_t RefuseRequest = 0;           // answer this request (parameter address) with error 5
  std::uint32_t NotReadyCount = 0;           // answer this many identity requests "not ready" (6401)
  std::uint8_t NackCommand = 0;              // boot loader command whose next frames are refused ...
  std::uint32_t NackCount = 0;               // ... this many times
  std::uint32_t SyncGarbage = 0;             // answer this many syncs with garbage
  std::uint8_t SilentCommand = 0;            // boot loader command whose frames go unanswered ...
  std::uint32_t SilentCount = 0;             // ... this many times
  std::uint32_t ChunkSize = 0;               // split every reply into pieces of this many bytes ...
  std::uint32_t ChunkDelayMs = 0;            // ... with this pause between them
  std::uint32_t UnplugAfter = 0;             // drop the line on this boot loader frame (counted from 1)
  std::optional<std::uint32_t> FlipAddress;  // flash byte that reads back wrong after a write
};

struct TProductConfig {
  std::uint8_t ProductCode = 120;
  std::uint8_t Variant = 0;
  std::uint8_t Major = 1;
  std::uint8_t Minor = 0;
  char Micro = 'S';     // maker letter: 'G', 'S' or any other
  ByteString UniqueID;  // 12 bytes
  ByteString SerialNo;  // 16 bytes; all 0xFF when the product has none
  bool NvmLocked = false;
  bool NeedSecondCode = false;       // refuse the first access code with error 3
  std::uint32_t FlashPages = 0;      // 0: the catalogue's size for the product code
  std::uint32_t EraseMs = 20;        // per page
  std::uint32_t WriteMs = 6;         // per block
  std::uint32_t Reenumerations = 1;  // USB leave-and-return cycles after GO
  TFaults Faults;
};

// Something the product does on the line. Delays count from the previous action (the first from
// the moment the request was complete).
struct TSimAction {
  enum class Kind : std::uint8_t { Send, Unplug, Reenumerate };
  Kind What = Kind::Send;
  ByteString Bytes;
  std::uint32_t DelayMs = 0;
};

// A transcript line: time in ms, "RX", "TX" or "--" (a note), and the bytes or text.
using TTranscriptSink = std::function<void(std::uint64_t nowMs, std::string_view tag, std::string_view body)>;

// Bytes as spaced upper-case hexadecimal pairs.
std::string HexBytes(std::string_view bytes);

class TPanelSim {
 public:
  explicit TPanelSim(TProductConfig config);

  // Bytes arrived on the line at time nowMs; returns what the product does in answer.
  std::vector<TSimAction> Feed(std::string_view bytes, std::uint64_t nowMs);
  // Power-on: the product runs the firmware in its flash, or stays in its boot loader when the
  // flash holds no firmware identity or was erased without a GO since (an update cut short).
  void Restart();
  void SetTranscript(TTranscriptSink sink) { transcript_ = std::move(sink); }
  // A note of the line's own (the lead unplugged, back again) into the transcript.
  void Annotate(std::string_view text, std::uint64_t nowMs) {
    now_ = nowMs;
    Note(text);
  }

  [[nodiscard]] bool InBootloader() const { return bootloader_; }
  [[nodiscard]] bool AccessGranted() const { return access_; }
  [[nodiscard]] const TProductConfig& Config() const { return cfg_; }
  [[nodiscard]] const ByteString& Flash() const { return flash_; }
  [[nodiscard]] std::uint32_t FlashSize() const { return static_cast<std::uint32_t>(flash_.size()); }
  // Bytes held back waiting for the rest of a frame (bounded whatever arrives).
  [[nodiscard]] std::size_t PendingBytes() const { return rx_.size(); }
  // The identity block of the product's firmware at flash offset; the programmer's file checks
  // read the same block.
  static ByteString IdentityBlock(std::uint8_t code, std::uint8_t variant, std::uint8_t major,
                                  std::uint8_t minor, bool gd);

  // A gap this long inside a frame means its first part was lost; the rest is dropped.
  static constexpr std::uint64_t kFrameGapMs = 500;
  // A boot loader command whose next frame has not come for this long is abandoned (the
  // programmer repeats a frame well within it), so a fresh sync is heard again.
  static constexpr std::uint64_t kCommandAbandonMs = 8000;
  // Longest product-link frame taken in; a longer length field is line noise.
  static constexpr std::size_t kMaxRequestFrame = 1024;
  // The product's record buffer.
  static constexpr std::size_t kPanelBuffer = 480;

 private:
  enum class TBootStage : std::uint8_t { Command, Address, Count, Data, ErasePage };

  void Note(std::string_view text);
  void Log(std::string_view tag, std::string_view bytes);
  void Reply(std::vector<TSimAction>& out, ByteString bytes, std::uint32_t delayMs = 0);

  // Product link.
  void FeedLink(std::vector<TSimAction>& out);
  void HandleLinkFrame(ByteString frame, std::vector<TSimAction>& out);
  ByteString IdentityData() const;
  void AnswerRequest(const TLinkRequest& req, ByteString& payload);

  // Boot loader.
  void FeedBoot(std::vector<TSimAction>& out);
  // Bytes the frame in progress needs; 0 when not yet known.
  [[nodiscard]] std::size_t BootFrameSize() const;
  void HandleBootFrame(const ByteString& frame, std::vector<TSimAction>& out);
  bool InjectBootFault(std::vector<TSimAction>& out);
  void BootReply(std::vector<TSimAction>& out, std::uint8_t code, std::uint32_t delayMs = 0);
  [[nodiscard]] bool InFlash(std::uint32_t addr, std::uint32_t size) const;

  TProductConfig cfg_;
  TTranscriptSink transcript_;
  std::uint64_t now_ = 0;
  std::uint64_t lastByteAt_ = 0;
  ByteString rx_;
  ByteString flash_;
  // Identity of the running firmware.
  std::uint8_t code_ = 0, variant_ = 0, major_ = 0, minor_ = 0;
  char micro_ = 'S';
  bool access_ = false;
  std::uint32_t requests_ = 0;

  bool bootloader_ = false;
  bool synced_ = false;
  // Erased since the last GO: the application may be incomplete, so a restart keeps the boot loader.
  bool incomplete_ = false;
  std::uint8_t cmd_ = 0;
  TBootStage stage_ = TBootStage::Command;
  std::uint32_t addr_ = 0;
  std::uint32_t bootFrames_ = 0;
  bool flipped_ = false;
};

}  // namespace tarvex::panelsim
