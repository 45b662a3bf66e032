// Whole updates against the product emulator: the window identifies the product over the product
// link, Start switches it into its boot loader, and the boot loader steps run to GO. The emulator
// answers every frame the window writes to the in-memory port; time-outs are expired by hand, so
// nothing here waits for the line's clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/Main.h"
#include "firmware/FlashImage.h"
#include "flash/FlashCheck.h"
#include "link/ComsTasks.h"
#include "serial/Ticks.h"
#include "support/FakeComPort.h"
#include "support/Fakes.h"
#include "support/SteppingClock.h"
#include "support/TempDir.h"
#include "support/WindowFixture.h"
#include "tools/panel-sim/PanelSim.h"

namespace tarvex {
namespace {

using panelsim::TPanelSim;
using panelsim::TProductConfig;
using panelsim::TSimAction;
using std::string;
using std::vector;

constexpr std::size_t kIdentityOffset = 0x200;

class SteppingClock : public test::SteppingClock {
 public:
  SteppingClock() : test::SteppingClock(1000, TickLength) {}
};

class FlashEndToEnd : public test::WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    SetTickClock(&clock);
    temp_ = std::make_unique<test::TempDir>("tarvex-e2e");
    logs = temp_->Path();
  }
  void TearDown() override {
    WindowFixture::TearDown();
    temp_.reset();
  }

  // A panel of product code 120 running firmware 1.00, identified by the window.
  void Connect(TProductConfig cfg = {}) {
    sim = std::make_unique<TPanelSim>(cfg);
    frm = std::make_unique<TfrmMain>(WiredPlatform(), ManualMode ? vector<string>{"/M"} : vector<string>{});
    LogsFolder = logs.string() + "/";
    FileReady = false;  // a new window has loaded no file
    Reopen();
    Identify();
    ASSERT_TRUE(frm->ProductReady);
    frm->SetActivePageIndex(2);
    frm->UpdateWizard();
  }
  void Reopen() {
    port.SetOpen(true);
    frm->TxTimer = port.AddTimerTrigger();
    frm->PortOpen = true;
    frm->ComsState = TComsState::csPortOpen;
    BootloaderMode = false;
  }
  void Identify() {
    BuildJob(kIdentityJob, TJobType::jtAccess, false, false);
    AddTask(TTaskType::ttGetAccess, 1, 1, 1, TDataType::dtNil);
    frm->SendNextTasks();
    EXPECT_EQ(Run(), 0);
  }
  // A file of two pages: page 0 with firmware 2.05's identity block, page 1 a pattern.
  void LoadFile(std::uint8_t major = 2, std::uint8_t minor = 5) {
    for (std::uint32_t p = 0; p < 2; ++p) {
      for (std::uint32_t o = 0; o < kPageSize; ++o)
        FileMemory[p].Data[o] = static_cast<std::uint8_t>((o * 13 + p) & 0x7F);
      FileMemory[p].InUse = true;
    }
    const ByteString id = TPanelSim::IdentityBlock(120, 0, major, minor, false);
    std::copy(id.begin(), id.end(), FileMemory[0].Data + kIdentityOffset);
    FileReady = true;
    frm->UpdateWizard();
  }

