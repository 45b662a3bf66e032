// The boot loader's reply state machine: judging the receive buffer, advancing the command
// stages, repeats on NACK or silence, and the events that drive the flash sequence.
#include "bootloader/BootSession.h"

#include "bootloader/BootFrames.h"

namespace tarvex {

namespace {

// The ACK, a full block and the byte after it; anything longer matches no exact-length rule.
constexpr std::size_t kMaxReplySize = kMaxBlockSize + 2 + 1;

bool IsSingle(const ByteString& r, std::uint8_t byte) {
  return r.size() == 1 && static_cast<std::uint8_t>(r[0]) == byte;
}

bool StartsWith(const ByteString& r, std::uint8_t byte) {
  return !r.empty() && static_cast<std::uint8_t>(r[0]) == byte;
}

std::uint16_t BlockSize(std::uint32_t startAddr, std::uint32_t endAddr) {
  const std::uint64_t left = static_cast<std::uint64_t>(endAddr) - startAddr + 1;
  return static_cast<std::uint16_t>(left < kMaxBlockSize ? left : kMaxBlockSize);
}

}  // namespace

void TBootSession::SendCommand(std::uint8_t cmd) {
  f_.RetryCount = kBootTransmissions;
  f_.CommandActive = true;
  f_.CurCmd = cmd;
  if (cmd == kBootSync) {
    if (f_.ComsState != TComsState::csPortOpen) return;
    f_.Tx_Buffer = ByteString(1, static_cast<char>(kBootSync));
  } else {
    if (f_.ComsState != TComsState::csConnected) return;
    f_.Tx_Buffer = BuildCommandFrame(cmd);
  }
  Send(f_.Tx_Buffer);
}

bool TBootSession::Send(const ByteString& frame) {
  if (frame.empty()) return true;
  StopAwaiting();
  f_.Rx_Buffer.clear();
  return act_.SendFrame(frame);
}

void TBootSession::StopAwaiting() {
  if (!awaiting_) return;
  awaiting_ = false;
  act_.AwaitBytes(1);
}

void TBootSession::Post(std::uint8_t wParam, std::uint8_t lParam) {
  act_.PostEvent({wParam, lParam, f_.StartAddr, f_.RWSize, PageIdx});
}

void TBootSession::SendAddress(std::uint32_t addr) {
  f_.Tx_Buffer = BuildAddressFrame(addr);
  Send(f_.Tx_Buffer);
}

bool TBootSession::Advance(std::uint8_t cmd) {
  f_.StartAddr += f_.RWSize;
  if (f_.StartAddr <= f_.EndAddr) {
    SendCommand(cmd);
    return false;
  }
  ++PageIdx;
  if (PageIdx >= PageList.size()) return true;
  f_.StartAddr = PageList[PageIdx].StartAddr;
  f_.EndAddr = PageList[PageIdx].EndAddr;
  SendCommand(cmd);
  return false;
}

void TBootSession::OnBytes(std::string_view bytes) {
  f_.Rx_Buffer.append(bytes);
  Judge();
}

void TBootSession::Judge() {
  // A command that has been given up takes no late replies: a stray NACK would otherwise count
  // below zero and start sending again behind the user's back.
  if (f_.RetryCount <= 0) return;

  // No reply is longer than a READ block's; beyond that only the first byte is ever judged, so
  // keeping the start alone bounds the buffer under line noise without changing any verdict.
  if (f_.Rx_Buffer.size() > kMaxReplySize) f_.Rx_Buffer.resize(kMaxReplySize);
  const ByteString& r = f_.Rx_Buffer;
  const bool ackAlone = IsSingle(r, kBootAck);

  if (IsSingle(r, kBootNack)) {
    act_.StopTimer();
    if (f_.CurCmd == kBootSync) {
      // A target that is already synchronised refuses a second sync: it is listening all the same.
      Post(kBootSync, kEvCmdAck);
      return;
    }
    if (--f_.RetryCount != 0) {
      Send(f_.Tx_Buffer);
      return;
    }
    act_.GiveUp(TBootGiveUp::bgNack);
    return;
  }

  switch (f_.CurCmd) {
    case kBootSync:
      if (ackAlone) {
        act_.StopTimer();
        Post(kBootSync, kEvCmdAck);
      } else {
        // Left to the timer: the sync goes out again when it fires.
        Post(kInvalidSyncReply, kBootSync);
      }
      return;

    case kCmdErase:
      if (!ackAlone) return;
      if (f_.EraseStage == TEraseStage::esCmd) {
        if (PageIdx >= PageList.size()) return;  // no page to name; the time-out gives up
        act_.StopTimer();
        Post(kCmdErase, kEvCmdAck);
        f_.EraseStage = TEraseStage::esPages;
        f_.Tx_Buffer = BuildErasePageFrame(PageList[PageIdx].PageID);
        Send(f_.Tx_Buffer);
      } else if (f_.EraseStage == TEraseStage::esPages) {
        act_.StopTimer();
        ++PageIdx;
        Post(kCmdErase, kEvPageErased);
        if (PageIdx >= PageList.size()) {
          Post(kCmdErase, kEvAllErased);
          return;
        }
        f_.EraseStage = TEraseStage::esCmd;
        SendCommand(kCmdErase);
      }
      return;

    case kCmdWrite:
      if (!ackAlone) return;
      switch (f_.WriteStage) {
        case TWriteStage::wsCmd:
          act_.StopTimer();
          Post(kCmdWrite, kEvCmdAck);
          f_.WriteStage = TWriteStage::wsAddress;
          SendAddress(f_.StartAddr);
          return;
        case TWriteStage::wsAddress:
          act_.StopTimer();
          f_.WriteStage = TWriteStage::wsData;
          f_.RWSize = BlockSize(f_.StartAddr, f_.EndAddr);
          BuildWriteData(f_.StartAddr, f_.RWSize, f_.Tx_Buffer);
          Post(kCmdWrite, kEvAddressAck);
          // A block outside the image builds nothing; a lone checksum byte must not go out.
          if (!f_.Tx_Buffer.empty()) AppendXorChecksum(f_.Tx_Buffer);
          Send(f_.Tx_Buffer);
          return;
        case TWriteStage::wsData:
          act_.StopTimer();
          Post(kCmdWrite, kEvBlockDone);
          f_.WriteStage = TWriteStage::wsCmd;
          if (Advance(kCmdWrite)) Post(kCmdWrite, kEvAllBlocksDone);
          return;
        case TWriteStage::wsDone: return;
      }
      return;

    case kCmdRead:
      switch (f_.ReadStage) {
        case TReadStage::rsCmd:
          if (!ackAlone) return;
          act_.StopTimer();
          Post(kCmdRead, kEvCmdAck);
          f_.ReadStage = TReadStage::rsAddress;
          SendAddress(f_.StartAddr);
          return;
        case TReadStage::rsAddress:
          if (!ackAlone) return;
          act_.StopTimer();
          f_.ReadStage = TReadStage::rsSize;
          f_.RWSize = BlockSize(f_.StartAddr, f_.EndAddr);
          f_.Tx_Buffer = BuildReadCountFrame(f_.RWSize);
          Post(kCmdRead, kEvAddressAck);
          Send(f_.Tx_Buffer);
          return;
        case TReadStage::rsSize: {
          // The ACK, the block and one further byte that is not examined.
          const std::size_t whole = static_cast<std::size_t>(f_.RWSize) + 2;
          if (!awaiting_ && StartsWith(r, kBootAck) && r.size() < whole) {
            // The refusal would have been a lone NACK: behind an ACK only the block can follow,
            // and nothing is judged before it is all there. A slow line then hands it over once.
            awaiting_ = true;
            act_.AwaitBytes(static_cast<std::uint16_t>(whole - r.size()));
            return;
          }
          if (!StartsWith(r, kBootAck) || r.size() != whole) return;
          act_.StopTimer();
          Post(kCmdRead, kEvBlockDone);
          StoreReadData(f_.StartAddr, r);
          f_.ReadStage = TReadStage::rsCmd;
          StopAwaiting();
          if (Advance(kCmdRead)) Post(kCmdRead, kEvAllBlocksDone);
          return;
        }
        case TReadStage::rsData: return;
      }
      return;

    case kCmdGo:
      if (f_.GoStage == TGoStage::gsCmd) {
        if (!ackAlone) return;
        act_.StopTimer();
        Post(kCmdGo, kEvCmdAck);
        f_.GoStage = TGoStage::gsAddress;
        SendAddress(kFlashBase);
      } else if (f_.GoStage == TGoStage::gsAddress) {
        // The new firmware may start talking right behind the ACK.
        if (!StartsWith(r, kBootAck)) return;
        act_.StopTimer();
        act_.ClosePort();
        f_.GoStage = TGoStage::gsRunning;
        Post(kCmdGo, kEvGoRunning);
      }
      return;

    default: return;
  }
}

void TBootSession::OnTimeout() {
  if (f_.RetryCount <= 0) return;
  // Part of a block that stopped coming: dropped with what was judged of it, as the repeat or
  // whatever follows the give-up starts from nothing.
  if (awaiting_) {
    StopAwaiting();
    act_.DiscardInput();
  }
  if (--f_.RetryCount != 0) {
    Send(f_.Tx_Buffer);
    return;
  }
  act_.GiveUp(TBootGiveUp::bgSilence);
}

}  // namespace tarvex
