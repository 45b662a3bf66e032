// The paged images: address mapping, the byte-store rule, reset, sizing for a product, and the
// list of pages in use.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/ProductCatalogue.h"
#include "firmware/FlashImage.h"

namespace tarvex {
namespace {

class FlashImage : public ::testing::Test {
 protected:
  void SetUp() override { ResetGlobals(); }
  void TearDown() override { ResetGlobals(); }
};

bool AllErased(const TMem2KPage& p) {
  return std::all_of(std::begin(p.Data), std::end(p.Data), [](std::uint8_t b) { return b == 0xFF; });
}

TEST_F(FlashImage, AddressesMapOntoPagesFromTheFlashBase) {
  TPagePos pos;
  ASSERT_TRUE(LocateAddress(0x08000000, pos));
  EXPECT_EQ(pos.Page, 0u);
  EXPECT_EQ(pos.Offset, 0u);
  ASSERT_TRUE(LocateAddress(0x080007FF, pos));
  EXPECT_EQ(pos.Page, 0u);
  EXPECT_EQ(pos.Offset, 2047u);
  ASSERT_TRUE(LocateAddress(0x08000800, pos));
  EXPECT_EQ(pos.Page, 1u);
  EXPECT_EQ(pos.Offset, 0u);
  ASSERT_TRUE(LocateAddress(0x0803F800, pos));
  EXPECT_EQ(pos.Page, 127u);
  ASSERT_TRUE(LocateAddress(0x0803FFFF, pos));
  EXPECT_EQ(pos.Page, 127u);
  EXPECT_EQ(pos.Offset, 2047u);
  ASSERT_TRUE(LocateAddress(0x08040000, pos));
  EXPECT_EQ(pos.Page, 128u);  // outside an image of 128 pages
  EXPECT_FALSE(LocateAddress(0x07FFFFFF, pos));
  EXPECT_FALSE(LocateAddress(0, pos));
  EXPECT_EQ(PageAddress(127), 0x0803F800u);
  EXPECT_EQ(PageAddress(1, 5), 0x08000805u);
}

TEST_F(FlashImage, ResetGivesIdsAndErasesOnlyTheChosenImage) {
  ResetMemory(kFileImage);  // an empty image stays empty
  EXPECT_TRUE(FileMemory.empty());
  SetImagePages(4);
  ASSERT_EQ(FileMemory.size(), 4u);
  ASSERT_EQ(DeviceMemory.size(), 4u);
  const std::uint8_t b[] = {1, 2};
  StoreBytes(FileMemory, {2, 0}, b, 2);
  StoreBytes(DeviceMemory, {3, 0}, b, 2);
  FileMemory[1].ID = 99;
  ResetMemory(kFileImage);
  for (std::size_t i = 0; i < FileMemory.size(); ++i) {
    EXPECT_EQ(FileMemory[i].ID, i);
    EXPECT_FALSE(FileMemory[i].InUse);
    EXPECT_TRUE(AllErased(FileMemory[i]));
  }
  EXPECT_TRUE(DeviceMemory[3].InUse);  // the other image is untouched
  EXPECT_EQ(DeviceMemory[3].Data[1], 2);
  ResetMemory(kDeviceImage);
  EXPECT_FALSE(DeviceMemory[3].InUse);
  EXPECT_EQ(FileMemory.size(), 4u);
}

TEST_F(FlashImage, RunsWrapIntoTheNextPageAndStopAtTheLast) {
  SetImagePages(8);
  const std::uint8_t run[] = {0x11, 0x22, 0x33, 0x44};
  EXPECT_EQ(StoreBytes(FileMemory, {5, 2046}, run, 4), 4u);
  EXPECT_EQ(FileMemory[5].Data[2046], 0x11);
  EXPECT_EQ(FileMemory[5].Data[2047], 0x22);
  EXPECT_EQ(FileMemory[6].Data[0], 0x33);
  EXPECT_EQ(FileMemory[6].Data[1], 0x44);
  EXPECT_TRUE(FileMemory[5].InUse);
  EXPECT_TRUE(FileMemory[6].InUse);
  EXPECT_EQ(FileMemory[6].Data[2], 0xFF);

  EXPECT_EQ(StoreBytes(FileMemory, {7, 2046}, run, 4), 2u);  // past the last page
  EXPECT_EQ(FileMemory[7].Data[2047], 0x22);
  EXPECT_EQ(StoreBytes(FileMemory, {8, 0}, run, 4), 0u);

  // Only bytes other than 0xFF mark a page, and a later 0xFF never unmarks it.
  const std::uint8_t erased[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  StoreBytes(FileMemory, {0, 0}, erased, 4);
  EXPECT_FALSE(FileMemory[0].InUse);
  StoreBytes(FileMemory, {1, 9}, run, 1);
  StoreBytes(FileMemory, {1, 9}, erased, 1);
  EXPECT_EQ(FileMemory[1].Data[9], 0xFF);
  EXPECT_TRUE(FileMemory[1].InUse);
}

TEST_F(FlashImage, PageListAndBlocksCoverThePagesInUse) {
  SetImagePages(512);
  BuildPageList();
  EXPECT_TRUE(PageList.empty());
  EXPECT_EQ(CountBlocks(), 0);
  const std::uint8_t b = 0;
  for (std::uint32_t p : {3u, 0u, 511u}) StoreBytes(FileMemory, {p, 100}, &b, 1);
  BuildPageList();
  ASSERT_EQ(PageList.size(), 3u);
  EXPECT_EQ(CountBlocks(), 24);
  EXPECT_EQ(PageList[0].PageID, 0);
  EXPECT_EQ(PageList[1].PageID, 3);
  EXPECT_EQ(PageList[1].StartAddr, 0x08001800u);
  EXPECT_EQ(PageList[1].EndAddr, 0x08001FFFu);
  EXPECT_EQ(PageList[2].PageID, 511);
  EXPECT_EQ(PageList[2].EndAddr, 0x080FFFFFu);

  for (auto& p : FileMemory) p.InUse = true;
  EXPECT_EQ(CountBlocks(), 4096);  // a full 1 MB image
  BuildPageList();
  EXPECT_EQ(PageList.size(), 512u);
}

TEST_F(FlashImage, PreparingForAnotherProductSizesAndClears) {
  ProductInfo.ProductCode = 1;
  PrepareImages(1);
  EXPECT_EQ(FileMemory.size(), 128u);
  EXPECT_EQ(DeviceMemory.size(), 128u);
  EXPECT_EQ(ImageProductCode, 1);
  EXPECT_EQ(ImageMemSize, 1);
  EXPECT_FALSE(FileReady);

  // The same product again (a reconnection): the file and its acceptance stay.
  const std::uint8_t b = 0x12;
  StoreBytes(FileMemory, {4, 0}, &b, 1);
  FileReady = true;
  PrepareImages(1);
  EXPECT_TRUE(FileMemory[4].InUse);
  EXPECT_TRUE(FileReady);

  // Another product of the same memory size still empties the images.
  ProductInfo.ProductCode = 102;
  PrepareImages(1);
  EXPECT_EQ(FileMemory.size(), 128u);
  EXPECT_FALSE(FileMemory[4].InUse);
  EXPECT_FALSE(FileReady);

  // The low 7 bits of the code choose the size.
  ProductInfo.ProductCode = 25;
  PrepareImages(0x82);
  EXPECT_EQ(FileMemory.size(), 192u);
  EXPECT_EQ(DeviceMemory.size(), 192u);
  EXPECT_EQ(FileMemory[191].ID, 191);

  // A code without a size keeps the size but resets and clears acceptance.
  StoreBytes(DeviceMemory, {0, 0}, &b, 1);
  FileReady = true;
  ProductInfo.ProductCode = 3;
  PrepareImages(0);
  EXPECT_EQ(FileMemory.size(), 192u);
  EXPECT_EQ(ImageMemSize, 0);
  EXPECT_FALSE(DeviceMemory[0].InUse);
  EXPECT_FALSE(FileReady);
}

TEST_F(FlashImage, UnknownProductFirstLeavesTheImagesEmpty) {
  ProductInfo.ProductCode = 3;
  FileReady = true;
  PrepareImages(GetMemSize(3));
  EXPECT_TRUE(FileMemory.empty());
  EXPECT_TRUE(DeviceMemory.empty());
  EXPECT_FALSE(FileReady);
}

}  // namespace
}  // namespace tarvex
