// The product link through the main window: frames on the line, replies, identity, job ends.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/Main.h"
#include "core/ProductCatalogue.h"
#include "firmware/FlashImage.h"
#include "link/AccessCodes.h"
#include "link/ComsTasks.h"
#include "link/Crc.h"
#include "link/Frame.h"
#include "serial/Ticks.h"
#include "support/Bytes.h"
#include "support/FakeComPort.h"
#include "support/Fakes.h"
#include "support/SteppingClock.h"
#include "support/WindowFixture.h"

namespace tarvex {
namespace {

using test::B;

ByteString Le(std::uint16_t v) {
  return B({v & 0xFF, v >> 8});
}

// One reply record: code, 2 bytes not read, ID length, data length, data.
ByteString Rec(std::uint16_t code, std::uint16_t idLength, const ByteString& data) {
  return Le(code) + Le(1) + Le(idLength) + Le(static_cast<std::uint16_t>(data.size())) + data;
}

ByteString Framed(ByteString payload) {
  EXPECT_TRUE(FrameAddCrc(payload));
  return payload;
}

ByteString AccessOk() {
  return Framed(Rec(1, 1, ""));
}
ByteString Error(std::uint16_t number) {
  return Framed(Rec(99, 1, Le(number)));
}

// The identity reply's data: short layout for peripheral products, long for panels.
ByteString IdentityData(std::uint8_t code, std::uint8_t major, std::uint8_t minor, char micro = 'G',
                        std::uint8_t variant = 0) {
  const bool shortLayout = IsPeripheralProduct(code);
  ByteString d(shortLayout ? 18 : 34, '\0');
  d[0] = static_cast<char>(major);
  d[1] = static_cast<char>(minor);
  d[2] = micro;
  d[4] = static_cast<char>(variant);
  d[5] = static_cast<char>(code);
  d.replace(shortLayout ? 6 : 14, 12, B({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  // Bytes of the unique ID must stand above 0x20 to survive trimming at the ends.
  d[shortLayout ? 6 : 14] = 'A';
  d[shortLayout ? 17 : 25] = 'Z';
  return d;
}
ByteString Identity(std::uint8_t code, std::uint8_t major, std::uint8_t minor, char micro = 'G',
                    std::uint8_t variant = 0) {
  return Framed(Rec(2, 1, IdentityData(code, major, minor, micro, variant)));
}
ByteString PanelReads(const ByteString& serial, const ByteString& lock) {
  return Framed(Rec(610, 16, serial) + Rec(3140, 1, lock));
}

ByteString AccessRequest(const ByteString& code) {
  return Framed(Le(1) + Le(1) + Le(1) + Le(static_cast<std::uint16_t>(code.size())) + code);
}
const ByteString kIdentityRequest =
    B({0x0C, 0x00, 0x02, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0xBE, 0xCB});
const ByteString kPanelReadsRequest = B({0x14, 0x00, 0x62, 0x02, 0x01, 0x00, 0x10, 0x00, 0x00, 0x00,
                                         0x44, 0x0C, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x48, 0xA5});

class SteppingClock : public test::SteppingClock {
 public:
  SteppingClock() : test::SteppingClock(1000, 5) {}
};

class ProductLink : public test::WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    SetDecimalSeparator('.');
    Make({});
  }
  void Make(std::vector<std::string> args) {
    frm.reset();
    frm = std::make_unique<TfrmMain>(WiredPlatform(), std::move(args));
    ManualMode = frm->Args().size() == 1 && frm->Args()[0] == "/M";
    port.SetOpen(true);
    frm->TxTimer = port.AddTimerTrigger();
    frm->ComsState = TComsState::csPortOpen;
  }
  // Builds and sends a job that starts with the first access code, as Connect and Start do.
  void StartJob(std::uint16_t id) {
    BuildJob(id, TJobType::jtAccess, false, false);
    AddTask(TTaskType::ttGetAccess, 1, 1, 1, TDataType::dtNil);
    frm->SendNextTasks();
  }
  // The product answers; the posted frame is processed.
  void Answer(const ByteString& bytes) {
    port.Receive(bytes);
    pump.RunAll();
  }
  std::vector<std::string> Boxes() { return fp.boxes.Texts(); }
  void Identify(std::uint8_t code, std::uint8_t major, std::uint8_t minor, char micro = 'G') {
    StartJob(kIdentityJob);
    Answer(AccessOk());
    Answer(Identity(code, major, minor, micro));
    if (!IsPeripheralProduct(code)) Answer(PanelReads("SERIAL0123456789", B({0, 0})));
  }
};

TEST_F(ProductLink, PanelIsIdentifiedFrameByFrame) {
  StartJob(kIdentityJob);
  EXPECT_EQ(port.TakeWritten(), AccessRequest(FirstAccessCode()));
  EXPECT_EQ(frm->ComsState, TComsState::csReadWrite);
  EXPECT_TRUE(port.TimerActive(frm->TxTimer));
  EXPECT_EQ(port.TimerPeriod(frm->TxTimer), 36);

  Answer(AccessOk());
  EXPECT_EQ(port.TakeWritten(), kIdentityRequest);

  Answer(Identity(120, 4, 62, 'S'));
  EXPECT_EQ(port.TakeWritten(), kPanelReadsRequest);
  ASSERT_TRUE(CommsJob);
  EXPECT_EQ(CommsJob->JobID(), kIdentityJob);

  Answer(PanelReads("SERIAL0123456789", B({0, 0})));
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_FALSE(CommsJob);
  EXPECT_FALSE(port.TimerActive(frm->TxTimer));
  EXPECT_EQ(frm->ComsState, TComsState::csReady);
  EXPECT_EQ(frm->lbProductType.Caption(), "PX-22");
  EXPECT_EQ(frm->lbhdrProduct.Caption(), "Product: PX-22");
  EXPECT_EQ(frm->lbSoftwareVer.Caption(), "4.62");
  EXPECT_EQ(frm->lbHdrVersion.Caption(), "Version: 4.62");
  EXPECT_EQ(frm->lbSerialNo.Caption(), "SERIAL0123456789");
  EXPECT_EQ(frm->lbGuid.Caption(), "410203-040506-070809-0A0B5A");
  EXPECT_EQ(frm->lbMicro.Caption(), "ST Microelectronics");
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(ProductMemSize, 5);
  EXPECT_TRUE(frm->ProductReady);
  EXPECT_EQ(FileMemory.size(), MemSizePages(5));
}

TEST_F(ProductLink, KeypadNeedsNoPanelReads) {
  StartJob(kIdentityJob);
  Answer(AccessOk());
  port.TakeWritten();
  Answer(Identity(1, 2, 5, 'X', 1));
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_FALSE(CommsJob);
  EXPECT_EQ(frm->lbProductType.Caption(), "MV-300/310 Keypad");
  EXPECT_EQ(frm->lbSoftwareVer.Caption(), "2.05");
  EXPECT_EQ(frm->lbSerialNo.Caption(), "-------");
  EXPECT_EQ(frm->lbGuid.Caption(), "410203-040506-070809-0A0B5A");
  EXPECT_EQ(frm->lbMicro.Caption(), "ST Microelectronics*");
  EXPECT_EQ(ProductInfo.Micro, 0xFF);
  EXPECT_TRUE(frm->ProductReady);
  EXPECT_EQ(ProductMemSize, 1);
}

TEST_F(ProductLink, ErrorThreeFallsBackToTheSecondCode) {
  StartJob(kIdentityJob);
  port.TakeWritten();
  Answer(Error(3));
  EXPECT_EQ(port.TakeWritten(), AccessRequest(SecondAccessCode()));
  Answer(AccessOk());
  EXPECT_EQ(port.TakeWritten(), kIdentityRequest);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ProductLink, ErrorThreeOnTheSecondCodeIsARefusal) {
  StartJob(kIdentityJob);
  Answer(Error(3));
  port.TakeWritten();
  Answer(Error(3));
  // There is no third code to try: asking again would go on for ever.
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_FALSE(CommsJob);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Access with product is denied"});
}

TEST_F(ProductLink, ErrorRecordsEndTheJobWithTheirBox) {
  const struct {
    std::uint16_t error;
    TMsgKind kind;
    const char* text;
  } cases[] = {{2, TMsgKind::mkPlain, "Message Length Error"},
               {4, TMsgKind::mkError, "Access with product is denied"},
               {5, TMsgKind::mkError, "Command not supported"}};
  for (const auto& c : cases) {
    fp.boxes.shown.clear();
    frm->FlashInProgress = true;
    StartJob(kIdentityJob);
    port.TakeWritten();
    Answer(Error(c.error));
    ASSERT_EQ(fp.boxes.shown.size(), 1u) << c.error;
    EXPECT_EQ(fp.boxes.shown[0].first, c.kind);
    EXPECT_EQ(fp.boxes.shown[0].second, c.text);
    EXPECT_FALSE(CommsJob);
    EXPECT_FALSE(frm->FlashInProgress);
    EXPECT_EQ(port.TakeWritten(), "");
    EXPECT_FALSE(frm->ProductReady);
  }
}

// A job ends done only when every task was answered: an NVM lock read passed over must not
// read as unlocked.
TEST_F(ProductLink, UnansweredTasksLeaveTheJobUnfinished) {
  StartJob(kIdentityJob);
  Answer(AccessOk());
  Answer(Identity(120, 4, 62));
  Answer(Framed(Rec(610, 16, ByteString(16, 'S')) + Rec(99, 1, Le(7))));
  EXPECT_FALSE(CommsJob);
  EXPECT_FALSE(frm->ProductReady);
  EXPECT_EQ(frm->LinkGiveUp, TLinkGiveUp::lgBadReply);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].find("did not answer correctly"), std::string::npos);
}

// One record per task, each for its own task: anything else is a bad reply and repeated.
TEST_F(ProductLink, RepliesThatDoNotAnswerTheRequestAreRepeated) {
  StartJob(kIdentityJob);
  Answer(AccessOk());
  port.TakeWritten();
  Answer(Identity(120, 4, 62));
  const ByteString reads = port.TakeWritten();
  // The NVM lock's record missing: a locked panel must not read as unlocked.
  Answer(Framed(Rec(610, 16, ByteString(16, 'S'))));
  EXPECT_EQ(port.TakeWritten(), reads);
  // A late reply to the identity request, repeated after its time-out.
  Answer(Identity(120, 4, 62));
  EXPECT_EQ(port.TakeWritten(), reads);
  Answer(PanelReads(ByteString(16, 'S'), B({0x00, 0x40})));
  EXPECT_FALSE(CommsJob);
  EXPECT_TRUE(ProductInfo.NvmLocked);
  EXPECT_FALSE(frm->ProductReady);

  // An empty reply to the boot loader entry does not hand the line to the boot loader.
  frm->ComsState = TComsState::csPortOpen;
  StartJob(kBootloaderEntryJob);
  port.TakeWritten();
  Answer(AccessOk());
  const ByteString entry = port.TakeWritten();
  ByteString empty = Le(4);
  empty += Le(FrameCrc(empty));
  Answer(empty);
  EXPECT_EQ(port.TakeWritten(), entry);
  EXPECT_FALSE(BootloaderMode);

  // A late access reply is not taken for the identity.
  StartJob(kIdentityJob);
  Answer(AccessOk());
  port.TakeWritten();
  Answer(AccessOk());
  EXPECT_EQ(port.TakeWritten(), kIdentityRequest);
  EXPECT_EQ(ProductInfo.ProductCode, 120);
  EXPECT_EQ(ProductInfo.Major, 4);
}

TEST_F(ProductLink, AccessReplyWithDataAbortsAndIsTold) {
  StartJob(kIdentityJob);
  port.TakeWritten();
  Answer(Framed(Rec(1, 1, "x")));
  EXPECT_FALSE(CommsJob);
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(frm->lbProductType.Caption(), "");
}

TEST_F(ProductLink, IdentityNotReadyIsAskedForAgain) {
  StartJob(kIdentityJob);
  Answer(AccessOk());
  port.TakeWritten();
  Answer(Framed(Rec(6401, 1, B({0, 0}))));
  EXPECT_EQ(port.TakeWritten(), kIdentityRequest);
  Answer(Framed(Rec(6401, 1, "")));
  EXPECT_EQ(port.TakeWritten(), kIdentityRequest);
  Answer(Identity(7, 1, 50));
  EXPECT_FALSE(CommsJob);
  EXPECT_EQ(frm->lbProductType.Caption(), "QL-2B");
  EXPECT_TRUE(frm->ProductReady);
}

TEST_F(ProductLink, NvmLockBlocksTheUpdate) {
  StartJob(kIdentityJob);
  Answer(AccessOk());
  Answer(Identity(120, 4, 62));
  Answer(PanelReads(ByteString(16, static_cast<char>(0xFF)), B({0x00, 0x40})));
  EXPECT_EQ(Boxes(), std::vector<std::string>{"The Control Panel cannot be flashed whilst the NVM is locked. "
                                              "Please remove the lock in System options|Options|Lock NVM. "
                                              "Then try again."});
  EXPECT_EQ(frm->lbSerialNo.Caption(), "--------");
  EXPECT_EQ(ProductMemSize, 0);
  EXPECT_FALSE(frm->ProductReady);
  EXPECT_FALSE(frm->btnNext.Enabled());
}

TEST_F(ProductLink, ProductTooOldIsShownButNotReady) {
  Identify(105, 5, 9);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"The Product must have Version 5.10 or above in order to "
                                              "support flash update via the USB port"});
  EXPECT_EQ(frm->lbProductType.Caption(), "DR4");
  EXPECT_EQ(frm->lbSoftwareVer.Caption(), "5.09");
  EXPECT_FALSE(frm->ProductReady);
  EXPECT_EQ(ProductMemSize, 0);
}

