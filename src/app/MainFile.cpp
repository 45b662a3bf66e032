// The firmware file page: opening a HEX file, showing what it is for, and accepting or refusing it
// for the connected product.
#include "app/Main.h"
#include "core/ProductCatalogue.h"
#include "firmware/Acceptance.h"
#include "firmware/FlashImage.h"
#include "firmware/HexFile.h"
#include "firmware/Sha256.h"

namespace tarvex {

namespace {

// Folder part of a path, with its trailing separator; empty when the path names no folder.
std::string FolderOf(const std::string& path) {
  const std::size_t sep = path.find_last_of(std::string("/") + kPathSep);
  return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

}  // namespace

void TfrmMain::btnOpenHexClick() {
  TProductInfo fileInfo;  // every identity field starts at zero for each opening
  if (platform_.FileDialog == nullptr) return;

  TOpenDialogOptions opts;
  opts.Title = "Select Firmware File";
  opts.Filter = "Hex Files (*.hex)|*.hex";
  opts.DefaultExt = "*.hex";
  const bool lastExists = platform_.Folders != nullptr && platform_.Folders->DirectoryExists(LastFolder);
  opts.InitialDir = lastExists ? LastFolder : FirmwareFolder;
  opts.FileName = OpenDlgFileName;
  const auto chosen = platform_.FileDialog->Execute(opts);
  if (!chosen) return;
  OpenDlgFileName = *chosen;

  ResetMemory(kDeviceImage);
  ResetMemory(kFileImage);
  // The folder moves even when the file then fails: the installer is likely to pick again there.
  LastFolder = FolderOf(*chosen);

  THexFault fault;
  if (!LoadHexFile(*chosen, &fault)) {
    FileReady = false;
    const std::string reason = HexFaultText(*chosen, fault);
    LogDebug(Format("%s: %s", kMsgErrorReadingFile, reason.c_str()));
    MessageDlg(TMsgKind::mkError, std::string(kMsgErrorReadingFile) + "\n" + reason);
    return;
  }
  // An image with nothing to write would leave erase and write without a first page.
  if (CountBlocks() == 0) {
    FileReady = false;
    LogDebug(kMsgNoFirmwareData);
    MessageDlg(TMsgKind::mkError, kMsgNoFirmwareData);
    return;
  }

  ReadFileIdentity(*chosen, fileInfo);
  edFileName.SetCaption(*chosen);
  FileSha256 = Sha256OfFile(*chosen).value_or("");
  LogDebug(Format("Hex File Loaded: %s", chosen->c_str()));
  FileReady = false;

  lbFileProduct.SetCaption(GetProductName(fileInfo.ProductCode, fileInfo.Variant));
  lbFileVersion.SetCaption(FormatVersion(fileInfo.Major, fileInfo.Minor));
  lbFileMicro.SetCaption(FileMicroText(fileInfo));

  FileInfo = fileInfo;
  JudgeLoadedFile();
  UpdateWizard();
}

void TfrmMain::JudgeLoadedFile() {
  const TFileVerdict verdict = JudgeFile(ProductInfo, FileInfo);
  FileReady = verdict.Accepted;
  if (verdict.Accepted) {
    if (!verdict.Warning.empty()) MessageDlg(TMsgKind::mkWarning, verdict.Warning);
    if (ResumeUpdate && Interrupted && FileSha256 != Interrupted->FileSha256) {
      MessageDlg(TMsgKind::mkWarning,
                 Format("This file is not \"%s\", whose update was interrupted (it has changed, or it is "
                        "another one). It suits the product, and Start writes it.",
                        Interrupted->File.c_str()));
    }
  } else {
    MessageDlg(TMsgKind::mkError, verdict.Error);
  }
}

void TfrmMain::btnResetFolderClick() {
  LastFolder = FirmwareFolder;
  lbFirmwareFolder.SetCaption(LastFolder);
}

}  // namespace tarvex
