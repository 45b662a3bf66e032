// Connecting to the product: open the chosen port and send the connect job;
// close the port.
#include <optional>

#include "app/Main.h"
#include "link/ComsTasks.h"
#include "serial/ComPortIntf.h"
#include "serial/SerialErrors.h"

namespace tarvex {

namespace {
// The number in a port name "COM<n>": every digit after the three letters.
// Nothing when the rest is not a plain decimal number or does not fit a port
// number.
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
    VM.RequestFocus(cbComPort);
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
  // Whatever was identified before is not what answers next (another lead may be plugged in).
  WithdrawProduct();
  ClosePort();
  IComPort* port = platform_.ComPort;
  if (port == nullptr) return;
  if (cbComPort.ItemIndex() >= 0) {
    const auto number = PortNumberOf(cbComPort.SelectedText());
    if (!number) return;  // not a port number: the port stays closed, nothing is reported
    PortIdx = *number;
    port->SetComNumber(*number);
  }
  // With nothing selected (the remembered port vanished before a reconnection)
  // the component keeps the number it had.
  try {
    port->SetOpen(true);
  } catch (const EBadId&) {
    MessageDlg(TMsgKind::mkPlain, "Com port does not exist");
    throw;  // and the default error report shows the serial layer's own text
  } catch (const EAlreadyOpen&) {
    MessageDlg(TMsgKind::mkPlain, "Com port is being used by another program");
    throw;
  }
  TxTimer = port->AddTimerTrigger();
  port->FlushInBuffer();
  port->FlushOutBuffer();
  ComsState = TComsState::csPortOpen;
  BootloaderMode = false;
  PortOpen = true;
  StartConnectJob();
}

void TfrmMain::StartConnectJob() {
  LinkGiveUp = TLinkGiveUp::lgNone;
  BuildJob(1, TJobType::jtAccess, false, false);
  AddTask(TTaskType::ttGetAccess, 1, 1, 1, TDataType::dtNil);
  SendNextTasks();
}

}  // namespace tarvex
