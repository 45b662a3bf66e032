// The main window against the product emulator over a real line: the serial port component and
// its device threads on one side of a pseudo-terminal, the emulator's line loop on the other,
// the port found through the ports folder, and time-outs on the real tick clock (or one that runs
// faster, where the wait would be long).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Main.h"
#include "devices/LinuxPorts.h"
#include "devices/LinuxUsbBackend.h"
#include "firmware/Acceptance.h"
#include "firmware/FlashImage.h"
#include "firmware/HexBuilder.h"
#include "flash/FlashCheck.h"
#include "link/ComsTasks.h"
#include "serial/ComPort.h"
#include "serial/PlainMessagePump.h"
#include "serial/Ticks.h"
#include "support/Fakes.h"
#include "support/FastClock.h"
#include "support/TempDir.h"
#include "tools/panel-sim/PanelSim.h"
#include "tools/panel-sim/SimLine.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using panelsim::TPanelSim;
using panelsim::TProductConfig;
using panelsim::TSimLine;
using panelsim::TSimOptions;
using std::string;
using std::vector;

constexpr int kCom = 5;
constexpr std::uint32_t kIdentityOffset = 0x200;

struct TranscriptLine {
  std::uint64_t ms;
  string tag;
  string body;
};

class OverTheLine : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetGlobals();
    CommsJob.reset();
    SetUiMessagePump(&pump);
    temp_ = std::make_unique<test::TempDir>("tarvex-line");
    root = temp_->Path();
    std::filesystem::create_directories(root / "ports");
    std::filesystem::create_directories(root / "logs");
    ports = std::make_unique<LinuxPorts>((root / "ports").string(), (root / "nodev").string(),
                                         (root / "nosys").string());
    port.Baud = 115200;
    port.AutoOpen = false;
    port.PromptForPort = false;
    port.DevicePath = [this](int n) { return ports->DevicePathFor(n); };
  }
  void TearDown() override {
    if (frm) frm->FormClose();
    frm.reset();
    port.SetOpen(false);
    StopPanel();
    CommsJob.reset();
    SetUiMessagePump(nullptr);
    SetTickClock(nullptr);
    temp_.reset();
    ResetGlobals();
  }

  void StartPanel(const TProductConfig& cfg, std::uint32_t baud = 0) {
    opts.Product = cfg;
    opts.PortsDir = (root / "ports").string();
    opts.Com = kCom;
    opts.Baud = baud;
    opts.ReenumerateMs = 300;
    sim = std::make_unique<TPanelSim>(cfg);
    sim->SetTranscript([this](std::uint64_t ms, std::string_view tag, std::string_view body) {
      std::lock_guard lock(transcriptLock);
      transcript.push_back({ms, string(tag), string(body)});
    });
    line = std::make_unique<TSimLine>(opts, *sim);
    string error;
    ASSERT_TRUE(line->Open(error)) << error;
    stop = false;
    lineThread = std::thread([this] { line->Run(stop); });
  }
  // Stops the emulator's line; its product may be examined afterwards.
  void StopPanel() {
    stop = true;
    if (lineThread.joinable()) lineThread.join();
    line.reset();
  }
  void MakeWindow(const vector<string>& switches = {}, bool watchUsb = false) {
    TPlatform p = fp.Get();
    p.Ports = ports.get();
    p.ComPort = &port;
    p.Pump = &pump;
    if (watchUsb) {
      const string dir = (root / "ports").string();
      p.UsbBackend = [dir] { return std::make_unique<LinuxUsbBackend>(dir); };
    }
    frm = std::make_unique<TfrmMain>(p, switches);
    frm->FormCreate();
    LogsFolder = (root / "logs").string() + "/";
  }
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (pump.PumpOne() == 0) pump.WaitForMessage(std::chrono::steady_clock::now() + 5ms);
    }
    return true;
  }
  // No job on the line (a given-up job leaves the state as it was), and no boot loader asked.
  [[nodiscard]] bool LinkIdle() const { return !CommsJob && !(frm && frm->BootProbe); }
  // Chooses the emulator's port, connects and waits until the product link is idle again.
  void Connect() {
    frm->RefreshPortList();
    const auto& items = frm->cbComPort.Items();
    const auto it = std::find(items.begin(), items.end(), "COM" + std::to_string(kCom));
    ASSERT_NE(it, items.end());
    frm->cbComPort.SetItemIndex(static_cast<int>(it - items.begin()));
    frm->btnConnectClick();
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(PumpUntil([this] { return LinkIdle(); }, 30000ms))
        << Dump();  // a bound, not a timing: loaded machines are slow
  }
  // A firmware file of two pages for product 120 at the given version, opened in the window.
  void OpenFile(std::uint8_t major = 2, std::uint8_t minor = 5) {
    vector<string> lines{test::ExtAddr(0x0800)};
    const ByteString id = TPanelSim::IdentityBlock(120, 0, major, minor, false);
    for (std::uint32_t a = 0; a < 2 * kPageSize; a += 16) {
      vector<std::uint8_t> rec(16);
      for (std::uint32_t i = 0; i < 16; ++i) {
        const std::uint32_t at = a + i;
        rec[i] = at >= kIdentityOffset && at < kIdentityOffset + id.size()
                     ? static_cast<std::uint8_t>(id[at - kIdentityOffset])
                     : static_cast<std::uint8_t>((at * 13 + at / kPageSize) & 0x7F);
      }
      lines.push_back(test::Data(static_cast<std::uint16_t>(a), rec));
    }
    lines.push_back(test::kEof);
    const auto file = root / "Firmware.hex";
    std::ofstream(file, std::ios::binary) << test::Lines(lines);
    fp.dialog.answer = file.string();
    frm->btnOpenHexClick();
    ASSERT_TRUE(FileReady);
  }
  // The product on the line, the window connected to it, the file opened and Start pressed from
  // the update page, as the user does.
  void StartUpdate(const TProductConfig& cfg, const vector<string>& switches = {}, bool watchUsb = false) {
    StartPanel(cfg);
    MakeWindow(switches, watchUsb);
    Connect();
    OpenFileAndStart();
  }
  bool UpdateDone() {
    return PumpUntil([this] { return frm->FlashDone; }, 20000ms);
  }
  // Opens the file and starts the update from the update page, as the user does.
  void OpenFileAndStart(std::uint8_t major = 2, std::uint8_t minor = 5) {
    OpenFile(major, minor);
    frm->SetActivePageIndex(2);
    frm->UpdateWizard();
    log.lines.clear();
    frm->btnStartClick();
  }
  [[nodiscard]] vector<TranscriptLine> Transcript() {
    std::lock_guard lock(transcriptLock);
    return transcript;
  }
  [[nodiscard]] int Received(const string& hexFrame) {
    const auto t = Transcript();
    return static_cast<int>(std::count_if(
        t.begin(), t.end(), [&](const TranscriptLine& l) { return l.tag == "RX" && l.body == hexFrame; }));
  }
  [[nodiscard]] int ReceivedStartingWith(const string& hexPrefix) {
    const auto t = Transcript();
    return static_cast<int>(std::count_if(t.begin(), t.end(), [&](const TranscriptLine& l) {
      return l.tag == "RX" && l.body.rfind(hexPrefix, 0) == 0;
    }));
  }
  [[nodiscard]] bool FlashMatchesFile() const { return test::FlashMatchesFile(sim->Flash()); }
  // What happened, for a failure message.
  [[nodiscard]] string Dump() {
    string out = "\nUSBCount " + std::to_string(frm ? frm->USBCount : -1) + " reconnect " +
                 std::to_string(frm ? frm->ReconnectToProduct : -1) + " open " + std::to_string(port.Open()) +
                 "\nlog:";
    for (const auto& l : log.lines) out += "\n  " + l;
    out += "\nboxes:";
    for (const auto& b : fp.boxes.Texts()) out += "\n  " + b;
    out += "\nline:";
    for (const auto& l : Transcript())
      out += "\n  " + std::to_string(l.ms) + " " + l.tag + " " + l.body.substr(0, 60);
    return out;
  }
  [[nodiscard]] vector<string> BootLog() const {
    auto it = std::find(log.lines.begin(), log.lines.end(), "Connected to Target");
    return {it, log.lines.end()};
  }

  TPlainMessagePump pump;
  test::FakePlatform fp;
  test::DebugCapture log;
  std::filesystem::path root;
  std::unique_ptr<test::TempDir> temp_;
  std::unique_ptr<LinuxPorts> ports;
  TSerComPort port;
  TSimOptions opts;
  std::unique_ptr<TPanelSim> sim;
  std::unique_ptr<TSimLine> line;
  std::thread lineThread;
  std::atomic<bool> stop{false};
  std::mutex transcriptLock;
  vector<TranscriptLine> transcript;
  std::unique_ptr<TfrmMain> frm;
};

