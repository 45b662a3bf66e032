#include "firmware/FlashImage.h"

#include <algorithm>
#include <cstring>

#include "core/ProductCatalogue.h"

namespace tarvex {

namespace {

void ResetImage(std::vector<TMem2KPage>& image) {
  std::uint16_t id = 0;
  for (auto& page : image) {
    page.ID = id++;
    page.InUse = false;
    std::memset(page.Data, kErasedByte, sizeof page.Data);
  }
}

}  // namespace

void ResetMemory(std::uint8_t which) {
  ResetImage(which == kFileImage ? FileMemory : DeviceMemory);
}

void SetImagePages(std::size_t pages) {
  // The two images are only ever resized together so that every page has a read-back twin.
  FileMemory.resize(pages);
  DeviceMemory.resize(pages);
  ResetMemory(kFileImage);
  ResetMemory(kDeviceImage);
}

void PrepareImages(std::uint8_t memSizeCode) {
  // Reconnecting to the same product (after an update, say) keeps the file and its acceptance.
  if (ProductInfo.ProductCode == ImageProductCode) return;
  ImageProductCode = ProductInfo.ProductCode;
  if (memSizeCode != ImageMemSize) {
    ImageMemSize = memSizeCode;
    const std::uint32_t pages = MemSizePages(memSizeCode);
    if (pages != 0) {
      FileMemory.resize(pages);
      DeviceMemory.resize(pages);
    }
  }
  ResetMemory(kFileImage);
  ResetMemory(kDeviceImage);
  FileReady = false;
}

bool LocateAddress(std::uint64_t address, TPagePos& pos) {
  if (address < kFlashBase) return false;
  const std::uint64_t rel = address - kFlashBase;
  if (rel / kPageSize > UINT32_MAX) return false;
  pos.Page = static_cast<std::uint32_t>(rel / kPageSize);
  pos.Offset = static_cast<std::uint32_t>(rel % kPageSize);
  return true;
}

std::size_t StoreBytes(std::vector<TMem2KPage>& image, TPagePos at, const std::uint8_t* bytes,
                       std::size_t count) {
  std::size_t stored = 0;
  std::size_t page = at.Page;
  std::size_t offset = at.Offset;
  while (stored < count && page < image.size()) {
    TMem2KPage& p = image[page];
    const std::size_t n = std::min<std::size_t>(count - stored, kPageSize - offset);
    std::memcpy(p.Data + offset, bytes + stored, n);
    if (!p.InUse) {
      p.InUse =
          std::any_of(bytes + stored, bytes + stored + n, [](std::uint8_t b) { return b != kErasedByte; });
    }
    stored += n;
    offset = 0;
    ++page;
  }
  return stored;
}

std::uint16_t CountBlocks() {
  std::uint32_t blocks = 0;
  for (const auto& page : FileMemory) {
    if (page.InUse) blocks += kBlocksPerPage;
  }
  // At most 512 pages of 8 blocks: the count fits the 16 bits the progress bar takes.
  return static_cast<std::uint16_t>(blocks);
}

void BuildPageList() {
  PageList.clear();
  PageList.reserve(CountBlocks() / kBlocksPerPage);
  for (std::size_t i = 0; i < FileMemory.size(); ++i) {
    if (!FileMemory[i].InUse) continue;
    TAddressInfo info;
    info.PageID = static_cast<std::uint16_t>(i);
    info.StartAddr = PageAddress(static_cast<std::uint32_t>(i));
    info.EndAddr = info.StartAddr + (kPageSize - 1);
    PageList.push_back(info);
  }
}

}  // namespace tarvex
