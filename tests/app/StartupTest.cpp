// Start-up, settings, the advisory dialog and the close rule of the main window.
#include <gtest/gtest.h>

#include "app/Main.h"
#include "support/Fakes.h"

namespace tarvex {
namespace {

constexpr const char* kKey = "Software\\Tarvex Ltd\\Tarvex Flash Programer\\1.20.0.0";

// A folder path with the system's separator, as the program forms them.
std::string S(std::string path) {
  for (char& c : path) {
    if (c == '/') c = kPathSep;
  }
  return path;
}

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetGlobals();
    fp.folders.base = S("/data");
    fp.folders.existing = {S("/data")};
  }
  void TearDown() override { ResetGlobals(); }
  test::FakePlatform fp;
};

TEST_F(Startup, FirstStartCreatesTheFoldersParentsFirst) {
  TfrmMain frm(fp.Get(), {});
  frm.FormCreate();
  const std::vector<std::string> expected = {S("/data/Tarvex Ltd/"), S("/data/Tarvex Ltd/Flash Programmer/"),
                                             S("/data/Tarvex Ltd/Flash Programmer/Logs/"),
                                             S("/data/Tarvex Ltd/Flash Programmer/Firmware/")};
  EXPECT_EQ(fp.folders.created, expected);
  EXPECT_EQ(LogsFolder, expected[2]);
  EXPECT_EQ(FirmwareFolder, expected[3]);
  EXPECT_EQ(LastFolder, FirmwareFolder);
  EXPECT_TRUE(ShowUDLMessage);
  EXPECT_EQ(frm.PortIdx, -1);
  EXPECT_EQ(AppFolder, "/opt/tarvex/");
  EXPECT_EQ(frm.frmMain.Caption(), "Flash Programmer");
  EXPECT_EQ(frm.lbVersion.Caption(), "Version 1.20.0.0");
  EXPECT_EQ(frm.imgLogo.Picture(), "TarvexUK");
  for (auto* img : frm.ResultImages()) EXPECT_EQ(img->Picture(), "Icon_OK");

  frm.FormShow();
  EXPECT_EQ(fp.advisory.shows, 1);
}

TEST_F(Startup, ABareAccountGetsItsDataFolderMadeFirst) {
  fp.folders.base = S("/home/u/.local/share");
  fp.folders.existing = {S("/home"), S("/home/u")};
  TfrmMain frm(fp.Get(), {});
  frm.FormCreate();
  ASSERT_GE(fp.folders.created.size(), 3u);
  EXPECT_EQ(fp.folders.created[0], S("/home/u/.local"));
  EXPECT_EQ(fp.folders.created[1], S("/home/u/.local/share"));
  EXPECT_EQ(fp.folders.created.back(), S("/home/u/.local/share/Tarvex Ltd/Flash Programmer/Firmware/"));
}

TEST_F(Startup, ExistingFoldersAreKeptAndFailuresPassedOverSilently) {
  fp.folders.existing = {S("/data"), S("/data/Tarvex Ltd/"), S("/data/Tarvex Ltd/Flash Programmer/")};
  fp.folders.refuse = {S("/data/Tarvex Ltd/Flash Programmer/Logs/")};
  TfrmMain frm(fp.Get(), {});
  frm.FormCreate();
  EXPECT_EQ(fp.folders.created, std::vector<std::string>{S("/data/Tarvex Ltd/Flash Programmer/Firmware/")});
  EXPECT_EQ(LogsFolder, S("/data/Tarvex Ltd/Flash Programmer/Logs/"));
  EXPECT_TRUE(fp.boxes.shown.empty());
}

TEST_F(Startup, NoCommonDataFolderPutsTheFoldersAtTheRoot) {
  fp.folders.base = "";
  TfrmMain frm(fp.Get(), {});
  frm.FormCreate();
  EXPECT_EQ(FirmwareFolder, S("/Tarvex Ltd/Flash Programmer/Firmware/"));
}

TEST_F(Startup, StoredSettingsAreRead) {
  fp.settings.SetInt(kKey, "USB-Bridge Port", 7);
  fp.settings.SetString(kKey, "Last Folder", "/home/me/fw/");
  fp.settings.SetInt(kKey, "Show UDL Message", 0);
  fp.ports.names = {"COM3", "COM7"};
  TfrmMain frm(fp.Get(), {});
  frm.FormCreate();
  EXPECT_EQ(frm.PortIdx, 7);
  EXPECT_EQ(LastFolder, "/home/me/fw/");
  EXPECT_FALSE(ShowUDLMessage);
  EXPECT_EQ(frm.cbComPort.SelectedText(), "COM7");
  frm.FormShow();
  EXPECT_EQ(fp.advisory.shows, 0);
}

TEST_F(Startup, RememberedPortAbsentSelectsNothing) {
  fp.settings.SetInt(kKey, "USB-Bridge Port", 7);
  fp.ports.names = {"COM3"};
  TfrmMain frm(fp.Get(), {});
  frm.FormCreate();
  EXPECT_EQ(frm.cbComPort.ItemIndex(), -1);
}

TEST_F(Startup, MissingPortSettingSelectsNothing) {
  fp.ports.names = {"COM1"};
  TfrmMain frm(fp.Get(), {});
  frm.FormCreate();
  EXPECT_EQ(frm.PortIdx, -1);
  EXPECT_EQ(frm.cbComPort.ItemIndex(), -1);
}