TProductConfig Panel() {
  TProductConfig cfg;
  cfg.ProductCode = 120;
  cfg.Major = 1;
  cfg.Minor = 0;
  cfg.SerialNo = "PNL-000123456789";
  return cfg;
}

// ---- Identification ------------------------------------------------------------------------------

TEST_F(OverTheLine, APanelIsIdentifiedWithItsSerialNumber) {
  StartPanel(Panel());
  MakeWindow();
  Connect();
  EXPECT_TRUE(frm->ProductReady);
  EXPECT_EQ(ProductInfo.ProductCode, 120);
  EXPECT_EQ(frm->lbSoftwareVer.Caption(), "1.00");
  EXPECT_EQ(frm->lbSerialNo.Caption(), "PNL-000123456789");
  EXPECT_FALSE(frm->lbProductType.Caption().empty());
  EXPECT_TRUE(fp.boxes.shown.empty()) << fp.boxes.Texts()[0];
}

TEST_F(OverTheLine, AKeypadIsIdentifiedFromTheShortLayout) {
  TProductConfig cfg;
  cfg.ProductCode = 1;
  cfg.Major = 2;
  cfg.Minor = 3;
  StartPanel(cfg);
  MakeWindow();
  Connect();
  EXPECT_TRUE(frm->ProductReady);
  EXPECT_EQ(ProductInfo.ProductCode, 1);
  EXPECT_EQ(frm->lbSoftwareVer.Caption(), "2.03");
  // A keypad is asked nothing beyond its identity.
  EXPECT_EQ(ReceivedStartingWith("14 00 62 02"), 0);
}

