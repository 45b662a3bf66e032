// The desktop program against the product emulator, as the demonstration runs it: the emulator
// a child process on a pseudo-terminal in a ports folder of its own, the real serial port, Qt's
// boxes and dialogs answered as a user would, and the sample firmware the build made. The pages
// are clicked through, an update runs, and each page is pictured before, during and after it.
#include <signal.h>

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <memory>

#include "GuiSupport.h"
#include "app/platform/LinuxSettingsStore.h"
#include "devices/LinuxPorts.h"
#include "devices/LinuxUsbBackend.h"
#include "gui/Program.h"
#include "gui/QtMessagePump.h"
#include "gui/QtServices.h"
#include "gui/UDLMessage.h"
#include "link/ComsTasks.h"
#include "serial/ComPort.h"
#include "serial/Ticks.h"
#include "support/Fakes.h"
#include "tools/demo/Demo.h"

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAdvice = "It is highly recommended after a firmware upgrade";

class DemoUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ResetGlobals();
    CommsJob.reset();
  }
  void TearDown() override {
    if (window) {
      form->FlashInProgress = false;
      window->close();
    }
    window.reset();
    form.reset();
    port.SetOpen(false);
    SetUiMessagePump(nullptr);
    SetTickClock(nullptr);
    if (session) session->Stop();
    CommsJob.reset();
    ResetGlobals();
  }

  // The emulator at full speed with short flash times, so a whole update takes seconds.
  void Start(const ModalAnswerer& answerer, std::vector<std::string> simArgs = {}) {
    TDemoConfig config;
    config.SimPath = TARVEX_PANEL_SIM_EXE;
    config.SimArgs = {"--baud", "0", "--erase-ms", "2", "--write-ms", "2", "--reenumerate-ms", "100"};
    config.SimArgs.insert(config.SimArgs.end(), simArgs.begin(), simArgs.end());
    config.SampleFolder = SampleFolder().toStdString();
    std::string error;
    session = TDemoSession::Start(config, error);
    ASSERT_NE(session, nullptr) << error;

    // Wired as the program wires itself for the demonstration.
    ports = std::make_unique<LinuxPorts>(session->PortsDir(), "", "");
    settings = std::make_unique<LinuxSettingsStore>(session->SettingsFile());
    port.Baud = 115200;
    port.AutoOpen = false;
    port.PromptForPort = false;
    port.DevicePath = [this](int n) { return ports->DevicePathFor(n); };
    TPlatform p = fakes.Get();
    p.Settings = settings.get();
    p.Ports = ports.get();
    p.MessageBoxes = &boxes;
    p.FileDialog = &fileDialog;
    fakes.folders.existing.insert(SampleFolder().toStdString() + "/");
    p.Advisory = &advisory;
    p.Pump = &pump;
    p.ComPort = &port;
    const std::string dir = session->PortsDir();
    p.UsbBackend = [dir] { return std::make_unique<LinuxUsbBackend>(dir); };
    SetUiMessagePump(&pump);
    form = std::make_unique<TfrmMain>(p, std::vector<std::string>{});
    window = std::make_unique<TMainWindow>(*form);
    boxes.SetOwner(window.get());
    fileDialog.SetOwner(window.get());
    advisory.SetOwner(window.get());
    window->Create();
    window->show();
    // A fresh demonstration shows the advisory dialog first; the answerer closes it.
    ASSERT_TRUE(
        WaitUntil([&] { return !answerer.seen.empty() && QApplication::activeModalWidget() == nullptr; }));
  }

  static QString SampleFolder() { return QFileInfo(TARVEX_SAMPLE_FIRMWARE).absolutePath(); }

  template <typename W>
  W* Widget(const std::string& name) {
    auto* w = qobject_cast<W*>(window->ControlWidget(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  void Click(const std::string& name) {
    auto* button = Widget<QPushButton>(name);
    ASSERT_TRUE(button->isEnabled()) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  }
  bool Enabled(const std::string& name) { return window->ControlWidget(name)->isEnabled(); }
  QString Text(const std::string& name) { return Widget<QLabel>(name)->text(); }
  [[nodiscard]] bool LinkIdle() const { return !CommsJob && form->ComsState != TComsState::csReadWrite; }

  void Screenshot(const QString& file) {
    QDir().mkpath(TARVEX_SCREENSHOT_DIR);
    EXPECT_TRUE(window->grab().save(QString(TARVEX_SCREENSHOT_DIR) + "/" + file)) << file.toStdString();
  }

  // Answers the file dialog with the sample firmware, noting the folder it opened in.
  void ChooseSampleWith(ModalAnswerer& answerer) {
    answerer.answer = [this](QWidget* modal) {
      if (auto* fd = qobject_cast<QFileDialog*>(modal)) {
        dialogFolder = fd->directory().absolutePath();
        fd->selectFile(TARVEX_SAMPLE_FIRMWARE);
        static_cast<QDialog*>(fd)->accept();
        return true;
      }
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        box->button(QMessageBox::Ok)->click();
        return true;
      }
      static_cast<QDialog*>(modal)->reject();
      return true;
    };
  }

  // Connect on page 1, the sample firmware on page 2, then page 3.
  void ConnectAndOpenTheSample(bool pictures) {
    auto* list = Widget<QComboBox>("cbComPort");
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->currentText(), QString("COM%1").arg(session->ComNumber()));
    if (pictures) Screenshot("demo-page1-before-connect.png");
    Click("btnConnect");
    ASSERT_TRUE(WaitUntil([&] { return form->ProductReady && LinkIdle(); }, 10000));
    EXPECT_EQ(Text("lbSoftwareVer"), "1.00");
    EXPECT_FALSE(Text("lbProductType").isEmpty());
    if (pictures) Screenshot("demo-page1-connected.png");
    Click("btnNext");
    Click("btnOpenHex");
    ASSERT_TRUE(WaitUntil([&] { return FileReady; }, 10000));
    EXPECT_EQ(dialogFolder, SampleFolder()) << "the dialog starts beside the sample";
    EXPECT_EQ(Text("lbFileVersion"), "2.00");
    if (pictures) Screenshot("demo-page2-sample-opened.png");
    Click("btnNext");
    ASSERT_TRUE(Widget<QPushButton>("btnStart")->isVisible());
    if (pictures) Screenshot("demo-page3-before-update.png");
  }

  DebugCapture log;
  FakePlatform fakes;
  TQtMessageBoxes boxes;
  TQtFileDialog fileDialog;
  TQtAdvisoryDialog advisory{&fakes.shell};
  TQtMessagePump pump;
  TSerComPort port;
  std::unique_ptr<TDemoSession> session;
  std::unique_ptr<LinuxPorts> ports;
  std::unique_ptr<LinuxSettingsStore> settings;
  std::unique_ptr<TfrmMain> form;
  std::unique_ptr<TMainWindow> window;
  QString dialogFolder;
};

