// The serial port list of the first page, and closing the port.
#include <algorithm>
#include <cctype>

#include "app/Main.h"
#include "link/ComsTasks.h"
#include "serial/ComPortIntf.h"

namespace tarvex {

void TfrmMain::EnumerateComPorts(std::vector<std::string>& list) {
  list.clear();
  if (platform_.Ports != nullptr) list = platform_.Ports->PortNames();
  // Sorted once as text without regard to case: COM10 comes before COM2. Duplicates stay.
  std::stable_sort(list.begin(), list.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
  });
}

void TfrmMain::FillPortList() {
  ComPorts.clear();
  EnumerateComPorts(ComPorts);
  lbNoPorts.SetVisible(ComPorts.empty());
  btnConnect.SetEnabled(!ComPorts.empty());
  cbComPort.SetItems(ComPorts);
  ComPorts.clear();
}

void TfrmMain::SelectRememberedPort() {
  const std::string name = Format("COM%d", PortIdx);
  const auto& items = cbComPort.Items();
  const auto it = std::find(items.begin(), items.end(), name);
  if (it != items.end()) cbComPort.SetItemIndex(static_cast<int>(it - items.begin()));
}

void TfrmMain::RefreshPortList() {
  FillPortList();
  SelectRememberedPort();
}

void TfrmMain::ClosePort() {
  IComPort* port = platform_.ComPort;
  Boot.StopAwaiting();
  if (TxTimer != 0) {
    if (port != nullptr) port->RemoveTrigger(TxTimer);
    TxTimer = 0;
  }
  if (port != nullptr) port->SetOpen(false);
  PortOpen = false;
  ComsState = TComsState::csPortClosed;
  BootProbe = false;
  // Nothing can be written through a closed port: Start is not offered until the next Connect.
  if (ProductReady) {
    ProductReady = false;
    btnStart.SetEnabled(false);
    UpdateWizard();
  }
}

void TfrmMain::WithdrawProduct() {
  ProductReady = false;
  ResumeUpdate = false;
  BootloaderWaiting = false;
  ProductMemSize = 0;
  lbhdrProduct.SetCaption("");
  lbHdrVersion.SetCaption("");
  btnStart.SetEnabled(false);
  UpdateWizard();
}

// The port delivers nothing more after a worker thread failed, timers included: whatever runs on
// it (a connect job, an update) would wait for ever, and the window could not be closed. It all
// ends here, with the port closed, before the user is told.
void TfrmMain::ComPortThreadError(const std::string& text) {
  LogDebug(text);
  // A port this window closed already (the new firmware started, say) has nothing left to end.
  if (!PortOpen) return;
  LinkGiveUp = TLinkGiveUp::lgLineLost;
  const bool updating = FlashInProgress;
  CommsJob.reset();
  ClosePort();
  FlashInProgress = false;
  CommandActive = false;
  UpdateWizard();
  std::string advice =
      "The connection to the product was lost. Check the USB lead, then click \"Connect\" again.";
  if (updating) advice = "The update did not finish. " + advice;
  MessageDlg(TMsgKind::mkError, text + "\n" + advice);
  FinishHistory(false);
}

void TfrmMain::LineLost() {
  LinkGiveUp = TLinkGiveUp::lgLineLost;
  const bool updating = FlashInProgress;
  CommsJob.reset();
  ClosePort();
  FlashInProgress = false;
  CommandActive = false;
  UpdateWizard();
  std::string text = Format(
      "The product cannot be reached on COM%d: the port is closed or its lead was pulled. Check the USB "
      "lead, "
      "then click \"Connect\" again.",
      PortIdx);
  if (updating) text = "The update did not finish. " + text;
  LogDebug(text);
  MessageDlg(TMsgKind::mkError, text);
  FinishHistory(false);
}

}  // namespace tarvex