TEST_F(OverTheLine, TheSecondAccessCodeIsTriedAfterError3) {
  TProductConfig cfg = Panel();
  cfg.NeedSecondCode = true;
  StartPanel(cfg);
  MakeWindow();
  Connect();
  EXPECT_TRUE(frm->ProductReady);
  EXPECT_TRUE(fp.boxes.shown.empty());
}

TEST_F(OverTheLine, RefusalsAndLocksAreToldAndTheProductIsNotReady) {
  struct Case {
    const char* what;
    std::function<void(TProductConfig&)> set;
    const char* text;
  };
  const vector<Case> cases{
      {"access denied", [](TProductConfig& c) { c.Faults.AccessError = 4; }, "Access with product is denied"},
      {"NVM locked", [](TProductConfig& c) { c.NvmLocked = true; }, "NVM is locked"},
      {"too old",
       [](TProductConfig& c) {
         c.Major = 0;
         c.Minor = 50;
       },
       "or above in order to support"},
      {"keypad 1.09",
       [](TProductConfig& c) {
         c.ProductCode = 1;
         c.Major = 1;
         c.Minor = 9;
       },
       "Version 1.09 in the Keypad cannot be flash updated"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TProductConfig cfg = Panel();
    c.set(cfg);
    StartPanel(cfg);
    MakeWindow();
    Connect();
    EXPECT_FALSE(frm->ProductReady);
    const auto texts = fp.boxes.Texts();
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [&](const string& t) {
      return t.find(c.text) != string::npos;
    })) << (texts.empty() ? string("no box") : texts[0]);
    frm->FormClose();
    frm.reset();
    port.SetOpen(false);
    StopPanel();
    fp.boxes.shown.clear();
  }
}

TEST_F(OverTheLine, NotReadyAnswersAreRepeatedUntilTheIdentityComes) {
  TProductConfig cfg = Panel();
  cfg.Faults.NotReadyCount = 2;
  StartPanel(cfg);
  MakeWindow();
  Connect();
  EXPECT_TRUE(frm->ProductReady);
  EXPECT_EQ(Received("0C 00 02 00 01 00 01 00 00 00 BE CB"), 3);
}