TEST_F(DemoUpdate, AWholeUpdateClickedThroughTheThreePages) {
  ModalAnswerer answerer;
  ChooseSampleWith(answerer);
  Start(answerer);
  EXPECT_EQ(answerer.seen[0].title, "Important, Please Read ");
  ConnectAndOpenTheSample(true);

  Click("btnStart");
  // During the write: the way out and the way back are shut, and closing is refused.
  auto* bar = Widget<QProgressBar>("progBar");
  ASSERT_TRUE(WaitUntil(
      [&] { return form->FlashInProgress && bar->isVisible() && bar->maximum() > 100 && bar->value() > 20; },
      15000));
  EXPECT_FALSE(Enabled("btnBack"));
  EXPECT_FALSE(Enabled("btnNext"));
  EXPECT_FALSE(Enabled("btnCancel"));
  EXPECT_FALSE(Enabled("btnStart"));
  Screenshot("demo-page3-during-update.png");
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(form->FlashInProgress);

  ASSERT_TRUE(WaitUntil([&] { return form->FlashDone; }, 30000));
  EXPECT_EQ(form->lbVerifyData.Caption(), "Verifying flash data...OK");
  EXPECT_TRUE(Enabled("btnCancel"));
  Screenshot("demo-page3-after-update.png");

  // The product restarts, its lead leaves and comes back, and the window reads it again.
  ASSERT_TRUE(WaitUntil([&] { return port.Open() && LinkIdle() && Text("lbSoftwareVer") == "2.00"; }, 20000));
  ASSERT_TRUE(WaitUntil(
      [&] { return answerer.seen.back().text.rfind(kAdvice, 0) == 0 && !QApplication::activeModalWidget(); },
      10000));

  // Every box and dialog of the flow reached the user as a modal window, and nothing went wrong.
  std::vector<std::string> kinds;
  for (const auto& s : answerer.seen) {
    EXPECT_TRUE(s.modal) << s.className << " " << s.title;
    kinds.push_back(s.className);
    EXPECT_NE(s.icon, QMessageBox::Critical) << s.text;
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"QDialog", "QFileDialog", "QMessageBox"}));
  EXPECT_EQ(answerer.seen.back().icon, QMessageBox::Information);
  EXPECT_TRUE(window->close());
}

// The emulator dies half-way through writing: the lead's failure is told in a modal box, the
// update ends, and the program may be closed; nothing waits for ever.
TEST_F(DemoUpdate, AnEmulatorThatDiesMidUpdateLeavesTheProgramResponsive) {
  ModalAnswerer answerer;
  ChooseSampleWith(answerer);
  Start(answerer);
  ConnectAndOpenTheSample(false);
  Click("btnStart");
  auto* bar = Widget<QProgressBar>("progBar");
  ASSERT_TRUE(WaitUntil([&] { return bar->maximum() > 100 && bar->value() > 20; }, 15000));
  const std::size_t before = answerer.seen.size();
  ASSERT_EQ(::kill(session->ChildPid(), SIGKILL), 0);
  ASSERT_TRUE(WaitUntil([&] { return session->ChildExited(); }));
  ASSERT_TRUE(WaitUntil([&] { return answerer.seen.size() > before && !form->FlashInProgress; }, 10000));
  const auto& box = answerer.seen[before];
  EXPECT_TRUE(box.modal);
  EXPECT_EQ(box.icon, QMessageBox::Critical);
  EXPECT_EQ(box.text.rfind("Device read error\n", 0), 0);
  EXPECT_FALSE(form->FlashDone);
  EXPECT_FALSE(port.Open());
  ASSERT_TRUE(WaitUntil([&] { return QApplication::activeModalWidget() == nullptr; }));
  EXPECT_TRUE(Enabled("btnCancel"));
  EXPECT_TRUE(Enabled("btnBack"));
  // The dead port's product is withdrawn: a second Start cannot hang on a line that is gone.
  EXPECT_FALSE(Enabled("btnStart"));
  EXPECT_FALSE(form->ProductReady);
  EXPECT_TRUE(window->close());
}

}  // namespace
}  // namespace tarvex::test
