// TfrmMain: the main window's logic, toolkit-free. It owns the view model of the wizard (its named
// controls) and the state fields of the update; front ends (the Qt window, the command-line tool,
// the tests) render the view model and call the handlers. Handlers of one concern live in their
// own source file (MainWizard.cpp, MainStartup.cpp, MainFile.cpp, ...).
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ViewModel.h"
#include "bootloader/BootSession.h"
#include "core/Globals.h"
#include "core/Platform.h"
#include "devices/UsbClass.h"
#include "link/LinkSession.h"

namespace tarvex {

// The verify's verdict in the update under way or just finished.
enum class TVerifyResult : std::uint8_t { vrNone, vrPassed, vrFailed, vrSkipped };

// Window client size and the places the wizard's fixed geometry gives.
inline constexpr int kClientWidth = 690;
inline constexpr int kClientHeight = 425;
inline constexpr int kHeaderHeight = 65;
inline constexpr int kFooterHeight = 47;
inline constexpr int kSidePanelWidth = 170;
inline constexpr int kPageCount = 3;
inline constexpr int kProgBarRestTop = 65;

// An update that stopped after its first erase and before the new firmware started: the product
// then waits in its boot loader with part of its flash written. Kept in the settings until an
// update of that product (its unique ID) finishes.
struct TInterruptedUpdate {
  std::string Port;      // "COM5"
  TProductInfo Product;  // as identified before the update (version before, maker, serial, unique ID)
  std::string ProductName;
  std::uint8_t MemSizeCode = 0;  // the product's memory-size code when it was identified
  std::string File;
  std::string FileSha256;
  std::string Step;       // the step under way, e.g. "Writing new flash data..."
  std::int32_t Page = 0;  // pages of that step done
  std::string When;
};

// The program's data folders under the common application-data folder, each with its separator.
struct TDataFolders {
  std::string Maker, Product, Logs, Firmware;
};
TDataFolders DataFoldersUnder(const std::string& commonAppData);

class TfrmMain {
 public:
  // args are the command-line arguments after the program name.
  TfrmMain(const TPlatform& platform, std::vector<std::string> args);
  TfrmMain(const TfrmMain&) = delete;
  TfrmMain& operator=(const TfrmMain&) = delete;
  ~TfrmMain();

  // ---- View model (declared first: the controls register with it) ------------------------------
  TViewModel VM;

  TControl frmMain{VM, "frmMain", TControlKind::ckPanel, "", -1, {0, 0, kClientWidth, kClientHeight}};
  // Header.
  TControl StatusPanel{VM, "StatusPanel", TControlKind::ckPanel, "", -1, {0, 0, kClientWidth, kHeaderHeight}};
  TControl lbTaskType{VM, "lbTaskType", TControlKind::ckLabel, "", -1, {16, 10, 400, 24}};
  TControl lbInstruction{VM, "lbInstruction", TControlKind::ckLabel, "", -1, {32, 38, 460, 16}};
  TControl imgLogo{VM, "imgLogo", TControlKind::ckImage, "", -1, {500, 4, 182, 57}};
  // Page area.
  TControl PgCtrl{
      VM, "PgCtrl", TControlKind::ckPanel,
      "", -1,       {0, kHeaderHeight, kClientWidth, kClientHeight - kHeaderHeight - kFooterHeight}};
  TControl tsPage1{VM, "tsPage1", TControlKind::ckPage, "", 0};
  TControl tsPage2{VM, "tsPage2", TControlKind::ckPage, "", 1};
  TControl tsPage3{VM, "tsPage3", TControlKind::ckPage, "", 2};
  // Footer.
  TControl Panel2{VM, "Panel2", TControlKind::ckPanel,
                  "", -1,       {0, kClientHeight - kFooterHeight, kClientWidth, kFooterHeight}};
  TControl btnManual{VM, "btnManual", TControlKind::ckButton, "Instruction Manual...", -1, {12, 11, 130, 25}};
  TControl btnBack{VM, "btnBack", TControlKind::ckButton, "<< Back", -1, {420, 11, 75, 25}};
  TControl btnNext{VM, "btnNext", TControlKind::ckButton, "&Next >>", -1, {500, 11, 75, 25}};
  TControl btnCancel{VM, "btnCancel", TControlKind::ckButton, "Close", -1, {600, 11, 75, 25}};
  // Side panel; its page follows the active page.
  TControl pnlSide{VM, "pnlSide", TControlKind::ckPanel, "", 0, {0, 0, kSidePanelWidth, 313}};
  TControl imgPageIcon{VM, "imgPageIcon", TControlKind::ckImage, "", 0, {1, 1, 168, 156}};
  TControl lbhdrProduct{VM, "lbhdrProduct", TControlKind::ckLabel, "", 0, {8, 170, 156, 16}};
  TControl lbHdrVersion{VM, "lbHdrVersion", TControlKind::ckLabel, "", 0, {8, 190, 156, 16}};
  TControl lbAppName{VM, "lbAppName", TControlKind::ckLabel, "", 0, {8, 268, 156, 16}};
  TControl lbVersion{VM, "lbVersion", TControlKind::ckLabel, "", 0, {8, 288, 156, 16}};

