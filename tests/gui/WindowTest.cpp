// The main window on Qt: size and layout from the view model, navigation, the no-ports state,
// the update's locks on Back, Next and Close, the error report, the manual, and screenshots.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <memory>
#include <stdexcept>

#include "GuiSupport.h"
#include "gui/Program.h"
#include "gui/QtMessagePump.h"
#include "gui/QtServices.h"
#include "gui/UDLMessage.h"
#include "serial/SerialErrors.h"
#include "serial/Ticks.h"
#include "support/FakeComPort.h"
#include "support/Fakes.h"
#include "support/FastClock.h"

namespace tarvex::test {
namespace {

constexpr const char* kSettingsKey = "Software\\Tarvex Ltd\\Tarvex Flash Programer\\1.20.0.0";

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    fakes.ports.names = {"COM3", "COM7"};
    fakes.settings.SetInt(kSettingsKey, "Show UDL Message", 0);  // no advisory dialog unless asked
  }
  void TearDown() override {
    if (window) {
      // Let the window go without the close rule getting in the way.
      form->FlashInProgress = false;
      window->close();
    }
    window.reset();
    form.reset();
    SetUiMessagePump(nullptr);
  }

  // Real modal boxes (the answerer deals with them) over fakes for the rest.
  void Start(std::vector<std::string> args = {}) {
    TPlatform p = fakes.Get();
    p.MessageBoxes = &boxes;
    p.Pump = &pump;
    SetUiMessagePump(&pump);
    form = std::make_unique<TfrmMain>(p, std::move(args));
    window = std::make_unique<TMainWindow>(*form);
    boxes.SetOwner(window.get());
    window->Create();
    window->show();
    ASSERT_TRUE(WaitUntil([&] { return window->isVisible(); }));
    QCoreApplication::processEvents();
  }

