// Erase, write, verify and run against the in-memory boot loader, the verify limits and the
// verification report.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "BootTarget.h"

namespace tarvex {
namespace {

using std::string;

class Operations : public test::FlashFixture {
 protected:
  void SetUp() override {
    FlashFixture::SetUp();
    ManualMode = true;  // each operation on its own
    frm->ComsState = TComsState::csConnected;
    target.synced = true;
  }
  string ReadReport() {
    std::ifstream in(ReportPath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // FileMemory and DeviceMemory equal; then the given device bytes changed.
  void SameImages() {
    for (std::size_t p = 0; p < FileMemory.size(); ++p) DeviceMemory[p] = FileMemory[p];
  }
  static void SetDevice(std::uint32_t addr, std::uint8_t value) {
    const std::uint32_t off = addr - kFlashBase;
    DeviceMemory[off / kPageSize].Data[off % kPageSize] = value;
  }
};

TEST_F(Operations, OnePageTakesOneEraseThenEightWritesThenEightReads) {
  test::FillPage(4, 9);
  target.flash.replace(100 * kPageSize, 3, "old");  // a page the file does not use
  frm->StartErase();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(target.erases, 1);
  EXPECT_EQ(target.erasedPages, std::vector<std::uint16_t>{4});
  EXPECT_EQ(frm->progBar.Max(), 1);

  frm->StartWrite();
  EXPECT_EQ(frm->progBar.Max(), 8);
  EXPECT_EQ(frm->progBar.Geometry().Top, 103);
  EXPECT_EQ(frm->progBar.Position(), 0);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(target.writes, 8);
  EXPECT_EQ(frm->progBar.Position(), 8);
  EXPECT_EQ(target.flash.substr(4 * kPageSize, kPageSize),
            string(reinterpret_cast<const char*>(FileMemory[4].Data), kPageSize));

  frm->StartVerify();
  EXPECT_EQ(frm->progBar.Geometry().Top, 142);
  EXPECT_EQ(frm->progBar.Max(), 8);
  EXPECT_EQ(frm->lbVerifyData.Caption(), "Verifying flash data...");
  EXPECT_FALSE(frm->imgVerify.Visible());
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(target.reads, 8);
  EXPECT_EQ(target.flash.substr(100 * kPageSize, 3), "old");
  EXPECT_EQ(frm->lbVerifyData.Caption(), "Verifying flash data...OK");
  EXPECT_EQ(frm->imgVerify.Picture(), "Icon_OK");
  EXPECT_TRUE(frm->imgVerify.Visible());
  EXPECT_EQ(target.gos, 0);  // manual mode: the run waits for its button
  EXPECT_FALSE(std::filesystem::exists(ReportPath()));
}

TEST_F(Operations, VerifyStartsFromAFreshDeviceImage) {
  test::FillPage(1, 3);
  DeviceMemory[7].InUse = true;
  DeviceMemory[7].Data[0] = 0;
  frm->StartVerify();
  EXPECT_FALSE(DeviceMemory[7].InUse);
  EXPECT_EQ(DeviceMemory[7].Data[0], 0xFF);
  EXPECT_EQ(frm->ReadStage, TReadStage::rsCmd);
  EXPECT_EQ(frm->StartAddr, PageAddress(1));
  EXPECT_EQ(frm->EndAddr, PageAddress(1) + 0x7FF);
}

TEST_F(Operations, NoVerifyReadsNothingAndRunsAtOnce) {
  NoVerify = true;
  test::FillPage(0, 1);
  frm->StartVerify();
  EXPECT_EQ(port.TakeWritten(), "\x21\xDE");
  EXPECT_EQ(frm->lbVerifyData.Caption(), "Verification not performed!");
  EXPECT_TRUE(frm->lbVerifyData.Visible());
  EXPECT_TRUE(frm->imgVerify.Visible());
  EXPECT_FALSE(frm->progBar.Visible());
  EXPECT_TRUE(frm->lbRunApp.Visible());
}

TEST_F(Operations, NothingToEraseOrWriteSendsNothing) {
  frm->StartErase();
  frm->StartWrite();
  frm->StartVerify();
  EXPECT_TRUE(port.written.empty());
  EXPECT_EQ(frm->progBar.Max(), 0);
}

TEST_F(Operations, DifferencesAtOrAboveTheLimitPassWithoutAReport) {
  test::FillPage(0, 1);
  test::FillPage(127, 2);  // 0x0803F800, the limit of memory-size code 1
  SameImages();
  SetDevice(0x0803F800, 0x00);
  SetDevice(0x0803FFFF, 0x00);
  EXPECT_TRUE(frm->VerifyImages());
  EXPECT_FALSE(std::filesystem::exists(ReportPath()));
  SetDevice(0x0803F7FF, 0x00);  // not in use in the file: never compared
  EXPECT_TRUE(frm->VerifyImages());
}

TEST_F(Operations, OneDifferenceBelowTheLimitFailsAndTheReportListsEveryDifference) {
  test::FillPage(0, 1);
  test::FillPage(127, 2);
  SameImages();
  FileMemory[0].Data[0x10] = 0x3C;
  SetDevice(0x08000010, 0xFF);
  SetDevice(0x08000011, 0x00);
  FileMemory[127].Data[5] = 0x01;
  SetDevice(0x0803F805, 0xAB);
  EXPECT_FALSE(frm->VerifyImages());
  EXPECT_EQ(ReadReport(),
            "Addr: 8000010   Device Memory: FF   File Memory: 3C\r\n"
            "Addr: 8000011   Device Memory: 00   File Memory: " +
                std::string(Format("%.2X", FileMemory[0].Data[0x11])) +
                "\r\n"
                "Addr: 803F805   Device Memory: AB   File Memory: 01\r\n");

  // Replaced each time; a passing verify leaves the last report in place.
  SameImages();
  SetDevice(0x08000020, 0x00);
  EXPECT_FALSE(frm->VerifyImages());
  const string second = ReadReport();
  EXPECT_EQ(second,
            Format("Addr: 8000020   Device Memory: 00   File Memory: %.2X\r\n", FileMemory[0].Data[0x20]));
  SameImages();
  EXPECT_TRUE(frm->VerifyImages());
  EXPECT_EQ(ReadReport(), second);
}

TEST_F(Operations, LimitsFollowTheMemorySizeAndProduct) {
  ProductMemSize = 5;
  SetImagePages(512);
  test::FillPage(254, 1);  // 0x0807F000
  SameImages();
  SetDevice(0x0807F000, 0x00);
  ProductInfo.ProductCode = 105;
  EXPECT_TRUE(frm->VerifyImages());
  ProductInfo.ProductCode = 120;  // limit 0x080E0000
  EXPECT_FALSE(frm->VerifyImages());
  EXPECT_EQ(ReadReport(),
            Format("Addr: 807F000   Device Memory: 00   File Memory: %.2X\r\n", FileMemory[254].Data[0]));
}

TEST_F(Operations, AReportThatCannotBeWrittenIsNamedInAnErrorAndTheVerifyFails) {
  test::FillPage(0, 1);
  SameImages();
  SetDevice(0x08000000, 0x00);
  LogsFolder = (logs / "missing" / "").string();
  EXPECT_FALSE(frm->VerifyImages());
  ASSERT_EQ(fp.boxes.shown.size(), 1u);
  EXPECT_EQ(fp.boxes.shown[0].first, TMsgKind::mkError);
  EXPECT_NE(fp.boxes.shown[0].second.find(LogsFolder + "Verification Data.txt"), string::npos);
}

}  // namespace
}  // namespace tarvex