  // Page 1: port and product.
  TControl Label1{VM, "Label1", TControlKind::ckLabel, "USB Communication Port:", 0, {190, 20, 160, 16}};
  TControl cbComPort{VM, "cbComPort", TControlKind::ckComboBox, "", 0, {190, 40, 145, 23}};
  TControl btnConnect{VM, "btnConnect", TControlKind::ckButton, "Connect", 0, {345, 39, 75, 25}};
  TControl lbNoPorts{VM,
                     "lbNoPorts",
                     TControlKind::ckLabel,
                     "No Ports available - Check the USB-Bridge is connected to the PC!",
                     0,
                     {430, 30, 245, 40}};
  TControl GroupBox1{VM, "GroupBox1",        TControlKind::ckGroupBox, "Product Information",
                     0,  {190, 80, 485, 175}};
  TControl lbProductType{VM, "lbProductType", TControlKind::ckLabel, "", 0, {140, 28, 330, 16}};
  TControl lbSoftwareVer{VM, "lbSoftwareVer", TControlKind::ckLabel, "", 0, {140, 56, 330, 16}};
  TControl lbSerialNo{VM, "lbSerialNo", TControlKind::ckLabel, "", 0, {140, 84, 330, 16}};
  TControl lbGuid{VM, "lbGuid", TControlKind::ckLabel, "", 0, {140, 112, 330, 16}};
  TControl lbMicro{VM, "lbMicro", TControlKind::ckLabel, "", 0, {140, 140, 330, 16}};
  TControl lbFirmwareDL{
      VM, "lbFirmwareDL",     TControlKind::ckLabel, "Download latest firmware files from the internet",
      0,  {190, 270, 300, 16}};

  // Page 2: firmware file.
  TControl GroupBox3{VM, "GroupBox3", TControlKind::ckGroupBox, "Firmware", 1, {190, 15, 485, 120}};
  TControl lbFirmwareFolder{VM, "lbFirmwareFolder", TControlKind::ckLabel, "", 1, {80, 28, 390, 16}};
  TControl edFileName{VM, "edFileName", TControlKind::ckEdit, "", 1, {80, 54, 310, 23}};
  TControl btnOpenHex{VM, "btnOpenHex", TControlKind::ckButton, "Open...", 1, {396, 53, 75, 25}};
  TControl btnResetFolder{VM, "btnResetFolder", TControlKind::ckButton, "Reset to default folder",
                          1,  {80, 86, 160, 25}};
  TControl GroupBox4{VM, "GroupBox4", TControlKind::ckGroupBox, "File Information", 1, {190, 150, 485, 120}};
  TControl lbFileProduct{VM, "lbFileProduct", TControlKind::ckLabel, "", 1, {140, 28, 330, 16}};
  TControl lbFileVersion{VM, "lbFileVersion", TControlKind::ckLabel, "", 1, {140, 56, 330, 16}};
  TControl lbFileMicro{VM, "lbFileMicro", TControlKind::ckLabel, "", 1, {140, 84, 330, 16}};