  template <typename W>
  W* Widget(const std::string& name) {
    auto* w = qobject_cast<W*>(window->ControlWidget(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  bool Shown(const std::string& name) { return window->ControlWidget(name)->isVisibleTo(window.get()); }
  void Click(const std::string& name) { QTest::mouseClick(Widget<QPushButton>(name), Qt::LeftButton); }

  void SaveScreenshot(const QString& file) {
    QDir().mkpath(TARVEX_SCREENSHOT_DIR);
    const QImage image = window->grab().toImage();
    EXPECT_EQ(image.size(), QSize(kClientWidth, kClientHeight));
    EXPECT_TRUE(image.save(QString(TARVEX_SCREENSHOT_DIR) + "/" + file)) << file.toStdString();
  }

  FakePlatform fakes;
  TQtMessageBoxes boxes;
  TQtMessagePump pump;
  std::unique_ptr<TfrmMain> form;
  std::unique_ptr<TMainWindow> window;
};

TEST_F(MainWindowTest, FixedSizeCentredWindowWithItsCaption) {
  Start();
  EXPECT_EQ(window->size(), QSize(690, 425));
  EXPECT_EQ(window->minimumSize(), QSize(690, 425));
  EXPECT_EQ(window->maximumSize(), QSize(690, 425));
  window->resize(900, 600);
  EXPECT_EQ(window->size(), QSize(690, 425));
  EXPECT_EQ(window->windowTitle(), "Flash Programmer");
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(Widget<QLabel>("lbAppName")->text(), "Flash Programmer");
  EXPECT_EQ(Widget<QLabel>("lbVersion")->text(), "Version 1.20.0.0");
  EXPECT_FALSE(Widget<QLabel>("imgLogo")->pixmap().isNull());
}

TEST_F(MainWindowTest, ControlsSitWhereTheViewModelPutsThem) {
  Start();
  auto* start = Widget<QPushButton>("btnStart");
  EXPECT_EQ(start->geometry(), QRect(585, 259, 75, 25));
  EXPECT_EQ(start->text(), "Start");
  auto* group = Widget<QGroupBox>("GroupBox2");
  EXPECT_EQ(group->title(), "Status Information");
  for (const char* name : {"imgBootDone", "imgErase", "imgWrite", "imgVerify", "imgRunApp"}) {
    auto* image = Widget<QLabel>(name);
    EXPECT_EQ(image->size(), QSize(32, 32)) << name;
    EXPECT_EQ(image->parentWidget(), group) << name;
    EXPECT_FALSE(image->pixmap().isNull()) << name << " carries Icon_OK";
  }
  const int stepTops[] = {23, 61, 99, 137, 175};
  int i = 0;
  for (const char* name : {"btnSelFlash", "btnEraseFlash", "btnWriteFlash", "btnVerifyFlash", "btnRun"}) {
    auto* step = Widget<QPushButton>(name);
    EXPECT_EQ(step->geometry(), QRect(226, stepTops[i++], 43, 25)) << name;
    EXPECT_EQ(step->text(), "Go");
    EXPECT_FALSE(Shown(name)) << "step buttons show only in manual mode";
  }
  auto* bar = Widget<QProgressBar>("progBar");
  EXPECT_EQ(bar->geometry(), QRect(226, 65, 257, 17));
  EXPECT_EQ(Widget<QPushButton>("btnNext")->text(), "&Next >>");
  EXPECT_EQ(Widget<QPushButton>("btnNext")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_N));
  // The footer spans the window's bottom, the header its top.
  EXPECT_EQ(window->ControlWidget("Panel2")->geometry(), QRect(0, 378, 690, 47));
  EXPECT_EQ(window->ControlWidget("StatusPanel")->geometry(), QRect(0, 0, 690, 65));
}

TEST_F(MainWindowTest, ManualModeShowsStepButtonsAndMovesTheProgressBar) {
  Start({"/M"});
  EXPECT_EQ(Widget<QProgressBar>("progBar")->geometry(), QRect(275, 65, 208, 17));
  // The switches are read after start-up's first page layout: the next one shows the steps.
  form->ProductReady = true;
  FileReady = true;
  form->UpdateWizard();
  Click("btnNext");
  Click("btnNext");
  FileReady = false;
  for (const char* name : {"btnSelFlash", "btnEraseFlash", "btnWriteFlash", "btnVerifyFlash", "btnRun"}) {
    EXPECT_TRUE(Shown(name)) << name;
    EXPECT_FALSE(window->ControlWidget(name)->isEnabled()) << name;
  }
  EXPECT_TRUE(Shown("lbBootloader"));
}

TEST_F(MainWindowTest, NoPortsShowsTheWarningAndDisablesConnect) {
  fakes.ports.names.clear();
  Start();
  EXPECT_TRUE(Shown("lbNoPorts"));
  EXPECT_EQ(Widget<QLabel>("lbNoPorts")->text(),
            "No Ports available - Check the USB-Bridge is connected to the PC!");
  EXPECT_FALSE(Widget<QPushButton>("btnConnect")->isEnabled());
  EXPECT_EQ(Widget<QComboBox>("cbComPort")->count(), 0);
}

TEST_F(MainWindowTest, PortsFillTheListAndTheRememberedOneIsSelected) {
  fakes.settings.SetInt(kSettingsKey, "USB-Bridge Port", 7);
  Start();
  EXPECT_FALSE(Shown("lbNoPorts"));
  EXPECT_TRUE(Widget<QPushButton>("btnConnect")->isEnabled());
  auto* combo = Widget<QComboBox>("cbComPort");
  ASSERT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->currentText(), "COM7");
  // The user's choice goes back into the view model.
  combo->setCurrentIndex(0);
  emit combo->activated(0);
  EXPECT_EQ(form->cbComPort.SelectedText(), "COM3");
}

TEST_F(MainWindowTest, NextAndBackWalkThePagesAndTheSidePanelFollows) {
  Start();
  EXPECT_EQ(window->VisiblePageIndex(), 0);
  EXPECT_EQ(Widget<QLabel>("lbTaskType")->text(), "USB settings");
  EXPECT_FALSE(Widget<QPushButton>("btnNext")->isEnabled()) << "no product yet";
  EXPECT_FALSE(Widget<QPushButton>("btnBack")->isEnabled());

  form->ProductReady = true;
  form->UpdateWizard();
  Click("btnNext");
  EXPECT_EQ(window->VisiblePageIndex(), 1);
  EXPECT_EQ(Widget<QLabel>("lbTaskType")->text(), "Firmware file");
  auto* stack = qobject_cast<QStackedWidget*>(window->ControlWidget("PgCtrl"));
  ASSERT_NE(stack, nullptr);
  EXPECT_EQ(window->ControlWidget("pnlSide")->parentWidget(), stack->currentWidget());
  EXPECT_TRUE(Shown("pnlSide"));

  FileReady = true;
  form->UpdateWizard();
  Click("btnNext");
  EXPECT_EQ(window->VisiblePageIndex(), 2);
  EXPECT_EQ(Widget<QLabel>("lbTaskType")->text(), "Firmware Update");
  EXPECT_FALSE(Widget<QPushButton>("btnNext")->isEnabled()) << "the last page";
  EXPECT_EQ(window->ControlWidget("pnlSide")->parentWidget(), stack->currentWidget());

  Click("btnBack");
  Click("btnBack");
  EXPECT_EQ(window->VisiblePageIndex(), 0);
  FileReady = false;
}

TEST_F(MainWindowTest, AltNGoesToTheNextPage) {
  Start();
  form->ProductReady = true;
  form->UpdateWizard();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QTest::keyClick(window.get(), Qt::Key_N, Qt::AltModifier);
  EXPECT_TRUE(WaitUntil([&] { return window->VisiblePageIndex() == 1; }));
  // Disabled, the accelerator does nothing.
  QTest::keyClick(window.get(), Qt::Key_N, Qt::AltModifier);
  QCoreApplication::processEvents();
  EXPECT_EQ(window->VisiblePageIndex(), 1);
}

// The focus never lands on Close by itself (a Space there quits), and the port prompt leaves it
// on the port list.
TEST_F(MainWindowTest, FocusGoesToThePageNeverToClose) {
  Start();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  form->ProductReady = true;
  FileReady = true;
  form->UpdateWizard();
  Click("btnNext");
  Click("btnNext");  // the last page: Next is disabled under the focus
  EXPECT_TRUE(WaitUntil([&] { return window->focusWidget() == window->ControlWidget("btnStart"); }));
  Click("btnBack");
  Click("btnBack");
  ModalAnswerer answerer;
  form->cbComPort.SetItemIndex(-1);
  form->btnConnectClick();
  // The window's focus child: it has the focus whenever the window is active again.
  EXPECT_TRUE(WaitUntil([&] { return window->focusWidget() == window->ControlWidget("cbComPort"); }));
  FileReady = false;
}

TEST_F(MainWindowTest, CaptionsAreTheProgramsOwn) {
  ConfigureApplication();
  // Qt appends a display name that was set to every caption.
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
}

TEST_F(MainWindowTest, TabOrderRunsTopToBottom) {
  Start();
  // Page 1: the port list, then Connect; the footer's buttons after the page.
  EXPECT_EQ(window->ControlWidget("cbComPort")->nextInFocusChain(), window->ControlWidget("btnConnect"));
  EXPECT_EQ(window->ControlWidget("btnManual")->nextInFocusChain(), window->ControlWidget("btnBack"));
  EXPECT_EQ(window->ControlWidget("btnBack")->nextInFocusChain(), window->ControlWidget("btnNext"));
  EXPECT_EQ(window->ControlWidget("btnNext")->nextInFocusChain(), window->ControlWidget("btnCancel"));
}

TEST_F(MainWindowTest, DuringAnUpdateBackNextAndCloseAreOffAndClosingIsRefused) {
  Start();
  form->SetActivePageIndex(2);
  form->FlashInProgress = true;
  form->UpdateWizard();
  QCoreApplication::processEvents();
  EXPECT_FALSE(Widget<QPushButton>("btnBack")->isEnabled());
  EXPECT_FALSE(Widget<QPushButton>("btnNext")->isEnabled());
  EXPECT_FALSE(Widget<QPushButton>("btnCancel")->isEnabled());

  // The window's close box: refused, the window stays and nothing is saved.
  fakes.settings.keys.clear();
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(fakes.settings.keys.empty());

  // Once the update is over the same close goes through and saves the settings.
  form->FlashInProgress = false;
  EXPECT_TRUE(window->close());
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(fakes.settings.keys[kSettingsKey].count("Show UDL Message"), 1U);
}

TEST_F(MainWindowTest, ManualModeMayCloseDuringAnUpdate) {
  Start({"/M"});
  form->FlashInProgress = true;
  EXPECT_TRUE(window->close());
  EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, CloseButtonClosesAndSavesOnce) {
  Start();
  Click("btnCancel");
  EXPECT_FALSE(window->isVisible());
  const int closes = fakes.settings.closes;
  window->close();  // a second close saves nothing more
  EXPECT_EQ(fakes.settings.closes, closes);
}

TEST_F(MainWindowTest, AnExceptionFromAHandlerReachesTheUserAsAModalErrorBox) {
  Start();
  ModalAnswerer answerer;
  window->Invoke([] { throw std::runtime_error("The port has gone away"); });
  ASSERT_EQ(answerer.seen.size(), 1U);
  EXPECT_TRUE(answerer.seen[0].modal);
  EXPECT_EQ(answerer.seen[0].title, "Error");
  EXPECT_EQ(answerer.seen[0].text, "The port has gone away");
  EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Critical);
}