  // Until neither side has anything left: posted messages first (they are handled long before a
  // reply could arrive), then the emulator's answer to each frame, then an expiring reply timer.
  int Run() {
    int timeouts = 0;
    for (int step = 0; step < 100000; ++step) {
      if (pump.PumpOne() != 0) continue;
      if (!port.written.empty()) {
        const string frame = port.written.front();
        port.written.erase(port.written.begin());
        sent.push_back(frame);
        nowMs += 20;
        for (const TSimAction& a : sim->Feed(frame, nowMs)) {
          if (a.What == TSimAction::Kind::Send && port.Open()) port.Receive(a.Bytes);
          if (a.What == TSimAction::Kind::Reenumerate) ++reenumerations;
        }
        continue;
      }
      if (port.Open() && frm->TxTimer != 0 && port.TimerActive(frm->TxTimer)) {
        timeoutPeriods.push_back(port.TimerPeriod(frm->TxTimer));
        port.Expire(frm->TxTimer);
        ++timeouts;
        continue;
      }
      return timeouts;
    }
    ADD_FAILURE() << "the exchange did not settle";
    return timeouts;
  }
  void Start() {
    log.lines.clear();
    sent.clear();
    frm->btnStartClick();
  }
  [[nodiscard]] int Sent(const string& frame) const {
    return static_cast<int>(std::count(sent.begin(), sent.end(), frame));
  }
  [[nodiscard]] bool FlashMatchesFile() const { return test::FlashMatchesFile(sim->Flash()); }
  // The boot loader part of the log, from the answered sync on.
  [[nodiscard]] vector<string> BootLog() const {
    auto it = std::find(log.lines.begin(), log.lines.end(), "Connected to Target");
    return {it, log.lines.end()};
  }
  static vector<string> ExpectedLog(bool verify) {
    vector<string> l{"Connected to Target", "ERASE_CMD: ACK", "Page 0 Erased",
                     "ERASE_CMD: ACK",      "Page 1 Erased",  "Selected Pages Erased"};
    for (std::uint32_t a = kFlashBase; a < kFlashBase + 2 * kPageSize; a += 256) {
      l.insert(l.end(),
               {"WRITE_CMD: ACK", Format("Writing Data 256 Bytes @ address: %.4X", a), "Written 256 bytes"});
    }
    l.push_back("All Data Written to device");
    for (std::uint32_t a = kFlashBase; verify && a < kFlashBase + 2 * kPageSize; a += 256) {
      l.insert(l.end(), {"ACK from Read Command", Format("Reading Data 256 Bytes @ address: %.4X", a),
                         "Read Data: 256 bytes"});
    }
    if (verify) l.push_back("All Data Read from Device");
    l.insert(l.end(), {"GO_CMD: ACK", "Target running"});
    return l;
  }
  void ExpectRunning() {
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), "Target running"), log.lines.end());
    EXPECT_TRUE(frm->FlashDone);
    EXPECT_TRUE(frm->ReconnectToProduct);
    EXPECT_EQ(frm->USBCount, 0);
    EXPECT_FALSE(frm->FlashInProgress);
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(sim->InBootloader());
  }

  SteppingClock clock;
  test::DebugCapture log;
  std::unique_ptr<TPanelSim> sim;
  std::filesystem::path logs;
  std::unique_ptr<test::TempDir> temp_;
  std::uint64_t nowMs = 0;
  vector<string> sent;
  vector<std::int32_t> timeoutPeriods;
  int reenumerations = 0;
};

TEST_F(FlashEndToEnd, FullUpdateRunsTheNewFirmware) {
  Connect();
  EXPECT_EQ(ProductInfo.VersionNumber(), 100);
  LoadFile();
  vector<std::pair<int, int>> bars;  // (maximum, highest position) of each run of the bar
  frm->VM.AddObserver([&](const TControl& c) {
    if (&c != &frm->progBar) return;
    if (bars.empty() || bars.back().first != c.Max()) bars.emplace_back(c.Max(), 0);
    bars.back().second = std::max(bars.back().second, c.Position());
  });
  Start();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BootLog(), ExpectedLog(true));
  EXPECT_EQ(bars, (vector<std::pair<int, int>>{{2, 2}, {16, 16}}));
  EXPECT_EQ(Sent("\x31\xCE"), 16);
  EXPECT_EQ(Sent("\x11\xEE"), 16);
  EXPECT_TRUE(FlashMatchesFile());
  ExpectRunning();
  EXPECT_EQ(frm->lbVerifyData.Caption(), "Verifying flash data...OK");
  EXPECT_FALSE(std::filesystem::exists(LogsFolder + "Verification Data.txt"));
  EXPECT_TRUE(fp.boxes.shown.empty());
  EXPECT_GE(reenumerations, 1);

  // The lead comes back: the product now reports the new firmware.
  Reopen();
  Identify();
  EXPECT_EQ(ProductInfo.VersionNumber(), 205);
  EXPECT_TRUE(frm->ProductReady);
}