TEST_F(ProductLink, KeypadVersionsThatCannotBeUpdated) {
  for (int minor : {9, 10}) {
    fp.boxes.shown.clear();
    Identify(1, 1, static_cast<std::uint8_t>(minor));
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Version " + FormatFloat2((100 + minor) / 100.0) +
                                                " in the Keypad cannot be flash updated, please contact "
                                                "technical support for additional information"});
    EXPECT_FALSE(frm->ProductReady);
  }
  fp.boxes.shown.clear();
  Identify(1, 1, 11);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(frm->ProductReady);
}

TEST_F(ProductLink, SilentProductAbortsAfterThreeTransmissions) {
  frm->FlashInProgress = true;
  StartJob(kIdentityJob);
  const ByteString request = port.TakeWritten();
  EXPECT_TRUE(port.Expire(frm->TxTimer));
  EXPECT_EQ(port.TakeWritten(), request);
  EXPECT_TRUE(port.Expire(frm->TxTimer));
  EXPECT_EQ(port.TakeWritten(), request);
  ASSERT_TRUE(CommsJob);
  EXPECT_TRUE(port.Expire(frm->TxTimer));
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_FALSE(CommsJob);
  EXPECT_FALSE(frm->FlashInProgress);
  EXPECT_FALSE(port.TimerActive(frm->TxTimer));
  EXPECT_EQ(frm->LinkGiveUp, TLinkGiveUp::lgNoAnswer);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].rfind("No product answered on COM", 0), 0u);
}