// A reconnection after an update runs from a posted USB arrival; a port that cannot be opened
// then must be told like a click's failure, never end the program.
TEST_F(MainWindowTest, AReconnectionWhosePortCannotBeOpenedIsToldAndTheWindowGoesOn) {
  FakeComPort port;
  port.openHook = [](std::uint16_t) { throw EBadId(ecBadId); };
  TPlatform p = fakes.Get();
  p.MessageBoxes = &boxes;
  p.Pump = &pump;
  p.ComPort = &port;
  SetUiMessagePump(&pump);
  FastClock clock(1000);
  SetTickClock(&clock);
  form = std::make_unique<TfrmMain>(p, std::vector<std::string>{});
  window = std::make_unique<TMainWindow>(*form);
  boxes.SetOwner(window.get());
  window->Create();
  window->show();
  ASSERT_TRUE(WaitUntil([&] { return window->isVisible(); }));
  form->cbComPort.SetItemIndex(0);
  form->ReconnectToProduct = true;
  form->USBCount = 1;
  ModalAnswerer answerer;
  pump.Post([&] { form->USBComp->Notify(TUsbDeviceEvent{}); });
  EXPECT_TRUE(WaitUntil([&] { return answerer.seen.size() >= 2; }));
  SetTickClock(nullptr);
  ASSERT_EQ(answerer.seen.size(), 2U);
  EXPECT_EQ(answerer.seen[0].text, "Com port does not exist");
  EXPECT_EQ(answerer.seen[1].text, "ie_BadId - Specified comport doesn't exist");
  EXPECT_EQ(answerer.seen[1].icon, QMessageBox::Critical);
  // The program goes on: the window answers the next click.
  Click("btnConnect");
  ASSERT_TRUE(WaitUntil([&] { return answerer.seen.size() >= 3; }));
  EXPECT_EQ(answerer.seen[2].text, "Please select the USB communication port.");
  EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, ConnectWithoutASerialPortComponentTellsThePortIsMissing) {
  Start();
  ModalAnswerer answerer;
  Click("btnConnect");
  ASSERT_EQ(answerer.seen.size(), 1U);
  EXPECT_TRUE(answerer.seen[0].modal);
  EXPECT_EQ(answerer.seen[0].text, "Com port does not exist");
}

