#include "tools/panel-sim/PanelSim.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "bootloader/BootFrames.h"
#include "core/ProductCatalogue.h"
#include "link/AccessCodes.h"

namespace tarvex::panelsim {

namespace {

constexpr std::size_t kIdentityBlockOffset = 0x200;
constexpr std::uint32_t kDefaultPages = 128;
constexpr std::size_t kUniqueIdSize = 12;
constexpr std::size_t kSerialSize = 16;
constexpr std::uint8_t kNvmLockBit = 0x40;
// What a confused product sends instead of an ACK to the sync.
const ByteString kSyncGarbage = "\x3C\xC3";

ByteString Fit(ByteString s, std::size_t size, char pad) {
  s.resize(size, pad);
  return s;
}

std::uint8_t Byte(const ByteString& s, std::size_t i) {
  return static_cast<std::uint8_t>(s[i]);
}

std::uint8_t Xor(std::string_view bytes) {
  std::uint8_t x = 0;
  for (char c : bytes) x = static_cast<std::uint8_t>(x ^ static_cast<std::uint8_t>(c));
  return x;
}

}  // namespace

std::string HexBytes(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

ByteString TPanelSim::IdentityBlock(std::uint8_t code, std::uint8_t variant, std::uint8_t major,
                                    std::uint8_t minor, bool gd) {
  ByteString b = "\x55\xAA\xFF";
  b += static_cast<char>(code);
  b += static_cast<char>(variant);
  b += static_cast<char>(major);
  b += static_cast<char>(minor);
  b += gd ? "GD" : "ST";
  return b;
}

TPanelSim::TPanelSim(TProductConfig config) : cfg_(std::move(config)) {
  cfg_.UniqueID = Fit(cfg_.UniqueID, kUniqueIdSize, '\0');
  cfg_.SerialNo = Fit(cfg_.SerialNo, kSerialSize, ' ');
  std::uint32_t pages = cfg_.FlashPages;
  if (pages == 0) pages = MemSizePages(GetMemSize(cfg_.ProductCode));
  if (pages == 0) pages = kDefaultPages;
  cfg_.FlashPages = pages;
  flash_.assign(static_cast<std::size_t>(pages) * kPageSize, static_cast<char>(kErasedByte));
  // The factory firmware: a start that cannot hold the identity signature, then its identity.
  for (std::size_t i = 0; i < kIdentityBlockOffset; ++i) flash_[i] = static_cast<char>(i & 0x7F);
  const ByteString block =
      IdentityBlock(cfg_.ProductCode, cfg_.Variant, cfg_.Major, cfg_.Minor, cfg_.Micro == 'G');
  flash_.replace(kIdentityBlockOffset, block.size(), block);
  Restart();
}

void TPanelSim::Restart() {
  rx_.clear();
  access_ = false;
  synced_ = false;
  stage_ = TBootStage::Command;
  cmd_ = 0;
  if (incomplete_) {
    bootloader_ = true;
    Note("restart: the last update did not finish, boot loader waits for sync");
    return;
  }
  static const ByteString kSignature = "\x55\xAA\xFF";
  std::size_t at = flash_.find(kSignature);
  while (at != ByteString::npos && at + 6 >= flash_.size()) at = ByteString::npos;
  if (at == ByteString::npos) {
    // No firmware to run: the boot loader keeps the line.
    bootloader_ = true;
    Note("restart: no firmware identity in flash, boot loader waits for sync");
    return;
  }
  bootloader_ = false;
  code_ = Byte(flash_, at + 3);
  variant_ = Byte(flash_, at + 4);
  major_ = Byte(flash_, at + 5);
  minor_ = Byte(flash_, at + 6);
  const bool gd = at + 8 < flash_.size() && flash_[at + 7] == 'G' && flash_[at + 8] == 'D';
  // Firmware for both makers' parts says so; otherwise the part's own letter stands, and a
  // GigaDevice part running ST-only firmware reads as ST.
  micro_ = gd ? 'G' : (cfg_.Micro == 'G' ? 'S' : cfg_.Micro);
  Note("restart: firmware " + std::to_string(major_) + "." + std::to_string(minor_) + " product " +
       std::to_string(code_) + " variant " + std::to_string(variant_));
}

void TPanelSim::Note(std::string_view text) {
  if (transcript_) transcript_(now_, "--", text);
}

void TPanelSim::Log(std::string_view tag, std::string_view bytes) {
  if (transcript_) transcript_(now_, tag, HexBytes(bytes));
}

void TPanelSim::Reply(std::vector<TSimAction>& out, ByteString bytes, std::uint32_t delayMs) {
  Log("TX", bytes);
  const std::size_t chunk = cfg_.Faults.ChunkSize;
  if (chunk == 0 || bytes.size() <= chunk) {
    out.push_back({TSimAction::Kind::Send, std::move(bytes), delayMs});
    return;
  }
  for (std::size_t pos = 0; pos < bytes.size(); pos += chunk) {
    out.push_back(
        {TSimAction::Kind::Send, bytes.substr(pos, chunk), pos == 0 ? delayMs : cfg_.Faults.ChunkDelayMs});
  }
}

std::vector<TSimAction> TPanelSim::Feed(std::string_view bytes, std::uint64_t nowMs) {
  std::vector<TSimAction> out;
  now_ = nowMs;
  if (bytes.empty()) return out;
  if (!rx_.empty() && nowMs - lastByteAt_ > kFrameGapMs) {
    Note("dropped an unfinished frame after a pause: " + HexBytes(rx_));
    rx_.clear();
  }
  if (bootloader_ && stage_ != TBootStage::Command && nowMs - lastByteAt_ > kCommandAbandonMs) {
    Note("command abandoned after a long pause");
    stage_ = TBootStage::Command;
  }
  lastByteAt_ = nowMs;
  rx_.append(bytes);
  if (!bootloader_) FeedLink(out);
  if (bootloader_) FeedBoot(out);
  return out;
}

// Product link ---------------------------------------------------------------------------------

void TPanelSim::FeedLink(std::vector<TSimAction>& out) {
  std::size_t discarded = 0;
  while (rx_.size() >= 2 && !bootloader_) {
    const std::size_t length = GetLinkWord(rx_, 0);
    if (length < kFrameEnvelopeSize || length > kMaxRequestFrame) {
      // Not the start of a frame: slide on by one byte until a plausible length turns up.
      rx_.erase(0, 1);
      ++discarded;
      continue;
    }
    if (rx_.size() < length) break;
    ByteString frame = rx_.substr(0, length);
    rx_.erase(0, length);
    HandleLinkFrame(std::move(frame), out);
  }
  if (discarded != 0) Note("discarded " + std::to_string(discarded) + " bytes that start no frame");
  if (bootloader_) rx_.clear();
}

void TPanelSim::HandleLinkFrame(ByteString frame, std::vector<TSimAction>& out) {
  Log("RX", frame);
  TFaults& f = cfg_.Faults;
  if (f.Silent) {
    Note("silent: no answer");
    return;
  }
  if (requests_ < f.AnswerAfter) {
    ++requests_;
    Note("ignoring request " + std::to_string(requests_) + " of " + std::to_string(f.AnswerAfter));
    return;
  }
  ++requests_;
  if (!FrameCheckCrc(frame)) {
    Note("bad CRC: no answer");
    return;
  }
  ByteString payload;
  bool enterBoot = false;
  const auto requests = DecodeLinkRequests(frame);
  if (!requests) {
    EncodeLinkReply(payload, LinkErrorReply(kLinkErrMessageLength));
  } else if (frame.size() > kPanelBuffer) {
    for (std::size_t i = 0; i < requests->size(); ++i) {
      EncodeLinkReply(payload, LinkErrorReply(kLinkErrMessageLength));
    }
  } else {
    for (const TLinkRequest& req : *requests) {
      AnswerRequest(req, payload);
      if (req.ParamAddress == kParamBootloader && access_ && req.Data == BootloaderEntryCode()) {
        enterBoot = true;
      }
    }
  }
  if (payload.empty()) {
    Note("no records: no answer");
    return;
  }
  FrameAddCrc(payload);
  if (f.BadCrcFrames > 0) {
    --f.BadCrcFrames;
    payload.back() = static_cast<char>(payload.back() ^ 0x5A);
    Note("corrupting the CRC of this reply");
  }
  Reply(out, std::move(payload));
  if (enterBoot) {
    bootloader_ = true;
    synced_ = false;
    stage_ = TBootStage::Command;
    Note("entering the boot loader");
  }
}

ByteString TPanelSim::IdentityData() const {
  const bool peripheral = IsPeripheralProduct(code_);
  ByteString d(peripheral ? 18 : 34, '\0');
  d[0] = static_cast<char>(major_);
  d[1] = static_cast<char>(minor_);
  d[2] = micro_;
  d[4] = static_cast<char>(variant_);
  d[5] = static_cast<char>(code_);
  d.replace(peripheral ? 6 : 14, kUniqueIdSize, cfg_.UniqueID);
  return d;
}

void TPanelSim::AnswerRequest(const TLinkRequest& req, ByteString& payload) {
  TLinkReply r{req.ParamAddress, req.IDStart, req.IDLength, {}};
  auto refuse = [&](std::uint16_t error, std::string_view why) {
    Note("request " + std::to_string(req.ParamAddress) + " refused with error " + std::to_string(error) +
         ": " + std::string(why));
    EncodeLinkReply(payload, LinkErrorReply(error));
  };
  TFaults& f = cfg_.Faults;
  const bool peripheral = IsPeripheralProduct(code_);
  if (f.RefuseRequest != 0 && req.ParamAddress == f.RefuseRequest) {
    return refuse(kLinkErrNotSupported, "injected");
  }
  switch (req.ParamAddress) {
    case kParamAccess:
      if (f.AccessError != 0) return refuse(f.AccessError, "injected");
      if (req.Data.size() == 4) {
        if (cfg_.NeedSecondCode) return refuse(kLinkErrTryOtherCode, "second code needed");
        if (req.Data != FirstAccessCode()) return refuse(kLinkErrAccessDenied, "wrong code");
      } else if (req.Data.size() != 10 || req.Data != SecondAccessCode()) {
        return refuse(kLinkErrAccessDenied, "wrong code");
      }
      access_ = true;
      break;
    case kParamIdentity:
      if (!access_) return refuse(kLinkErrAccessDenied, "no access");
      if (f.NotReadyCount > 0) {
        --f.NotReadyCount;
        r.Code = kReplyCodeNotReady;
        Note("identity not ready");
        break;
      }
      r.Data = IdentityData();
      break;
    case kParamSerialNo:
      if (!access_) return refuse(kLinkErrAccessDenied, "no access");
      if (peripheral) return refuse(kLinkErrNotSupported, "no serial number");
      r.Data = cfg_.SerialNo;
      break;
    case kParamNvmLock:
      if (!access_) return refuse(kLinkErrAccessDenied, "no access");
      if (peripheral) return refuse(kLinkErrNotSupported, "no NVM lock");
      r.Data = ByteString{'\0', static_cast<char>(cfg_.NvmLocked ? kNvmLockBit : 0)};
      break;
    case kParamBootloader:
      if (!access_) return refuse(kLinkErrAccessDenied, "no access");
      if (req.Data != BootloaderEntryCode()) return refuse(kLinkErrAccessDenied, "wrong entry code");
      break;
    default: return refuse(kLinkErrNotSupported, "unknown request");
  }
  EncodeLinkReply(payload, r);
}

// Boot loader ----------------------------------------------------------------------------------

bool TPanelSim::InFlash(std::uint32_t addr, std::uint32_t size) const {
  return addr >= kFlashBase && addr - kFlashBase <= flash_.size() &&
         size <= flash_.size() - (addr - kFlashBase);
}

void TPanelSim::BootReply(std::vector<TSimAction>& out, std::uint8_t code, std::uint32_t delayMs) {
  Reply(out, ByteString(1, static_cast<char>(code)), delayMs);
}

std::size_t TPanelSim::BootFrameSize() const {
  switch (stage_) {
    case TBootStage::Command: return Byte(rx_, 0) == kBootSync ? 1 : 2;
    case TBootStage::Address:
    case TBootStage::ErasePage: return 5;
    case TBootStage::Count: return 2;
    case TBootStage::Data: return static_cast<std::size_t>(Byte(rx_, 0)) + 3;
  }
  return 1;
}

void TPanelSim::FeedBoot(std::vector<TSimAction>& out) {
  while (!rx_.empty() && bootloader_) {
    if (!synced_ && stage_ == TBootStage::Command) {
      // Before the sync the boot loader waits for 0x7F and takes nothing else.
      const std::size_t at = rx_.find(static_cast<char>(kBootSync));
      if (at != 0) {
        Note("before sync, ignored: " + HexBytes(rx_.substr(0, at)));
        rx_.erase(0, at);
        if (rx_.empty()) break;
      }
    }
    const std::size_t size = BootFrameSize();
    if (rx_.size() < size) break;
    const ByteString frame = rx_.substr(0, size);
    rx_.erase(0, size);
    HandleBootFrame(frame, out);
  }
}

bool TPanelSim::InjectBootFault(std::vector<TSimAction>& out) {
  TFaults& f = cfg_.Faults;
  if (f.Silent) {
    Note("silent: no answer");
    return true;
  }
  if (f.SilentCount > 0 && cmd_ == f.SilentCommand) {
    --f.SilentCount;
    Note("silent for this command");
    return true;
  }
  if (f.NackCount > 0 && cmd_ == f.NackCommand) {
    --f.NackCount;
    Note("injected NACK");
    BootReply(out, kBootNack);
    return true;
  }
  return false;
}

void TPanelSim::HandleBootFrame(const ByteString& frame, std::vector<TSimAction>& out) {
  Log("RX", frame);
  ++bootFrames_;
  if (cfg_.Faults.UnplugAfter != 0 && bootFrames_ == cfg_.Faults.UnplugAfter) {
    Note("unplugged");
    out.push_back({TSimAction::Kind::Unplug, {}, 0});
    Restart();
    return;
  }
  switch (stage_) {
    case TBootStage::Command: {
      if (frame.size() == 1) {
        cmd_ = kBootSync;
        // A boot loader that refuses a sync has heard it: it has synchronised already and takes
        // commands from now on, as the programmer expects of a NACK to its sync.
        const bool nack = !cfg_.Faults.Silent && cfg_.Faults.SilentCount == 0 && cfg_.Faults.NackCount > 0 &&
                          cfg_.Faults.NackCommand == kBootSync;
        if (InjectBootFault(out)) {
          if (nack) synced_ = true;
          return;
        }
        if (cfg_.Faults.SyncGarbage > 0) {
          --cfg_.Faults.SyncGarbage;
          Note("garbage for the sync");
          Reply(out, kSyncGarbage);
          return;
        }
        // A second sync finds the boot loader already listening for commands.
        BootReply(out, synced_ ? kBootNack : kBootAck);
        synced_ = true;
        return;
      }
      if (Byte(frame, 1) != (Byte(frame, 0) ^ 0xFF)) {
        Note("command without its complement");
        return BootReply(out, kBootNack);
      }
      cmd_ = Byte(frame, 0);
      if (InjectBootFault(out)) return;
      switch (cmd_) {
        case kCmdRead:
        case kCmdWrite:
        case kCmdGo: stage_ = TBootStage::Address; break;
        case kCmdErase: stage_ = TBootStage::ErasePage; break;
        default: Note("unknown command"); return BootReply(out, kBootNack);
      }
      return BootReply(out, kBootAck);
    }
    case TBootStage::Address: {
      if (InjectBootFault(out)) return;
      // A refused frame leaves the stage as it is: the programmer sends the same frame again.
      if (Xor(std::string_view(frame).substr(0, 4)) != Byte(frame, 4)) {
        Note("address checksum wrong");
        return BootReply(out, kBootNack);
      }
      const std::uint32_t addr = (std::uint32_t{Byte(frame, 0)} << 24) |
                                 (std::uint32_t{Byte(frame, 1)} << 16) |
                                 (std::uint32_t{Byte(frame, 2)} << 8) | Byte(frame, 3);
      if (cmd_ == kCmdGo ? addr != kFlashBase : !InFlash(addr, 1)) {
        Note("address outside the flash");
        return BootReply(out, kBootNack);
      }
      addr_ = addr;
      if (cmd_ == kCmdGo) {
        BootReply(out, kBootAck);
        stage_ = TBootStage::Command;
        incomplete_ = false;
        Restart();
        if (cfg_.Reenumerations > 0) out.push_back({TSimAction::Kind::Reenumerate, {}, 0});
        return;
      }
      stage_ = cmd_ == kCmdRead ? TBootStage::Count : TBootStage::Data;
      return BootReply(out, kBootAck);
    }
    case TBootStage::Count: {
      if (InjectBootFault(out)) return;
      const std::uint32_t n = Byte(frame, 0) + 1u;
      if (Byte(frame, 1) != (Byte(frame, 0) ^ 0xFF) || !InFlash(addr_, n)) {
        Note("read count refused");
        return BootReply(out, kBootNack);
      }
      const ByteString data = flash_.substr(addr_ - kFlashBase, n);
      stage_ = TBootStage::Command;
      Reply(out, ByteString(1, static_cast<char>(kBootAck)) + data + static_cast<char>(Xor(data)));
      return;
    }
    case TBootStage::Data: {
      if (InjectBootFault(out)) return;
      const std::uint32_t n = Byte(frame, 0) + 1u;
      if (Xor(std::string_view(frame).substr(0, n + 1)) != Byte(frame, n + 1) || !InFlash(addr_, n)) {
        Note("write data refused");
        return BootReply(out, kBootNack);
      }
      const std::uint32_t off = addr_ - kFlashBase;
      // Programming only clears bits: a location written twice without an erase keeps the AND.
      for (std::uint32_t i = 0; i < n; ++i) {
        flash_[off + i] = static_cast<char>(Byte(flash_, off + i) & Byte(frame, 1 + i));
      }
      const auto& flip = cfg_.Faults.FlipAddress;
      if (flip && !flipped_ && *flip >= addr_ && *flip - addr_ < n) {
        flipped_ = true;
        flash_[*flip - kFlashBase] = static_cast<char>(Byte(flash_, *flip - kFlashBase) ^ 0x01);
        Note("flipped a flash bit so the verify fails");
      }
      stage_ = TBootStage::Command;
      return BootReply(out, kBootAck, cfg_.WriteMs);
    }
    case TBootStage::ErasePage: {
      if (InjectBootFault(out)) return;
      const std::uint32_t page = (std::uint32_t{Byte(frame, 2)} << 8) | Byte(frame, 3);
      if (Byte(frame, 0) != 0x00 || Byte(frame, 1) != 0x01 ||
          Xor(std::string_view(frame).substr(0, 4)) != Byte(frame, 4) || page >= cfg_.FlashPages) {
        Note("erase frame refused");
        return BootReply(out, kBootNack);
      }
      std::fill_n(flash_.begin() + static_cast<std::ptrdiff_t>(page * kPageSize), kPageSize,
                  static_cast<char>(kErasedByte));
      incomplete_ = true;
      stage_ = TBootStage::Command;
      return BootReply(out, kBootAck, cfg_.EraseMs);
    }
  }
}

}  // namespace tarvex::panelsim