  // Page 3: update. Geometry of the status rows is inside GroupBox2.
  TControl GroupBox2{VM, "GroupBox2", TControlKind::ckGroupBox, "Status Information", 2, {190, 15, 485, 230}};
  TControl lbBootloader{VM, "lbBootloader",   TControlKind::ckLabel, "Selecting flash upgrade mode....",
                        2,  {12, 30, 170, 16}};
  TControl lbErase{VM, "lbErase",        TControlKind::ckLabel, "Erasing flash memory pages....",
                   2,  {12, 68, 170, 16}};
  TControl lbWriteData{VM, "lbWriteData",     TControlKind::ckLabel, "Writing new flash data...",
                       2,  {12, 105, 170, 16}};
  TControl lbVerifyData{VM, "lbVerifyData",    TControlKind::ckLabel, "Verifying flash data...",
                        2,  {12, 146, 170, 16}};
  TControl lbRunApp{VM, "lbRunApp",        TControlKind::ckLabel, "Running target application",
                    2,  {12, 182, 170, 16}};
  TControl imgBootDone{VM, "imgBootDone", TControlKind::ckImage, "", 2, {188, 20, 32, 32}};
  TControl imgErase{VM, "imgErase", TControlKind::ckImage, "", 2, {188, 58, 32, 32}};
  TControl imgWrite{VM, "imgWrite", TControlKind::ckImage, "", 2, {188, 96, 32, 32}};
  TControl imgVerify{VM, "imgVerify", TControlKind::ckImage, "", 2, {188, 134, 32, 32}};
  TControl imgRunApp{VM, "imgRunApp", TControlKind::ckImage, "", 2, {188, 172, 32, 32}};
  TControl btnSelFlash{VM, "btnSelFlash", TControlKind::ckButton, "Go", 2, {226, 23, 43, 25}};
  TControl btnEraseFlash{VM, "btnEraseFlash", TControlKind::ckButton, "Go", 2, {226, 61, 43, 25}};
  TControl btnWriteFlash{VM, "btnWriteFlash", TControlKind::ckButton, "Go", 2, {226, 99, 43, 25}};
  TControl btnVerifyFlash{VM, "btnVerifyFlash", TControlKind::ckButton, "Go", 2, {226, 137, 43, 25}};
  TControl btnRun{VM, "btnRun", TControlKind::ckButton, "Go", 2, {226, 175, 43, 25}};
  TControl progBar{VM, "progBar", TControlKind::ckProgressBar, "", 2, {226, kProgBarRestTop, 257, 17}};
  TControl btnStart{VM, "btnStart", TControlKind::ckButton, "Start", 2, {585, 259, 75, 25}};

  // Fixed captions inside the group boxes.
  TControl lbCapProductType{
      VM, "lbCapProductType", TControlKind::ckLabel, "Product Type:", 0, {12, 28, 120, 16}};
  TControl lbCapSoftwareVer{
      VM, "lbCapSoftwareVer", TControlKind::ckLabel, "Software Version:", 0, {12, 56, 120, 16}};
  TControl lbCapSerialNo{VM, "lbCapSerialNo", TControlKind::ckLabel, "Serial Number:", 0, {12, 84, 120, 16}};
  TControl lbCapGuid{VM, "lbCapGuid", TControlKind::ckLabel, "Unique ID:", 0, {12, 112, 120, 16}};
  TControl lbCapMicro{VM, "lbCapMicro", TControlKind::ckLabel, "Microcontroller:", 0, {12, 140, 120, 16}};
  TControl lbCapFolder{VM, "lbCapFolder", TControlKind::ckLabel, "Folder:", 1, {12, 28, 64, 16}};
  TControl lbCapFlashFile{VM, "lbCapFlashFile", TControlKind::ckLabel, "Flash File:", 1, {12, 58, 64, 16}};
  TControl lbCapFileProduct{
      VM, "lbCapFileProduct", TControlKind::ckLabel, "Product Type:", 1, {12, 28, 120, 16}};
  TControl lbCapFileVersion{VM, "lbCapFileVersion", TControlKind::ckLabel, "Version:", 1, {12, 56, 120, 16}};
  TControl lbCapFileMicro{
      VM, "lbCapFileMicro", TControlKind::ckLabel, "Microcontroller:", 1, {12, 84, 120, 16}};

  // The status rows in order: labels, result images, step buttons.
  [[nodiscard]] std::vector<TControl*> StatusLabels();
  [[nodiscard]] std::vector<TControl*> ResultImages();
  [[nodiscard]] std::vector<TControl*> StepButtons();

  // ---- Start-up, settings, close (MainStartup.cpp) ----------------------------------------------
  void FormCreate();
  void FormShow();
  [[nodiscard]] bool FormCloseQuery() const;
  void FormClose();
  // Asks the window to close: true when it may (the front end then calls FormClose and closes).
  bool btnCancelClick();
  void LoadSettings();
  void SaveSettings();
  std::string GetSpecialFolder(int csidl);
  void btnManualClick();
  void OpenManual();

