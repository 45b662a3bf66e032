// The serial port list of the first page.
#include <algorithm>
#include <cctype>
#include <optional>

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

namespace {
// The number in a port name "COM<n>": every digit after the three letters. Nothing when the rest
// is not a plain decimal number or does not fit a port number.
std::optional<std::uint16_t> PortNumberOf(const std::string& name) {
  if (name.size() < 4) return std::nullopt;
  const std::string digits = name.substr(3);
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const unsigned long n = std::stoul(digits);
  if (n > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(n);
}
}  // namespace

void TfrmMain::btnConnectClick() {
  if (cbComPort.ItemIndex() < 0) {
    MessageDlg(TMsgKind::mkError, "Please select the USB communication port.");
    return;
  }
  ProductInfo.ProductCode = 0;
  ProductInfo.Family = 0;
  ProductInfo.Major = 0;
  ProductInfo.Minor = 0;
  ProductInfo.SerialNo.clear();
  ProductInfo.UniqueID.clear();
  lbProductType.SetCaption("");
  lbSoftwareVer.SetCaption("");
  lbSerialNo.SetCaption("");
  FlashDone = false;
  OpenPort();
}

void TfrmMain::OpenPort() {
  ClosePort();
  IComPort* port = platform_.ComPort;
  if (port == nullptr) return;
  if (cbComPort.ItemIndex() >= 0) {
    const auto number = PortNumberOf(cbComPort.SelectedText());
    if (!number) return;  // not a port number: the port stays closed, nothing is reported
    PortIdx = *number;
    port->SetComNumber(*number);
  }
  // With nothing selected (the remembered port vanished before a reconnection) the component
  // keeps the number it had.
  port->SetOpen(true);
  TxTimer = port->AddTimerTrigger();
  port->FlushInBuffer();
  port->FlushOutBuffer();
  ComsState = TComsState::csPortOpen;
  BootloaderMode = false;
  PortOpen = true;
  StartConnectJob();
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

}  // namespace tarvex