TEST_F(FlashEndToEnd, FailedVerifyStillRunsTheTargetAndWritesTheReport) {
  TProductConfig cfg;
  cfg.Faults.FlipAddress = 0x08000900;
  Connect(cfg);
  LoadFile();
  Start();
  EXPECT_EQ(Run(), 0);
  ExpectRunning();
  EXPECT_EQ(frm->lbVerifyData.Caption(), "Verifying flash data...FAILED!");
  EXPECT_EQ(frm->imgVerify.Picture(), "Icon_Error");
  std::ifstream in(LogsFolder + "Verification Data.txt", std::ios::binary);
  const string report{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::uint8_t file = FileMemory[1].Data[0x100];
  const auto device = static_cast<std::uint8_t>(sim->Flash()[0x900]);
  ASSERT_NE(file, device) << "the emulator's flip did not take";
  // Exactly the flipped byte, whatever value it took in the emulator's flash or on the way back.
  ASSERT_FALSE(report.empty());
  EXPECT_EQ(report.substr(0, 14), "Addr: 8000900 ");
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1);
  EXPECT_NE(report.find(Format("File Memory: %.2X\r\n", file)), string::npos);
}

TEST_F(FlashEndToEnd, NoVerifySendsNoRead) {
  NoVerify = true;
  Connect();
  LoadFile();
  Start();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BootLog(), ExpectedLog(false));
  EXPECT_EQ(Sent("\x11\xEE"), 0);
  EXPECT_EQ(frm->lbVerifyData.Caption(), "Verification not performed!");
  EXPECT_TRUE(FlashMatchesFile());
  ExpectRunning();
}

TEST_F(FlashEndToEnd, FourNacksGoOnAndAFifthGivesUp) {
  TProductConfig cfg;
  cfg.Faults.NackCommand = 0x31;
  cfg.Faults.NackCount = 4;
  Connect(cfg);
  LoadFile();
  Start();
  EXPECT_EQ(Run(), 0);
  ExpectRunning();
  EXPECT_TRUE(FlashMatchesFile());

  cfg.Faults.NackCount = 5;
  port.SetOpen(false);
  Connect(cfg);
  LoadFile();
  Start();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(fp.boxes.Texts(), vector<string>{"NACK Response from Target"});
  EXPECT_FALSE(port.Open());
  EXPECT_FALSE(frm->FlashInProgress);
  EXPECT_FALSE(frm->FlashDone);
  EXPECT_TRUE(frm->btnCancel.Enabled());
  EXPECT_EQ(Sent("\x21\xDE"), 0);
}

TEST_F(FlashEndToEnd, SilenceGivesUpAfterFiveTransmissionsOf90Ticks) {
  TProductConfig cfg;
  cfg.Faults.SilentCommand = 0x44;
  cfg.Faults.SilentCount = 5;
  Connect(cfg);
  LoadFile();
  Start();
  timeoutPeriods.clear();
  EXPECT_EQ(Run(), 5);
  EXPECT_EQ(timeoutPeriods, vector<std::int32_t>(5, 90));
  EXPECT_EQ(Sent("\x44\xBB"), 5);
  EXPECT_EQ(fp.boxes.Texts(), vector<string>{"No bootloader response from product."});
  EXPECT_FALSE(frm->FlashInProgress);
  EXPECT_TRUE(frm->btnStart.Enabled());
  EXPECT_TRUE(port.Open());
}

TEST_F(FlashEndToEnd, GarbageOnTheSyncIsLoggedAndTheSyncRepeated) {
  TProductConfig cfg;
  cfg.Faults.SyncGarbage = 1;
  Connect(cfg);
  LoadFile();
  Start();
  timeoutPeriods.clear();
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(timeoutPeriods, vector<std::int32_t>{18});
  EXPECT_EQ(Sent("\x7F"), 2);
  const auto it = std::find(log.lines.begin(), log.lines.end(), "Invalid Response from Target");
  ASSERT_NE(it, log.lines.end());
  EXPECT_EQ(*(it + 1), "Connected to Target");
  ExpectRunning();
}

TEST_F(FlashEndToEnd, ManualModeStepByStep) {
  ManualMode = true;
  Connect();
  LoadFile();
  Start();
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(sim->InBootloader());
  EXPECT_EQ(Sent("\x7F"), 0);  // nothing until the sync button
  for (int tag = 1; tag <= 5; ++tag) {
    sent.clear();
    frm->btnSelFlashClick(tag);
    EXPECT_FALSE(port.written.empty()) << tag;
    EXPECT_EQ(Run(), 0);
  }
  EXPECT_EQ(BootLog(), ExpectedLog(true));
  EXPECT_TRUE(FlashMatchesFile());
  ExpectRunning();
}

}  // namespace
}  // namespace tarvex
