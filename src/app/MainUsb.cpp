// USB arrival and removal: keep the port list current, and reconnect after an update.
#include "app/Main.h"
#include "core/ProductCatalogue.h"
#include "serial/Ticks.h"

namespace tarvex {

void TfrmMain::UsbArrival() {
  ++USBCount;
  // The first arrival after each reset of the count is passed over.
  if (USBCount < 2) return;
  RefreshPortList();
  if (!ReconnectToProduct) return;
  // Cleared first, so an arrival handled during the wait does not reconnect a second time.
  ReconnectToProduct = false;
  WaitTicks(36, true);
  OpenPort();
  if (!IsPeripheralProduct(ProductInfo.ProductCode)) {
    MessageDlg(TMsgKind::mkInformation,
               "It is highly recommended after a firmware upgrade to default the Tarvex control panel,\n\r"
               "please refer to the contro panel installation manual for further information.");
  }
}

void TfrmMain::UsbRemoval() {
  // Only the list: an open port is never closed here, even when its device has gone.
  RefreshPortList();
}

}  // namespace tarvex