TEST_F(OverTheLine, ThreeBadChecksumsEndTheJob) {
  TProductConfig cfg = Panel();
  cfg.Faults.BadCrcFrames = 3;
  StartPanel(cfg);
  MakeWindow();
  Connect();
  EXPECT_FALSE(frm->ProductReady);
  EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), "Product link: 3 bad replies, job aborted"),
            log.lines.end());
}

TEST_F(OverTheLine, ReconnectingKeepsTheFileOnlyForTheSameProductCode) {
  StartPanel(Panel());
  MakeWindow();
  Connect();
  OpenFile();
  Connect();
  EXPECT_TRUE(FileReady);
  port.SetOpen(false);
  StopPanel();
  TProductConfig other = Panel();
  other.ProductCode = 121;
  StartPanel(other);
  Connect();
  EXPECT_EQ(ProductInfo.ProductCode, 121);
  EXPECT_FALSE(FileReady);
}

// The product on the line now is the one that counts: nothing of an earlier one's readiness, or
// of its file's acceptance, carries over to it.
TEST_F(OverTheLine, AnotherProductTakesNothingFromTheOneBefore) {
  StartPanel(Panel());
  MakeWindow();
  Connect();
  OpenFile();
  ASSERT_TRUE(frm->ProductReady);
  const auto another = [this](const TProductConfig& cfg) {
    port.SetOpen(false);
    StopPanel();
    fp.boxes.shown.clear();
    StartPanel(cfg);
    Connect();
  };
  // Its identity comes, its NVM lock read fails: it must not be written with the first one's file.
  TProductConfig refusing = Panel();
  refusing.ProductCode = 30;
  refusing.Faults.RefuseRequest = 3140;
  another(refusing);
  EXPECT_EQ(fp.boxes.Texts(), vector<string>{"Command not supported"});
  EXPECT_FALSE(frm->ProductReady);
  EXPECT_EQ(frm->lbhdrProduct.Caption(), "");
  frm->SetActivePageIndex(2);
  frm->UpdateWizard();
  EXPECT_FALSE(frm->btnStart.Enabled());
  const int accessRequests = ReceivedStartingWith("10 00 01 00");
  frm->btnStartClick();
  EXPECT_FALSE(frm->FlashInProgress);
  EXPECT_EQ(ReceivedStartingWith("10 00 01 00"), accessRequests);
  // The same product code on another maker's microcontroller: the file is judged again.
  frm->SetActivePageIndex(0);
  TProductConfig gd = Panel();
  gd.Micro = 'G';
  another(gd);
  EXPECT_TRUE(frm->ProductReady);
  EXPECT_FALSE(FileReady);
  EXPECT_EQ(fp.boxes.Texts(), vector<string>{kMsgWrongMicro});
}

// A pulled lead mid-update: the update ends, Start is not offered on the dead port, and the
// window may be closed.
TEST_F(OverTheLine, APulledLeadEndsTheUpdateAndLeavesNothingToHangOn) {
  TProductConfig cfg = Panel();
  cfg.Faults.UnplugAfter = 12;
  opts.ReplugMs = 60000;
  StartUpdate(cfg);
  ASSERT_TRUE(PumpUntil([this] { return !frm->FlashInProgress; }, 8000ms)) << Dump();
  EXPECT_FALSE(frm->FlashDone);
  ASSERT_FALSE(fp.boxes.shown.empty());
  EXPECT_EQ(fp.boxes.shown.back().first, TMsgKind::mkError);
  EXPECT_FALSE(frm->btnStart.Enabled());
  frm->btnStartClick();
  EXPECT_FALSE(frm->FlashInProgress);
  EXPECT_TRUE(frm->FormCloseQuery());
  EXPECT_TRUE(frm->btnCancel.Enabled());
}

