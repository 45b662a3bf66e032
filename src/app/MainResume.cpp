// Finishing an interrupted update. A product whose update stopped after the erase began waits in
// its boot loader, which does not speak the product link: Connect hears nothing. Then, and only
// then, one sync byte asks whether a boot loader listens; if one does and an interrupted update
// is on record, the window offers to finish it and Start goes straight to the boot loader.
#include "app/Main.h"
#include "bootloader/BootFrames.h"
#include "core/ProductCatalogue.h"
#include "firmware/FlashImage.h"
#include "link/ComsTasks.h"

namespace tarvex {

namespace {

constexpr const char* kInterruptedKey =
    "Software\\Tarvex Ltd\\Tarvex Flash Programer\\1.20.0.0\\Interrupted Update";

std::string HexOf(const std::string& bytes) {
  std::string s;
  for (const char c : bytes) s += Format("%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
  return s;
}

std::string BytesOf(const std::string& hex) {
  std::string s;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    s += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return s;
}

}  // namespace

void TfrmMain::ProbeBootloader() {
  LogDebug("No answer on the product link: asking for a boot loader");
  BootProbe = true;
  BootloaderWaiting = false;
  // Its reply and its time-out go to the boot loader's handlers.
  BootloaderMode = true;
  ComsState = TComsState::csPortOpen;
  SendBootCommand(kBootSync);
  RetryCount = 1;  // one sync, with its own time-out: nothing more to a product that may be running
  CommandActive = false;
}

void TfrmMain::BootloaderProbed(bool answered) {
  BootProbe = false;
  CommandActive = false;
  if (!answered) {
    BootloaderMode = false;
    ComsState = TComsState::csPortOpen;
    TellGiveUp(kIdentityJob);
    return;
  }
  BootloaderMode = true;
  BootloaderWaiting = true;
  ComsState = TComsState::csConnected;
  LogDebug("A boot loader answered the sync");
  if (!Interrupted) {
    const std::string text = Format(
        "The product on COM%d is waiting in its boot loader, but no interrupted update is recorded for it. "
        "Nothing has been written. Please contact technical support.",
        PortIdx);
    LogDebug(text);
    MessageDlg(TMsgKind::mkError, text);
    return;
  }
  const TInterruptedUpdate& r = *Interrupted;
  ProductInfo = r.Product;
  ShowProductIdentity();
  ProductMemSize = r.MemSizeCode != 0 ? r.MemSizeCode : GetMemSize(r.Product.ProductCode);
  PrepareImages(ProductMemSize);
  ResumeUpdate = ProductMemSize != 0;
  ProductReady = ResumeUpdate;
  // The file of the interrupted update is offered first.
  OpenDlgFileName = r.File;
  const std::size_t sep = r.File.find_last_of(std::string("/") + kPathSep);
  if (sep != std::string::npos) LastFolder = r.File.substr(0, sep + 1);
  const std::string serial = TrimTrailingBlanks(r.Product.SerialNo);
  const std::string text = Format(
      "The update of the %s (serial number %s) on %s was interrupted: the product is waiting in its boot "
      "loader. Open \"%s\" and press \"Start\" to finish the update.",
      r.ProductName.c_str(), serial.c_str(), r.Port.c_str(), r.File.c_str());
  LogDebug(text);
  MessageDlg(TMsgKind::mkInformation, text);
  if (FileReady) JudgeLoadedFile();
  UpdateWizard();
}

void TfrmMain::RecordInterrupted(const THistoryEntry& e) {
  TInterruptedUpdate r;
  r.Port = e.Port;
  r.Product = ProductInfo;
  r.ProductName = e.ProductType;
  r.MemSizeCode = ProductMemSize != 0 ? ProductMemSize : GetMemSize(ProductInfo.ProductCode);
  r.File = e.File;
  r.FileSha256 = e.FileSha256;
  // The step under way and how far its bar had come.
  for (TControl* l : StatusLabels()) {
    if (l->Visible()) r.Step = l->Caption();
  }
  r.Page = progBar.Visible() ? progBar.Position() : 0;
  r.When = e.When;
  Interrupted = std::move(r);
  SaveInterrupted();
  LogDebug("Interrupted update recorded: " + Interrupted->Step);
}

void TfrmMain::LoadInterrupted() {
  Interrupted.reset();
  if (platform_.Settings == nullptr) return;
  auto key = platform_.Settings->OpenKey(kInterruptedKey, false);
  if (!key) return;
  try {
    if (key->ValueExists("File") && !key->ReadString("File").empty()) {
      TInterruptedUpdate r;
      r.Port = key->ReadString("Port");
      r.Product.ProductCode = static_cast<std::uint8_t>(key->ReadInteger("Product Code"));
      r.Product.Variant = static_cast<std::uint8_t>(key->ReadInteger("Variant"));
      r.Product.Family = static_cast<std::uint8_t>(key->ReadInteger("Family"));
      r.Product.Major = key->ReadInteger("Major");
      r.Product.Minor = key->ReadInteger("Minor");
      r.Product.Micro = static_cast<std::uint8_t>(key->ReadInteger("Microcontroller"));
      r.Product.SetSerialNo(key->ReadString("Serial Number"));
      r.Product.SetUniqueID(BytesOf(key->ReadString("Unique ID")));
      r.ProductName = key->ReadString("Product");
      r.MemSizeCode = static_cast<std::uint8_t>(key->ReadInteger("Memory Size Code"));
      r.File = key->ReadString("File");
      r.FileSha256 = key->ReadString("File SHA-256");
      r.Step = key->ReadString("Step");
      r.Page = key->ReadInteger("Page");
      r.When = key->ReadString("Time");
      Interrupted = std::move(r);
    }
  } catch (const std::exception&) {
    Interrupted.reset();  // a damaged record offers nothing
  }
  key->Close();
}

void TfrmMain::SaveInterrupted() {
  if (platform_.Settings == nullptr) return;
  auto key = platform_.Settings->OpenKey(kInterruptedKey, true);
  if (!key) return;
  if (!Interrupted) {
    key->WriteString("File", "");  // no record
    key->Close();
    return;
  }
  const TInterruptedUpdate& r = *Interrupted;
  key->WriteString("Port", r.Port);
  key->WriteInteger("Product Code", r.Product.ProductCode);
  key->WriteInteger("Variant", r.Product.Variant);
  key->WriteInteger("Family", r.Product.Family);
  key->WriteInteger("Major", r.Product.Major);
  key->WriteInteger("Minor", r.Product.Minor);
  key->WriteInteger("Microcontroller", r.Product.Micro);
  key->WriteString("Serial Number", r.Product.SerialNo);
  key->WriteString("Unique ID", HexOf(r.Product.UniqueID));
  key->WriteString("Product", r.ProductName);
  key->WriteInteger("Memory Size Code", r.MemSizeCode);
  key->WriteString("File SHA-256", r.FileSha256);
  key->WriteString("Step", r.Step);
  key->WriteInteger("Page", r.Page);
  key->WriteString("Time", r.When);
  key->WriteString("File", r.File);  // last: a record is whole once it has a file
  key->Close();
}

}  // namespace tarvex
