// The sample firmware the build makes for the demonstration: a well-formed HEX file of a few dozen
// pages that the programmer's own loader reads and its acceptance rules take for the product the
// emulator plays by default, as an upgrade.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "core/ProductCatalogue.h"
#include "firmware/Acceptance.h"
#include "firmware/FlashImage.h"
#include "firmware/HexFile.h"
#include "tools/panel-sim/PanelSim.h"
#include "tools/sample-firmware/SampleFirmware.h"

namespace tarvex {
namespace {

using samplefw::CheckAgainst;
using samplefw::DefaultRecipe;
using samplefw::EmulatedProduct;
using samplefw::MakeSampleHex;

std::string ReadAll(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SampleFirmware : public ::testing::Test {
 protected:
  void SetUp() override { ResetGlobals(); }
  void TearDown() override { ResetGlobals(); }
};

TEST_F(SampleFirmware, TheBuiltFileIsAcceptedForTheEmulatedProductAsAnUpgrade) {
  const panelsim::TProductConfig emulated;
  const TProductInfo product = EmulatedProduct();
  ASSERT_EQ(product.ProductCode, emulated.ProductCode);
  // Loaded and judged as the window does when the file is opened after connecting.
  ProductInfo = product;
  PrepareImages(GetMemSize(product.ProductCode));
  ASSERT_GT(FileMemory.size(), 0u);
  ASSERT_TRUE(LoadHexFile(TARVEX_SAMPLE_FIRMWARE));
  TProductInfo file;
  ReadFileIdentity(TARVEX_SAMPLE_FIRMWARE, file);
  EXPECT_EQ(file.ProductCode, emulated.ProductCode);
  EXPECT_EQ(file.Variant, emulated.Variant);
  EXPECT_GT(file.VersionNumber(), emulated.Major * 100 + emulated.Minor);
  EXPECT_EQ(file.Micro, 'G');
  EXPECT_EQ(GetProductName(file.ProductCode, file.Variant),
            GetProductName(emulated.ProductCode, emulated.Variant));
  EXPECT_NE(GetProductName(file.ProductCode, file.Variant), kUnknownProduct);

  const TFileVerdict verdict = JudgeFile(product, file);
  EXPECT_TRUE(verdict.Accepted) << verdict.Error;
  EXPECT_EQ(verdict.Warning, "") << "the demonstration's update needs no warning";
}

TEST_F(SampleFirmware, ItFillsAFewDozenPagesFromTheFlashBaseWithTheIdentityNearTheStart) {
  ProductInfo = EmulatedProduct();
  PrepareImages(GetMemSize(ProductInfo.ProductCode));
  ASSERT_TRUE(LoadHexFile(TARVEX_SAMPLE_FIRMWARE));
  BuildPageList();
  ASSERT_GE(PageList.size(), 24u);
  ASSERT_LE(PageList.size(), 64u);
  for (std::size_t i = 0; i < PageList.size(); ++i) {
    EXPECT_EQ(PageList[i].PageID, i) << "pages in use run on from page 0";
  }
  // A vector table: the stack at the top of RAM, the reset handler in flash, Thumb code.
  const std::uint8_t* page0 = FileMemory[0].Data;
  EXPECT_EQ(page0[3], 0x20);
  EXPECT_EQ(page0[7], 0x08);
  EXPECT_EQ(page0[4] & 1, 1);
  const ByteString id =
      panelsim::TPanelSim::IdentityBlock(DefaultRecipe().ProductCode, DefaultRecipe().Variant,
                                         DefaultRecipe().Major, DefaultRecipe().Minor, true);
  EXPECT_EQ(ByteString(reinterpret_cast<const char*>(page0) + DefaultRecipe().IdentityAt, id.size()), id);
  // The last page is only partly used, as a linker leaves it.
  const TMem2KPage& last = FileMemory[PageList.back().PageID];
  EXPECT_EQ(last.Data[kPageSize - 1], 0xFF);
  EXPECT_NE(last.Data[0], 0xFF);
}

TEST_F(SampleFirmware, EveryLineIsAWellFormedRecordAndTheBuildWroteWhatTheGeneratorMakes) {
  const std::string text = ReadAll(TARVEX_SAMPLE_FIRMWARE);
  EXPECT_EQ(text, MakeSampleHex(DefaultRecipe()));
  EXPECT_EQ(MakeSampleHex(DefaultRecipe()), MakeSampleHex(DefaultRecipe()));
  std::istringstream in(text);
  std::string line, last;
  int lines = 0, extended = 0;
  while (std::getline(in, line)) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\r') << "CR LF line ends";
    line.pop_back();
    ++lines;
    ASSERT_TRUE(CheckHexRecord(line)) << line;
    const auto count = HexToInt(line.substr(1, 2));
    ASSERT_TRUE(count.has_value());
    ASSERT_EQ(line.size(), 2 * *count + 11) << line;
    if (line.substr(7, 2) == "04") ++extended;
    last = line;
  }
  EXPECT_EQ(last, ":00000001FF");
  // One extended address record for each 64 KB the image touches.
  const std::uint32_t bytes = DefaultRecipe().Bytes;
  EXPECT_EQ(extended, static_cast<int>((bytes + 0xFFFF) / 0x10000));
  EXPECT_GT(lines, 1000);
}

TEST_F(SampleFirmware, TheCheckRefusesWhatTheProgramWouldRefuse) {
  const std::string hex = MakeSampleHex(DefaultRecipe());
  EXPECT_EQ(CheckAgainst(hex, EmulatedProduct()), std::nullopt);

  TProductInfo other = EmulatedProduct();
  other.ProductCode = 121;
  EXPECT_EQ(CheckAgainst(hex, other), std::optional<std::string>(kMsgWrongProduct));

  auto stOnly = DefaultRecipe();
  stOnly.GigaDevice = false;
  TProductInfo gd = EmulatedProduct();
  gd.Micro = 'G';
  EXPECT_EQ(CheckAgainst(MakeSampleHex(stOnly), gd), std::optional<std::string>(kMsgWrongMicro));

  TProductInfo newer = EmulatedProduct();
  newer.Major = DefaultRecipe().Major;
  newer.Minor = DefaultRecipe().Minor;
  EXPECT_TRUE(CheckAgainst(hex, newer).has_value()) << "the same version is no upgrade";

  std::string broken = hex;
  broken[broken.find(":10") + 10] ^= 1;  // one data digit off: its checksum fails
  EXPECT_EQ(CheckAgainst(broken, EmulatedProduct()), std::optional<std::string>(kMsgErrorReadingFile));

  TProductInfo unknown;
  unknown.ProductCode = 250;
  EXPECT_TRUE(CheckAgainst(hex, unknown).has_value()) << "no memory size for an unknown code";
}

}  // namespace
}  // namespace tarvex