// Slow: the product link is silent for its three transmissions before the sync finds the boot loader.
TEST_F(OverTheLine, AnUpdateCutShortByAPulledLeadIsFinishedFromTheBootLoader) {
  TProductConfig cfg = Panel();
  cfg.Faults.UnplugAfter = 12;  // during the write
  opts.ReplugMs = 300;
  StartUpdate(cfg, {}, true);
  ASSERT_TRUE(PumpUntil([this] { return !frm->FlashInProgress; }, 8000ms)) << Dump();
  ASSERT_FALSE(frm->FlashDone);
  ASSERT_TRUE(frm->Interrupted.has_value());
  EXPECT_EQ(frm->Interrupted->Step, "Writing new flash data...");
  // The lead is back, the product restarted in its boot loader: Connect finds it and offers.
  ASSERT_TRUE(
      PumpUntil([this] { return std::filesystem::exists(root / "ports" / ("COM" + std::to_string(kCom))); }));
  fp.boxes.shown.clear();
  Connect();
  ASSERT_TRUE(frm->ResumeUpdate) << Dump();
  ASSERT_EQ(fp.boxes.shown.size(), 1u);
  EXPECT_EQ(fp.boxes.Texts()[0].rfind("The update of the PX-22 (serial number", 0), 0u)
      << fp.boxes.Texts()[0];
  EXPECT_TRUE(frm->ProductReady);
  EXPECT_EQ(frm->OpenDlgFileName, frm->Interrupted->File);
  // Start finishes it; the product comes back over the product link with the new version.
  OpenFileAndStart();
  ASSERT_TRUE(UpdateDone()) << Dump();
  EXPECT_EQ(frm->lbVerifyData.Caption(), "Verifying flash data...OK");
  EXPECT_FALSE(frm->Interrupted.has_value());
  ASSERT_TRUE(PumpUntil([this] { return !frm->ReconnectToProduct && port.Open() && LinkIdle(); }, 20000ms))
      << Dump();
  EXPECT_EQ(frm->lbSoftwareVer.Caption(), "2.05");
  StopPanel();
  EXPECT_TRUE(FlashMatchesFile());
}

// Slow: the product link's three transmissions of 36 ticks each, then one boot loader sync of 18.
TEST_F(OverTheLine, AProductThatNeverAnswersIsGivenUpAfterThreeTransmissions) {
  TProductConfig cfg = Panel();
  cfg.Faults.Silent = true;
  StartPanel(cfg);
  MakeWindow();
  const auto start = std::chrono::steady_clock::now();
  Connect();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GT(took, 6500ms);
  EXPECT_LT(took, 8500ms);
  EXPECT_FALSE(frm->ProductReady);
  EXPECT_EQ(ReceivedStartingWith("10 00 01 00"), 3);
  ASSERT_EQ(fp.boxes.shown.size(), 1u);
  EXPECT_EQ(fp.boxes.shown[0].second.rfind("No product answered on COM5.", 0), 0u);
}

// ---- Updates -------------------------------------------------------------------------------------

TEST_F(OverTheLine, AWholeUpdateWritesTheFileAndRunsTheNewFirmware) {
  StartPanel(Panel());
  MakeWindow();
  Connect();
  vector<std::pair<int, int>> bars;
  frm->VM.AddObserver([&](const TControl& c) {
    if (&c != &frm->progBar) return;
    if (bars.empty() || bars.back().first != c.Max()) bars.emplace_back(c.Max(), 0);
    bars.back().second = std::max(bars.back().second, c.Position());
  });
  OpenFileAndStart();
  ASSERT_TRUE(UpdateDone()) << Dump();
  vector<string> expected{"Connected to Target", "ERASE_CMD: ACK", "Page 0 Erased",
                          "ERASE_CMD: ACK",      "Page 1 Erased",  "Selected Pages Erased"};
  for (std::uint32_t a = kFlashBase; a < kFlashBase + 2 * kPageSize; a += 256)
    expected.insert(expected.end(), {"WRITE_CMD: ACK", Format("Writing Data 256 Bytes @ address: %.4X", a),
                                     "Written 256 bytes"});
  expected.push_back("All Data Written to device");
  for (std::uint32_t a = kFlashBase; a < kFlashBase + 2 * kPageSize; a += 256)
    expected.insert(expected.end(),
                    {"ACK from Read Command", Format("Reading Data 256 Bytes @ address: %.4X", a),
                     "Read Data: 256 bytes"});
  expected.insert(expected.end(), {"All Data Read from Device", "GO_CMD: ACK", "Target running"});
  const vector<string> got = BootLog();
  const auto at = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
  EXPECT_TRUE(at.first == got.end() && at.second == expected.end())
      << "the boot log differs at line " << (at.first - got.begin()) << ": \""
      << (at.first != got.end() ? *at.first : string("<end>")) << "\" where \""
      << (at.second != expected.end() ? *at.second : string("<end>")) << "\" belongs; " << got.size()
      << " lines, " << expected.size() << " expected" << Dump();
  EXPECT_EQ(bars, (vector<std::pair<int, int>>{{2, 2}, {16, 16}}));
  EXPECT_EQ(frm->lbVerifyData.Caption(), "Verifying flash data...OK");
  EXPECT_TRUE(PumpUntil([this] { return !port.Open(); }));
  EXPECT_TRUE(fp.boxes.shown.empty());
  // The boot loader heard the sync within a few ticks of the entry reply.
  const auto t = Transcript();
  const auto entry = std::find_if(
      t.begin(), t.end(), [](const TranscriptLine& l) { return l.body == "entering the boot loader"; });
  const auto sync = std::find_if(t.begin(), t.end(),
                                 [](const TranscriptLine& l) { return l.tag == "RX" && l.body == "7F"; });
  ASSERT_NE(entry, t.end());
  ASSERT_NE(sync, t.end());
  EXPECT_GE(sync->ms - entry->ms, 200u);
  EXPECT_LE(sync->ms - entry->ms, 3000u);  // a loaded machine may be late, never early
  StopPanel();
  EXPECT_TRUE(FlashMatchesFile());
}

