// Erase, write, verify and run: setting up each operation's walk over the pages in use, and the
// comparison of the read-back image with the file.
#include <cstdio>
#include <fstream>

#include "app/Main.h"
#include "bootloader/BootFrames.h"
#include "core/ProductCatalogue.h"
#include "firmware/FlashImage.h"

namespace tarvex {

namespace {

// Progress bar tops of the erase, write and verify rows.
constexpr int kEraseBarTop = 65;
constexpr int kWriteBarTop = 103;
constexpr int kVerifyBarTop = 142;

// Puts StartAddr and EndAddr on the first page of the list; both 0 when the list is empty.
void FirstRange(std::uint32_t& startAddr, std::uint32_t& endAddr) {
  PageIdx = 0;
  startAddr = PageList.empty() ? 0 : PageList[0].StartAddr;
  endAddr = PageList.empty() ? 0 : PageList[0].EndAddr;
}

void ShowBar(TControl& bar, int max, int top) {
  bar.SetMin(0);
  bar.SetMax(max);
  bar.SetPosition(0);
  bar.SetTop(top);
  bar.SetVisible(true);
}

}  // namespace

void TfrmMain::StartErase() {
  HistoryStepStarted(THistoryStep::hsErase);
  EraseStage = TEraseStage::esCmd;
  BuildPageList();
  PageIdx = 0;
  StartAddr = 0;
  EndAddr = 0;
  ShowBar(progBar, static_cast<int>(PageList.size()), kEraseBarTop);
  // An image without a page in use has no page to name (file acceptance refuses such files).
  if (PageList.empty()) return;
  SendBootCommand(kCmdErase);
}

void TfrmMain::StartWrite() {
  HistoryStepStarted(THistoryStep::hsWrite);
  WriteStage = TWriteStage::wsCmd;
  BuildPageList();
  FirstRange(StartAddr, EndAddr);
  ShowBar(progBar, CountBlocks(), kWriteBarTop);
  if (EndAddr >= kFlashBase) SendBootCommand(kCmdWrite);
}

void TfrmMain::StartVerify() {
  if (NoVerify) {
    VerifyResult = TVerifyResult::vrSkipped;
    imgVerify.SetVisible(true);
    progBar.SetVisible(false);
    lbVerifyData.SetCaption("Verification not performed!");
    lbVerifyData.SetVisible(true);
    StartRun();  // the verify stays "skipped" in the history
    return;
  }
  HistoryStepStarted(THistoryStep::hsVerify);
  ResetMemory(kDeviceImage);
  ReadStage = TReadStage::rsCmd;
  BuildPageList();
  FirstRange(StartAddr, EndAddr);
  lbVerifyData.SetCaption("Verifying flash data...");
  lbVerifyData.SetVisible(true);
  imgVerify.SetVisible(false);
  ShowBar(progBar, CountBlocks(), kVerifyBarTop);
  if (EndAddr >= kFlashBase) SendBootCommand(kCmdRead);
}

void TfrmMain::StartRun() {
  HistoryStepStarted(THistoryStep::hsRun);
  lbRunApp.SetVisible(true);
  GoStage = TGoStage::gsCmd;
  SendBootCommand(kCmdGo);
}

bool TfrmMain::VerifyImages() {
  const std::uint32_t limit = VerifyLimit(ProductMemSize, ProductInfo.ProductCode);
  bool passed = true;
  const std::size_t pages = FileMemory.size() < DeviceMemory.size() ? FileMemory.size() : DeviceMemory.size();
  for (std::size_t p = 0; p < pages && passed; ++p) {
    if (!FileMemory[p].InUse) continue;
    const auto& file = FileMemory[p].Data;
    const auto& device = DeviceMemory[p].Data;
    for (std::uint32_t o = 0; o < kPageSize; ++o) {
      if (file[o] == device[o]) continue;
      // Above the limit lie pages the product keeps for itself; what they hold does not count.
      if (PageAddress(static_cast<std::uint32_t>(p), o) < limit) passed = false;
      if (!passed) break;
    }
  }
  if (!passed) WriteVerifyReport();
  return passed;
}

void TfrmMain::WriteVerifyReport() {
  VerifyReportWritten = false;
  const std::string path = LogsFolder + kVerifyReportFile;
  std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
  const auto failed = [this, &path] {
    const std::string text = Format("Unable to write the verification report \"%s\".", path.c_str());
    LogDebug(text);
    MessageDlg(TMsgKind::mkError, text);
  };
  if (!out) {
    failed();
    return;
  }
  const std::size_t pages = FileMemory.size() < DeviceMemory.size() ? FileMemory.size() : DeviceMemory.size();
  char line[80];
  for (std::size_t p = 0; p < pages; ++p) {
    if (!FileMemory[p].InUse) continue;
    const auto& file = FileMemory[p].Data;
    const auto& device = DeviceMemory[p].Data;
    for (std::uint32_t o = 0; o < kPageSize; ++o) {
      if (file[o] == device[o]) continue;
      const int n =
          std::snprintf(line, sizeof line, "Addr: %.7X   Device Memory: %.2X   File Memory: %.2X\r\n",
                        PageAddress(static_cast<std::uint32_t>(p), o), device[o], file[o]);
      out.write(line, n);
    }
  }
  out.close();
  if (!out) {
    failed();
    return;
  }
  VerifyReportWritten = true;
}

}  // namespace tarvex