TEST_F(Startup, WrongTypedValueStopsLoadingThere) {
  fp.settings.SetInt(kKey, "USB-Bridge Port", 4);
  fp.settings.SetInt(kKey, "Last Folder", 12);  // a number where a string belongs
  fp.settings.SetInt(kKey, "Show UDL Message", 1);
  TfrmMain frm(fp.Get(), {});
  frm.FormCreate();
  EXPECT_EQ(frm.PortIdx, 4);
  EXPECT_EQ(LastFolder, "");         // not read: keeps what it held
  EXPECT_FALSE(ShowUDLMessage);      // not read: the dialog setting reads false for this run
  EXPECT_GE(fp.settings.closes, 1);  // the key is closed all the same
}

TEST_F(Startup, KeyThatCannotBeOpenedReadsAndWritesNothing) {
  fp.settings.failOpen = true;
  TfrmMain frm(fp.Get(), {});
  frm.FormCreate();
  EXPECT_EQ(frm.PortIdx, 0);
  EXPECT_EQ(LastFolder, "");
  EXPECT_FALSE(ShowUDLMessage);
  frm.FormClose();
  EXPECT_TRUE(fp.settings.keys.empty());
}

TEST_F(Startup, SettingsAreSavedTypedAtClose) {
  TfrmMain frm(fp.Get(), {});
  frm.FormCreate();
  frm.PortIdx = 3;
  LastFolder = "/x/";
  ShowUDLMessage = false;
  frm.FormClose();
  const auto& key = fp.settings.keys.at(kKey);
  EXPECT_TRUE(key.at("USB-Bridge Port").isInt);
  EXPECT_EQ(key.at("USB-Bridge Port").i, 3);
  EXPECT_FALSE(key.at("Last Folder").isInt);
  EXPECT_EQ(key.at("Last Folder").s, "/x/");
  EXPECT_TRUE(key.at("Show UDL Message").isInt);
  EXPECT_EQ(key.at("Show UDL Message").i, 0);
}

TEST_F(Startup, AdvisoryDialogTurnsOffOnlyWithTickAndClose) {
  struct Case {
    bool closeButton, ticked, showAfter;
  };
  for (const Case c : {Case{true, true, false}, Case{false, true, true}, Case{true, false, true},
                       Case{false, false, true}}) {
    ResetGlobals();
    test::FakePlatform p;
    p.advisory.closedWithClose = c.closeButton;
    p.advisory.ticked = c.ticked;
    TfrmMain frm(p.Get(), {});
    frm.FormCreate();
    frm.FormShow();
    EXPECT_EQ(ShowUDLMessage, c.showAfter);
    frm.FormClose();
    // The choice survives a restart.
    ResetGlobals();
    TfrmMain again(p.Get(), {});
    again.FormCreate();
    EXPECT_EQ(ShowUDLMessage, c.showAfter);
  }
}

TEST_F(Startup, SwitchesPlaceTheProgressBar) {
  {
    TfrmMain frm(fp.Get(), {"x", "/NV"});
    frm.FormCreate();
    EXPECT_FALSE(ManualMode);
    EXPECT_TRUE(NoVerify);
    EXPECT_EQ(frm.progBar.Geometry().Left, 226);
    EXPECT_EQ(frm.progBar.Geometry().Width, 257);
    for (auto* b : frm.StepButtons()) EXPECT_FALSE(b->Visible());
  }
  {
    TfrmMain frm(fp.Get(), {"/M"});
    frm.FormCreate();
    EXPECT_TRUE(ManualMode);
    EXPECT_EQ(frm.progBar.Geometry().Left, 275);
    EXPECT_EQ(frm.progBar.Geometry().Width, 208);
    EXPECT_EQ(frm.progBar.Geometry().Height, 17);
  }
}

TEST_F(Startup, NoPortsShowsTheWarningAndDisablesConnect) {
  TfrmMain frm(fp.Get(), {});
  frm.FormCreate();
  EXPECT_TRUE(frm.lbNoPorts.Visible());
  EXPECT_EQ(frm.lbNoPorts.Caption(), "No Ports available - Check the USB-Bridge is connected to the PC!");
  EXPECT_FALSE(frm.btnConnect.Enabled());
}

TEST_F(Startup, PortsSortedAsTextWithoutCase) {
  fp.ports.names = {"COM2", "com10", "COM1", "COM2"};
  TfrmMain frm(fp.Get(), {});
  frm.FormCreate();
  EXPECT_EQ(frm.cbComPort.Items(), (std::vector<std::string>{"COM1", "com10", "COM2", "COM2"}));
  EXPECT_FALSE(frm.lbNoPorts.Visible());
  EXPECT_TRUE(frm.btnConnect.Enabled());
}

TEST_F(Startup, CloseRefusedDuringAnUpdateUnlessManualMode) {
  TfrmMain frm(fp.Get(), {});
  frm.FormCreate();
  EXPECT_TRUE(frm.btnCancelClick());
  frm.FlashInProgress = true;
  EXPECT_FALSE(frm.FormCloseQuery());
  EXPECT_FALSE(frm.btnCancelClick());
  ManualMode = true;
  EXPECT_TRUE(frm.FormCloseQuery());
}

TEST_F(Startup, ManualOpensFromTheProgramFolder) {
  TfrmMain frm(fp.Get(), {});
  frm.FormCreate();
  frm.btnManualClick();
  EXPECT_EQ(fp.shell.opened,
            std::vector<std::string>{"/opt/tarvex/MAN214 - Flash Programmer Instructions.pdf"});
}

}  // namespace
}  // namespace tarvex