TEST_F(MainWindowTest, AFileThatCannotBeReadIsReportedInAModalBox) {
  Start();
  form->ProductReady = true;
  form->UpdateWizard();
  Click("btnNext");
  fakes.dialog.answer = "/nonexistent/folder/firmware.hex";
  ModalAnswerer answerer;
  Click("btnOpenHex");
  ASSERT_EQ(fakes.dialog.calls.size(), 1U);
  EXPECT_EQ(fakes.dialog.calls[0].Title, "Select Firmware File");
  ASSERT_EQ(answerer.seen.size(), 1U);
  EXPECT_TRUE(answerer.seen[0].modal);
  EXPECT_EQ(answerer.seen[0].text, "Error reading file\nfirmware.hex: the file does not exist");
  EXPECT_FALSE(Widget<QPushButton>("btnNext")->isEnabled());
}

TEST_F(MainWindowTest, ManualOpensFromTheProgramFolder) {
  Start();
  Click("btnManual");
  ASSERT_EQ(fakes.shell.opened.size(), 1U);
  EXPECT_EQ(fakes.shell.opened[0], fakes.folders.program + "MAN214 - Flash Programmer Instructions.pdf");
}

TEST_F(MainWindowTest, AdvisoryDialogShowsAfterTheWindowAndItsAnswerIsKept) {
  fakes.settings.keys.clear();  // first start: the dialog is due
  TQtShell shell;
  TQtAdvisoryDialog advisory(&shell);
  TPlatform p = fakes.Get();
  p.Advisory = &advisory;
  p.MessageBoxes = &boxes;
  form = std::make_unique<TfrmMain>(p, std::vector<std::string>{});
  window = std::make_unique<TMainWindow>(*form);
  advisory.SetOwner(window.get());
  window->Create();
  ModalAnswerer answerer;
  answerer.answer = [](QWidget* modal) {
    auto* dialog = dynamic_cast<TfrmUDLMessage*>(modal);
    if (dialog == nullptr) return false;
    dialog->DontShowBox()->setChecked(true);
    dialog->CloseButton()->click();
    return true;
  };
  window->show();
  ASSERT_TRUE(
      WaitUntil([&] { return !answerer.seen.empty() && QApplication::activeModalWidget() == nullptr; }));
  EXPECT_EQ(answerer.seen[0].title, "Important, Please Read ");
  EXPECT_TRUE(answerer.seen[0].modal);
  EXPECT_FALSE(ShowUDLMessage);
  window->close();
  EXPECT_EQ(fakes.settings.keys[kSettingsKey]["Show UDL Message"].i, 0);
}

