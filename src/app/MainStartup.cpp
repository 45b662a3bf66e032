// Start-up, settings, the advisory dialog, the manual and closing.
#include <exception>
#include <utility>

#include "app/Main.h"
#include "serial/ComPortIntf.h"
#include "serial/MessagePump.h"

namespace tarvex {

namespace {
constexpr const char* kSettingsKey = "Software\\Tarvex Ltd\\Tarvex Flash Programer\\1.20.0.0";
constexpr const char* kValPort = "USB-Bridge Port";
constexpr const char* kValLastFolder = "Last Folder";
constexpr const char* kValShowUdl = "Show UDL Message";
}  // namespace

TfrmMain::TfrmMain(const TPlatform& platform, std::vector<std::string> args)
    : platform_(platform), args_(std::move(args)), self_(std::make_shared<TfrmMain*>(this)) {
  // What this window hands out reaches it through self_, so a callback that outlives the window
  // (or runs after another window took the port over) does nothing.
  const std::weak_ptr<TfrmMain*> self = self_;
  if (platform_.ComPort != nullptr) {
    platform_.ComPort->OnTriggerAvail = [self](std::uint16_t count) {
      if (auto f = self.lock()) (*f)->ComPortTriggerAvail(count);
    };
    platform_.ComPort->OnTriggerTimer = [self](std::uint16_t handle) {
      if (auto f = self.lock()) (*f)->ComPortTriggerTimer(handle);
    };
    platform_.ComPort->OnThreadError = [self](const std::string& text) {
      if (auto f = self.lock()) {
        (*f)->ComPortThreadError(text);
      } else {
        LogDebug(text);
      }
    };
    platform_.ComPort->OnHandlerException = [self](const std::exception& e) {
      if (auto f = self.lock()) {
        (*f)->ShowException(e);
      } else {
        LogDebug(e.what());
      }
    };
  }
  // Messages (1124, 1125, USB arrivals, the port's reports) get the same default error report as
  // a click: nothing that escapes them may end the program.
  if (platform_.Pump != nullptr) {
    platform_.Pump->SetErrorReport([self](const std::exception& e) {
      if (auto f = self.lock()) {
        (*f)->ShowException(e);
      } else {
        LogDebug(e.what());
      }
    });
  }
  // Containers: the geometry of these controls is relative to the named panel or group box.
  const std::pair<TControl*, std::vector<TControl*>> containers[] = {
      {&StatusPanel, {&lbTaskType, &lbInstruction, &imgLogo}},
      {&Panel2, {&btnManual, &btnBack, &btnNext, &btnCancel}},
      {&pnlSide, {&imgPageIcon, &lbhdrProduct, &lbHdrVersion, &lbAppName, &lbVersion}},
      {&GroupBox1,
       {&lbCapProductType, &lbCapSoftwareVer, &lbCapSerialNo, &lbCapGuid, &lbCapMicro, &lbProductType,
        &lbSoftwareVer, &lbSerialNo, &lbGuid, &lbMicro}},
      {&GroupBox3,
       {&lbCapFolder, &lbCapFlashFile, &lbFirmwareFolder, &edFileName, &btnOpenHex, &btnResetFolder}},
      {&GroupBox4,
       {&lbCapFileProduct, &lbCapFileVersion, &lbCapFileMicro, &lbFileProduct, &lbFileVersion, &lbFileMicro}},
      {&GroupBox2,
       {&lbBootloader, &lbErase, &lbWriteData, &lbVerifyData, &lbRunApp, &imgBootDone, &imgErase, &imgWrite,
        &imgVerify, &imgRunApp, &btnSelFlash, &btnEraseFlash, &btnWriteFlash, &btnVerifyFlash, &btnRun,
        &progBar}},
  };
  for (const auto& [container, children] : containers) {
    for (auto* c : children) c->SetParentName(container->Name());
  }

  // Start state of the controls as the window is designed.
  lbNoPorts.SetVisible(false);
  lbFirmwareDL.SetVisible(false);
  for (auto* l : StatusLabels()) l->SetVisible(false);
  for (auto* i : ResultImages()) i->SetVisible(false);
  int tag = 1;
  for (auto* b : StepButtons()) {
    b->SetEnabled(false);
    b->SetTag(tag++);
  }
  progBar.SetVisible(false);
}

TfrmMain::~TfrmMain() {
  // Nothing this window handed out may call it once it is gone.
  self_.reset();
  USBComp.reset();
}

std::string TfrmMain::GetSpecialFolder(int csidl) {
  return platform_.Folders != nullptr ? platform_.Folders->GetSpecialFolder(csidl) : std::string();
}

TDataFolders DataFoldersUnder(const std::string& commonAppData) {
  const std::string sep(1, kPathSep);
  TDataFolders f;
  f.Maker = commonAppData + sep + kMakerFolder + sep;
  f.Product = f.Maker + kProductFolder + sep;
  f.Logs = f.Product + "Logs" + sep;
  f.Firmware = f.Product + "Firmware" + sep;
  return f;
}

void TfrmMain::FormCreate() {
  imgLogo.SetPicture("TarvexUK");
  frmMain.SetCaption(kAppName);
  lbAppName.SetCaption(kAppName);
  lbVersion.SetCaption(std::string("Version ") + kAppVersion);

  AppFolder = platform_.Folders != nullptr ? platform_.Folders->ProgramFolder() : std::string();

  activePage_ = 0;
  PgCtrlChange();
  ImageMemSize = 0;
  ProductMemSize = 0;
  ProductReady = false;
  ReconnectToProduct = false;
  FileReady = false;
  FlashInProgress = false;
  FlashDone = false;
  UpdateWizard();

  FillPortList();

  USBComp =
      std::make_unique<TUsbClass>(platform_.Pump, platform_.UsbBackend ? platform_.UsbBackend() : nullptr);
  USBCount = 0;
  USBComp->OnUsbInsertion = [this](TUsbClass*, const std::string&, const std::string&, const std::string&) {
    UsbArrival();
  };
  USBComp->OnUsbRemoval = [this](TUsbClass*, const std::string&, const std::string&, const std::string&) {
    UsbRemoval();
  };

  // Data folders, parents first; one that cannot be created is passed over in silence.
  const std::string base = GetSpecialFolder(CSIDL_COMMON_APPDATA);
  const TDataFolders data = DataFoldersUnder(base);
  const std::string& maker = data.Maker;
  const std::string& product = data.Product;
  const std::string& logs = data.Logs;
  const std::string& firmware = data.Firmware;
  // The common folder itself may be missing on a fresh account (no ~/.local/share yet): it is
  // made first, each missing parent with it.
  if (platform_.Folders != nullptr && !base.empty() && !platform_.Folders->DirectoryExists(base)) {
    std::size_t at = base.find(kPathSep, 1);
    for (;;) {
      const std::string part = at == std::string::npos ? base : base.substr(0, at);
      if (!platform_.Folders->DirectoryExists(part)) platform_.Folders->CreateDir(part);
      if (at == std::string::npos) break;
      at = base.find(kPathSep, at + 1);
    }
  }
  for (const auto& folder : {maker, product, logs, firmware}) {
    if (platform_.Folders != nullptr && !platform_.Folders->DirectoryExists(folder)) {
      platform_.Folders->CreateDir(folder);
    }
  }
  LogsFolder = logs;
  FirmwareFolder = firmware;

  LoadSettings();
  LoadInterrupted();

  SelectRememberedPort();

  const TSwitches sw = ParseSwitches(args_);
  ManualMode = sw.ManualMode;
  NoVerify = sw.NoVerify;

  if (ManualMode) {
    progBar.SetLeft(275);
    progBar.SetWidth(208);
  } else {
    progBar.SetLeft(226);
    progBar.SetWidth(257);
  }

  for (auto* i : ResultImages()) i->SetPicture("Icon_OK");
}

void TfrmMain::LoadSettings() {
  if (platform_.Settings == nullptr) return;
  auto key = platform_.Settings->OpenKey(kSettingsKey, true);
  if (!key) return;
  try {
    PortIdx = key->ValueExists(kValPort) ? key->ReadInteger(kValPort) : -1;
    LastFolder = key->ValueExists(kValLastFolder) ? key->ReadString(kValLastFolder) : FirmwareFolder;
    ShowUDLMessage = key->ValueExists(kValShowUdl) ? key->ReadInteger(kValShowUdl) != 0 : true;
  } catch (const std::exception&) {
    // A value of the wrong type ends the reading; the values not read keep what they held.
  }
  key->Close();
}

void TfrmMain::SaveSettings() {
  if (platform_.Settings == nullptr) return;
  auto key = platform_.Settings->OpenKey(kSettingsKey, true);
  if (!key) return;
  key->WriteInteger(kValPort, PortIdx);
  key->WriteString(kValLastFolder, LastFolder);
  key->WriteInteger(kValShowUdl, ShowUDLMessage ? 1 : 0);
  key->Close();
}

void TfrmMain::FormShow() {
  if (!ShowUDLMessage || platform_.Advisory == nullptr) return;
  ShowUDLMessage = !platform_.Advisory->GetUDLMessageOpts();
}

bool TfrmMain::FormCloseQuery() const {
  return !FlashInProgress || ManualMode;
}

void TfrmMain::FormClose() {
  FinishHistory(false, "The program was closed before the update finished.");
  SaveSettings();
  ClosePort();
  USBComp.reset();
}

bool TfrmMain::btnCancelClick() {
  return FormCloseQuery();
}

void TfrmMain::btnManualClick() {
  OpenManual();
}

void TfrmMain::OpenManual() {
  if (platform_.Shell != nullptr) platform_.Shell->Open(AppFolder + kManualFile);
}

void TfrmMain::ShowException(const std::exception& e) {
  MessageDlg(TMsgKind::mkError, e.what());
}

void TfrmMain::MessageDlg(TMsgKind kind, const std::string& text) {
  // The last error told during an update is the one its history keeps.
  if (History && kind == TMsgKind::mkError) History->Error = text;
  if (platform_.MessageBoxes != nullptr) platform_.MessageBoxes->Show(kind, text);
}

}  // namespace tarvex