TEST_F(ProductLink, ThreeBadCrcsEndTheJob) {
  test::DebugCapture log;
  StartJob(kIdentityJob);
  const ByteString request = port.TakeWritten();
  ByteString bad = AccessOk();
  bad.back() = static_cast<char>(bad.back() ^ 0x01);
  Answer(bad);
  EXPECT_EQ(port.TakeWritten(), request);  // at once, no waiting for the timer
  ASSERT_TRUE(CommsJob);
  EXPECT_EQ(CommsJob->CRCErrors(), 1);
  Answer(bad);
  EXPECT_EQ(port.TakeWritten(), request);
  EXPECT_EQ(CommsJob->CRCErrors(), 2);
  Answer(bad);
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_FALSE(CommsJob);
  EXPECT_EQ(frm->ComsState, TComsState::csReady);
  ASSERT_FALSE(log.lines.empty());
  EXPECT_EQ(log.lines[0], "Product link: 3 bad replies, job aborted");
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(ProductLink, GoodReplyRestoresTheTransmissions) {
  StartJob(kIdentityJob);
  ByteString bad = AccessOk();
  bad[2] = static_cast<char>(bad[2] ^ 0x10);
  Answer(bad);
  Answer(bad);
  Answer(AccessOk());
  port.TakeWritten();
  EXPECT_EQ(frm->RetryCount, 3);
  EXPECT_TRUE(port.Expire(frm->TxTimer));
  EXPECT_TRUE(port.Expire(frm->TxTimer));
  EXPECT_EQ(port.TakeWritten(), kIdentityRequest + kIdentityRequest);
}

TEST_F(ProductLink, SameProductCodeKeepsTheLoadedFile) {
  Identify(120, 4, 62);
  ASSERT_TRUE(frm->ProductReady);
  FileReady = true;
  frm->FileInfo.ProductCode = 120;
  frm->FileInfo.Major = 5;
  Identify(120, 4, 70);
  EXPECT_TRUE(FileReady);
  // The same code with another microcontroller maker: the file is judged again and refused.
  frm->FileInfo.Micro = 'S';
  Identify(120, 4, 70);
  EXPECT_FALSE(FileReady);
  FileReady = true;
  frm->FileInfo.Micro = 'G';
  Identify(30, 4, 70);
  EXPECT_FALSE(FileReady);
  EXPECT_EQ(frm->lbProductType.Caption(), "PX-33");
}

TEST_F(ProductLink, BootloaderEntryJobEndsWithTheSync) {
  SteppingClock clock;
  SetTickClock(&clock);
  SetUiMessagePump(&pump);
  StartJob(kBootloaderEntryJob);
  EXPECT_EQ(port.TakeWritten(), AccessRequest(FirstAccessCode()));
  Answer(AccessOk());
  EXPECT_EQ(port.TakeWritten(), Framed(Le(13) + Le(1) + Le(1) + Le(2) + BootloaderEntryCode()));
  bool handledWhileWaiting = false;
  port.Receive(Framed(Rec(13, 1, "")));
  pump.Post([&] { handledWhileWaiting = true; });
  const std::uint32_t before = clock.Now();
  ASSERT_EQ(pump.PumpOne(), 1);  // the frame; the marker runs inside the wait
  const std::uint32_t waited = clock.Now() - before;
  EXPECT_TRUE(handledWhileWaiting);
  EXPECT_GE(waited, 4 * TickLength);
  EXPECT_LT(waited, 6 * TickLength);
  EXPECT_EQ(port.TakeWritten(), B({0x7F}));
  EXPECT_TRUE(BootloaderMode);
  EXPECT_FALSE(CommsJob);
  EXPECT_EQ(frm->CurCmd, 0x7F);
  EXPECT_EQ(port.TimerPeriod(frm->TxTimer), 18);
  EXPECT_TRUE(port.TimerActive(frm->TxTimer));
}

TEST_F(ProductLink, ManualModeLeavesTheSyncToTheStepButtons) {
  Make({"/M"});
  StartJob(kBootloaderEntryJob);
  Answer(AccessOk());
  port.TakeWritten();
  Answer(Framed(Rec(13, 1, "")));
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_TRUE(BootloaderMode);
  EXPECT_EQ(frm->ComsState, TComsState::csPortOpen);
  for (auto* b : frm->StepButtons()) EXPECT_TRUE(b->Enabled()) << b->Name();
}

// Reception ------------------------------------------------------------------------------------------

TEST_F(ProductLink, FrameIsPostedWhenItsLastByteArrives) {
  StartJob(kIdentityJob);
  port.TakeWritten();
  const ByteString reply = AccessOk();
  for (std::size_t i = 0; i + 1 < reply.size(); ++i) {
    port.Receive(reply.substr(i, 1));
    EXPECT_TRUE(pump.queue.empty()) << i;
  }
  port.Receive(reply.substr(reply.size() - 1));
  EXPECT_EQ(pump.queue.size(), 1u);
  EXPECT_TRUE(frm->Rx_Buffer.empty());
  pump.RunAll();
  EXPECT_EQ(port.TakeWritten(), kIdentityRequest);
}

TEST_F(ProductLink, TwoBytesOrBytesBeyondTheLengthAreNeverPosted) {
  StartJob(kIdentityJob);
  port.Receive(B({0x02, 0x00}));
  EXPECT_TRUE(pump.queue.empty());
  frm->Rx_Buffer.clear();
  port.Receive(AccessOk() + "x");
  EXPECT_TRUE(pump.queue.empty());
  EXPECT_TRUE(port.Expire(frm->TxTimer));  // the repeat starts the reception afresh
  EXPECT_TRUE(frm->Rx_Buffer.empty());
  Answer(AccessOk());
  ASSERT_TRUE(CommsJob);
  EXPECT_EQ(CommsJob->Items(0).TaskType(), TTaskType::ttGetPanelInfo);
}

TEST_F(ProductLink, DroppedMessageFreesItsFrame) {
  StartJob(kIdentityJob);
  port.Receive(AccessOk());
  ASSERT_EQ(pump.queue.size(), 1u);
  pump.queue.clear();  // the window went away before handling it; the sanitizer checks the leak
  ASSERT_TRUE(CommsJob);
  EXPECT_EQ(CommsJob->Items(0).TaskType(), TTaskType::ttGetAccess);
}

TEST_F(ProductLink, NoiseIsCappedAndCountedAsABadReply) {
  StartJob(kIdentityJob);
  const ByteString request = port.TakeWritten();
  port.Receive(ByteString(4096, static_cast<char>(0xFF)));
  EXPECT_EQ(frm->Rx_Buffer.size(), 4096u);
  EXPECT_EQ(port.TakeWritten(), "");
  port.Receive(B({0xFF}));
  EXPECT_LE(frm->Rx_Buffer.size(), 4096u);
  EXPECT_EQ(port.TakeWritten(), request);
  ASSERT_TRUE(CommsJob);
  EXPECT_EQ(CommsJob->CRCErrors(), 1);
  // With no job, noise is simply dropped.
  CommsJob.reset();
  port.Receive(ByteString(5000, '\x01'));
  EXPECT_LE(frm->Rx_Buffer.size(), 4096u);
  EXPECT_EQ(port.TakeWritten(), "");
}

TEST_F(ProductLink, RecordRunningPastThePayloadMakesTheFrameBad) {
  StartJob(kIdentityJob);
  const ByteString request = port.TakeWritten();
  ByteString truncatedData = Le(1) + Le(1) + Le(1) + Le(10) + "abc";  // says 10 bytes, has 3
  Answer(Framed(truncatedData));
  EXPECT_EQ(port.TakeWritten(), request);
  ASSERT_TRUE(CommsJob);
  EXPECT_EQ(CommsJob->CRCErrors(), 1);
  Answer(Framed(Rec(1, 1, "") + B({1, 0, 1})));  // a header cut short after a good record
  EXPECT_EQ(port.TakeWritten(), request);
  EXPECT_EQ(CommsJob->CRCErrors(), 2);
  EXPECT_EQ(CommsJob->Items(0).TaskType(), TTaskType::ttGetAccess);
  // A single stray byte after the records is not a record and is passed over.
  Answer(Framed(Rec(1, 1, "") + B({0x55})));
  EXPECT_EQ(port.TakeWritten(), kIdentityRequest);
}

TEST_F(ProductLink, BootloaderModeKeepsBytesFromTheProductLink) {
  StartJob(kIdentityJob);
  port.TakeWritten();
  BootloaderMode = true;
  port.Receive(AccessOk());
  pump.RunAll();
  ASSERT_TRUE(CommsJob);
  EXPECT_EQ(CommsJob->Items(0).TaskType(), TTaskType::ttGetAccess);
}

TEST_F(ProductLink, ForeignTimerIsIgnored) {
  StartJob(kIdentityJob);
  port.TakeWritten();
  const auto other = port.AddTimerTrigger();
  port.SetTimerTrigger(other, 5, true);
  EXPECT_TRUE(port.Expire(other));
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_EQ(frm->RetryCount, 3);
}

TEST_F(ProductLink, RandomLineTrafficNeverBreaksTheLink) {
  // Garbage, well-framed replies with random records (cut short or not) and time-outs, in any
  // order: the link must neither crash nor keep more than a bounded buffer.
  SteppingClock clock;  // the boot loader job's wait must not cost real time
  SetTickClock(&clock);
  SetUiMessagePump(&pump);
  std::mt19937 rng(20261210);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::uint16_t codes[] = {1, 2, 13, 99, 610, 3140, 6401, 7};
  for (int round = 0; round < 3000; ++round) {
    if (!CommsJob) StartJob(pick(2) == 0 ? kIdentityJob : kBootloaderEntryJob);
    BootloaderMode = false;  // the boot loader's own replies are not under test here
    switch (pick(4)) {
      case 0: {
        ByteString junk;
        for (int i = pick(600); i > 0; --i) junk += static_cast<char>(rng());
        port.Receive(junk);
        break;
      }
      case 1:
      case 2: {
        ByteString payload;
        for (int r = pick(4); r >= 0; --r) {
          ByteString data;
          for (int i = pick(40); i > 0; --i) data += static_cast<char>(rng());
          payload += Rec(codes[pick(8)], static_cast<std::uint16_t>(pick(3)), data);
        }
        if (pick(4) == 0)
          payload.resize(static_cast<std::size_t>(pick(static_cast<int>(payload.size()) + 1)));
        if (payload.empty()) payload = "x";
        frm->Rx_Buffer.clear();
        port.Receive(Framed(payload));
        break;
      }
      default: port.Expire(frm->TxTimer); break;
    }
    pump.RunAll();
    ASSERT_LE(frm->Rx_Buffer.size(), 4096u + 600u);
    if (CommsJob) {
      ASSERT_LE(CommsJob->Count(), 2);
    }
  }
}

// Packing ----------------------------------------------------------------------------------------------

TEST_F(ProductLink, TasksBeyondTheBufferGoInTheNextFrame) {
  BuildJob(7, TJobType::jtReceiveData, false, false);
  for (int i = 0; i < 3; ++i) AddTask(TTaskType::ttRead, 500, 1, 200, TDataType::dtByte);  // 208 each
  frm->SendNextTasks();
  const ByteString first = port.TakeWritten();
  EXPECT_EQ(first.size(), 4u + 2 * 8);
  EXPECT_EQ(CommsJob->CurrentTask(), 2);
  EXPECT_FALSE(CommsJob->Items(2).TaskSent());
  const ByteString data(200, 'd');
  Answer(Framed(Rec(500, 200, data) + Rec(500, 200, data)));
  EXPECT_TRUE(CommsJob->Items(0).TaskAcked());
  EXPECT_TRUE(CommsJob->Items(1).TaskAcked());
  EXPECT_EQ(CommsJob->FirstTask(), 2);
  EXPECT_EQ(port.TakeWritten().size(), 4u + 8);
  Answer(Framed(Rec(500, 200, data)));
  EXPECT_FALSE(CommsJob);
}

TEST_F(ProductLink, OtherRequestKindsAndTheirAcknowledgements) {
  auto build = [] {
    BuildJob(9, TJobType::jtSendData, false, false);
    AddTask(TTaskType::ttNil, 5, 1, 1, TDataType::dtNil);
    AddTask(TTaskType::ttPoll, 6, 1, 1, TDataType::dtNil);
    AddTask(TTaskType::ttWrite, 7, 1, 2, TDataType::dtByte);
    AddTask(TTaskType::ttReadRAM, 8, 1, 4, TDataType::dtByte);
    AddTask(TTaskType::ttRead, 9, 1, 470, TDataType::dtByte);  // does not fit beside the others
  };
  build();
  frm->SendNextTasks();
  // A nil task sends its three address words only; the others a data length of 0.
  EXPECT_EQ(port.TakeWritten(), Framed(B({5, 0, 1, 0, 1, 0}) + B({6, 0, 1, 0, 1, 0, 0, 0}) +
                                       B({7, 0, 1, 0, 2, 0, 0, 0}) + B({8, 0, 1, 0, 4, 0, 0, 0})));
  Answer(Framed(Rec(5, 0, "") + Rec(6, 1, "") + Rec(7, 2, "") + Rec(8, 4, "abcd")));
  ASSERT_TRUE(CommsJob);
  EXPECT_TRUE(CommsJob->Items(0).TaskAcked());
  EXPECT_TRUE(CommsJob->Items(1).TaskAcked());
  EXPECT_TRUE(CommsJob->Items(2).TaskAcked());
  EXPECT_TRUE(CommsJob->Items(3).TaskAcked());
  EXPECT_EQ(CommsJob->FirstTask(), 4);
  EXPECT_EQ(port.TakeWritten(), Framed(B({9, 0, 1, 0, 0xD6, 1, 0, 0})));

  // A write acknowledged with data, or a working-memory read with none, ends the job.
  for (const ByteString& reply : {Framed(Rec(5, 0, "") + Rec(6, 1, "") + Rec(7, 2, "x") + Rec(8, 4, "abcd")),
                                  Framed(Rec(5, 0, "") + Rec(6, 1, "") + Rec(7, 2, "") + Rec(8, 4, ""))}) {
    build();
    frm->SendNextTasks();
    port.TakeWritten();
    Answer(reply);
    EXPECT_FALSE(CommsJob);
    EXPECT_EQ(port.TakeWritten(), "");
  }
}

TEST_F(ProductLink, TaskTooLargeForAnyFrameAbortsTheJob) {
  frm->FlashInProgress = true;
  BuildJob(7, TJobType::jtReceiveData, false, false);
  AddTask(TTaskType::ttRead, 500, 1, 472, TDataType::dtByte);  // replies 480 bytes on its own
  frm->SendNextTasks();
  EXPECT_EQ(port.TakeWritten(), "");
  EXPECT_FALSE(CommsJob);
  EXPECT_FALSE(frm->FlashInProgress);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ProductLink, AFrameThatCannotGoOutEndsTheJobAndIsTold) {
  port.SetOpen(false);
  frm->FlashInProgress = true;
  StartJob(kBootloaderEntryJob);
  EXPECT_TRUE(port.written.empty());
  // No timer can run on a closed port: a job left waiting would wait for ever.
  EXPECT_FALSE(CommsJob);
  EXPECT_FALSE(frm->FlashInProgress);
  EXPECT_EQ(frm->LinkGiveUp, TLinkGiveUp::lgLineLost);
  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_TRUE(frm->SendPanelFrame(ByteString()));
  EXPECT_TRUE(port.written.empty());
}

// The session alone: a connection's job from its access code to the identity, then a refusal,
// with only a recorder of its actions behind it.
struct TLinkRecorder final : ILinkActions {
  std::vector<ByteString> Sent;
  std::vector<std::string> Refusals;
  std::vector<std::uint16_t> Finished, Aborted;
  std::unique_ptr<ByteString> Frame;
  bool SendFrame(const ByteString& frame) override {
    Sent.push_back(frame);
    return true;
  }
  void LineLost() override {}
  void StopTimer() override {}
  void FrameReceived(std::unique_ptr<ByteString> frame) override { Frame = std::move(frame); }
  void Refused(TMsgKind, const std::string& text) override { Refusals.push_back(text); }
  void JobAborted(std::uint16_t id) override { Aborted.push_back(id); }
  void JobFinished(std::uint16_t id) override { Finished.push_back(id); }
};

TEST(LinkSessionAlone, RepliesArrivingInPiecesIdentifyTheProductAndARefusalEndsTheJob) {
  ResetGlobals();
  ByteString rx, tx;
  std::int32_t retries = 0;
  TComsState state = TComsState::csPortOpen;
  TLinkGiveUp giveUp = TLinkGiveUp::lgNone;
  TLinkRecorder out;
  TLinkSession link({rx, tx, retries, state, giveUp}, out);
  const auto answer = [&](const ByteString& reply) {
    // Byte by byte, as a slow line hands them over: only the whole frame is passed on.
    for (char c : reply) {
      ASSERT_EQ(out.Frame, nullptr);
      link.OnBytes(std::string_view(&c, 1));
    }
    ASSERT_NE(out.Frame, nullptr);
    link.ProcessReply(std::move(*out.Frame));
    out.Frame.reset();
  };

  BuildJob(kIdentityJob, TJobType::jtAccess, false, false);
  AddTask(TTaskType::ttGetAccess, kParamAccess, 1, 1, TDataType::dtNil);
  link.SendNextTasks();
  answer(AccessOk());
  ASSERT_EQ(out.Sent.size(), 2u);
  EXPECT_EQ(out.Sent[1], kIdentityRequest);
  answer(Identity(1, 1, 20));  // a keypad: no panel reads follow
  EXPECT_EQ(out.Finished, std::vector<std::uint16_t>{kIdentityJob});
  EXPECT_EQ(ProductInfo.ProductCode, 1);
  EXPECT_EQ(ProductInfo.VersionNumber(), 120);

  BuildJob(kBootloaderEntryJob, TJobType::jtAccess, false, false);
  AddTask(TTaskType::ttGetAccess, kParamAccess, 1, 1, TDataType::dtNil);
  link.SendNextTasks();
  answer(Error(kLinkErrAccessDenied));
  EXPECT_EQ(out.Refusals, std::vector<std::string>{"Access with product is denied"});
  EXPECT_EQ(out.Aborted, std::vector<std::uint16_t>{kBootloaderEntryJob});
  EXPECT_EQ(giveUp, TLinkGiveUp::lgRefused);
  EXPECT_EQ(CommsJob, nullptr);
  ResetGlobals();
}

}  // namespace
}  // namespace tarvex