TEST_F(MainWindowTest, ScreenshotsOfEachPageBeforeDuringAndAfterAnUpdate) {
  Start();
  SaveScreenshot("page1-port-and-product.png");
  form->lbProductType.SetCaption("Tarvex CP-20 Control Panel");
  form->lbSoftwareVer.SetCaption("4.61");
  form->lbSerialNo.SetCaption("TX0012345678");
  form->ProductReady = true;
  form->UpdateWizard();
  SaveScreenshot("page1-connected.png");
  Click("btnNext");
  form->edFileName.SetCaption("/home/installer/firmware/CP20_V462.hex");
  form->lbFileProduct.SetCaption("Tarvex CP-20 Control Panel");
  form->lbFileVersion.SetCaption("4.62");
  FileReady = true;
  form->UpdateWizard();
  SaveScreenshot("page2-firmware-file.png");
  Click("btnNext");
  SaveScreenshot("page3-before-update.png");

  // During: boot loader and erase done, writing at 40 %.
  form->FlashInProgress = true;
  form->btnStart.SetEnabled(false);
  form->UpdateWizard();
  for (auto* l : form->StatusLabels()) l->SetVisible(true);
  form->imgBootDone.SetVisible(true);
  form->imgErase.SetVisible(true);
  form->progBar.SetTop(103);
  form->progBar.SetPosition(40);
  form->progBar.SetVisible(true);
  EXPECT_FALSE(Widget<QPushButton>("btnCancel")->isEnabled());
  SaveScreenshot("page3-during-update.png");

  // After: every step done, the verify failed in this picture to show the error icon too.
  for (auto* i : form->ResultImages()) i->SetVisible(true);
  form->imgVerify.SetPicture("Icon_Error");
  form->progBar.SetVisible(false);
  form->FlashInProgress = false;
  form->FlashDone = true;
  form->UpdateWizard();
  SaveScreenshot("page3-after-update.png");
  FileReady = false;
}

}  // namespace
}  // namespace tarvex::test
