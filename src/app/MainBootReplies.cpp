// Boot loader replies: judging the receive buffer, advancing the command stages, repeats on
// NACK or silence, and the task-done message that drives the flash sequence.
#include "app/Main.h"
#include "bootloader/BootEvents.h"
#include "bootloader/BootFrames.h"
#include "serial/ComPortIntf.h"
#include "serial/MessagePump.h"

namespace tarvex {

namespace {

constexpr const char* kNackGiveUp = "NACK Response from Target";
constexpr const char* kSilenceGiveUp = "No bootloader response from product.";

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

void TfrmMain::PostTaskDone(std::uint8_t wParam, std::uint8_t lParam) {
  if (Platform().Pump == nullptr) return;
  // The block the event is about, as it is now: by the time the message is handled the next
  // block may be under way.
  Platform().Pump->Post([this, wParam, lParam, addr = StartAddr, size = RWSize, page = PageIdx] {
    TaskAddr = addr;
    TaskSize = size;
    TaskPageIdx = page;
    TaskDoneMsg(wParam, lParam);
  });
}

void TfrmMain::ProcessBootResponse() {
  // A command that has been given up takes no late replies: a stray NACK would otherwise count
  // below zero and start sending again behind the user's back.
  if (RetryCount <= 0) return;

  IComPort* port = Platform().ComPort;
  const auto stopTimer = [this, port] {
    if (port != nullptr && port->Open() && TxTimer != 0) port->SetTimerTrigger(TxTimer, 0, false);
  };
  const auto sendAddress = [this](std::uint32_t addr) {
    Tx_Buffer = BuildAddressFrame(addr);
    SendBootFrame(Tx_Buffer);
  };
  // No reply is longer than a READ block's; beyond that only the first byte is ever judged, so
  // keeping the start alone bounds the buffer under line noise without changing any verdict.
  if (Rx_Buffer.size() > kMaxReplySize) Rx_Buffer.resize(kMaxReplySize);
  const ByteString& r = Rx_Buffer;
  const bool ackAlone = IsSingle(r, kBootAck);

  if (IsSingle(r, kBootNack)) {
    stopTimer();
    if (CurCmd == kBootSync) {
      // A target that is already synchronised refuses a second sync: it is listening all the same.
      PostTaskDone(kBootSync, kEvCmdAck);
      return;
    }
    if (--RetryCount != 0) {
      SendBootFrame(Tx_Buffer);
      return;
    }
    // Close first, so that nothing arriving while the box is up can restart the command.
    LogDebug(kNackGiveUp);
    ClosePort();
    FlashInProgress = false;
    btnCancel.SetEnabled(true);
    MessageDlg(TMsgKind::mkError, kNackGiveUp);
    FinishHistory(false);
    return;
  }

  // After a block: the next block of the page, the first block of the next page, or the end.
  // Returns false when the command was repeated for another block.
  const auto advance = [this](std::uint8_t cmd) {
    StartAddr += RWSize;
    if (StartAddr <= EndAddr) {
      SendBootCommand(cmd);
      return false;
    }
    ++PageIdx;
    if (PageIdx >= PageList.size()) return true;
    StartAddr = PageList[PageIdx].StartAddr;
    EndAddr = PageList[PageIdx].EndAddr;
    SendBootCommand(cmd);
    return false;
  };

  switch (CurCmd) {
    case kBootSync:
      if (ackAlone) {
        stopTimer();
        PostTaskDone(kBootSync, kEvCmdAck);
      } else {
        // Left to the timer: the sync goes out again when it fires.
        PostTaskDone(kInvalidSyncReply, kBootSync);
      }
      return;

    case kCmdErase:
      if (!ackAlone) return;
      if (EraseStage == TEraseStage::esCmd) {
        if (PageIdx >= PageList.size()) return;  // no page to name; the time-out gives up
        stopTimer();
        PostTaskDone(kCmdErase, kEvCmdAck);
        EraseStage = TEraseStage::esPages;
        Tx_Buffer = BuildErasePageFrame(PageList[PageIdx].PageID);
        SendBootFrame(Tx_Buffer);
      } else if (EraseStage == TEraseStage::esPages) {
        stopTimer();
        ++PageIdx;
        PostTaskDone(kCmdErase, kEvPageErased);
        if (PageIdx >= PageList.size()) {
          PostTaskDone(kCmdErase, kEvAllErased);
          return;
        }
        EraseStage = TEraseStage::esCmd;
        SendBootCommand(kCmdErase);
      }
      return;

    case kCmdWrite:
      if (!ackAlone) return;
      switch (WriteStage) {
        case TWriteStage::wsCmd:
          stopTimer();
          PostTaskDone(kCmdWrite, kEvCmdAck);
          WriteStage = TWriteStage::wsAddress;
          sendAddress(StartAddr);
          return;
        case TWriteStage::wsAddress:
          stopTimer();
          WriteStage = TWriteStage::wsData;
          RWSize = BlockSize(StartAddr, EndAddr);
          BuildWriteData(StartAddr, RWSize, Tx_Buffer);
          PostTaskDone(kCmdWrite, kEvAddressAck);
          // A block outside the image builds nothing; a lone checksum byte must not go out.
          if (!Tx_Buffer.empty()) AppendXorChecksum(Tx_Buffer);
          SendBootFrame(Tx_Buffer);
          return;
        case TWriteStage::wsData:
          stopTimer();
          PostTaskDone(kCmdWrite, kEvBlockDone);
          WriteStage = TWriteStage::wsCmd;
          if (advance(kCmdWrite)) PostTaskDone(kCmdWrite, kEvAllBlocksDone);
          return;
        case TWriteStage::wsDone: return;
      }
      return;

    case kCmdRead:
      switch (ReadStage) {
        case TReadStage::rsCmd:
          if (!ackAlone) return;
          stopTimer();
          PostTaskDone(kCmdRead, kEvCmdAck);
          ReadStage = TReadStage::rsAddress;
          sendAddress(StartAddr);
          return;
        case TReadStage::rsAddress:
          if (!ackAlone) return;
          stopTimer();
          ReadStage = TReadStage::rsSize;
          RWSize = BlockSize(StartAddr, EndAddr);
          Tx_Buffer = BuildReadCountFrame(RWSize);
          PostTaskDone(kCmdRead, kEvAddressAck);
          SendBootFrame(Tx_Buffer);
          return;
        case TReadStage::rsSize:
          // The ACK, the block and one further byte that is not examined.
          if (!StartsWith(r, kBootAck) || r.size() != static_cast<std::size_t>(RWSize) + 2) return;
          stopTimer();
          PostTaskDone(kCmdRead, kEvBlockDone);
          StoreReadData(StartAddr, r);
          ReadStage = TReadStage::rsCmd;
          if (advance(kCmdRead)) PostTaskDone(kCmdRead, kEvAllBlocksDone);
          return;
        case TReadStage::rsData: return;
      }
      return;

    case kCmdGo:
      if (GoStage == TGoStage::gsCmd) {
        if (!ackAlone) return;
        stopTimer();
        PostTaskDone(kCmdGo, kEvCmdAck);
        GoStage = TGoStage::gsAddress;
        sendAddress(kFlashBase);
      } else if (GoStage == TGoStage::gsAddress) {
        // The new firmware may start talking right behind the ACK.
        if (!StartsWith(r, kBootAck)) return;
        stopTimer();
        ClosePort();
        GoStage = TGoStage::gsRunning;
        PostTaskDone(kCmdGo, kEvGoRunning);
      }
      return;

    default: return;
  }
}

void TfrmMain::BootTimeout() {
  if (RetryCount <= 0) return;
  if (--RetryCount != 0) {
    SendBootFrame(Tx_Buffer);
    return;
  }
  if (BootProbe) {
    BootloaderProbed(false);
    return;
  }
  LogDebug(kSilenceGiveUp);
  FlashInProgress = false;
  UpdateWizard();
  MessageDlg(TMsgKind::mkError, kSilenceGiveUp);
  FinishHistory(false);
}

}  // namespace tarvex