TEST_F(OverTheLine, AFlippedByteFailsTheVerifyButTheTargetStillRuns) {
  TProductConfig cfg = Panel();
  cfg.Faults.FlipAddress = 0x08000900;
  StartUpdate(cfg);
  ASSERT_TRUE(UpdateDone()) << Dump();
  EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), "Target running"), log.lines.end());
  EXPECT_EQ(frm->lbVerifyData.Caption(), "Verifying flash data...FAILED!");
  std::ifstream in(LogsFolder + "Verification Data.txt", std::ios::binary);
  const string report{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(report.substr(0, 14), "Addr: 8000900 ");
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1);
  // Told as a failure: a box naming the report, and the page's line saying so.
  EXPECT_EQ(frm->VerifyResult, TVerifyResult::vrFailed);
  const auto texts = fp.boxes.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find(LogsFolder + "Verification Data.txt"), string::npos);
  EXPECT_NE(frm->lbInstruction.Caption().find("FAILED"), string::npos);
}

TEST_F(OverTheLine, WithoutVerifyNothingIsReadBack) {
  StartUpdate(Panel(), {"/NV"});
  ASSERT_TRUE(UpdateDone()) << Dump();
  EXPECT_EQ(ReceivedStartingWith("11 EE"), 0);
  EXPECT_EQ(ReceivedStartingWith("31 CE"), 16);
  EXPECT_EQ(frm->lbVerifyData.Caption(), "Verification not performed!");
  ASSERT_TRUE(PumpUntil([this] { return !port.Open(); }));
  StopPanel();
  EXPECT_TRUE(FlashMatchesFile());
}

// A boot loader that NACKs the sync has synchronised already: the update goes on.
TEST_F(OverTheLine, ANackedSyncIsAnAnswer) {
  TProductConfig cfg = Panel();
  cfg.Faults.NackCommand = 0x7F;
  cfg.Faults.NackCount = 1;
  StartUpdate(cfg);
  ASSERT_TRUE(UpdateDone()) << Dump();
  EXPECT_TRUE(fp.boxes.shown.empty());
  ASSERT_TRUE(PumpUntil([this] { return !port.Open(); }));
  StopPanel();
  EXPECT_TRUE(FlashMatchesFile());
}

