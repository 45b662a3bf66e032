// The serial port list of the first page, and closing the port.
#include <algorithm>
#include <cctype>

#include "app/Main.h"
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
  if (TxTimer != 0) {
    if (port != nullptr) port->RemoveTrigger(TxTimer);
    TxTimer = 0;
  }
  if (port != nullptr) port->SetOpen(false);
  PortOpen = false;
  ComsState = TComsState::csPortClosed;
}

// The port delivers nothing more after a worker thread failed, timers included, so an update
// under way would wait for ever and the window could not be closed. The update ends here, with
// the port closed, before the user is told; anything else (a connect job) is left for the user's
// next Connect.
void TfrmMain::ComPortThreadError(const std::string& text) {
  LogDebug(text);
  if (FlashInProgress) {
    ClosePort();
    FlashInProgress = false;
    UpdateWizard();
  }
  MessageDlg(TMsgKind::mkError, text);
}

}  // namespace tarvex