  // ---- Wizard (MainWizard.cpp) ------------------------------------------------------------------
  void UpdateWizard();
  void ResetStepDisplay();
  void btnNextClick();
  void btnBackClick();
  // Asks for the keyboard focus on the active page's first control.
  void FocusPage();
  void PgCtrlChange();
  [[nodiscard]] int ActivePageIndex() const { return activePage_; }
  void SetActivePageIndex(int index);

  // ---- Firmware file (MainFile.cpp) -------------------------------------------------------------
  void btnOpenHexClick();
  void btnResetFolderClick();
  // Applies the acceptance rules to the loaded file and the connected product, with their boxes.
  void JudgeLoadedFile();

  // ---- Port list (MainPorts.cpp) and connection (MainConnect.cpp)
  // -------------------------------------------------
  void EnumerateComPorts(std::vector<std::string>& list);
  // The first half: the list, the no-ports label and Connect. SelectRememberedPort is the second.
  void FillPortList();
  void SelectRememberedPort();
  void RefreshPortList();
  void btnConnectClick();
  void OpenPort();
  void StartConnectJob();
  void ClosePort();
  // A worker thread of the port failed (the lead pulled, the product gone dead); see MainPorts.
  void ComPortThreadError(const std::string& text);
  // A frame could not go out: whatever runs on the line ends, and the installer is told.
  void LineLost();
  // The product identified earlier is no longer the one on the line: nothing may be written
  // until the next identification.
  void WithdrawProduct();

  // ---- Product link (MainLink.cpp; the protocol is Link's) ---------------------------------------
  void SendNextTasks();
  // False when the frame could not be handed to the port (closed or dead).
  bool SendPanelFrame(const ByteString& frame);
  void ComPortTriggerAvail(std::uint16_t count);
  void ComPortTriggerTimer(std::uint16_t triggerHandle);
  // Message 1125: one complete received frame, owned by the handler.
  void ProcessUDLData(std::unique_ptr<ByteString> frame);
  void JobFinished(std::uint16_t jobId);
  // The side panel and the product page show ProductInfo.
  void ShowProductIdentity();
  // Tells the installer why a job was given up (LinkGiveUp), where no box has told it yet.
  void TellGiveUp(std::uint16_t jobId);

  // ---- Boot loader (MainBoot.cpp; the protocol is Boot's) ---------------------------------------
  void SendBootCommand(std::uint8_t cmd);
  // False when the frame could not be handed to the port (closed or dead).
  bool SendBootFrame(const ByteString& frame);
  // Posts message 1124 (TaskDoneMsg) to this window, about the block under way now.
  void PostTaskDone(std::uint8_t wParam, std::uint8_t lParam);
  void PostTaskDone(const TBootEvent& event);

  // ---- Erase, write, verify, run (MainOperations.cpp) -------------------------------------------
  void StartErase();
  void StartWrite();
  void StartVerify();
  void StartRun();
  // true = passed.
  bool VerifyImages();
  void WriteVerifyReport();

  // ---- Flash sequence (MainFlash.cpp) -----------------------------------------------------------
  void btnStartClick();
  void btnSelFlashClick(int tag);
  // Message 1124.
  void TaskDoneMsg(std::uint8_t wParam, std::uint8_t lParam);

  // ---- Update history (MainHistory.cpp) ---------------------------------------------------------
  // Opens the record of the update Start begins: the product, the file, the time.
  void BeginHistory();
  // The step an update has reached; the step before it passed.
  void HistoryStepStarted(THistoryStep step);
  void HistoryStepResult(THistoryStep step, TStepResult result);
  // Ends the record under way (if any) and keeps it; without an error text the last error box
  // shown during the update gives it. The step under way failed unless the update passed.
  void FinishHistory(bool passed, const std::string& error = {});

  // ---- An interrupted update (MainResume.cpp) ---------------------------------------------------
  // The connect job got no answer at all: a boot loader may be listening. One sync byte asks.
  void ProbeBootloader();
  // The probe's sync was answered (true) or not: offer to finish the interrupted update, or tell.
  void BootloaderProbed(bool answered);
  void LoadInterrupted();
  void SaveInterrupted();
  // An update that stopped after its first erase: keep what is needed to finish it.
  void RecordInterrupted(const THistoryEntry& entry);

  // ---- USB arrival and removal (MainUsb.cpp) ----------------------------------------------------
  void UsbArrival();
  void UsbRemoval();