TEST_F(OverTheLine, NacksAreRepeatedFourTimesAndTheFifthGivesUp) {
  TProductConfig cfg = Panel();
  cfg.Faults.NackCommand = 0x31;
  cfg.Faults.NackCount = 4;
  StartUpdate(cfg);
  ASSERT_TRUE(UpdateDone()) << Dump();
  EXPECT_TRUE(fp.boxes.shown.empty());
  // The port closed after GO finishes closing once the reply handler has returned.
  ASSERT_TRUE(PumpUntil([this] { return !port.Open(); }));
  StopPanel();
  EXPECT_TRUE(FlashMatchesFile());

  TProductConfig worse = Panel();
  worse.Faults.NackCommand = 0x31;
  worse.Faults.NackCount = 5;
  port.SetOpen(false);
  frm->FormClose();
  frm.reset();
  StartUpdate(worse);
  ASSERT_TRUE(PumpUntil([this] { return !fp.boxes.shown.empty(); }, 20000ms)) << Dump();
  EXPECT_EQ(fp.boxes.Texts().back(), "NACK Response from Target");
  EXPECT_TRUE(PumpUntil([this] { return !port.Open(); }));
  EXPECT_FALSE(frm->FlashDone);
}

TEST_F(OverTheLine, GarbageAnsweringTheSyncIsToldAndTheSyncRepeated) {
  TProductConfig cfg = Panel();
  cfg.Faults.SyncGarbage = 1;
  StartUpdate(cfg);
  ASSERT_TRUE(UpdateDone()) << Dump();
  EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), "Invalid Response from Target"), log.lines.end());
  EXPECT_EQ(Received("7F"), 2);
}

// The boot loader's silence on a clock twenty times faster: five transmissions of 90 ticks.
TEST_F(OverTheLine, ABootLoaderThatFallsSilentIsGivenUpAfterFiveTransmissions) {
  TProductConfig cfg = Panel();
  cfg.Faults.SilentCommand = 0x44;
  cfg.Faults.SilentCount = 100;
  StartPanel(cfg);
  MakeWindow();
  Connect();
  OpenFile();
  test::FastClock fast(20);
  SetTickClock(&fast);
  frm->btnStartClick();
  ASSERT_TRUE(PumpUntil([this] { return !fp.boxes.shown.empty(); }, 20000ms)) << Dump();
  SetTickClock(nullptr);
  EXPECT_EQ(fp.boxes.Texts().back(), "No bootloader response from product.");
  EXPECT_EQ(Received("44 BB"), 5);
  // The port stays open for the user to try again; nothing more is sent.
  EXPECT_TRUE(port.Open());
  EXPECT_FALSE(frm->FlashInProgress);
}

TEST_F(OverTheLine, ManualModeRunsOneStepPerButton) {
  StartUpdate(Panel(), {"/M"});
  ASSERT_TRUE(PumpUntil([this] { return frm->btnSelFlash.Enabled(); })) << Dump();
  EXPECT_EQ(Received("7F"), 0);  // nothing until the sync button
  const vector<string> ends{"Connected to Target", "Selected Pages Erased", "All Data Written to device",
                            "All Data Read from Device", "Target running"};
  for (int tag = 1; tag <= 5; ++tag) {
    SCOPED_TRACE(tag);
    frm->btnSelFlashClick(tag);
    ASSERT_TRUE(PumpUntil([&] { return !log.lines.empty() && log.lines.back() == ends[tag - 1]; })) << Dump();
  }
  EXPECT_EQ(frm->lbVerifyData.Caption(), "Verifying flash data...OK");
  ASSERT_TRUE(PumpUntil([this] { return !port.Open(); }));
  StopPanel();
  EXPECT_TRUE(FlashMatchesFile());
}

// After GO the product leaves the bus and comes back twice; the window reconnects by itself.
TEST_F(OverTheLine, AfterAnUpdateTheWindowReconnectsAndShowsTheNewVersion) {
  StartUpdate(Panel(), {}, true);
  ASSERT_TRUE(UpdateDone()) << Dump();
  ASSERT_TRUE(PumpUntil([this] { return !frm->ReconnectToProduct && port.Open() && LinkIdle(); }, 20000ms))
      << Dump();
  EXPECT_EQ(frm->lbSoftwareVer.Caption(), "2.05");
  // One re-enumeration, as a real product makes: its USB device and its port come back.
  const auto t = Transcript();
  EXPECT_EQ(
      std::count_if(t.begin(), t.end(), [](const TranscriptLine& l) { return l.body == "line: lead out"; }),
      1);
  ASSERT_TRUE(PumpUntil([this] { return !fp.boxes.shown.empty(); }, 5000ms));
  EXPECT_EQ(fp.boxes.Texts().back().substr(0, 40), "It is highly recommended after a firmwar");
}

}  // namespace
}  // namespace tarvex