  // ---- Message boxes ----------------------------------------------------------------------------
  void MessageDlg(TMsgKind kind, const std::string& text);
  // The default error report for an exception that escaped a handler: an error box with its text.
  // Front ends call it around every handler they invoke.
  void ShowException(const std::exception& e);

  // ---- State fields -----------------------------------------------------------------------------
  ByteString Rx_Buffer;
  ByteString Tx_Buffer;
  std::uint16_t TxTimer = 0;
  bool PortOpen = false;
  std::int32_t RetryCount = 0;
  std::uint8_t CurCmd = 0;
  TComsState ComsState = TComsState::csPortClosed;
  TReadStage ReadStage = TReadStage::rsCmd;
  TWriteStage WriteStage = TWriteStage::wsCmd;
  TEraseStage EraseStage = TEraseStage::esCmd;
  TGoStage GoStage = TGoStage::gsCmd;
  std::uint32_t StartAddr = 0;
  std::uint32_t EndAddr = 0;
  std::uint8_t ErasePgIdx = 0;
  std::uint16_t RWSize = 0;
  // The block a message 1124 being handled reports, as it stood when the message was posted.
  std::uint32_t TaskAddr = 0;
  std::uint16_t TaskSize = 0;
  std::size_t TaskPageIdx = 0;
  std::vector<std::string> ComPorts;
  std::int32_t PortIdx = 0;
  bool ProductReady = false;
  bool FlashInProgress = false;
  bool FlashDone = false;
  bool CommandActive = false;
  bool ReconnectToProduct = false;
  std::int32_t USBCount = 0;
  std::unique_ptr<TUsbClass> USBComp;
  TLinkGiveUp LinkGiveUp = TLinkGiveUp::lgNone;
  TVerifyResult VerifyResult = TVerifyResult::vrNone;
  // The verify that failed wrote its report.
  bool VerifyReportWritten = false;
  // Identity of the loaded firmware file: judged again whenever a product is identified.
  TProductInfo FileInfo;

  // SHA-256 of the loaded file as it was read.
  std::string FileSha256;
  // The record of the update under way, until it is kept.
  std::optional<THistoryEntry> History;
  // The last record ended, as kept (or as it would have been).
  std::optional<THistoryEntry> LastHistory;
  THistoryStep HistoryStep = THistoryStep::hsBootLoader;
  std::uint32_t HistoryStartTick = 0;
  // A history that cannot be written is told once.
  bool HistoryFailureTold = false;

  // The interrupted update on record (settings), if any.
  std::optional<TInterruptedUpdate> Interrupted;
  // The sync of the boot loader probe is on the line.
  bool BootProbe = false;
  // The product on the line waits in its boot loader (the probe's sync was answered).
  bool BootloaderWaiting = false;
  // That product is the one of the interrupted update: Start finishes it without the product link.
  bool ResumeUpdate = false;

  // The file dialog keeps the last chosen file name between openings.
  std::string OpenDlgFileName;

  // The protocols, working on the fields above.
 private:
  class TBootActions;
  std::unique_ptr<IBootActions> MakeBootActions();
  // The boot loader session's frame to the port, with the reply timer armed.
  bool PutBootFrame(const ByteString& frame);
  std::unique_ptr<IBootActions> bootActions_ = MakeBootActions();
  class TLinkActions;
  std::unique_ptr<ILinkActions> MakeLinkActions();
  // The product link session's frame to the port, with the reply timer armed.
  bool PutPanelFrame(const ByteString& frame);
  std::unique_ptr<ILinkActions> linkActions_ = MakeLinkActions();

 public:
  TBootSession Boot{{Rx_Buffer, Tx_Buffer, RetryCount, CurCmd, CommandActive, ComsState, ReadStage,
                     WriteStage, EraseStage, GoStage, StartAddr, EndAddr, RWSize},
                    *bootActions_};
  TLinkSession Link{{Rx_Buffer, Tx_Buffer, RetryCount, ComsState, LinkGiveUp}, *linkActions_};

  [[nodiscard]] const TPlatform& Platform() const { return platform_; }
  [[nodiscard]] const std::vector<std::string>& Args() const { return args_; }

 private:
  TPlatform platform_;
  std::vector<std::string> args_;
  int activePage_ = 0;
  // The callbacks given to the port and the pump hold it weakly.
  std::shared_ptr<TfrmMain*> self_;
};

}  // namespace tarvex
